// The matcher against the reference (the engine's first, recursive matcher)
// on a table of patterns that stress choice, repeats and groups, and on many
// generated patterns and texts: both must agree on match or no match and on
// every slot. Also: the matcher's work grows linearly with the text on
// patterns that make the reference exponential, and long subjects do not
// exhaust the call stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "regex/Regexp.h"
#include "regex/RegexpMatcher.h"
#include "regex/RegexpProgram.h"
#include "tests/regex/RegexpReference.h"

namespace {

constexpr size_t kBudget = 200000;

struct DiffCase {
  const char* pattern;
  const char* text;
};

const DiffCase kDiffCases[] = {
    {"(a|ab)(c|bcd)(d*)", "abcd"},
    {"((a)|b)+", "abab"},
    {"((a)|(b))*c", "abbac"},
    {"(a*)+b", "aaab"},
    {"(a|b)*c", "abababc"},
    {"(a|ab)*c", "abababac"},
    {"(.*x)*", "axbxcx"},
    {"(.*x)*y", "axbxcxy"},
    {"((a+)+)+b", "aaaaab"},
    {"(a|a)*b", "aaaab"},
    {"(x+x+)+y", "xxxxxxy"},
    {"(a?)(a?)(a?)aaa", "aaa"},
    {"(ab|a)(bc|c)?", "abc"},
    {"((ab)*|c)d", "ababd"},
    {"(a(b)?)+", "aba"},
    {"(a(b)?)+c", "abac"},
    {"([ab]*)b([ab]*)", "aabba"},
    {"(.*)(.*)(.*)", "abc"},
    {"(a+|b+)*c", "aabbc"},
    {"(\\<a|b\\>)+", "ab ab"},
    {"^(a|b)*$", "abab"},
    {"(a|b)*$", "abx ab"},
    {"<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>", "x <a href=\"a.html\">A</a> <a href=b>"},
    {"<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>", "<a href=<a href=<a href=<a href="},
    {"(http://)?([^:/]*):?([0-9]*)/?(.*)/(.*)", "http://host:81/docs/guide/a.html"},
    {".*\\.(.*)\\.(.*)$", "www.example.com"},
    {"(a|)+b", "aab"},
    {"(()|a)+b", "aab"},
};

TEST(RegexpDifferential, TableAgreesWithTheReference) {
  for (const DiffCase& c : kDiffCases) {
    for (int fold = 0; fold <= 1; ++fold) {
      bool compared = false;
      EXPECT_EQ("", CompareWithReference(c.pattern, fold, c.text, kBudget, &compared));
      RegexpProgram program(c.pattern, fold);
      EXPECT_EQ(program.CompiledOK(), compared) << c.pattern << " over budget";
    }
  }
}

// splitmix64: the same sequence on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state(seed) {}
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }

 private:
  uint64_t state;
};

// A pattern from a small grammar over the letters a, b and c, most of which
// compile; the rest are skipped by the comparison.
std::string Alternation(Random& r, int depth);

std::string Atom(Random& r, int depth) {
  static const char* const kAtoms[] = {"a", "b", "c",   "ab",  ".",   "[ab]", "[^a]", "[a-c]",
                                       "^", "$", "\\<", "\\>", "\\.", "A",    "x",    " "};
  if (depth < 3 && r.Below(4) == 0) return "(" + Alternation(r, depth + 1) + ")";
  return kAtoms[r.Below(sizeof kAtoms / sizeof kAtoms[0])];
}

std::string Alternation(Random& r, int depth) {
  std::string pattern;
  for (size_t branch = 0, branches = 1 + r.Below(depth == 0 ? 2 : 3); branch < branches; ++branch) {
    if (branch > 0) pattern += '|';
    for (size_t piece = 0, pieces = r.Below(4) + (depth == 0); piece < pieces; ++piece) {
      pattern += Atom(r, depth);
      static const char kOps[] = {'*', '+', '?'};
      if (r.Below(3) == 0) pattern += kOps[r.Below(3)];
    }
  }
  return pattern;
}

std::string Text(Random& r) {
  static const char kChars[] = "aaabbbcc. xA_";
  std::string text;
  for (size_t i = 0, n = r.Below(24); i < n; ++i) text += kChars[r.Below(sizeof kChars - 1)];
  return text;
}

TEST(RegexpDifferential, GeneratedPatternsAgreeWithTheReference) {
  Random r(20240615);
  int compared = 0;
  for (int i = 0; i < 6000; ++i) {
    std::string pattern = Alternation(r, 0);
    for (int t = 0; t < 6; ++t) {
      std::string text = Text(r);
      bool done = false;
      std::string diff = CompareWithReference(pattern.c_str(), static_cast<int>(r.Below(2)),
                                              text.c_str(), kBudget, &done);
      ASSERT_EQ("", diff) << "case " << i;
      compared += done;
    }
  }
  // Most generated patterns compile and finish within the budget.
  EXPECT_GT(compared, 20000);
}

// Patterns whose searches take the candidate scan's shortcuts: a one- or
// two-byte first set (two bytes one bit apart, as a folded letter, or not),
// a pair of them, a wide first set, a program that is all prefix, and
// attempts that start past the prefix.
const char* const kScanPatterns[] = {
    "href",     "<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>",
    "<img",     "xy",
    "[xy]",     "[^ ]y",
    ".",        "x(y)",
    "[az][<h]", "[\t ]x",
};

// Every text length up to a few chunks of the vector scan, at every
// alignment of a 64-byte chunk, with a candidate pair placed at every
// offset (across chunk ends too), cut by the end of the text or broken
// after its first byte.
TEST(RegexpDifferential, CandidateScansAgreeAtEveryOffset) {
  const std::string pairs[] = {"<a href=\"u\">", "HRef", "<IMG", "xy", "x", "<", "z<", "\tx"};
  alignas(64) char buffer[256];
  int compared = 0;
  for (const char* pattern : kScanPatterns) {
    for (const std::string& pair : pairs) {
      for (size_t length = 0; length <= 150; length += 1 + length / 24) {
        for (size_t at = 0; at <= length; ++at) {
          std::string text(length, ' ');
          for (size_t i = 0; i < length; i += 7) text[i] = "hxa<"[i % 4];  // decoys
          text.replace(at, std::min(pair.size(), length - at), pair, 0, length - at);
          size_t shift = (at * 7 + length) % 64;
          std::memcpy(buffer + shift, text.c_str(), text.size() + 1);
          bool done = false;
          std::string diff = CompareWithReference(pattern, 1, buffer + shift, kBudget, &done);
          ASSERT_EQ("", diff) << "case " << pattern << " over '" << text << "'";
          compared += done;
        }
      }
    }
  }
  EXPECT_GT(compared, 10000);
}

// Large programs: alternations of up to a few hundred branches (literals,
// literals with a tail, groups), folded and not, over texts that hold some
// of their words, so that late branches, long chains and many choice points
// meet the reference.
TEST(RegexpDifferential, LargeProgramsAgreeWithTheReference) {
  Random r(7059);
  int compared = 0;
  for (int i = 0; i < 60; ++i) {
    std::vector<std::string> words;
    std::string pattern;
    int groups = 0;
    for (size_t branch = 0, branches = 20 + r.Below(200); branch < branches; ++branch) {
      std::string word;
      for (size_t n = 0, length = 2 + r.Below(6); n < length; ++n) word += "abcxyz"[r.Below(6)];
      words.push_back(word);
      if (branch > 0) pattern += '|';
      switch (r.Below(4)) {
        case 0: pattern += word + "[a-c]*" + word.substr(0, 1); break;
        case 1:
          if (++groups < kRegexpSlots) {
            pattern += "(" + word + ")" + (r.Below(2) ? "+" : "x?");
            break;
          }
          [[fallthrough]];
        default: pattern += word; break;
      }
    }
    for (int t = 0; t < 8; ++t) {
      std::string text;
      for (size_t n = 0, length = r.Below(6); n < length; ++n) {
        text += std::string(r.Below(4), "Xy. "[r.Below(4)]);
        text += words[r.Below(words.size())];
      }
      bool done = false;
      int fold = static_cast<int>(r.Below(2));
      std::string diff = CompareWithReference(pattern.c_str(), fold, text.c_str(), kBudget, &done);
      ASSERT_EQ("", diff) << "case " << i << " fold " << fold << " over '" << text << "'";
      compared += done;
    }
  }
  EXPECT_GT(compared, 300);
}

// Patterns whose candidates come from the literal scan: keyword
// alternations, an optional letter, a file extension before an anchor,
// alternatives of different lengths and priorities, nested alternations,
// strings that stand past a fixed-width start, and more strings than the
// scan has buckets. Each is searched folded and not.
struct LiteralCase {
  const char* pattern;
  bool scanned;  // folded, the literal scan takes it
};

const LiteralCase kLiteralPatterns[] = {
    {"download|license", true},
    {"colou?r", false},
    {"\\.(pdf|zip|tar\\.gz)$", true},
    {"(a|ab)(c|bcd)", true},
    {"abc|ab|a", true},
    {"x(y|yz)(z?)", true},
    {"(do|d)(wn|own)load", true},
    {"[ab]c|cd", true},
    {"..pdf", true},
    {"[0-9][0-9]x|ab", true},
    {"(a(b)|c(d))e", true},
    {"\\.(html?|php)\\>", true},
    {"\\<down\\>|^lic|x+yz", true},
    {"one|two|three|four|five|six|seven|eight|nine|ten", true},
    {"ab|cd|ef|gh|ij|kl|mn|op|qr|st|uv|wx|yz", true},
};

const char* const kLiteralTexts[] = {
    "",
    "download",
    "DownLoad a license",
    "dowNLOAD",
    "lic",
    "x.PDF",
    "a.tar.gz",
    "a.tar.gzx .zip",
    "a.tar.g",
    ".tar.gz.zip",
    "color",
    "COLOUR colr",
    "colouur colo",
    "abcd",
    "abbcd",
    "xyz xy",
    "dwnload",
    "bcdc",
    "12x ab",
    "acde",
    "p.html p.htm.php",
    "seven eleven",
    "mnop",
    "a.pdf",
    "cde",
};

// Every table text at every alignment of a 64-byte chunk and behind some
// padding, so that matches cross the chunks of the vector scan.
TEST(RegexpDifferential, LiteralScansAgreeWithTheReference) {
  alignas(64) char buffer[256];
  int compared = 0;
  for (const LiteralCase& c : kLiteralPatterns) {
    RegexpProgram folded(c.pattern, 1);
    EXPECT_EQ(c.scanned, folded.UsesLiteralScan()) << c.pattern;
    // A private copy (what a Regexp copy takes to match) keeps the scan.
    RegexpProgram* copy = folded.PrivateCopy();
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(c.scanned, copy->UsesLiteralScan()) << c.pattern;
    for (const char* text : kLiteralTexts) {
      bool found = folded.Search(text);
      EXPECT_EQ(found, copy->Search(text)) << c.pattern << " over '" << text << "'";
      if (found) {
        EXPECT_EQ(folded.SubStartOf(0) - text, copy->SubStartOf(0) - text) << c.pattern;
      }
    }
    RegexpProgram::Release(copy);
    for (int fold = 0; fold <= 1; ++fold) {
      for (const char* text : kLiteralTexts) {
        for (size_t pad = 0; pad <= 70; pad += 1 + pad / 8) {
          std::string subject = std::string(pad, pad % 3 == 0 ? 'l' : '.') + text;
          size_t shift = (pad * 5 + std::strlen(text)) % 64;
          std::memcpy(buffer + shift, subject.c_str(), subject.size() + 1);
          bool done = false;
          std::string diff = CompareWithReference(c.pattern, fold, buffer + shift, kBudget, &done);
          ASSERT_EQ("", diff) << c.pattern << " fold " << fold << " over '" << subject << "'";
          compared += done;
        }
      }
    }
  }
  EXPECT_GT(compared, 10000);
}

struct Hostile {
  const char* pattern;
  char fill;     // the text is this character repeated
  bool matches;  // whether the pattern matches such a text
};

// Each makes the reference exponential or quadratic in the text length.
const Hostile kHostile[] = {
    {"((a+)+)+b", 'a', false},
    {"(a|a)*b", 'a', false},
    {"(.*x)*y", 'x', false},
    {"(a|ab)*c", 'a', false},
    {"(x+x+)+y", 'x', false},
    {"(a|b)*c", 'a', false},
    {"<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>", '<', false},
};

uint64_t StepsOver(const char* pattern, const std::string& text, bool* found) {
  RegexpProgram program(pattern, 1);
  *found = program.Search(text.c_str());
  return program.SearchSteps();
}

// Every hostile pattern within the bound, from 12 characters (where a search
// with neither memo nor RegexpLinear would already pass it) on; stops at the
// first that passes it, before a longer text could take exponential time.
void ExpectLinearWork(size_t memoLimit) {
  for (const Hostile& h : kHostile) {
    RegexpProgram program(h.pattern, 1);
    uint64_t size = static_cast<uint64_t>(program.ProgramSize());
    for (size_t n : {12, 1000, 20000}) {
      std::string text(n, h.fill);
      if (h.fill == '<') {  // the anchor pattern: a page of "<a href=" and no '>'
        text.clear();
        while (text.size() < n) text += "<a href=";
      }
      bool found = true;
      uint64_t steps = StepsOver(h.pattern, text, &found);
      EXPECT_EQ(h.matches, found) << h.pattern;
      ASSERT_LE(steps, 4096 + 16 * n + 4 * size * (text.size() + 1))
          << h.pattern << " over " << text.size() << " characters: " << steps << " steps"
          << " memo limit " << memoLimit;
    }
  }
}

// With the memo as built and with no memo allowed at all (then the search
// goes on in RegexpLinear).
TEST(RegexpDifferential, WorkGrowsLinearlyWithTheText) {
  const size_t built = SetRegexpMemoLimit(0);
  for (size_t memoLimit : {built, size_t{0}}) {
    SetRegexpMemoLimit(memoLimit);
    ExpectLinearWork(memoLimit);
  }
  SetRegexpMemoLimit(built);
}

TEST(RegexpDifferential, LongSubjectsNeedNoDeepCallStack) {
  std::string text;
  for (int i = 0; i < 500000; ++i) text += i % 3 == 0 ? "a" : "b";
  std::string matching = text + "c";
  Regexp re("(a|b)*c", 0);
  ASSERT_TRUE(re.Match(matching.c_str()));
  EXPECT_EQ(0, re.SubStart(0));
  EXPECT_EQ(static_cast<int>(matching.size()), re.SubLength(0));
  EXPECT_EQ(static_cast<int>(text.size()) - 1, re.SubStart(1));
  EXPECT_FALSE(re.Match(text.c_str()));
  EXPECT_TRUE(re.GetErrorString().IsEmpty());
}

}  // namespace
