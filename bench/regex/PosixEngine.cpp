// glibc's POSIX regcomp/regexec: extended syntax, letters folded.
#include <regex.h>

#include "Workload.h"

namespace {

class PosixPattern {
 public:
  explicit PosixPattern(const char* pattern)
      : ok_(regcomp(&re_, pattern, REG_EXTENDED | REG_ICASE) == 0) {}
  ~PosixPattern() {
    if (ok_) regfree(&re_);
  }
  PosixPattern(const PosixPattern&) = delete;
  PosixPattern& operator=(const PosixPattern&) = delete;

  bool ok() const { return ok_; }

  bool Search(const char* text, size_t, Span* spans, unsigned wanted) {
    regmatch_t m[kMaxSpans];
    size_t count = static_cast<size_t>(SpanCount(wanted));
    if (regexec(&re_, text, count, m, 0) != 0) return false;
    for (int i = 0; wanted >> i; ++i) {
      if (!(wanted >> i & 1)) continue;
      spans[i].start = static_cast<int>(m[i].rm_so);
      spans[i].length = static_cast<int>(m[i].rm_eo - m[i].rm_so);
    }
    return true;
  }

 private:
  regex_t re_;
  bool ok_;
};

}  // namespace

void AddPosixEngine(std::vector<Engine>& engines) {
  engines.push_back(MakeEngine<PosixPattern>(
      "regexec", [](const char* p) { return std::make_unique<PosixPattern>(p); }));
}
