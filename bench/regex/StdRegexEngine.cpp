// std::regex: ECMAScript syntax (leftmost-first, like the crawler's engine),
// letters folded, searched with std::regex_search.
#include <regex>
#include <string>

#include "Workload.h"

namespace {

// In ECMAScript "." does not match a carriage return, which the crawler's
// lines keep at their end; "[^\n]" matches what "." matches in the other
// engines on a line.
std::string AnyForDot(const char* pattern) {
  std::string s;
  bool inBracket = false;
  for (const char* p = pattern; *p; ++p) {
    if (*p == '\\' && p[1]) {
      s += *p++;
      s += *p;
    } else if (inBracket) {
      s += *p;
      if (*p == ']') inBracket = false;
    } else if (*p == '[') {
      s += *p;
      inBracket = true;
      if (p[1] == '^') s += *++p;
      if (p[1] == ']') s += *++p;  // a leading "]" is a member
    } else if (*p == '.') {
      s += "[^\\n]";
    } else {
      s += *p;
    }
  }
  return s;
}

class StdPattern {
 public:
  explicit StdPattern(const char* pattern)
      : re_(AnyForDot(pattern), std::regex::ECMAScript | std::regex::icase) {}

  bool ok() const { return true; }  // a bad pattern throws instead

  bool Search(const char* text, size_t length, Span* spans, unsigned wanted) {
    if (!std::regex_search(text, text + length, m_, re_)) return false;
    for (int i = 0; wanted >> i; ++i) {
      if (!(wanted >> i & 1)) continue;
      spans[i].start = static_cast<int>(m_.position(i));
      spans[i].length = static_cast<int>(m_.length(i));
    }
    return true;
  }

 private:
  std::regex re_;
  std::cmatch m_;
};

}  // namespace

void AddStdRegexEngine(std::vector<Engine>& engines) {
  engines.push_back(MakeEngine<StdPattern>(
      "std::regex", [](const char* p) { return std::make_unique<StdPattern>(p); }));
}
