// libFuzzer target that checks the matcher against the reference matcher
// (tests/regex/RegexpReference.h). An input is one option byte (bit 0: fold
// case) followed by a pattern and a text separated by a NUL byte, each cut to
// a bounded length. Wherever the reference finishes within its step budget,
// both must agree on match or no match, every slot and any error; any
// difference aborts with both answers on standard error.
//
// The engine is built with FERRET_REGEX_ALWAYS_MEMO, so the memoised matcher
// is what meets the reference on every input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/FuzzField.h"
#include "tests/regex/RegexpReference.h"

namespace {

constexpr size_t kMaxPattern = 128;
constexpr size_t kMaxText = 256;
constexpr size_t kBudget = 100000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* end = data + size;
  int fold = *data++ & 1;
  std::string pattern = Field(data, end, kMaxPattern);
  std::string text = Field(data, end, kMaxText);
  std::string diff = CompareWithReference(pattern.c_str(), fold, text.c_str(), kBudget);
  if (!diff.empty()) {
    std::fprintf(stderr, "%s\n", diff.c_str());
    std::abort();
  }
  return 0;
}
