// Compiler: error codes, node programs byte for byte (through the dump),
// program sizes, search data and case folding of the pattern.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "regex/RegexpDump.h"
#include "regex/RegexpProgram.h"

namespace {

std::string Dump(const RegexpProgram& p) { return DumpRegexpProgram(p.Program(), p.ProgramSize()); }

std::string Folded(const char* pattern) {
  std::vector<char> out(4 * std::strlen(pattern) + 1);
  FoldCase(pattern, out.data());
  return out.data();
}

struct BadPattern {
  const char* pattern;
  int code;
};

// Codes 15 ("junk on end") and 20 ("\0|) unexpected") guard states that the
// parser cannot reach, so no pattern raises them.
const BadPattern kBad[] = {
    {"(a*)*", 16},
    {"(a?)+", 16},
    {"()*", 16},
    {"^*", 16},
    {"$+", 16},
    {"\\<*", 16},
    {"(^)+", 16},
    {"a**", 17},
    {"a+?", 17},
    {"a?*", 17},
    {"(ab)++", 17},
    {"*a", 21},
    {"a|+b", 21},
    {"(?)", 21},
    {"?", 21},
    {"(", 13},
    {"(a", 13},
    {"((a)", 13},
    {"(a|b", 13},
    {")", 14},
    {"a)", 14},
    {"(a))", 14},
    {"[a", 19},
    {"[", 19},
    {"[^", 19},
    {"[]", 19},
    {"[a-", 19},
    {"[z-a]", 18},
    {"[a-c-b]", 18},
    {"a\\", 22},
    {"\\", 22},
    {"ab\\", 22},
    {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", 12},
    {"((((((((((a))))))))))", 12},
};

TEST(RegexpCompile, BadPatternsFailWithTheirCode) {
  for (const BadPattern& bad : kBad) {
    for (int fold = 0; fold <= 1; ++fold) {
      RegexpProgram p(bad.pattern, fold);
      EXPECT_FALSE(p.CompiledOK()) << bad.pattern << " fold " << fold;
      EXPECT_STREQ(ErrorMessage(bad.code), p.Status().Message()) << bad.pattern << " fold " << fold;
      EXPECT_EQ(nullptr, p.Program()) << bad.pattern;
    }
  }
}

TEST(RegexpCompile, NullPatternFails) {
  for (int fold = 0; fold <= 1; ++fold) {
    RegexpProgram p(nullptr, fold);
    EXPECT_FALSE(p.CompiledOK());
    EXPECT_STREQ("NULL argument to regcomp", p.Status().Message());
  }
}

TEST(RegexpCompile, PatternsNearTheLimitsCompile) {
  const char* good[] = {"(a+)*", "()?",   "(a)(b)(c)(d)(e)(f)(g)(h)(i)",
                        "[a-]",  "[]a]",  "[^]a]",
                        "\\\\",  "\\.",   "\\(",
                        "a|",    "|",     "(|a)",
                        "^?",    "\\<?b", "[\x80-\xff]",
                        "[a-a]", "a\nb"};
  for (const char* pattern : good) {
    RegexpProgram p(pattern, 0);
    EXPECT_TRUE(p.CompiledOK()) << pattern << ": " << p.Status().Message();
    EXPECT_FALSE(p.Status().Failed()) << pattern;
  }
}

struct DumpCase {
  const char* pattern;
  int fold;
  const char* dump;
};

const DumpCase kDumps[] = {
    {"", 0, "1: Alt -> 7\n4: Empty -> 7\n7: Accept -> 0\n"},
    {"abc", 0, "1: Alt -> 11\n4: Literal -> 11 \"abc\"\n11: Accept -> 0\n"},
    {"a*", 0,
     "1: Alt -> 12\n4: ZeroOrMore -> 12\n7: Literal -> 0 \"a\"\n"
     "12: Accept -> 0\n"},
    {"[^a]+", 0,
     "1: Alt -> 12\n4: OneOrMore -> 12\n7: NotInSet -> 0 \"a\"\n"
     "12: Accept -> 0\n"},
    {"a|b", 0,
     "1: Alt -> 9\n4: Literal -> 17 \"a\"\n9: Alt -> 17\n"
     "12: Literal -> 17 \"b\"\n17: Accept -> 0\n"},
    {"(a)", 0,
     "1: Alt -> 18\n4: GroupOpen1 -> 7\n7: Alt -> 15\n10: Literal -> 15 \"a\"\n"
     "15: GroupClose1 -> 18\n18: Accept -> 0\n"},
    {"(ab)*", 0,
     "1: Alt -> 31\n4: Alt -> 25\n7: GroupOpen1 -> 10\n10: Alt -> 19\n"
     "13: Literal -> 19 \"ab\"\n19: GroupClose1 -> 22\n22: Loop -> 4\n"
     "25: Alt -> 28\n28: Empty -> 31\n31: Accept -> 0\n"},
    {"(a)+", 0,
     "1: Alt -> 30\n4: GroupOpen1 -> 7\n7: Alt -> 15\n10: Literal -> 15 \"a\"\n"
     "15: GroupClose1 -> 18\n18: Alt -> 24\n21: Loop -> 4\n24: Alt -> 27\n"
     "27: Empty -> 30\n30: Accept -> 0\n"},
    {"a?", 0,
     "1: Alt -> 18\n4: Alt -> 12\n7: Literal -> 15 \"a\"\n12: Alt -> 15\n"
     "15: Empty -> 18\n18: Accept -> 0\n"},
    {"^a$", 0,
     "1: Alt -> 15\n4: LineStart -> 7\n7: Literal -> 12 \"a\"\n"
     "12: LineEnd -> 15\n15: Accept -> 0\n"},
    {"\\<a.\\>", 0,
     "1: Alt -> 18\n4: WordStart -> 7\n7: Literal -> 12 \"a\"\n"
     "12: AnyChar -> 15\n15: WordEnd -> 18\n18: Accept -> 0\n"},
    // The run gives back its last character to the repetition.
    {"abc*", 0,
     "1: Alt -> 18\n4: Literal -> 10 \"ab\"\n10: ZeroOrMore -> 18\n"
     "13: Literal -> 0 \"c\"\n18: Accept -> 0\n"},
    {"a\\.b\\*", 0, "1: Alt -> 12\n4: Literal -> 12 \"a.b*\"\n12: Accept -> 0\n"},
    {"[a-c-e]", 0, "1: Alt -> 13\n4: InSet -> 13 \"abcde\"\n13: Accept -> 0\n"},
    {"[]a-]", 0, "1: Alt -> 11\n4: InSet -> 11 \"]a-\"\n11: Accept -> 0\n"},
    {"[^-\\]", 0, "1: Alt -> 10\n4: NotInSet -> 10 \"-\\x5C\"\n10: Accept -> 0\n"},
    {"Ab", 1,
     "1: Alt -> 16\n4: InSet -> 10 \"Aa\"\n10: InSet -> 16 \"Bb\"\n"
     "16: Accept -> 0\n"},
    {"[ab]\\x", 1,
     "1: Alt -> 16\n4: InSet -> 10 \"ab\"\n10: InSet -> 16 \"Xx\"\n16: Accept -> 0\n"},
};

TEST(RegexpCompile, NodeProgramsMatchTheirDump) {
  for (const DumpCase& c : kDumps) {
    RegexpProgram p(c.pattern, c.fold);
    ASSERT_TRUE(p.CompiledOK()) << c.pattern;
    EXPECT_EQ(kRegexpMagic, static_cast<unsigned char>(p.Program()[0])) << c.pattern;
    EXPECT_EQ(c.dump, Dump(p)) << c.pattern;
  }
}

TEST(RegexpCompile, ProgramSizes) {
  EXPECT_EQ(10, RegexpProgram("", 0).ProgramSize());
  EXPECT_EQ(10, RegexpProgram("", 1).ProgramSize());
  for (size_t n : {1, 2, 7, 100, 32755}) {
    std::string run(n, 'a');
    RegexpProgram p(run.c_str(), 0);
    EXPECT_TRUE(p.CompiledOK()) << n;
    EXPECT_EQ(static_cast<int>(n) + 11, p.ProgramSize()) << n;
  }
  std::string tooBig(32756, 'a');
  RegexpProgram p(tooBig.c_str(), 0);
  EXPECT_FALSE(p.CompiledOK());
  EXPECT_STREQ("regexp too big", p.Status().Message());
  // Folded, every letter becomes a 6-byte set node.
  std::string letters(6000, 'q');
  RegexpProgram folded(letters.c_str(), 1);
  EXPECT_FALSE(folded.CompiledOK());
  EXPECT_STREQ("regexp too big", folded.Status().Message());
}

TEST(RegexpCompile, HugePatternsDoNotOverflow) {
  // A million pattern bytes that compile to a 12-byte program: each "-a"
  // is an empty range.
  std::string ranges = "[a";
  for (int i = 0; i < 500000; ++i) ranges += "-a";
  ranges += "]";
  RegexpProgram small(ranges.c_str(), 1);
  ASSERT_TRUE(small.CompiledOK());
  EXPECT_EQ("1: Alt -> 9\n4: InSet -> 9 \"a\"\n9: Accept -> 0\n", Dump(small));
  // A million wide ranges count far past the 16-bit program limit.
  std::string wide;
  for (int i = 0; i < 300000; ++i) wide += "[!-~]";
  RegexpProgram big(wide.c_str(), 1);
  EXPECT_FALSE(big.CompiledOK());
  EXPECT_STREQ("regexp too big", big.Status().Message());
}

struct SearchDataCase {
  const char* pattern;
  int fold;
  char firstChar;
  bool anchored;
  const char* required;  // nullptr: none
  int requiredOffset;    // offset of the chosen Literal's text, when known
};

const SearchDataCase kSearchData[] = {
    {"abc", 0, 'a', false, nullptr, 0},
    {"ab*", 0, 'a', false, nullptr, 0},
    {"a*b", 0, 0, false, "b", 0},
    {"a?b", 0, 0, false, nullptr, 0},
    {"^abc", 0, 0, true, nullptr, 0},
    {"x|^abc", 0, 0, false, nullptr, 0},
    {"a*bc|d", 0, 0, false, nullptr, 0},
    // Two equally long literals: the later one, at byte 33.
    {".*\\.(.*)\\.(.*)$", 0, 0, false, ".", 33},
    {"[ab]+xy.*xyz", 0, 0, false, "xyz", 0},
    {"a+bcd.*ef", 0, 0, false, "bcd", 0},
    // Literals inside groups are not on the top-level chain.
    {"(abcdef)*x", 0, 0, false, "x", 0},
    {"(ab)+", 0, 0, false, nullptr, 0},
    {"Abc", 1, 0, false, nullptr, 0},
    {"<a", 1, '<', false, nullptr, 0},
    {"^x", 1, 0, true, nullptr, 0},
};

TEST(RegexpCompile, SearchData) {
  for (const SearchDataCase& c : kSearchData) {
    RegexpProgram p(c.pattern, c.fold);
    ASSERT_TRUE(p.CompiledOK()) << c.pattern;
    EXPECT_EQ(c.firstChar, p.FirstChar()) << c.pattern;
    EXPECT_EQ(c.anchored, p.Anchored()) << c.pattern;
    if (c.required == nullptr) {
      EXPECT_EQ(nullptr, p.RequiredLiteral()) << c.pattern;
      EXPECT_EQ(0, p.RequiredLength()) << c.pattern;
      continue;
    }
    ASSERT_NE(nullptr, p.RequiredLiteral()) << c.pattern;
    EXPECT_STREQ(c.required, p.RequiredLiteral()) << c.pattern;
    EXPECT_EQ(static_cast<int>(std::strlen(c.required)), p.RequiredLength()) << c.pattern;
    EXPECT_GT(p.RequiredLiteral(), p.Program()) << c.pattern;
    EXPECT_LT(p.RequiredLiteral(), p.Program() + p.ProgramSize()) << c.pattern;
    if (c.requiredOffset != 0) {
      EXPECT_EQ(c.requiredOffset, p.RequiredLiteral() - p.Program()) << c.pattern;
    }
  }
}

TEST(RegexpCompile, FoldCaseRewritesLettersOutsideBrackets) {
  const std::pair<const char*, const char*> rows[] = {
      {"", ""},
      {"Abc", "[Aa][Bb][Cc]"},
      {"[abc]", "[abc]"},
      {"[a]b", "[a][Bb]"},
      {"<a", "<[Aa]"},
      // An escaped letter folds like the letter; any other escape is kept.
      {"\\x", "[Xx]"},
      {"\\[a", "\\[[Aa]"},
      {"\\\\a", "\\\\[Aa]"},
      {"a]b", "[Aa]][Bb]"},
      // A ']' right after "[" or "[^" is a member, not the end of the set.
      {"[]a]b", "[]a][Bb]"},
      {"[^]a]b", "[^]a][Bb]"},
      {"[\\]a", "[\\][Aa]"},
      {"[ab", "[ab"},
      {"a\\", "[Aa]\\"},
      {"1.\\<_", "1.\\<_"},
      {"\xe9Z", "\xe9[Zz]"},
      {"zzzz", "[Zz][Zz][Zz][Zz]"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.second, Folded(row.first)) << row.first;
}

}  // namespace
