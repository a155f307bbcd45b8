// The crawler's units in process, over a site held in memory: the page
// reader, the crawl plan, -once's record, and the depth-first crawl itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CrawlPlan.h"
#include "app/CrawlScope.h"
#include "app/KeywordLines.h"
#include "app/LinkResolutions.h"
#include "app/PageReader.h"
#include "app/PageScan.h"
#include "app/VisitedUrls.h"
#include "net/HttpRequest.h"
#include "regex/RegexpMatcher.h"
#include "tests/app/FakeSite.h"
#include "tests/app/TestCrawl.h"
#include "tests/support/ParsedUrl.h"

namespace {

std::vector<std::string> Strings(const PageLinks& links) {
  std::vector<std::string> texts;
  for (size_t i = 0; i < links.size(); ++i) texts.emplace_back(links[i]);
  return texts;
}

TEST(PageReader, KeywordAndLinksAsTheLinesShowThem) {
  const std::string longLine(1022, 'x');  // exactly one piece
  const struct {
    const char* name;
    std::string body;
    const char* keyword;
    const char* filespec;
    size_t limit;
    bool found;
    std::vector<std::string> links;
    bool cut;
    size_t quota = 0;  // links the reader may take from a shared quota; 0: no quota
    bool quotaMet = true;
  } cases[] = {
      {"anchors and images in page order", "<a href=\"a.html\">a</a><img src=b.png>\n<a href=c>\n",
       "zzz", ".", 10, false, {"a.html", "b.png", "c"}, false},
      {"href must be the first attribute", "<a class=x href=\"a.html\">\n<A HREF='b'>\n", "", ".",
       10, false, {"'b'"}, false},
      {"a rejected link ends its line's search",
       "<a href=\"x.pdf\"><a href=\"y.html\"><a href=\"z.pdf\">\n<a href=\"w.pdf\">\n", "", "pdf",
       10, false, {"x.pdf", "w.pdf"}, false},
      {"the keyword on any line", "one\ntwo Ferret\nthree\n", "ferret", ".", 10, true, {}, false},
      {"pieces of a long line are tested alone", longLine + "ferret\n", "^ferret", ".", 10, true,
       {}, false},
      {"the limit keeps the first links", "<a href=1><a href=2>\n<a href=3>\n", "", ".", 2, false,
       {"1", "2"}, true},
      {"no file pattern: no links", "<a href=1>\n", "1", "", 10, true, {}, false},
      {"a quota with room holds the links kept", "<a href=1><a href=2>\n", "", ".", 10, false,
       {"1", "2"}, false, 2},
      {"a quota that runs out keeps no link", "<a href=1><a href=2>\n<a href=3>\n", "", ".", 10,
       false, {}, false, 2, false},
  };
  for (const auto& c : cases) {
    FakeSite site;
    site.Page("/p.html", c.body);
    FetchOutcome outcome = Fetch(ParsedUrl("http://site.test/p.html"), nullptr, site.Connect());
    ASSERT_TRUE(outcome.body) << c.name;
    PageReader reader(c.keyword, c.filespec);
    size_t bytes = 0;
    SharedBudget quota(c.quota);
    PageReader::Page page = reader.Read(*outcome.body, outcome.url, c.limit, c.keyword[0] != '\0',
                                        [&bytes](size_t n) { bytes += n; },
                                        c.quota > 0 ? &quota : nullptr);
    EXPECT_EQ(page.quotaMet, c.quotaMet) << c.name;
    EXPECT_EQ(quota.Held(), c.quota > 0 ? page.links.size() : 0) << c.name;
    EXPECT_EQ(page.keywordFound, c.found) << c.name;
    EXPECT_EQ(Strings(page.links), c.links) << c.name;
    EXPECT_EQ(page.linksCut, c.cut) << c.name;
    EXPECT_GE(bytes, c.body.size()) << c.name;
  }
}

// With -html a page's links are resolved, marked with what they are, and
// chosen as the mode says: the file pattern tested on the absolute URL,
// every page link kept in file mode, links to the page itself dropped (a
// fragment resolves against the base, as in a browser), and
// only what is kept counted against the limit. Lines are tested whole.
TEST(PageReader, HtmlReadingAsEachModeWantsIt) {
  const std::string body =
      "<base href='/docs/'><p class=x>A <em>borrow</em>  checker &lt;T&gt;\n"
      "<a class=nav rel=next\n href='ch2.html#top'>next</a><img srcset='i1.png 1x, i2.png 2x'>"
      "<a href=#here></a><a href=/docs/page.html#x></a><a href='/guide/g.html'>"
      "<script>var s = '<a href=no.html>';</script><a href=http://[bad>" +
      std::string(3000, 'x') + "needle\n";
  constexpr uint8_t H = PageLinks::kHtml, F = PageLinks::kFile, W = PageLinks::kWanted;
  const struct {
    const char* name;
    const char* keyword;
    const char* filespec;
    bool text;
    size_t limit;
    bool found;
    std::vector<std::string> links;  // each "FLAGS URL"
    bool cut;
  } cases[] = {
      {"keyword mode: pages only", "needle", ".", false, 10, true,
       {"5 http://site.test/docs/ch2.html", "5 http://site.test/docs/", "5 http://site.test/guide/g.html",
        "13 http://[bad"}, false},
      {"the file pattern tests the absolute URL", "zzz", "^http://site.test/docs/", false, 10,
       false, {"5 http://site.test/docs/ch2.html", "5 http://site.test/docs/"}, false},
      {"file mode: every page, files that match", "", "png$", false, 10, false,
       {"1 http://site.test/docs/ch2.html", "7 http://site.test/docs/i1.png",
        "7 http://site.test/docs/i2.png", "1 http://site.test/docs/",
        "1 http://site.test/guide/g.html", "9 http://[bad"},
       false},
      {"only links kept count against the limit", "", "g.html$", false, 2, false,
       {"1 http://site.test/docs/ch2.html", "1 http://site.test/docs/"}, true},
      {"the HTML's lines are tested whole", "borrow</em>", ".", false, 10, true,
       {"5 http://site.test/docs/ch2.html", "5 http://site.test/docs/", "5 http://site.test/guide/g.html",
        "13 http://[bad"}, false},
      {"-text: the text a reader sees", "^A borrow checker <T>$", ".", true, 10, true,
       {"5 http://site.test/docs/ch2.html", "5 http://site.test/docs/", "5 http://site.test/guide/g.html",
        "13 http://[bad"}, false},
      {"-text: markup is not text", "borrow</em>", ".", true, 10, false,
       {"5 http://site.test/docs/ch2.html", "5 http://site.test/docs/", "5 http://site.test/guide/g.html",
        "13 http://[bad"}, false},
  };
  static_assert(H == 1 && F == 2 && W == 4, "the rows spell the flags out");
  for (const auto& c : cases) {
    FakeSite site;
    site.Page("/docs/page.html", body);
    FetchOutcome outcome =
        Fetch(ParsedUrl("http://site.test/docs/page.html"), nullptr, site.Connect());
    ASSERT_TRUE(outcome.body) << c.name;
    PageReader reader(c.keyword, c.filespec, true, c.text);
    PageReader::Page page =
        reader.Read(*outcome.body, outcome.url, c.limit, c.keyword[0] != '\0');
    std::vector<std::string> got;
    for (size_t i = 0; i < page.links.size(); ++i) {
      got.push_back(std::to_string(page.links.Flags(i)) + " " + page.links[i]);
    }
    EXPECT_EQ(got, c.links) << c.name;
    EXPECT_EQ(page.keywordFound, c.found) << c.name;
    EXPECT_EQ(page.linksCut, c.cut) << c.name;
  }
  // With -confine's hosts, keyword mode passes over a page on another host
  // (one with a port is left for the crawl to judge); file mode keeps it.
  const std::string confined =
      "<a href=http://other.test/o.html><a href=/in.html><a href=http://other.test:8080/p.html>"
      "<a href=http://WWW.site.test/w.html><img src=http://other.test/i.png>";
  for (bool fileMode : {false, true}) {
    FakeSite site;
    site.Page("/docs/page.html", confined);
    FetchOutcome outcome =
        Fetch(ParsedUrl("http://site.test/docs/page.html"), nullptr, site.Connect());
    ASSERT_TRUE(outcome.body);
    PageReader reader(fileMode ? "" : "x", ".", true, false,
                      [](std::string_view host) { return host.find("site.test") != host.npos; });
    PageReader::Page page = reader.Read(*outcome.body, outcome.url, 10, !fileMode);
    std::vector<std::string> got;
    for (size_t i = 0; i < page.links.size(); ++i) got.push_back(page.links[i]);
    std::vector<std::string> kept = {"http://site.test/in.html", "http://other.test:8080/p.html",
                                     "http://www.site.test/w.html"};
    if (fileMode) {
      kept = {"http://other.test/o.html", "http://site.test/in.html",
              "http://other.test:8080/p.html", "http://www.site.test/w.html",
              "http://other.test/i.png"};
    }
    EXPECT_EQ(got, kept) << (fileMode ? "file mode" : "keyword mode");
  }
}

// With -show a page keeps its first matching lines, each with its number,
// the offset of the text kept in the whole line, and its first match in that
// text: as each reading sees the lines (the design's pieces of 1022 bytes
// and a line cut at a NUL; -html's whole lines, past 1 MiB in windows).
TEST(PageReader, ShownLinesKeepTheirNumberPlaceAndSpan) {
  const std::string body = std::string("one needle\ntwo a\0 NEEDLE b\nno\n", 30) +
                           std::string((1u << 20) + 100, 'x') + "needle\nneedle\n";
  const struct {
    bool html;
    std::vector<std::string> shown;  // "number@column [start,length] <cut> size"
  } cases[] = {
      {false, {"1@0 [4,6]  10", "4@1048572 [104,6] < 110", "5@0 [0,6]  6"}},
      {true, {"1@0 [4,6]  10", "2@0 [7,6]  15", "4@1048482 [194,6] < 200"}},
  };
  for (const auto& c : cases) {
    FakeSite site;
    site.Page("/p.html", body);
    FetchOutcome outcome = Fetch(ParsedUrl("http://site.test/p.html"), nullptr, site.Connect());
    ASSERT_TRUE(outcome.body);
    PageReader reader("needle", ".", c.html, false, nullptr, 3);
    PageReader::Page page = reader.Read(*outcome.body, outcome.url, 10, true);
    std::vector<std::string> got;
    for (const ShownLine& line : page.shown) {
      got.push_back(std::to_string(line.number) + "@" + std::to_string(line.column) + " [" +
                    std::to_string(line.matchStart) + "," + std::to_string(line.matchLength) +
                    "] " + (line.cutBefore ? "<" : "") + (line.cutAfter ? ">" : "") + " " +
                    std::to_string(line.text.size()));
    }
    EXPECT_EQ(got, c.shown) << (c.html ? "-html" : "the design's reading");
  }
}

// A line is tested whole however it arrives, and a line past the whole-line
// bound in windows that overlap, so a match across a window's edge is found.
TEST(KeywordLines, WholeLinesWhateverThePieces) {
  const size_t window = KeywordLines::kMaxWholeLine;
  const struct {
    const char* name;
    const char* pattern;
    std::string input;
    bool found;
  } cases[] = {
      {"past the design's 1022-byte pieces", "^x+needle$", std::string(5000, 'x') + "needle\n", true},
      {"^ is the start of a line only", "^needle", "a\nxneedle\n", false},
      {"after a line end", "^needle", "a\r\nneedle", true},
      {"$ before a CR LF", "needle$", "needle\r\nx\n", true},
      {"no match across lines", "needle", "nee\ndle\n", false},
      {"across a window's edge", "needle",
       std::string(window - 3, 'x') + "needle" + std::string(2 * window, 'x'), true},
      {"near the end of a long line", "needle", std::string(3 * window, 'x') + "needle\n", true},
      {"nothing in a long line", "needle", std::string(3 * window, 'x') + "\n", false},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, c.input.size()}) {
      if (piece == 1 && c.input.size() > 100000) continue;  // slow, and like 7
      Regexp keyword(c.pattern, 1);
      KeywordLines lines(&keyword);
      for (size_t at = 0; at < c.input.size(); at += piece) {
        lines.Feed(c.input.data() + at, std::min(piece, c.input.size() - at));
      }
      EXPECT_EQ(lines.Finish(), c.found) << c.name << ", pieces of " << piece;
      EXPECT_FALSE(lines.Finish()) << c.name << ": a new page starts clean";
    }
  }
}

TEST(CrawlPlan, WhatEachLinkAsksFor) {
  constexpr uint8_t H = PageLinks::kHtml, F = PageLinks::kFile, W = PageLinks::kWanted;
  const std::string far(kMaxUrlLength, 'd');
  const struct {
    const char* name;
    const char* keyword;
    int download;
    int depth;
    std::vector<CStr> links;
    // "save URL", "scan URL at DEPTH" or "save and scan URL at DEPTH", in order
    std::vector<std::string> requests;
    std::vector<uint8_t> flags = {};    // the HTML reading's, by link; none: the design's
  } cases[] = {
      {"keyword mode scans while depth remains, last link first", "k", 1, 2,
       {"a.html", "/b.html", "http://other.test/c"},
       {"scan http://other.test/c at 1", "scan site.test:80/b.html at 1",
        "scan site.test:80/dir/a.html at 1"}},
      {"no depth left: nothing to scan", "k", 1, 0, {"a.html"}, {}},
      {"file mode saves and scans each link with one request", "", 1, 1, {"a.gif", "b.html"},
       {"save and scan site.test:80/dir/b.html at 0", "save and scan site.test:80/dir/a.gif at 0"}},
      {"file mode without -download only scans", "", 0, 1, {"a.gif"},
       {"scan site.test:80/dir/a.gif at 0"}},
      {"links within the page itself are passed over", "k", 1, 1,
       {"#top", "p.html#notes", "http://SITE.test:80/dir/./p.html#x", "q.html#top"},
       {"scan site.test:80/dir/q.html at 0"}},
      {"other schemes, mail and runaway links are passed over", "", 1, 0,
       {"mailto:x@y", "javascript:go()", "ftp://f/x", "tel:1", (far + ".html").c_str(), "ok"},
       {"save site.test:80/dir/ok"}},
      // "mailto:" anywhere in a link, not only as its scheme.
      {"links holding mailto: are passed over", "", 1, 0,
       {"x/mailto:a@b", "http://h.test/?mailto:x", "/mailto:me", "ok"},
       {"save site.test:80/dir/ok"}},
      // The HTML reading's links come resolved, each with what it is.
      {"-html, file mode: every page is scanned, only what matched is saved", "", 1, 1,
       {"http://site.test/a.html", "http://site.test/b.png", "http://site.test/c.html",
        "http://site.test/d.png", "http://site.test:0/e.html", "http://site.test/dir/p.html"},
       {"scan http://site.test/c.html at 0", "save http://site.test/b.png",
        "save and scan http://site.test/a.html at 0"},
       {H | W, H | F | W, H, H | F, H, H}},
      {"-html, keyword mode: pages only, while depth remains", "k", 1, 1,
       {"http://site.test/a.html", "http://site.test/b.png"},
       {"scan http://site.test/a.html at 0"}, {H | W, H | F | W}},
      {"-html: links that did not resolve ask for nothing", "", 1, 1,
       {"http://[x/", "http://site.test/ok.png"}, {"save http://site.test/ok.png"},
       {H | PageLinks::kBadUrl | W, H | F | W}},
  };
  for (const auto& c : cases) {
    Options options;
    options.keyword = c.keyword;
    options.download = c.download;
    CrawlPlan plan(options);
    std::vector<std::string> got;
    // The crawl handles a page's links last found first.
    for (size_t i = c.links.size(); i-- > 0;) {
      uint8_t flags = c.flags.empty() ? 0 : c.flags[i];
      PlannedRequest r;
      if (plan.Request(ParsedUrl("http://site.test/dir/p.html"), c.depth, c.links[i], flags, &r)) {
        std::string what = r.purpose == Purpose::kSave   ? "save "
                           : r.purpose == Purpose::kScan ? "scan "
                                                         : "save and scan ";
        std::string at = Scans(r.purpose) ? " at " + std::to_string(r.depth) : "";
        got.push_back(what + std::string(r.url.Text()) + at);
      }
    }
    EXPECT_EQ(got, c.requests) << c.name;
  }
}

TEST(CrawlPlan, ARunawayLinkIsAProblemToReport) {
  Options options;
  CrawlPlan plan(options);
  LinkStep step;
  UrlProblem problem;
  std::string far(kMaxUrlLength, 'd');
  EXPECT_FALSE(plan.Step(ParsedUrl("http://site.test/p.html"), 1, far.c_str(), 0, &step, &problem));
  EXPECT_EQ(problem.kind, FailureKind::kUrlTooLong);
  UrlProblem none;
  EXPECT_FALSE(plan.Step(ParsedUrl("http://site.test/p.html"), 1, "mailto:me@site.test", 0, &step, &none));
  EXPECT_EQ(none.kind, FailureKind::kNone);
}

TEST(VisitedUrls, OneKeyPerResource) {
  const struct {
    const char* first;
    const char* again;
    bool same;
  } cases[] = {
      {"http://Site.Test/a/b.html", "site.test:80/a/b.html", true},
      {"http://site.test/a/./c/../b.html", "http://site.test:80/a/b.html#top", true},
      {"https://site.test/a", "https://site.test:443/a", true},
      {"http://site.test/a", "https://site.test/a", false},
      {"http://site.test/a", "http://site.test:8080/a", false},
      {"http://site.test/a", "http://site.test/A", false},
  };
  for (const auto& c : cases) {
    VisitedUrls visited;
    EXPECT_TRUE(visited.Insert(ParsedUrl(c.first))) << c.first;
    EXPECT_EQ(visited.Contains(ParsedUrl(c.again)), c.same) << c.first << " " << c.again;
    EXPECT_EQ(visited.Insert(ParsedUrl(c.again)), !c.same) << c.first << " " << c.again;
  }
}

// The memo answers what was added, whatever the table's growth, the blocks
// its bytes span (texts longer than a block among them) and its starting
// over at the bound, and never answers for a text it does not hold.
TEST(LinkResolutions, FindsWhatWasAddedAndNothingElse) {
  LinkResolutions memo;
  auto text = [](size_t i) {
    // Lengths from 1 to past a block, so copies cross and outgrow blocks.
    return "t" + std::to_string(i) + std::string(i % 97 == 0 ? 20000 : i % 61, 'x');
  };
  auto url = [](size_t i) { return i % 5 == 0 ? std::string() : "http://h/" + std::to_string(i); };
  const size_t n = LinkResolutions::kMaxTexts;
  for (size_t i = 0; i < n; ++i) memo.Add(text(i), i % 5 == 0, url(i));
  memo.Add(text(7), true, "http://h/other");  // a text known keeps its first
  ASSERT_EQ(memo.size(), n);
  for (size_t i = 0; i < n; ++i) {
    const LinkResolutions::Known* known = memo.Find(text(i));
    ASSERT_NE(known, nullptr) << i;
    EXPECT_EQ(known->otherScheme, i % 5 == 0) << i;
    EXPECT_EQ(known->url, url(i)) << i;
  }
  EXPECT_EQ(memo.Find("t1"), nullptr);  // a prefix of "t1x"
  EXPECT_EQ(memo.Find(text(n)), nullptr);
  memo.Add(text(n), false, url(n));  // past the bound: starts over
  EXPECT_EQ(memo.size(), 1u);
  EXPECT_EQ(memo.Find(text(3)), nullptr);
  ASSERT_NE(memo.Find(text(n)), nullptr);
  EXPECT_EQ(memo.Find(text(n))->url, url(n));
  memo.Clear();
  EXPECT_EQ(memo.Find(text(n)), nullptr);
  memo.Add("again", false, "http://h/again");
  EXPECT_EQ(memo.Find("again")->url, "http://h/again");
}

// index links to a and b; b to c; a to c and b; c back to index.
FakeSite Tree() {
  FakeSite site;
  site.Page("/index.html", "<a href=\"a.html\">a</a>\n<a href=\"b.html\">b</a>\n")
      .Page("/a.html", "<a href=\"c.html\">\n<a href=\"b.html\">\n")
      .Page("/b.html", "a ferret\n<a href=\"c.html\">\n")
      .Page("/c.html", "ferret\n<a href=\"index.html\">\n");
  return site;
}

// index links to a and b; b (taken first) links to a, which links to deep: a
// is met first one level below b, then again right below index.
FakeSite MetDeepFirst() {
  FakeSite site;
  site.Page("/index.html", "<a href=\"a.html\">\n<a href=\"b.html\">\n")
      .Page("/b.html", "<a href=\"a.html\">\n")
      .Page("/a.html", "<a href=\"deep.html\">\n")
      .Page("/deep.html", "ferret\n");
  return site;
}

TEST(ScanPage, DepthFirstLastFoundFirst) {
  const struct {
    const char* name;
    FakeSite (*site)();
    const char* keyword;
    int once;
    int depth;
    std::vector<std::string> requests;
    std::string out;
  } cases[] = {
      {"keyword mode", Tree, "ferret", 0, 2,
       {"/index.html", "/b.html", "/c.html", "/a.html", "/b.html", "/c.html"},
       "site.test:80/b.html\nsite.test:80/c.html\nsite.test:80/b.html\nsite.test:80/c.html\n"},
      {"keyword mode, each page once", Tree, "ferret", 1, 2,
       {"/index.html", "/b.html", "/c.html", "/a.html"},
       "site.test:80/b.html\nsite.test:80/c.html\n"},
      {"file mode prints each link as it is taken", Tree, "", 0, 1,
       {"/index.html", "/b.html", "/a.html"},
       "site.test:80/b.html\nsite.test:80/c.html\nsite.test:80/a.html\nsite.test:80/b.html\n"
       "site.test:80/c.html\n"},
      {"file mode, each link once", Tree, "", 1, 1, {"/index.html", "/b.html", "/a.html"},
       "site.test:80/b.html\nsite.test:80/c.html\nsite.test:80/a.html\n"},
      {"a page met deep first is expanded again when met higher up", MetDeepFirst, "ferret", 1,
       2, {"/index.html", "/b.html", "/a.html", "/deep.html"}, "site.test:80/deep.html\n"},
      {"without -once the same page is asked for again", MetDeepFirst, "ferret", 0, 2,
       {"/index.html", "/b.html", "/a.html", "/a.html", "/deep.html"},
       "site.test:80/deep.html\n"},
  };
  for (const auto& c : cases) {
    FakeSite site = c.site();
    TestCrawl t;
    t.options.keyword = c.keyword;
    t.options.filespec = c.keyword[0] != '\0' ? "." : "html";
    t.options.print = 1;
    t.options.once = c.once;
    t.context.connector = site.Connect();
    testing::internal::CaptureStdout();
    int result = ScanPage(t.context, ParsedUrl("http://site.test/index.html"), c.depth);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0) << c.name;
    EXPECT_EQ(site.requests, c.requests) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
    EXPECT_EQ(t.Counts().prints, static_cast<int>(std::count(out.begin(), out.end(), '\n')))
        << c.name;
    EXPECT_EQ(t.Counts().hits, static_cast<int>(c.requests.size())) << c.name;
    EXPECT_EQ(t.Counts().errors, 0) << c.name;
  }
}

TEST(ScanPage, APageCutShortIsNeitherPrintedNorFollowed) {
  FakeSite site;
  site.Raw("/index.html",
           "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 500\r\n\r\n"
           "ferret <a href=\"next.html\">\n")
      .Page("/next.html", "ferret\n");
  TestCrawl t;
  t.options.keyword = "ferret";
  t.options.filespec = ".";
  t.options.print = 1;
  t.context.connector = site.Connect();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ScanPage(t.context, ParsedUrl("http://site.test/index.html"), 1), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Transfer cut short at 28 of 500 bytes: http://site.test/index.html\n");
  EXPECT_EQ(site.requests, std::vector<std::string>{"/index.html"});
  EXPECT_EQ(t.Counts().errors, 1);
  EXPECT_EQ(t.Counts().prints, 0);
}

// A keyword whose searches run out of memory (a deep backtrack stack on a
// long line, with the search memory limited to nothing) matches no page,
// and the crawl says so once, naming the pattern, and counts it an error.
TEST(ScanPage, AFailedSearchIsReportedOncePerPattern) {
  const std::string hostile = std::string(200, 'a') + "c\n";
  FakeSite site;
  site.Page("/index.html", hostile + "<a href=\"a.html\">\n<a href=\"b.html\">\n")
      .Page("/a.html", hostile)
      .Page("/b.html", "c\n" + hostile);
  TestCrawl t;
  t.options.keyword = "(a|b)*c";
  t.options.filespec = ".";
  t.options.print = 1;
  t.context.connector = site.Connect();
  SetRegexpSearchMemoryLimit(0);
  testing::internal::CaptureStdout();
  int result = ScanPage(t.context, ParsedUrl("http://site.test/index.html"), 1);
  std::string out = testing::internal::GetCapturedStdout();
  SetRegexpSearchMemoryLimit(SIZE_MAX);
  EXPECT_EQ(result, 0);
  // b's first line matches without backtracking deeply: it is found.
  EXPECT_EQ(out,
            "Cannot search with pattern (a|b)*c: out of memory in regexec "
            "(first on http://site.test/index.html)\n"
            "site.test:80/b.html\n");
  EXPECT_EQ(t.Counts().errors, 1);
  EXPECT_EQ(t.Counts().prints, 1);

  // A -reject pattern fails on the links it is searched on: told once, with
  // the page read next (here the URL it failed on: the last link is visited
  // first), and the link is taken as not rejected.
  const std::string trap = std::string(300, 'a') + "-ac";
  FakeSite links;
  links
      .Page("/index.html",
            "needle\n<a href=\"" + trap + "1.html\">\n<a href=\"" + trap + "2.html\">\n")
      .Page("/" + trap + "1.html", "needle\n")
      .Page("/" + trap + "2.html", "hay\n");
  TestCrawl r;
  r.options.keyword = "needle";
  r.options.filespec = ".";
  r.options.print = 1;
  r.context.connector = links.Connect();
  CrawlScope scope(ParsedUrl("http://site.test/index.html"),
                   ScopeOptions{false, {}, {"(a|b)*c"}, 0});
  r.context.scope = &scope;
  SetRegexpSearchMemoryLimit(0);
  testing::internal::CaptureStdout();
  result = ScanPage(r.context, ParsedUrl("http://site.test/index.html"), 1);
  out = testing::internal::GetCapturedStdout();
  SetRegexpSearchMemoryLimit(SIZE_MAX);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out,
            "http://site.test/index.html\n"
            "Cannot search with pattern (a|b)*c: out of memory in regexec (first on "
            "site.test:80/" +
                trap +
                "2.html)\n"
                "site.test:80/" +
                trap + "1.html\n");
  EXPECT_EQ(r.Counts().errors, 1);
}

}  // namespace
