// RobotsTxt: reading a robots.txt file, choosing the rules for a crawler,
// and deciding which paths those rules allow, after RFC 9309 and its
// examples.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "net/RobotsTxt.h"

namespace {

using Paths = std::initializer_list<const char*>;

// token may fetch every path of allowed and none of refused.
void ExpectPaths(const RobotsTxt& robots, const char* token, Paths allowed, Paths refused) {
  RobotsTxt::Rules rules = robots.For(token);
  for (const char* path : allowed) EXPECT_TRUE(rules.Allowed(path)) << token << " " << path;
  for (const char* path : refused) EXPECT_FALSE(rules.Allowed(path)) << token << " " << path;
}

// RFC 9309's simple example, and groups for one token spread over the file.
TEST(RobotsTxt, GroupsAreChosenAndMerged) {
  RobotsTxt robots = RobotsTxt::Parse(
      "User-Agent: *\nDisallow: *.gif$\nDisallow: /example/\nAllow: /publications/\n\n"
      "User-Agent: foobot\nDisallow:/\nAllow:/example/page.html\nAllow:/example/allowed.gif\n\n"
      "User-Agent: barbot\nUser-Agent: bazbot\nDisallow: /example/page.html\n\n"
      "User-Agent: quxbot\n\nEOF\n");
  ExpectPaths(robots, "foobot", {"/example/page.html", "/example/allowed.gif"}, {"/other"});
  ExpectPaths(robots, "bazbot", {"/a.gif"}, {"/example/page.html"});
  ExpectPaths(robots, "barbot", {"/a.gif"}, {"/example/page.html"});
  ExpectPaths(robots, "quxbot", {"/a.gif", "/example/"}, {});
  ExpectPaths(robots, "otherbot", {"/publications/a.html"}, {"/a.gif", "/example/x"});
  robots = RobotsTxt::Parse(
      "user-agent: ExampleBot\ndisallow: /foo\ndisallow: /bar\n\nuser-agent: other\n"
      "disallow: /baz\n\nuser-agent: ExampleBot\ndisallow: /baz\n");
  ExpectPaths(robots, "examplebot", {"/qux"}, {"/foo", "/bar", "/baz"});
  ExpectPaths(robots, "other", {"/foo"}, {"/baz"});
  // Blank lines and other records do not end a run of user-agent lines; a
  // user-agent line after a rule starts a new group; rules before any
  // user-agent line belong to nobody.
  robots = RobotsTxt::Parse(
      "Disallow: /early\nUser-agent: a\n\nSitemap: http://h/s.xml\nUser-agent: b\nDisallow: /x\n"
      "User-agent: c\nDisallow: /y\n");
  ExpectPaths(robots, "a", {"/early", "/y"}, {"/x"});
  ExpectPaths(robots, "b", {"/y"}, {"/x"});
  ExpectPaths(robots, "c", {"/x"}, {"/y"});
  ExpectPaths(robots, "zz", {"/x", "/y", "/early"}, {});
}

TEST(RobotsTxt, ProductTokensMatchTheirLeadingNameInAnyCase) {
  RobotsTxt robots = RobotsTxt::Parse(
      "User-agent: *\nDisallow: /\n\nUser-agent: FERRET/1.0 (+http://h/bot)\nDisallow: /private\n\n"
      "User-agent: ferret-news\nDisallow: /news\n\nUser-agent: emptybot\n");
  for (const char* token : {"ferret", "Ferret", "ferret/2.3"}) {
    ExpectPaths(robots, token, {"/page", "/news"}, {"/private/a"});
  }
  ExpectPaths(robots, "ferret-news", {"/private/a"}, {"/news/1"});
  ExpectPaths(robots, "emptybot", {"/anything"}, {});
  ExpectPaths(robots, "ferretbot", {}, {"/page"});
  ExpectPaths(robots, "", {}, {"/page"});
  ExpectPaths(RobotsTxt::Parse("User-agent: otherbot\nDisallow: /\n"), "ferret", {"/a"}, {});
  ExpectPaths(RobotsTxt::Parse(""), "ferret", {"/a"}, {});
}

TEST(RobotsTxt, LongestPatternDecidesAndAllowWinsATie) {
  RobotsTxt robots = RobotsTxt::Parse(
      "User-agent: *\nAllow: /example/page/\nDisallow: /example/page/disallowed.gif\n"
      "Disallow: /tie\nAllow: /tie\nDisallow: /folder/\nAllow: /folder\nAllow: /p\n"
      "Disallow: /\nDisallow: /robots.txt\nDisallow: /open*\nAllow: /open/\n");
  ExpectPaths(robots, "x", {"/example/page/", "/tie", "/folder", "/p", "/robots.txt", "/open/a"},
              {"/example/page/disallowed.gif", "/folder/a", "/q", "", "/openx"});
  // An empty Disallow matches nothing, so the shorter Disallow still holds.
  ExpectPaths(RobotsTxt::Parse("User-agent: *\nDisallow: /a\nDisallow:\n"), "x", {"/b"}, {"/a"});
}

TEST(RobotsTxt, StarMatchesAnyRunAndDollarAnchorsTheEnd) {
  RobotsTxt robots = RobotsTxt::Parse(
      "User-agent: *\nDisallow: /*.php$\nDisallow: /this/*/exactly\nDisallow: /end$\n"
      "Disallow: /q*?s=*&\nDisallow: *secret\nDisallow: /mid$dle\n");
  ExpectPaths(
      robots, "x",
      {"/index.php?x=1", "/index.phpx", "/this/exactly", "/endless", "/query?s=1", "/middle"},
      {"/index.php", "/a/b.php", "/this/a/b/exactly", "/end", "/query?s=1&t", "/a/secret/b",
       "/mid$dle/x"});
}

TEST(RobotsTxt, PercentEncodingsCompareAsOneSpelling) {
  RobotsTxt robots = RobotsTxt::Parse(
      "User-agent: *\nDisallow: /foo/bar/\xE3\x83\x84\nDisallow: /%7Euser/\n"
      "Disallow: /%62%61%7A\nDisallow: /a%2fb\nDisallow: /sp ace\nDisallow: /100%\n");
  ExpectPaths(robots, "x", {"/foo/bar/%E3%83", "/a/b", "/100"},
              {"/foo/bar/%E3%83%84", "/foo/bar/%e3%83%84", "/foo/bar/\xE3\x83\x84", "/~user/notes",
               "/%7euser/notes", "/baz", "/%62az", "/a%2Fb", "/sp%20ace", "/100%25"});
  // Decoding changes a rule's length: "/%41%42" is "/AB", shorter than "/ABC".
  robots = RobotsTxt::Parse("User-agent: *\nAllow: /%41%42\nDisallow: /AB%43\n");
  ExpectPaths(robots, "x", {"/ABD"}, {"/ABC"});
}

TEST(RobotsTxt, CommentsWhiteSpaceAndEveryLineEnd) {
  RobotsTxt robots = RobotsTxt::Parse(
      "\xEF\xBB\xBFUSER-AGENT : * # everyone\r\n# a comment\r\n\tdisallow\t:\t/a # why\r"
      "Disallow: /b\nALLOW:/b/c\r\rfoo bar\nDisallow /d\nDisallow: nothing-slash\n# Disallow: /e");
  ExpectPaths(robots, "x", {"/b/c", "/d", "/nothing-slash", "/e"}, {"/a", "/a%20", "/b"});
}

// A file of head, then comment lines filling it to size bytes, then tail.
std::string FileOf(const std::string& head, size_t size, const std::string& tail) {
  std::string file = head;
  while (file.size() < size) {
    size_t line = std::min<size_t>(size - file.size(), 1000);
    file += line == 1 ? "\n" : "#" + std::string(line - 2, 'x') + "\n";
  }
  return file + tail;
}

TEST(RobotsTxt, OnlyTheFirst500KiBAreRead) {
  const std::string head = "User-agent: *\nDisallow: /early\n";
  const std::string cut = "Disallow: /cut";  // the bytes of tail within the limit
  // The limit falls inside "/cutoff": the line is dropped, not read as "/cut".
  ExpectPaths(RobotsTxt::Parse(FileOf(head, kMaxRobotsBytes - cut.size(), cut + "off\n")), "x",
              {"/cut", "/cutoff"}, {"/early"});
  // Its line end is the last byte read, or the first byte past the limit:
  // either way the line is whole.
  ExpectPaths(RobotsTxt::Parse(FileOf(head, kMaxRobotsBytes - cut.size() - 1, cut + "\n")), "x", {},
              {"/cut"});
  ExpectPaths(
      RobotsTxt::Parse(FileOf(head, kMaxRobotsBytes - cut.size(), cut + "\r\nDisallow: /z")), "x",
      {"/z"}, {"/cut"});
  ExpectPaths(RobotsTxt::Parse(FileOf(head, kMaxRobotsBytes, "Disallow: /late\n")), "x", {"/late"},
              {"/early"});
}

TEST(RobotsTxt, CrawlDelayIsReadPerGroupAndCapped) {
  const struct {
    const char* value;
    double seconds;
  } cases[] = {{"5", 5},
               {" 0.25 ", 0.25},
               {"1.", 1},
               {".5", 0.5},
               {"30", 30},
               {"31", 30},
               {"99999999999999999999999", 30},
               {"-1", 0},
               {"abc", 0},
               {"2s", 0},
               {"1e3", 0},
               {"", 0},
               {".", 0}};
  for (const auto& c : cases) {
    std::string file = "User-agent: ferret\nCrawl-delay: " + std::string(c.value) + "\n";
    EXPECT_DOUBLE_EQ(RobotsTxt::Parse(file).For("ferret").CrawlDelaySeconds(), c.seconds)
        << c.value;
  }
  RobotsTxt robots = RobotsTxt::Parse(
      "User-agent: *\nCrawl-delay: 7\n\nUser-agent: ferret\nCrawl-delay: 4\nDisallow: /x\n"
      "User-agent: ferret\nCRAWL-DELAY: 2\n");
  EXPECT_DOUBLE_EQ(robots.For("ferret").CrawlDelaySeconds(), 4);
  EXPECT_DOUBLE_EQ(robots.For("other").CrawlDelaySeconds(), 7);
  EXPECT_DOUBLE_EQ(RobotsTxt::Parse("User-agent: a\n").For("a").CrawlDelaySeconds(), 0);
}

TEST(RobotsTxt, FetchOutcomeDecidesTheRules) {
  const std::string body = "User-agent: *\nDisallow: /x\n";
  ExpectPaths(RobotsTxt::ForOutcome(RobotsFetch::kAnswered, body), "ferret",
              {"/page", "/robots.txt"}, {"/x"});
  ExpectPaths(RobotsTxt::ForOutcome(RobotsFetch::kClientError, body), "ferret",
              {"/page", "/x", "/robots.txt"}, {});
  for (RobotsFetch kind : {RobotsFetch::kServerError, RobotsFetch::kUnreachable}) {
    ExpectPaths(RobotsTxt::ForOutcome(kind, body), "ferret", {"/robots.txt"}, {"/page", "/x", ""});
  }
}

// Many '*'s against a long path, the shape that makes a backtracking matcher
// take exponential time: the answers must come, and be right.
TEST(RobotsTxt, ManyStarsAgainstALongPath) {
  std::string stars;
  for (int i = 0; i < 200; ++i) stars += "*a";
  const std::string longPath = "/" + std::string(100 * 1024, 'a');
  const std::string shortPath = "/" + std::string(199, 'a');
  const struct {
    const char* tail;
    bool longAllowed;
  } cases[] = {{"", false}, {"$", false}, {"b", true}, {"b$", true}, {"*b*", true}, {"a$", false}};
  for (const auto& c : cases) {
    std::string rule = "/" + stars + c.tail;
    RobotsTxt::Rules rules = RobotsTxt::Parse("User-agent: *\nDisallow: " + rule + "\n").For("x");
    EXPECT_EQ(rules.Allowed(longPath), c.longAllowed) << "stars then " << c.tail;
    EXPECT_TRUE(rules.Allowed(shortPath)) << "stars then " << c.tail;
  }
}

// i written in four letters, as a product token may be.
std::string Letters(int i) {
  std::string letters;
  for (int k = 0; k < 4; ++k, i /= 26) letters += static_cast<char>('a' + i % 26);
  return letters;
}

// One group naming thousands of tokens, with thousands of rules: each token
// has every rule, and the file costs memory like its size, not their product.
TEST(RobotsTxt, ManyTokensShareOneGroupsRules) {
  const int count = 12000;
  std::string file;
  for (int i = 0; i < count; ++i) file += "User-agent: x" + Letters(i) + "\n";
  for (int i = 0; i < count; ++i) file += "Disallow: /r" + Letters(i) + "\n";
  ASSERT_LT(file.size(), kMaxRobotsBytes);
  RobotsTxt robots = RobotsTxt::Parse(file);
  const std::string last = "/r" + Letters(count - 1);
  for (const std::string& token : {"x" + Letters(0), "x" + Letters(count - 1)}) {
    ExpectPaths(robots, token.c_str(), {"/s", "/"}, {last.c_str(), "/raaaa"});
  }
}

}  // namespace
