// libFuzzer target for the HTML tokenizer. An input is four bytes that seed
// the read sizes, then the page. The page is tokenized in one Feed and again
// in reads of pseudo-random sizes (1 to 64 bytes, now and then up to 4 KiB);
// both must give the same tokens (text pieces joined), and neither may hand
// over a token that breaks the tokenizer's contract (HtmlTokenLog's checks:
// lower-case names, no repeated attribute, nothing past the bounds). The
// tags alone are read again in pieces with text skipped, and must be the
// same tags (attributes kept for tags of odd name length only, by the
// tokenizer and by the log). Any difference aborts with both logs on standard error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/text/HtmlTokenLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t state = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                   static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  const std::string page(reinterpret_cast<const char*>(data + 4), size - 4);
  auto next = [&state] {
    // xorshift32 (the state must not be 0).
    state = state == 0 ? 0x9E3779B9u : state;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return (state & 0xF00) == 0 ? 1 + state % 4096 : 1 + state % 64;
  };
  std::string problems;
  std::string whole = Tokenize(page, &problems);
  std::string pieces = TokenizeInPieces(page, next, &problems);
  if (whole != pieces || !problems.empty()) {
    std::fprintf(stderr, "one read:  %s\nin pieces: %s\nproblems: %s\n", whole.c_str(),
                 pieces.c_str(), problems.c_str());
    std::abort();
  }
  auto some = [](std::string_view tag) { return tag.size() % 2 == 1; };
  std::string tags =
      TokenizeInPieces(page, [&page] { return page.size() + 1; }, &problems, true, false, some);
  std::string skipping = TokenizeInPieces(page, next, &problems, true, true, some);
  if (tags != skipping || !problems.empty()) {
    std::fprintf(stderr, "tags:     %s\nskipping: %s\nproblems: %s\n", tags.c_str(),
                 skipping.c_str(), problems.c_str());
    std::abort();
  }
  auto named = [](std::string_view attribute) { return attribute.size() % 3 != 0; };
  std::string kept = TokenizeInPieces(page, [&page] { return page.size() + 1; }, &problems,
                                      true, false, some, true, named);
  std::string handed = TokenizeInPieces(page, next, &problems, true, true, some, true, named);
  if (kept != handed || !problems.empty()) {
    std::fprintf(stderr, "kept:   %s\nhanded: %s\nproblems: %s\n", kept.c_str(),
                 handed.c_str(), problems.c_str());
    std::abort();
  }
  return 0;
}
