// Regexp: submatch queries, sharing and copying of programs (run under
// AddressSanitizer, which reports any program freed twice or never), and the
// error messages of every operation.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "regex/Regexp.h"
#include "regex/RegexpMatcher.h"
#include "regex/RegexpStatus.h"

namespace {

TEST(RegexpClass, DefaultConstructedHasNoProgram) {
  Regexp re;
  EXPECT_FALSE(re.CompiledOK());
  EXPECT_TRUE(re.GetErrorString().IsEmpty());
  EXPECT_FALSE(re.Match("anything"));
  EXPECT_STREQ("NULL regexp", re.GetErrorString());
  EXPECT_EQ(-1, re.SubStrings());
  EXPECT_EQ(-1, re.SubStart(0));
  EXPECT_EQ(-1, re.SubLength(0));
  EXPECT_TRUE(re[0].IsEmpty());
  EXPECT_STREQ("NULL regexp", re.GetErrorString());
}

TEST(RegexpClass, SubmatchQueries) {
  Regexp re("(a)(b)?(c)", 1);
  ASSERT_TRUE(re.Match("xac"));
  EXPECT_EQ(1, re.SubStrings());  // slot 2 is unset
  EXPECT_EQ(1, re.SubStart(1));
  EXPECT_EQ(1, re.SubLength(1));
  EXPECT_TRUE(re[2].IsEmpty());
  EXPECT_STREQ("c", re[3]);
  EXPECT_STREQ("ac", re[0]);
  EXPECT_EQ(re.SubStart(9), re.SubStart(12));
  EXPECT_EQ(re.SubLength(9), re.SubLength(1000));

  Regexp all("(.)(.)(.)(.)(.)(.)(.)(.)(.)", 0);
  ASSERT_TRUE(all.Match("0123456789"));
  EXPECT_EQ(9, all.SubStrings());
  EXPECT_STREQ("8", all[9]);
  EXPECT_STREQ("8", all[10]);
  EXPECT_EQ(8, all.SubStart(4000000000u));

  EXPECT_FALSE(re.Match("xyz"));
  EXPECT_EQ(-1, re.SubStrings());
  EXPECT_EQ(-1, re.SubStart(0));
  EXPECT_TRUE(re[0].IsEmpty());
  EXPECT_TRUE(re.GetErrorString().IsEmpty());
}

TEST(RegexpClass, FoldingSwitch) {
  Regexp exact("[Hh]ost", 0);
  Regexp folded("host", 1);
  for (const char* text : {"Host", "host", "HOST"}) {
    EXPECT_EQ(text[1] == 'o', exact.Match(text)) << text;
    EXPECT_TRUE(folded.Match(text)) << text;
  }
}

TEST(RegexpClass, CopiesShareUntilTheyMatch) {
  char first[] = "xxabyy";
  Regexp a("(a)(b)", 0);
  ASSERT_TRUE(a.Match(first));
  Regexp b(a);
  EXPECT_EQ(2, b.SubStart(0));  // the copy sees a's last match
  EXPECT_STREQ("ab", b[0]);
  ASSERT_TRUE(b.Match("ab"));
  EXPECT_EQ(0, b.SubStart(0));
  EXPECT_EQ(2, a.SubStart(0));  // a's submatches are its own
  EXPECT_EQ(3, a.SubStart(2));
  EXPECT_FALSE(a.Match("zz"));
  EXPECT_EQ(0, b.SubStart(1));
  EXPECT_EQ(2, b.SubStrings());
}

TEST(RegexpClass, AssignmentAndSelfAssignment) {
  Regexp a("a(b)", 0);
  ASSERT_TRUE(a.Match("xab"));
  const Regexp& alias = a;
  a = alias;
  EXPECT_TRUE(a.CompiledOK());
  EXPECT_EQ(2, a.SubStart(1));

  Regexp b(a);
  b = a;  // both already hold the same program
  b = alias;
  EXPECT_EQ(1, b.SubStart(0));
  Regexp c("zz", 0);
  c = b;
  EXPECT_TRUE(c.Match("ab"));
  EXPECT_EQ(0, c.SubStart(0));
  EXPECT_EQ(1, a.SubStart(0));
  b = Regexp();
  EXPECT_FALSE(b.Match("ab"));
  EXPECT_STREQ("NULL regexp", b.GetErrorString());
  a = c;
  EXPECT_EQ(0, a.SubStart(0));
}

TEST(RegexpClass, ManyOwnersFreeTheProgramOnce) {
  std::vector<Regexp> copies;
  {
    Regexp original("h(r)ef", 1);
    for (int i = 0; i < 20; ++i) copies.push_back(original);
  }
  for (size_t i = 0; i < copies.size(); i += 3) copies[i] = copies[i + 1];
  for (size_t i = 0; i < copies.size(); i += 2) EXPECT_TRUE(copies[i].Match(" HREF")) << i;
  copies.erase(copies.begin() + 5, copies.end());
  for (size_t i = 0; i < copies.size(); ++i) {
    // Even copies matched; odd ones still share the unmatched program.
    EXPECT_STREQ(i % 2 == 0 ? "R" : "", copies[i][1]) << i;
    EXPECT_EQ(i % 2 == 0 ? 1 : 0, copies[i].SubStrings()) << i;
  }
}

TEST(RegexpClass, CompileFailure) {
  Regexp re("*a", 1);
  EXPECT_FALSE(re.CompiledOK());
  EXPECT_STREQ("?+* follows nothing", re.GetErrorString());
  EXPECT_STREQ("?+* follows nothing", re.GetErrorString());  // not cleared
  Regexp copy(re);
  EXPECT_STREQ("?+* follows nothing", copy.GetErrorString());
  EXPECT_FALSE(re.Match("a"));
  EXPECT_STREQ("corrupted regexp", re.GetErrorString());
  EXPECT_EQ(-1, re.SubStrings());
  EXPECT_TRUE(re.GetErrorString().IsEmpty());  // cleared by SubStrings
}

TEST(RegexpClass, MatchErrorsReachTheMessage) {
  Regexp re("a", 0);
  EXPECT_FALSE(re.Match(nullptr));
  EXPECT_STREQ("NULL argument to regexec", re.GetErrorString());
  EXPECT_TRUE(re.Match("a"));
  EXPECT_TRUE(re.GetErrorString().IsEmpty());
}

// A search that cannot get the memory it needs (a deep backtrack stack, the
// failure memo of a hostile pattern) fails with an error, never with a
// quiet "no match"; SearchFailure keeps it past later operations.
TEST(RegexpClass, SearchesOutOfMemoryFailWithAnError) {
  struct Case {
    const char* pattern;
    std::string text;
    bool matches;       // with memory enough
    const char* small;  // a match that needs no memory beyond the matcher's own
  };
  const Case cases[] = {
      {"(a|b)*c", std::string(20000, 'a') + "c", true, "abc"},
      {"(a|b)*c", std::string(20000, 'b') + "dc", true, "abc"},
      // (Where no match can begin at all, the search needs no memory to say
      // so: the text holds one, past the stretch that needs the memo.)
      {"(x+x+)+y", std::string(3000, 'x') + "zxxy", true, "xxy"},
  };
  for (const Case& c : cases) {
    for (size_t limit : {size_t{0}, size_t{4096}}) {
      SetRegexpSearchMemoryLimit(limit);
      Regexp re(c.pattern, 0);
      EXPECT_FALSE(re.Match(c.text.c_str())) << c.pattern << " limit " << limit;
      EXPECT_STREQ("out of memory in regexec", re.GetErrorString()) << c.pattern;
      EXPECT_EQ(-1, re.SubStart(0)) << c.pattern;
      if (limit > 0) {  // an engine that memoises every search needs a little
        EXPECT_TRUE(re.Match(c.small)) << c.pattern;
        EXPECT_TRUE(re.GetErrorString().IsEmpty()) << c.pattern;
      }
      EXPECT_STREQ("out of memory in regexec", re.SearchFailure()) << c.pattern;
      SetRegexpSearchMemoryLimit(SIZE_MAX);
      Regexp roomy(c.pattern, 0);
      EXPECT_EQ(c.matches, roomy.Match(c.text.c_str())) << c.pattern;
      EXPECT_TRUE(roomy.GetErrorString().IsEmpty()) << c.pattern;
      EXPECT_TRUE(roomy.SearchFailure().IsEmpty()) << c.pattern;
    }
  }
}

TEST(RegexpClass, ErrorTable) {
  const char* const messages[] = {
      "Unknown error",
      "NULL argument to regexec",
      "corrupted regexp",
      "regexp corruption",
      "corrupted pointers",
      "internal error: bad call of regrepeat",
      "corrupted opcode",
      "NULL parm to regsub",
      "damaged regexp fed to regsub",
      "damaged match string",
      "NULL argument to regcomp",
      "regexp too big",
      "too many ()",
      "unterminated ()",
      "unmatched ()",
      "internal error: junk on end",
      "*+ operand could be empty",
      "nested *?+",
      "invalid [] range",
      "unmatched []",
      "internal error: \\0|) unexpected",
      "?+* follows nothing",
      "trailing \\",
      "internal error: strcspn 0",
      "NULL regexp",
      "out of memory in regexec",
  };
  for (int code = 0; code <= 25; ++code) EXPECT_STREQ(messages[code], ErrorMessage(code)) << code;
  for (int code : {26, 100, -1}) EXPECT_STREQ("Unknown error", ErrorMessage(code)) << code;
}

}  // namespace
