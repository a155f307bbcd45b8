// Patterns and texts that make a plain backtracking matcher exponential,
// quadratic or stack-hungry, timed through the Regexp class as the crawler
// uses it (letters folded):
//
//   - nested and ambiguous repeats over a line of one letter, at 10 to
//     100,000 characters: each search must take well under a millisecond up
//     to 1,000 characters and grow linearly beyond;
//   - a hostile 1 MB page of "<a href=" repeated with no '>', scanned with
//     the crawler's anchor pattern in the crawler's 1,022-character reads and
//     as one subject;
//   - (a|b)*c over 10 MB, which a recursive matcher cannot survive.
//
// Usage: ferret_regex_hostile [--long N] (the longest line, 100000 by default)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "regex/Regexp.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAnchorPattern = "<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";
constexpr size_t kCrawlerRead = 1022;

struct Row {
  const char* pattern;
  char fill;
};

const Row kRows[] = {
    {"((a+)+)+b", 'a'}, {"(a|a)*b", 'a'}, {"(.*x)*y", 'x'}, {"(a|ab)*c", 'a'}, {"(x+x+)+y", 'x'},
};

// Seconds per search, from as many searches as fit in about 0.2 s.
double SecondsPerSearch(Regexp& re, const std::string& text, bool* found) {
  int runs = 0;
  Clock::time_point start = Clock::now();
  double elapsed = 0;
  do {
    *found = re.Match(text.c_str());
    ++runs;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < 0.2 && runs < 100000);
  return elapsed / runs;
}

void PrintTable(size_t longest) {
  const size_t lengths[] = {10, 16, 20, 1000, longest};
  std::printf("%-12s", "pattern");
  for (size_t n : lengths) std::printf(" %10zu ch", n);
  std::printf("   linear? t(%zu)/t(1000)\n", longest);
  for (const Row& row : kRows) {
    Regexp re(row.pattern, 1);
    std::printf("%-12s", row.pattern);
    double perSearch[5] = {};
    bool anyFound = false;
    for (int i = 0; i < 5; ++i) {
      bool found = false;
      perSearch[i] = SecondsPerSearch(re, std::string(lengths[i], row.fill), &found);
      anyFound |= found;
      std::printf(" %10.4f ms", perSearch[i] * 1e3);
    }
    std::printf("   %.0fx for %.0fx the text%s\n", perSearch[4] / perSearch[3],
                static_cast<double>(longest) / 1000, anyFound ? "  (MATCHED?)" : "");
  }
}

// The anchor pattern over a page the way the crawler reads it: one search of
// each read, then the link loop on what it found.
void ScanHostilePage() {
  std::string page;
  while (page.size() < 1048576) page += "<a href=";
  Regexp anchor(kAnchorPattern, 1);
  int links = 0;
  Clock::time_point start = Clock::now();
  for (size_t at = 0; at < page.size(); at += kCrawlerRead) {
    std::string read = page.substr(at, kCrawlerRead);
    const char* pos = read.c_str();
    while (anchor.Match(pos)) {
      ++links;
      pos += anchor.SubStart(1) + anchor.SubLength(1);
    }
  }
  double reads = std::chrono::duration<double>(Clock::now() - start).count();
  start = Clock::now();
  bool whole = anchor.Match(page.c_str());
  double one = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf(
      "hostile 1 MB <a href= page: %.3f s in %zu-character reads (%d links), "
      "%.3f s as one subject (%s)\n",
      reads, kCrawlerRead, links, one, whole ? "matched" : "no match");
}

void LongSubject() {
  std::string text;
  text.reserve(10485761);
  while (text.size() < 10485760) text += "ab";
  Regexp re("(a|b)*c", 1);
  Clock::time_point start = Clock::now();
  bool missing = re.Match(text.c_str());
  double noMatch = std::chrono::duration<double>(Clock::now() - start).count();
  text += 'c';
  start = Clock::now();
  bool found = re.Match(text.c_str());
  double match = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf(
      "(a|b)*c over 10 MB: %.3f s without a c (%s), %.3f s with one at the end "
      "(%s, match %d..%d, group 1 at %d)\n",
      noMatch, missing ? "MATCHED?" : "no match", match, found ? "matched" : "NO MATCH?",
      re.SubStart(0), re.SubStart(0) + re.SubLength(0), re.SubStart(1));
}

}  // namespace

int main(int argc, char** argv) {
  size_t longest = 100000;
  if (argc == 3 && std::strcmp(argv[1], "--long") == 0)
    longest = std::strtoul(argv[2], nullptr, 10);
  PrintTable(longest);
  ScanHostilePage();
  LongSubject();
  return 0;
}
