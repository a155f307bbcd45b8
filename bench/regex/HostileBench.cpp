// Patterns and texts that make a plain backtracking matcher exponential,
// quadratic or stack-hungry, timed through the Regexp class as the crawler
// uses it (letters folded):
//
//   - nested and ambiguous repeats over a line of one letter, at 10 to
//     10,000,000 characters: each search must take well under a millisecond
//     up to 1,000 characters and grow linearly beyond, at a steady cost per
//     character;
//   - the 7,059-byte pattern (x+x+)+y| followed by 7,000 digits on 912,000
//     and 913,000 x's, either side of where the failure memo passes its cap
//     and the search goes on in the linear simulation;
//   - the guarantee's formula, steps <= c x (program bytes + 1) x (text
//     length + 1), checked on a 64 KB pattern over 1 to 100 MB;
//   - a hostile 1 MB page of "<a href=" repeated with no '>', scanned with
//     the crawler's anchor pattern in the crawler's 1,022-character reads and
//     as one subject;
//   - (a|b)*c over 10 MB, which a recursive matcher cannot survive.
//
// Usage: ferret_regex_hostile [--long N] [--huge N] (the longest line of the
// table, 10000000 by default; the largest subject of the formula check in
// MB, 100 by default)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "regex/Regexp.h"
#include "regex/RegexpProgram.h"

#ifdef FERRET_BENCH_RE2
#include <re2/re2.h>
#endif

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

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

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

// RE2's nanoseconds per character for pattern (letters folded, as
// Ferret's) over n copies of fill, and whether it matched; 0 without RE2.
double Re2NsPerChar(const char* pattern, char fill, size_t n, bool* found) {
  *found = false;
#ifdef FERRET_BENCH_RE2
  RE2::Options options;
  options.set_case_sensitive(false);
  options.set_max_mem(int64_t{1} << 30);
  RE2 re(pattern, options);
  std::string text(n, fill);
  int runs = 0;
  Clock::time_point start = Clock::now();
  do {
    *found = RE2::PartialMatch(text, re);
    ++runs;
  } while (Since(start) < 0.2);
  return Since(start) * 1e9 / runs / static_cast<double>(n);
#else
  (void)pattern;
  (void)fill;
  (void)n;
  return 0;
#endif
}

void PrintTable(size_t longest) {
  const size_t lengths[] = {10, 20, 1000, 100000, 1000000, longest};
  constexpr int kLengths = sizeof lengths / sizeof lengths[0];
  std::printf("%-12s", "pattern");
  for (size_t n : lengths) std::printf(" %11zu ch", n);
  std::printf("   ns/ch at 1M, at %zu   linear? t(%zu)/t(1M)   RE2 ns/ch at 1M, ratio\n", longest,
              longest);
  for (const Row& row : kRows) {
    Regexp re(row.pattern, 1);
    std::printf("%-12s", row.pattern);
    double perSearch[kLengths] = {};
    bool anyFound = false;
    for (int i = 0; i < kLengths; ++i) {
      bool found = false;
      perSearch[i] = SecondsPerSearch(re, std::string(lengths[i], row.fill), &found);
      anyFound |= found;
      std::printf(" %11.4f ms", perSearch[i] * 1e3);
    }
    bool re2Found = false;
    double re2 = Re2NsPerChar(row.pattern, row.fill, 1000000, &re2Found);
    std::printf(
        "   %6.1f %6.1f   %.1fx for %.0fx the text   %6.2f %6.1fx%s\n", perSearch[4] * 1e9 / 1e6,
        perSearch[kLengths - 1] * 1e9 / static_cast<double>(longest),
        perSearch[kLengths - 1] / perSearch[4], static_cast<double>(longest) / 1e6, re2,
        re2 > 0 ? perSearch[4] * 1e9 / 1e6 / re2 : 0.0, anyFound || re2Found ? "  (MATCHED?)" : "");
  }
}

// (x+x+)+y| and 7,000 digits: a program whose memo, at 913,000 x's, passes
// its 256 MB cap.
void LargePatternRows() {
  std::string pattern = "(x+x+)+y|";
  for (int i = 0; i < 7000; ++i) pattern += static_cast<char>('0' + i % 10);
  for (size_t n : {900000, 912000, 913000, 1000000, 10000000}) {
    std::string text(n, 'x');
    RegexpProgram program(pattern.c_str(), 1);
    Clock::time_point start = Clock::now();
    bool found = program.Search(text.c_str());
    double seconds = Since(start);
    std::printf(
        "%zu-byte (x+x+)+y|<7000 digits> on %8zu x: %.3f s, %.1f ns/ch, %llu steps "
        "(%.4f per program byte and character)%s\n",
        pattern.size(), n, seconds, seconds * 1e9 / static_cast<double>(n),
        static_cast<unsigned long long>(program.SearchSteps()),
        static_cast<double>(program.SearchSteps()) / (program.ProgramSize() + 1.0) /
            static_cast<double>(n + 1),
        found ? "  (MATCHED?)" : "");
  }
}

// The largest pattern with escapes that compiles: (x+x+)+y| then a literal
// of escaped dots (two pattern bytes each) that fills the program to its
// limit; never matches x's.
std::string LargestPattern() {
  for (int dots = 32767;; --dots) {
    std::string pattern = "(x+x+)+y|";
    for (int i = 0; i < dots; ++i) pattern += "\\.";
    if (RegexpProgram(pattern.c_str(), 1).CompiledOK()) return pattern;
  }
}

// The formula over a pattern of about 64 KB and x's from 1 MB to hugeMb MB.
void FormulaCheck(size_t hugeMb) {
  std::string pattern = LargestPattern();
  RegexpProgram program(pattern.c_str(), 1);
  for (size_t mb = 1; mb <= hugeMb; mb *= 10) {
    std::string text(mb << 20, 'x');
    Clock::time_point start = Clock::now();
    bool found = program.Search(text.c_str());
    double seconds = Since(start);
    double perCell = static_cast<double>(program.SearchSteps()) / (program.ProgramSize() + 1.0) /
                     static_cast<double>(text.size() + 1);
    std::printf(
        "%zu-byte pattern (%d-byte program) on %4zu MB: %.2f s, %.1f ns/ch, %llu steps, "
        "c = %.4f%s\n",
        pattern.size(), program.ProgramSize(), mb, seconds,
        seconds * 1e9 / static_cast<double>(text.size()),
        static_cast<unsigned long long>(program.SearchSteps()), perCell,
        found || !program.Status().Message().IsEmpty() ? "  (UNEXPECTED)" : "");
    if (mb * 10 > hugeMb && mb != hugeMb) mb = hugeMb / 10;
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
  size_t longest = 10000000;
  size_t hugeMb = 100;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--long") == 0) longest = std::strtoul(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--huge") == 0) hugeMb = std::strtoul(argv[i + 1], nullptr, 10);
  }
  PrintTable(longest);
  LargePatternRows();
  FormulaCheck(hugeMb);
  ScanHostilePage();
  LongSubject();
  return 0;
}
