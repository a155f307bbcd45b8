// libFuzzer target for the regex engine. An input is one option byte (bit 0:
// fold case) followed by a pattern, a text and a replacement template
// separated by NUL bytes. Each is cut to a bounded length: a replacement may
// repeat the whole match once per template byte, which must stay within a
// CStr.
//
// Besides the sanitizers, the target checks what must hold for any input:
// a pattern compiles exactly when it leaves no message, a compiled pattern
// searches without error, submatches lie inside the text, and copies give
// the same results as the original.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "regex/Regexp.h"
#include "tests/fuzz/FuzzField.h"

namespace {

constexpr size_t kMaxPattern = 256;
constexpr size_t kMaxText = 256;
constexpr size_t kMaxTemplate = 128;

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckSubmatches(const Regexp& re, const std::string& text) {
  int length = static_cast<int>(text.size());
  int count = re.SubStrings();
  Check(count >= 0 && count <= 9);
  Check(re.SubStart(0) >= 0);
  for (unsigned slot = 0; slot < 10; ++slot) {
    int start = re.SubStart(slot);
    int size = re.SubLength(slot);
    CStr copy = re[slot];
    if (start < 0) {
      Check(slot > static_cast<unsigned>(count) && copy.IsEmpty());
      continue;
    }
    Check(start <= length && size >= 0 && start + size <= length);
    Check(copy.Length() == size);
    Check(text.compare(start, size, static_cast<const char*>(copy), size) == 0);
  }
}

void CheckSameMatch(const Regexp& a, const Regexp& b) {
  Check(a.SubStrings() == b.SubStrings());
  for (unsigned slot = 0; slot < 10; ++slot) {
    Check(a.SubStart(slot) == b.SubStart(slot));
    Check(a.SubLength(slot) == b.SubLength(slot));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* end = data + size;
  int fold = *data++ & 1;
  std::string pattern = Field(data, end, kMaxPattern);
  std::string text = Field(data, end, kMaxText);
  std::string tmpl = Field(data, end, kMaxTemplate);

  Regexp re(pattern.c_str(), fold);
  Check(re.CompiledOK() == re.GetErrorString().IsEmpty());
  Regexp copy(re);
  bool found = copy.Match(text.c_str());
  Check(!re.CompiledOK() || copy.GetErrorString().IsEmpty());
  if (found) {
    CheckSubmatches(copy, text);
    CStr replaced = copy.GetReplaceString(tmpl.c_str());
    Check(copy.GetErrorString().IsEmpty());
    Check(replaced.Length() <= tmpl.size() * text.size() + tmpl.size());
  } else {
    Check(copy.SubStrings() == -1);
  }

  // The original, still holding the unmatched shared program, must agree.
  Check(re.Match(text.c_str()) == found);
  if (found) CheckSameMatch(re, copy);
  Regexp assigned;
  assigned = copy;
  assigned = assigned;
  Check(assigned.Match(text.c_str()) == found);

  Regexp other(pattern.c_str(), 1 - fold);
  other.Match(text.c_str());
  return 0;
}
