// Substitution: template decoding, submatch references, and the failures of
// a missing template, a damaged program and a subject changed after Match.
#include <gtest/gtest.h>

#include <cstring>

#include "regex/Regexp.h"

namespace {

struct SubstituteCase {
  const char* tmpl;
  const char* expected;
};

TEST(RegexpSubstitute, TemplatesAfterAMatch) {
  const SubstituteCase cases[] = {
      {"[\\2-\\1] &", "[bbb-aa] aabbb"},
      {"plain text", "plain text"},
      {"", ""},
      {"\\&", "&"},
      {"\\\\", "\\"},
      {"\\n", "\\n"},
      {"x\\", "x\\"},
      {"\\9", ""},
      {"<\\3>", "<>"},
      {"\\0", "aabbb"},
      {"&&", "aabbbaabbb"},
      {"\\\\1", "\\1"},
      {"\\\\\\1", "\\aa"},
      {"a\\&b\\2c", "a&bbbbc"},
  };
  Regexp re("(a+)(b+)", 0);
  ASSERT_TRUE(re.Match("xaabbby"));
  for (const SubstituteCase& c : cases) {
    CStr result = re.GetReplaceString(c.tmpl);
    EXPECT_STREQ(c.expected, result) << c.tmpl;
    EXPECT_EQ(std::strlen(c.expected), result.Length()) << c.tmpl;
    EXPECT_TRUE(re.GetErrorString().IsEmpty()) << c.tmpl;
  }
}

TEST(RegexpSubstitute, GroupsThatTookNoPartGiveNothing) {
  Regexp re("(a)|b(c)?", 0);
  ASSERT_TRUE(re.Match("xb"));
  EXPECT_STREQ("<><>b", re.GetReplaceString("<\\1><\\2>&"));
  EXPECT_TRUE(re.GetErrorString().IsEmpty());
}

TEST(RegexpSubstitute, Failures) {
  Regexp re("(a+)(b+)", 0);
  char text[] = "xaabbby";
  ASSERT_TRUE(re.Match(text));

  EXPECT_TRUE(re.GetReplaceString(nullptr).IsEmpty());
  EXPECT_STREQ("NULL parm to regsub", re.GetErrorString());

  // A NUL written inside group 2 after the match; group 1 is untouched.
  text[4] = '\0';
  EXPECT_STREQ("aa", re.GetReplaceString("\\1"));
  EXPECT_TRUE(re.GetErrorString().IsEmpty());
  EXPECT_TRUE(re.GetReplaceString("\\1 \\2").IsEmpty());
  EXPECT_STREQ("damaged match string", re.GetErrorString());

  Regexp bad("a**", 0);
  EXPECT_TRUE(bad.GetReplaceString("&").IsEmpty());
  EXPECT_STREQ("damaged regexp fed to regsub", bad.GetErrorString());

  Regexp none;
  EXPECT_TRUE(none.GetReplaceString("&").IsEmpty());
  EXPECT_STREQ("NULL regexp", none.GetErrorString());
}

}  // namespace
