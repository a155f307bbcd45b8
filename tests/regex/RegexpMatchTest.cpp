// Matcher: leftmost-first alternation, greedy back-off, anchors and word
// assertions, which group occurrence is recorded, case folding, and the
// search errors of damaged programs.
#include <gtest/gtest.h>

#include <string>

#include "regex/Regexp.h"
#include "regex/RegexpProgram.h"

namespace {

struct Span {
  int start;  // -1: the submatch took no part
  int length;
};

constexpr Span kUnset = {-1, 0};
constexpr Span kNoMatch = {-2, 0};  // the search fails

struct MatchCase {
  const char* pattern;
  int fold;
  const char* text;
  Span whole;
  Span group1 = kUnset;
  Span group2 = kUnset;
};

const MatchCase kMatches[] = {
    {"abc", 0, "xxabcxx", {2, 3}},
    {"abc", 0, "ababx", kNoMatch},
    {"bc", 0, "abcbc", {1, 2}},
    {"", 0, "abc", {0, 0}},
    {"x*", 0, "", {0, 0}},
    {".*", 0, "", {0, 0}},
    {"x*", 0, "abc", {0, 0}},
    {"a", 0, "", kNoMatch},
    // Leftmost-first: the first alternative that completes wins.
    {"a|ab", 0, "ab", {0, 1}},
    {"ab|a", 0, "ab", {0, 2}},
    {"x(a|ab)(c|bcd)", 0, "xabcd", {0, 5}, {1, 1}, {2, 3}},
    // Greedy repeats give characters back one at a time.
    {"a*ab", 0, "aaab", {0, 4}},
    {"(a*)(a)", 0, "aaa", {0, 3}, {0, 2}, {2, 1}},
    {"(a+)(b+)", 0, "xaabbby", {1, 5}, {1, 2}, {3, 3}},
    {"(.*)b(.*)", 0, "abab", {0, 4}, {0, 3}, {4, 0}},
    {"a+", 0, "baaa", {1, 3}},
    {"ab*", 0, "xabbb", {1, 4}},
    {"a?b", 0, "ab", {0, 2}},
    {"[0-9]+", 0, "ab123c", {2, 3}},
    {"(ab)*c", 0, "ababc", {0, 5}, {2, 2}},
    {"(ab)+ab", 0, "ababab", {0, 6}, {2, 2}},
    {"a*b", 0, "aaa", kNoMatch},
    // Anchors: ^ only at the start of the text, $ only at its end.
    {"^b", 0, "ab", kNoMatch},
    {"^ab", 0, "abab", {0, 2}},
    {"b$", 0, "ab", {1, 1}},
    {"b$", 0, "ab\n", kNoMatch},
    {"^$", 0, "", {0, 0}},
    {"$", 0, "abc", {3, 0}},
    {".*foo", 0, "bar", kNoMatch},
    {".*foo", 0, "a foo", {0, 5}},
    {"a.c", 0, "ac", kNoMatch},
    {"[^b]", 0, "", kNoMatch},
    {"[^b]", 0, "b", kNoMatch},
    {"[^b]", 0, "bx", {1, 1}},
    {"[]a]+", 0, "x]a]", {1, 3}},
    {"[a-]+", 0, "b-a-", {1, 3}},
    {"a\nb", 0, "xa\nb", {1, 3}},
    {"\xe9t\xe9", 0, "l\xe9t\xe9", {1, 3}},
    {"[\x80-\xff]+", 0, "ab\xc3\xa9z", {2, 2}},
    // A range across byte 0 (bytes compare signed) keeps the members after it.
    {"[\xfd-\x02f](.*)b",
     0,
     "\xff"
     "b",
     {0, 2},
     {1, 0}},
    {"[\xfe-\x01z]+",
     0,
     "az\xff"
     "z",
     {1, 3}},
    {"\\(x\\)", 0, "f(x)", {1, 3}},
    {"a\\\\b", 0, "a\\b", {0, 3}},
    {"\\.", 0, "a.b", {1, 1}},
    // The last repetition of a group on the successful path is recorded.
    {"(a|b)*c", 0, "abc", {0, 3}, {1, 1}},
    {"(ab|c)+", 0, "abcab", {0, 5}, {3, 2}},
    {"([a-c])+x", 0, "abcx", {0, 4}, {2, 1}},
    {"((a)|b)+", 0, "ab", {0, 2}, {1, 1}, {0, 1}},
    // Groups that took no part, or matched the empty string.
    {"(a)|b", 0, "b", {0, 1}},
    {"(a)?b", 0, "b", {0, 1}},
    {"(a|)b", 0, "b", {0, 1}, {0, 0}},
    {"()?", 0, "", {0, 0}, {0, 0}},
    {"x(y)?(z)", 0, "xz", {0, 2}, kUnset, {1, 1}},
    {".*\\.(.*)\\.(.*)$", 0, "www.example.com", {0, 15}, {4, 7}, {12, 3}},
    // Word assertions.
    {"\\<foo", 0, "a foo", {2, 3}},
    {"\\<foo", 0, "afoo", kNoMatch},
    {"\\<foo", 0, "foo", {0, 3}},
    {"\\<a", 0, "_a", kNoMatch},
    {"foo\\>", 0, "foobar", kNoMatch},
    {"foo\\>", 0, "foo.", {0, 3}},
    {"foo\\>", 0, "xfoo", {1, 3}},
    {"\\<", 0, "  x", {2, 0}},
    // Case folding of letters outside brackets only.
    {"abc", 0, "ABC", kNoMatch},
    {"abc", 1, "ABC", {0, 3}},
    {"host", 1, "HoSt", {0, 4}},
    {"[a]b", 1, "AB", kNoMatch},
    {"[a]b", 1, "aB", {0, 2}},
    {"<a", 1, "x<A", {1, 2}},
    // An escaped letter is the letter, and folds; "\\[" is a literal bracket.
    {"\\x", 1, "aXb", {1, 1}},
    {"\\x", 1, "a[Xx]b", {2, 1}},
    {"B|a\\[*b*", 1, "abBb-a", {0, 4}},
    {"\\[a\\]", 1, "[A]", {0, 3}},
    // A ']' right after "[" or "[^" is a member of the set.
    {"[]a]", 1, "a", {0, 1}},
    {"[]Bb-]", 1, "]", {0, 1}},
    {"[^]a]x", 1, "]xaxbX", {4, 2}},
    {"[]a]b", 1, "xaB", {1, 2}},
    {"href=\"([^\"]*)\"", 1, "<A HREF=\"Page.html\">", {3, 16}, {9, 9}},
};

Span SpanOf(const Regexp& re, unsigned slot) { return {re.SubStart(slot), re.SubLength(slot)}; }

::testing::AssertionResult SameSpan(Span expected, Span actual) {
  if (expected.start == actual.start && expected.length == actual.length)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected (" << expected.start << "," << expected.length
                                       << ") got (" << actual.start << "," << actual.length << ")";
}

TEST(RegexpMatch, SpansOfMatchAndGroups) {
  for (const MatchCase& c : kMatches) {
    Regexp re(c.pattern, c.fold);
    ASSERT_TRUE(re.CompiledOK()) << c.pattern;
    bool expected = c.whole.start != kNoMatch.start;
    EXPECT_EQ(expected, re.Match(c.text)) << c.pattern << " in " << c.text;
    EXPECT_TRUE(re.GetErrorString().IsEmpty()) << c.pattern;
    if (!expected) continue;
    EXPECT_TRUE(SameSpan(c.whole, SpanOf(re, 0))) << c.pattern << " in " << c.text;
    EXPECT_TRUE(SameSpan(c.group1, SpanOf(re, 1))) << c.pattern << " group 1";
    EXPECT_TRUE(SameSpan(c.group2, SpanOf(re, 2))) << c.pattern << " group 2";
  }
}

TEST(RegexpMatch, SameRegexpMatchesManyTexts) {
  Regexp re("<a[ \t]+href=\"([^\"]*)\"", 1);
  const std::pair<const char*, const char*> lines[] = {
      {"<p><A HREF=\"one.html\">", "one.html"},
      {"no link here", nullptr},
      {"x <a  href=\"\">", ""},
      {"<a href=\"two.htm\"><a href=\"three\">", "two.htm"},
  };
  for (const auto& line : lines) {
    bool found = re.Match(line.first);
    EXPECT_EQ(line.second != nullptr, found) << line.first;
    if (found) {
      EXPECT_STREQ(line.second, re[1]) << line.first;
    }
  }
}

// Damaged programs: these codes cannot come from the compiler, so the
// program bytes are altered after compiling.
struct Damage {
  const char* pattern;
  int offset;  // byte to overwrite
  char value;
  const char* message;
};

TEST(RegexpMatch, DamagedProgramsReportSearchErrors) {
  const Damage damages[] = {
      {"abc", 0, 0, "corrupted regexp"},
      {"abc", 4, 50, "regexp corruption"},
      {"abc", 5, 0, "corrupted pointers"},  // Literal's link
      {"a*", 7, 9, "internal error: bad call of regrepeat"},
      {"(a)", 4, 30, "regexp corruption"},  // GroupClose 0 does not exist
      // The literal scan of "qq|zz" finds no candidate in the text: the
      // damaged first alternative is still tried, as without the scan.
      {"qq|zz", 4, 50, "regexp corruption"},
  };
  for (const Damage& d : damages) {
    RegexpProgram p(d.pattern, 0);
    ASSERT_TRUE(p.CompiledOK()) << d.pattern;
    const_cast<char*>(p.Program())[d.offset] = d.value;
    EXPECT_FALSE(p.Search("xxabcaa")) << d.pattern << " @" << d.offset;
    EXPECT_STREQ(d.message, p.Status().Message()) << d.pattern << " @" << d.offset;
  }
  RegexpProgram p("abc", 0);
  EXPECT_FALSE(p.Search(nullptr));
  EXPECT_STREQ("NULL argument to regexec", p.Status().Message());
}

}  // namespace
