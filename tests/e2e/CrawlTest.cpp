// End-to-end crawls of the built ferret binary against the scripted loopback
// server: what is printed, saved and requested, and in which order.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedServer.h"

namespace {

class CrawlTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(workDir.empty());
    server.SetDefaultResponse(
        HttpResponse("HTTP/1.0 404 Not Found", {"Content-Type: text/plain"}, "no\n"));
  }
  ProcessResult Crawl(std::vector<std::string> args, int timeLimit = 120) {
    args.insert(args.begin(), FERRET_BINARY);
    ProcessResult r = RunProcess(args, workDir, timeLimit);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, expectedExit) << r.err;
    return r;
  }
  int expectedExit = 0;  // 1 once the run counts an error
  void Page(const std::string& path, const std::string& html) {
    server.SetResponse(path, HtmlResponse(html));
  }
  std::string U(const std::string& path) { return server.HostPort() + path; }

  ScriptedServer server;
  TempDir scratch{"ferret-crawl"};
  const std::string& workDir = scratch.Path();
};

// index links a.html and b.html on one line, an image on the next, then two
// mail links. a.html links c.html. Only index and c mention the keyword.
void SmallSite(CrawlTest* t, ScriptedServer& server) {
  (void)t;
  server.SetResponse("/index.html",
                     HtmlResponse("<html><body><p>All about the ferret.</p>\n"
                                  "<a href=\"a.html\">A</a> and <a href=\"b.html\">B</a>\n"
                                  "<img src=\"pic.gif\">\n"
                                  "<a href=\"mailto:x@y.z\">mail</a>\n"
                                  "<a href=\"MAILTO:u@v.w\">MAIL</a>\n"
                                  "</body></html>\n"));
  server.SetResponse("/a.html", HtmlResponse("<p>a</p>\n<a href=\"c.html\">C</a>\n"));
  server.SetResponse("/b.html", HtmlResponse("<p>b</p>\n"));
  server.SetResponse("/c.html", HtmlResponse("ferrets here\n<a href=\"/index.html\">home</a>\n"));
  server.SetResponse("/pic.gif", FileResponse("GIF89a", "image/gif"));
}

TEST_F(CrawlTest, KeywordModeOrderOfPrintsAndRequests) {
  SmallSite(this, server);
  ProcessResult r =
      Crawl({server.Url("/index.html"), "-k", "FERRET", "-d", "2", "-print", "-stat"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{server.Url("/index.html"), U("/c.html"),
                                      "Saves(0) Prints(2) Hits(5) HTTP 200(100%) Errors(0)"}));
  // Last link first, depth-first; c.html lies at depth 0, so its link back to
  // the index is not followed. Mail links in either letter case are skipped.
  EXPECT_EQ(server.RequestPaths(),
            (std::vector<std::string>{"/index.html", "/pic.gif", "/b.html", "/a.html", "/c.html"}));
}

TEST_F(CrawlTest, KeywordModeSavesFoundPagesFromTheirOneRequest) {
  SmallSite(this, server);
  ProcessResult r = Crawl({server.Url("/index.html"), "-k", "ferret", "-download"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Saving " + server.Url("/index.html") + " as index.html"}));
  EXPECT_EQ(server.RequestPaths(), (std::vector<std::string>{"/index.html"}));
  EXPECT_NE(ReadFile(workDir + "/index.html").find("All about the ferret."), std::string::npos);
}

// Pages in directories, a redirect, an image, and a page larger than the
// memory a held body keeps, its keyword on its last line. Returns what each
// path answers.
std::map<std::string, std::string> ScannedAndSavedSite(ScriptedServer& server) {
  std::string big;
  for (int i = 0; big.size() < (3u << 19); ++i) big += "<p>hay, line " + std::to_string(i) + "</p>\n";
  big += "<p>the needle at last</p>\n";
  std::map<std::string, std::string> bodies = {
      {"/index.html",
       "<p>a needle</p>\n<a href=\"docs/a.html\">a</a>\n<a href=\"big.html\">big</a>\n"
       "<a href=\"moved.html\">moved</a>\n<img src=\"img/p.gif\">\n"},
      {"/docs/a.html", "<p>hay</p>\n<a href=\"c.html\">c</a>\n<img src=\"../img/p.gif\">\n"},
      {"/docs/c.html", "needle\n<a href=\"../index.html\">home</a>\n"},
      {"/docs/d.html", "needle first\n<p>then hay</p>\n"},
      {"/big.html", big},
  };
  for (const auto& page : bodies) server.SetResponse(page.first, HtmlResponse(page.second));
  server.SetResponse("/moved.html", RedirectResponse("/docs/d.html"));
  bodies["/img/p.gif"] = "GIF89a" + PseudoRandomBytes(2000, 9);
  server.SetResponse("/img/p.gif", FileResponse(bodies["/img/p.gif"], "image/gif"));
  return bodies;
}

// A page that is scanned and also saved is asked for once: the lines, the
// counters (each use of an answer counted, as when each asked for it) and
// the files are those of the crawl that asked twice, and -j 4 gives what
// -j 1 gives. Cases: keyword mode (a page saved once its keyword is found,
// the large one past the memory a held body keeps), file mode (a link saved
// and scanned, without and with -html), and the start URL of a run that
// saves everything (saved first, then again as a page with text).
TEST_F(CrawlTest, APageScannedAndSavedIsRequestedOnce) {
  const std::map<std::string, std::string> bodies = ScannedAndSavedSite(server);
  const std::string start = server.Url("/index.html");
  auto saving = [this](const std::string& path, const std::string& as) {
    return "Saving " + U(path) + " as " + as;
  };
  auto absolute = [this](const std::string& path, const std::string& as) {
    return "Saving " + server.Url(path) + " as " + as;
  };
  const std::vector<std::string> allPages = {"/big.html",  "/docs/a.html", "/docs/d.html",
                                             "/img/p.gif", "/index.html",  "/moved.html"};
  std::vector<std::string> withC = allPages;
  withC.insert(withC.begin() + 2, "/docs/c.html");
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> out;
    std::map<std::string, std::string> saved;  // file -> the path whose bytes it holds
    std::vector<std::string> requested;        // sorted, each once
  } cases[] = {
      {"keyword mode",
       {"-k", "needle", "-d", "2", "-once", "-download", "-create", "-stat"},
       {"Saving " + start + " as index.html", saving("/docs/d.html", "docs/d.html"),
        saving("/big.html", "big.html"), saving("/docs/c.html", "docs/c.html"),
        "Saves(4) Prints(0) Hits(11) HTTP 200(90%) Errors(0)"},
       {{"index.html", "/index.html"},
        {"docs/d.html", "/docs/d.html"},
        {"big.html", "/big.html"},
        {"docs/c.html", "/docs/c.html"}},
       withC},
      {"file mode",
       {"-f", "html|gif", "-d", "1", "-once", "-download", "-create", "-print", "-stat"},
       {saving("/img/p.gif", "img/p.gif"), U("/img/p.gif"), saving("/docs/d.html", "docs/d.html"),
        U("/moved.html"), saving("/big.html", "big.html"), U("/big.html"),
        saving("/docs/a.html", "docs/a.html"), U("/docs/a.html"),
        saving("/docs/c.html", "docs/c.html"), U("/docs/c.html"),
        "Saves(5) Prints(5) Hits(12) HTTP 200(83%) Errors(0)"},
       {{"img/p.gif", "/img/p.gif"},
        {"docs/d.html", "/docs/d.html"},
        {"big.html", "/big.html"},
        {"docs/a.html", "/docs/a.html"},
        {"docs/c.html", "/docs/c.html"}},
       withC},
      {"file mode, -html",
       {"-f", "html|gif", "-d", "1", "-once", "-download", "-create", "-print", "-stat", "-html"},
       // Links absolute; the image is a file's link, saved and not scanned.
       {absolute("/img/p.gif", "img/p.gif"), server.Url("/img/p.gif"),
        saving("/docs/d.html", "docs/d.html"), server.Url("/moved.html"),
        absolute("/big.html", "big.html"), server.Url("/big.html"),
        absolute("/docs/a.html", "docs/a.html"), server.Url("/docs/a.html"),
        absolute("/docs/c.html", "docs/c.html"), server.Url("/docs/c.html"),
        "Saves(5) Prints(5) Hits(11) HTTP 200(81%) Errors(0)"},
       {{"img/p.gif", "/img/p.gif"},
        {"docs/d.html", "/docs/d.html"},
        {"big.html", "/big.html"},
        {"docs/a.html", "/docs/a.html"},
        {"docs/c.html", "/docs/c.html"}},
       withC},
      {"saving everything",
       {"-download", "-create", "-d", "1", "-stat"},
       {"Saving " + start + " as index.html", "Saving " + start + " as index.html",
        saving("/docs/d.html", "docs/d.html"), saving("/big.html", "big.html"),
        saving("/docs/a.html", "docs/a.html"),
        "Saves(5) Prints(0) Hits(11) HTTP 200(90%) Errors(0)"},
       {{"index.html", "/index.html"},
        {"docs/d.html", "/docs/d.html"},
        {"big.html", "/big.html"},
        {"docs/a.html", "/docs/a.html"}},
       allPages},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> tree;
    for (const auto& file : c.saved) {
      for (size_t slash = file.first.find('/'); slash != std::string::npos;
           slash = file.first.find('/', slash + 1)) {
        tree[file.first.substr(0, slash)] = "dir";
      }
      tree[file.first] = "file " + bodies.at(file.second);
    }
    std::string base;
    for (const char* jobs : {"1", "4"}) {
      SCOPED_TRACE(std::string("-j ") + jobs);
      TempDir dir("ferret-onepage");
      std::vector<std::string> argv = {FERRET_BINARY, start};
      argv.insert(argv.end(), c.args.begin(), c.args.end());
      argv.insert(argv.end(), {"-j", jobs});
      server.ClearRequests();
      ProcessResult r = RunProcess(argv, dir.Path(), 120);
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(Lines(r.out), c.out);
      if (base.empty()) base = r.out;
      EXPECT_EQ(r.out, base);
      std::vector<std::string> paths = server.RequestPaths();
      std::sort(paths.begin(), paths.end());
      EXPECT_EQ(paths, c.requested);
      // Compared whole, not printed: 1.5 MiB.
      EXPECT_TRUE(DirectoryTree(dir.Path()) == tree);
    }
  }
}

// A page held for its save that cannot be kept whole (past the memory a held
// body keeps, where no temporary file can be made: TMPDIR names no
// directory) is saved whole all the same: its save asks for it, as a save
// always did. Fetched ahead (-j 2), its recording cannot be kept whole
// either, and the crawl asks for it again, with the same output.
TEST_F(CrawlTest, AHeldPageThatCannotBeKeptWholeIsAskedForAgain) {
  const std::string big = ScannedAndSavedSite(server).at("/big.html");
  const std::string url = server.Url("/big.html");
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("-j ") + jobs);
    TempDir dir("ferret-onepage-held");
    server.ClearRequests();
    ProcessResult r = RunProcess({"/usr/bin/env", "TMPDIR=/dev/null/none", FERRET_BINARY, url, "-k",
                                  "needle", "-download", "-stat", "-j", jobs},
                                 dir.Path(), 60);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Saving " + url + " as big.html\n" +
                         "Saves(1) Prints(0) Hits(2) HTTP 200(100%) Errors(0)\n");
    EXPECT_TRUE(ReadFile(dir.Path() + "/big.html") == big);  // not printed: 1.5 MiB
    if (jobs[0] == '1') {
      EXPECT_EQ(server.RequestPaths(), (std::vector<std::string>{"/big.html", "/big.html"}));
    }
  }
}

// Saves that fail, from one request: a file that cannot be written (its
// directory is a file), a page and a file cut short, a page not found. The
// lines, counters and exit status are those of the crawl that asked twice
// (each use of an answer tells its failure where its own request did),
// nothing is saved and no temporary file is left; -j 4 gives the same.
TEST_F(CrawlTest, SavesFromOneRequestFailAsTheirOwnRequestsDid) {
  const std::string index = "needle\n<a href=\"docs/a.html\">a</a>\n<a href=\"short.html\">s</a>\n"
                            "<a href=\"short.bin\">b</a>\n<a href=\"gone.html\">g</a>\n";
  Page("/", index);
  Page("/docs/a.html", "needle in a\n");
  server.SetResponse("/short.html", HttpResponse("HTTP/1.0 200 OK",
                                                 {"Content-Type: text/html", "Content-Length: 100"},
                                                 "needle cut"));
  server.SetResponse("/short.bin",
                     HttpResponse("HTTP/1.0 200 OK",
                                  {"Content-Type: application/octet-stream", "Content-Length: 100"},
                                  "ten bytes!"));
  auto cut = [this](const std::string& path) {
    return "Transfer cut short at 10 of 100 bytes: " + U(path);
  };
  const std::string gone = "HTTP 404 at " + U("/gone.html");
  const std::string blocked = "Cannot save docs/a.html: Not a directory";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> out;
    bool startSaved;
  } cases[] = {
      {"keyword mode",
       {"-k", "needle", "-d", "1", "-download", "-create", "-stat"},
       {"Saving " + server.Url("/") + " as index.html", gone, cut("/short.html"), blocked,
        "Saves(1) Prints(0) Hits(7) HTTP 200(85%) Errors(3)"},
       true},
      // Each failure is told for the save, and again for the scan of a page.
      {"file mode",
       {"-f", ".", "-d", "1", "-download", "-create", "-print", "-stat"},
       {gone, U("/gone.html"), gone, cut("/short.bin"), U("/short.bin"), cut("/short.html"),
        U("/short.html"), cut("/short.html"), blocked, U("/docs/a.html"),
        "Saves(0) Prints(4) Hits(9) HTTP 200(77%) Errors(6)"},
       false},
  };
  for (const auto& c : cases) {
    for (const char* jobs : {"1", "4"}) {
      SCOPED_TRACE(std::string(c.name) + " -j " + jobs);
      TempDir dir("ferret-onepage-failed");
      ASSERT_TRUE(std::ofstream(dir.Path() + "/docs").good());
      std::map<std::string, std::string> tree = {{"docs", "file "}};
      if (c.startSaved) tree["index.html"] = "file " + index;
      std::vector<std::string> argv = {FERRET_BINARY, server.Url("/")};
      argv.insert(argv.end(), c.args.begin(), c.args.end());
      argv.insert(argv.end(), {"-j", jobs});
      server.ClearRequests();
      ProcessResult r = RunProcess(argv, dir.Path(), 60);
      EXPECT_EQ(r.exitCode, 1) << r.err;
      EXPECT_EQ(Lines(r.out), c.out);
      std::vector<std::string> paths = server.RequestPaths();
      std::sort(paths.begin(), paths.end());
      EXPECT_EQ(paths, (std::vector<std::string>{"/", "/docs/a.html", "/gone.html", "/short.bin",
                                                 "/short.html"}));
      EXPECT_EQ(DirectoryTree(dir.Path()), tree);
    }
  }
}

TEST_F(CrawlTest, FileModePrintsSavesAndFollowsLinks) {
  SmallSite(this, server);
  ProcessResult r = Crawl({server.Url("/index.html"), "-f", "\\.(gif|html)", "-print", "-download",
                           "-d", "1", "-stat"});
  // The mail links do not match the pattern, so they are not collected.
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{
                "Saving " + U("/pic.gif") + " as pic.gif", U("/pic.gif"),
                "Saving " + U("/b.html") + " as b.html", U("/b.html"),
                "Saving " + U("/a.html") + " as a.html", U("/a.html"),
                // Links of a page at depth 0 are still printed and saved, not scanned.
                "Saving " + U("/c.html") + " as c.html", U("/c.html"),
                "Saves(4) Prints(4) Hits(8) HTTP 200(100%) Errors(0)"}));
  // A link saved and scanned is asked for once; each of its answer's uses
  // counts it, as when each asked for itself.
  EXPECT_EQ(server.RequestPaths(),
            (std::vector<std::string>{"/index.html", "/pic.gif", "/b.html", "/a.html", "/c.html"}));
  EXPECT_EQ(ReadFile(workDir + "/pic.gif"), "GIF89a");
}

TEST_F(CrawlTest, DepthZeroStillHandlesTheStartPagesLinks) {
  SmallSite(this, server);
  ProcessResult r = Crawl({server.Url("/index.html"), "-f", "html", "-print"});
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{U("/b.html"), U("/a.html")}));
  EXPECT_EQ(server.RequestPaths(), (std::vector<std::string>{"/index.html"}));
}

TEST_F(CrawlTest, WhichLinksAreRecognised) {
  Page("/", std::string("<A HREF=upper.html>caps, unquoted</A>\n"
                        "<a class=\"x\" href=\"skipped.html\">class first</a>\n"
                        "<a href=y title=z>unquoted runs on</a>\n"
                        "<a href=\"\">empty</a> <a href=\"lost.html\">after the empty one</a> <img "
                        "src=\"kept.png\">\n"
                        "<a href=\"split.html\"\n>closed on the next line</a>\n"
                        "<IMG\tSRC = 'single.png'>\n") +
                std::string(1010, ' ') + "<a href=\"cut.html\">x</a>\n");
  ProcessResult r = Crawl({server.Url("/"), "-f", ".", "-print"});
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{U("/'single.png'"), U("/kept.png"),
                                                    U("/y%20title=z"), U("/upper.html")}));
}

TEST_F(CrawlTest, NonHtmlAndRedirectedPages) {
  server.SetResponse("/start", RedirectResponse("/docs/real.html"));
  Page("/docs/real.html", "ferret\n<a href=\"next.txt\">n</a>\n");
  server.SetResponse("/docs/next.txt",
                     FileResponse("ferret <a href=\"never.html\">x</a>\n", "text/plain"));
  ProcessResult r = Crawl({server.Url("/start"), "-k", "ferret", "-d", "3"});
  // Printed under the redirect target; the text page is neither tested nor
  // followed.
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{U("/docs/real.html")}));
  EXPECT_EQ(server.RequestPaths(),
            (std::vector<std::string>{"/start", "/docs/real.html", "/docs/next.txt"}));
}

TEST_F(CrawlTest, ConfineToTheStartDomain) {
  ScriptedServer other("127.0.0.2");
  other.SetDefaultResponse(HtmlResponse("ferret\n"));
  Page("/", "ferret\n<a href=\"http://127.0.0.2:" + std::to_string(other.Port()) +
                "/x.html\">other</a>\n<a href=\"local.html\">here</a>\n");
  Page("/local.html", "ferret\n");
  ProcessResult r =
      Crawl({server.Url("/"), "-k", "ferret", "-d", "1", "-confine", "-print", "-stat"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{server.Url("/"), U("/local.html"),
                                      "Saves(0) Prints(2) Hits(2) HTTP 200(100%) Errors(0)"}));
  EXPECT_EQ(other.Accepted(), 0u);

  // A host with no registrable domain is a domain of its own.
  std::string local = "http://localhost:" + std::to_string(server.Port()) + "/";
  ProcessResult alone = Crawl({local, "-k", "ferret", "-confine", "-stat"});
  EXPECT_EQ(Lines(alone.out),
            (std::vector<std::string>{"Saves(0) Prints(0) Hits(1) HTTP 200(100%) Errors(0)"}));
  EXPECT_EQ(server.RequestPaths().size(), 3u);
}

// The scope options, judged on the absolute normalised URL: nothing outside
// is requested, printed or saved, redirects included; the start URL always
// is. -maxpages stops the scans after N page requests, says so once on
// standard error, and the run ends well. Fetched ahead or not alike.
TEST_F(CrawlTest, ScopeKeepsTheCrawlWhereItWasAsked) {
  Page("/", "<a href=\"a/1.html\">1</a> <a href=\"b/3.html\">3</a> <a href=\"a/sub/4.html\">4</a>\n"
            "<a href=\"a/r.html\">r</a> <a href=\"x.gif\">x</a>\n");
  Page("/a/1.html", "<a href=\"2.html\">2</a> <a href=\"../b/5.html\">5</a> <a href=\"/A/6.html\">6</a>\n");
  Page("/a/2.html", "<a href=\"./sub/../7.html\">7</a>\n");
  for (const char* page : {"/b/3.html", "/a/sub/4.html", "/b/5.html", "/a/7.html", "/b/8.html"}) {
    Page(page, "end\n");
  }
  server.SetResponse("/a/r.html", RedirectResponse("/b/8.html"));
  server.SetResponse("/x.gif", FileResponse("GIF89a", "image/gif"));
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> requested;  // in order
    std::set<std::string> printed;
    std::string err;
  } runs[] = {
      // "/A/6.html" is not below "/a/": paths keep their letter case.
      {{server.Url("/a/1.html"), "-f", ".", "-d", "2", "-print", "-noparent", "-html"},
       {"/a/1.html", "/a/2.html", "/a/7.html"},
       {"/a/2.html", "/a/7.html"},
       ""},
      // Patterns take letters in either case; the redirect out is refused.
      {{server.Url("/"), "-f", ".", "-d", "1", "-print", "-html", "-accept", "/a/", "-reject",
        "SUB", "-reject", "/7\\.html$"},
       {"/", "/a/r.html", "/a/1.html"},
       {"/a/r.html", "/a/1.html", "/a/2.html", "/A/6.html"},
       ""},
      // A redirect hop is no page of its own.
      {{server.Url("/"), "-k", ".", "-d", "2", "-once", "-print", "-maxpages", "3"},
       {"/", "/x.gif", "/a/r.html", "/b/8.html"},
       {"/", "/b/8.html"},
       "ferret: page limit reached: 3 pages requested, no more links followed\n"},
      // A page robots.txt refuses is no request, and takes nothing of the limit.
      {{server.Url("/"), "-k", ".", "-d", "1", "-print", "-robots", "-maxpages", "3"},
       {"/robots.txt", "/", "/x.gif", "/a/sub/4.html"},
       {"/", "/a/sub/4.html"},
       "ferret: page limit reached: 3 pages requested, no more links followed\n"},
  };
  server.SetResponse("/robots.txt", FileResponse("User-agent: *\nDisallow: /a/r\n", "text/plain"));
  for (const auto& run : runs) {
    for (const char* jobs : {"1", "4"}) {
      SCOPED_TRACE(run.args[0] + " " + run.args.back() + " -j " + jobs);
      server.ClearRequests();
      std::vector<std::string> args = run.args;
      args.insert(args.end(), {"-stat", "-j", jobs});
      ProcessResult r = Crawl(args);
      // Workers fetching ahead reach the server in any order.
      std::vector<std::string> requested = server.RequestPaths(), expected = run.requested;
      if (jobs != std::string("1")) {
        std::sort(requested.begin(), requested.end());
        std::sort(expected.begin(), expected.end());
      }
      EXPECT_EQ(requested, expected);
      EXPECT_EQ(r.err, run.err);
      std::set<std::string> printed;
      for (const std::string& line : Lines(r.out)) {
        size_t at = line.find(server.HostPort());  // printed with or without "http://"
        if (at != std::string::npos) printed.insert(line.substr(at + server.HostPort().size()));
      }
      EXPECT_EQ(printed, run.printed);
    }
  }
}

// -tries: a passing failure (an error status that says so, a reset) is
// tried again, as Retry-After says or after a backoff; a success after it is
// a success, and only the last failure of a URL that never succeeds is
// reported and counted. A final failure (404) is not tried again.
TEST_F(CrawlTest, PassingFailuresAreTriedAgain) {
  const std::string ok = HtmlResponse("fine\n");
  auto status = [](const char* line, const char* after) {
    return HttpResponse(line, {std::string("Retry-After: ") + after, "Content-Length: 0"}, "");
  };
  const struct {
    const char* name;
    std::vector<std::string> answers;  // one connection each; "" resets it
    const char* tries;
    std::vector<std::string> out;  // before the URL, then the counters
    int exitCode;
    double atLeastSeconds;
  } cases[] = {
      {"503 twice, then 200", {status("HTTP/1.1 503 Busy", "0"), status("HTTP/1.1 503 Busy", "0"), ok},
       "3", {"", "Saves(0) Prints(1) Hits(1) HTTP 200(100%) Errors(0)"}, 0, 0},
      {"too few tries", {status("HTTP/1.1 503 Busy", "0"), status("HTTP/1.1 429 Slow down", "0"), ok},
       "2", {"HTTP 429 at ", "Saves(0) Prints(0) Hits(1) HTTP 200(0%) Errors(1)"}, 2, 0},
      {"Retry-After is waited for", {status("HTTP/1.1 503 Busy", "2"), ok},
       "2", {"", "Saves(0) Prints(1) Hits(1) HTTP 200(100%) Errors(0)"}, 0, 2.0},
      {"a reset, then 200", {"", ok}, "2",
       {"", "Saves(0) Prints(1) Hits(1) HTTP 200(100%) Errors(0)"}, 0, 0.5},
      {"404 is final", {HttpResponse("HTTP/1.1 404 Gone", {"Content-Length: 0"}, ""), ok}, "3",
       {"HTTP 404 at ", "Saves(0) Prints(0) Hits(1) HTTP 200(0%) Errors(1)"}, 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer site;
    for (const std::string& answer : c.answers) {
      ConnectionScript script;
      script.ReceiveOnce();
      if (answer.empty()) {
        script.Abort();
      } else {
        script.Send(answer).Close();
      }
      site.AddScript(script);
    }
    const size_t expectedTries = c.exitCode == 0 ? c.answers.size()
                                 : c.name == std::string("404 is final") ? 1
                                                                          : std::stoul(c.tries);
    expectedExit = c.exitCode;
    auto began = std::chrono::steady_clock::now();
    ProcessResult r =
        Crawl({site.Url("/p.html"), "-k", "fine", "-print", "-tries", c.tries, "-stat"});
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{c.out[0] + site.Url("/p.html"), c.out[1]}));
    EXPECT_EQ(site.Accepted(), expectedTries);
    EXPECT_GE(seconds, c.atLeastSeconds);
  }
  // A body cut short (the server closes before its length) is a passing
  // failure too, whether the crawl or a worker fetching ahead asked, for a
  // page or a save: nothing of the try that failed is printed or saved, and
  // the last try, when none stands, reads as it would have without -tries.
  auto cutShort = [](const char* type) {
    return std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + type +
           "\r\nContent-Length: 400\r\n\r\nfine, but";
  };
  // A big file that is no page, scanned but not read, is asked for once.
  Page("/", "<a href=\"big.bin\">b</a> <a href=\"c.html\">c</a> fine\n");
  server.SetResponse("/big.bin",
                     FileResponse(std::string(300000, 'b'), "application/octet-stream"));
  Page("/s.html", "<img src=\"g.gif\">\n");
  const std::string gif(300, 'G');
  server.SetResponses("/g.gif", {cutShort("image/gif"), FileResponse(gif, "image/gif")});
  const std::vector<std::string> scan = {"-k", "fine", "-d", "1", "-print"};
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> answers;  // for /c.html, in turn
    std::vector<std::string> out;
    int exitCode;
  } bodies[] = {
      {"cut, then whole",
       scan,
       {cutShort("text/html"), ok},
       {server.Url("/"), U("/c.html"), "Saves(0) Prints(2) Hits(3) HTTP 200(100%) Errors(0)"},
       0},
      {"cut every time",
       scan,
       {cutShort("text/html"), cutShort("text/html")},
       {server.Url("/"), "Transfer cut short at 9 of 400 bytes: " + U("/c.html"),
        "Saves(0) Prints(1) Hits(3) HTTP 200(100%) Errors(1)"},
       1},
      {"a save cut, then whole",
       {"-f", "\\.gif$", "-download"},
       {ok},
       {"Saving " + U("/g.gif") + " as g.gif",
        "Saves(1) Prints(0) Hits(2) HTTP 200(100%) Errors(0)"},
       0},
  };
  for (const auto& c : bodies) {
    for (const char* jobs : {"1", "2"}) {
      SCOPED_TRACE(std::string(c.name) + " -j " + jobs);
      if (!c.answers.empty()) server.SetResponses("/c.html", c.answers);
      server.ClearRequests();
      std::remove((workDir + "/g.gif").c_str());
      expectedExit = c.exitCode;
      const bool saves = c.args[0] == "-f";
      std::vector<std::string> args = c.args;
      args.insert(args.begin(), server.Url(saves ? "/s.html" : "/"));
      args.insert(args.end(), {"-tries", "2", "-stat", "-j", jobs});
      ProcessResult r = Crawl(args);
      EXPECT_EQ(Lines(r.out), c.out);
      std::vector<std::string> paths = server.RequestPaths();
      EXPECT_EQ(std::count(paths.begin(), paths.end(), saves ? "/g.gif" : "/c.html"), 2);
      EXPECT_EQ(std::count(paths.begin(), paths.end(), "/big.bin"), saves ? 0 : 1);
      if (saves) {
        EXPECT_EQ(ReadFile(workDir + "/g.gif"), gif);
        server.SetResponses("/g.gif", {cutShort("image/gif"), FileResponse(gif, "image/gif")});
      }
    }
  }
  expectedExit = 0;
}

// -robots: robots.txt is asked for once, before anything else on the
// server; ferret's group, else *'s, decides, the longest rule winning; a 4xx
// allows everything, a 5xx nothing (said once on standard error); refused
// URLs are passed over silently. Fetched ahead or not alike.
TEST_F(CrawlTest, RobotsTxtDecidesWhatIsAskedFor) {
  Page("/", "<a href=\"private/a.html\">a</a> <a href=\"public/b.html\">b</a>\n"
            "<a href=\"private.html\">p</a> <a href=\"private/ok.html\">ok</a>\n");
  for (const char* page : {"/private/a.html", "/public/b.html", "/private.html", "/private/ok.html"}) {
    Page(page, "end\n");
  }
  auto text = [](const std::string& body) { return FileResponse(body, "text/plain"); };
  const struct {
    const char* name;
    std::string robots;  // the answer for /robots.txt
    std::vector<std::string> requested;
    std::string err;
    int exitCode;
  } cases[] = {
      {"* disallows a prefix", text("User-agent: *\nDisallow: /private\n"),
       {"/robots.txt", "/", "/public/b.html"}, "", 0},
      {"ferret's own group", text("User-agent: *\nDisallow: /\n\nUser-agent: Ferret\n"
                                  "Allow: /private/ok\nDisallow: /private\n"),
       {"/robots.txt", "/", "/private/ok.html", "/public/b.html"}, "", 0},
      {"redirected", RedirectResponse("/robots-real.txt"),
       {"/robots.txt", "/robots-real.txt", "/", "/public/b.html"}, "", 0},
      {"404 allows all", HttpResponse("HTTP/1.1 404 Not Found", {"Content-Length: 0"}, ""),
       {"/robots.txt", "/", "/private/ok.html", "/private.html", "/public/b.html",
        "/private/a.html"},
       "", 0},
      {"503 refuses all", HttpResponse("HTTP/1.1 503 Busy", {"Content-Length: 0"}, ""),
       {"/robots.txt"}, "ferret: robots.txt at " + server.Url("") + " gave HTTP 503: nothing there is requested\n", 2},
  };
  server.SetResponse("/robots-real.txt", text("User-agent: *\nDisallow: /private\n"));
  for (const auto& c : cases) {
    for (const char* jobs : {"1", "2"}) {
      SCOPED_TRACE(std::string(c.name) + " -j " + jobs);
      server.SetResponse("/robots.txt", c.robots);
      server.ClearRequests();
      expectedExit = c.exitCode;
      ProcessResult r = Crawl({server.Url("/"), "-k", ".", "-d", "1", "-robots", "-j", jobs});
      std::vector<std::string> requested = server.RequestPaths(), expected = c.requested;
      // robots.txt (and its redirect) comes first; workers reach the server
      // in any order after it.
      size_t first = c.name == std::string("redirected") ? 2 : 1;
      if (requested.size() >= first) std::sort(requested.begin() + first, requested.end());
      std::sort(expected.begin() + first, expected.end());
      EXPECT_EQ(requested, expected);
      EXPECT_EQ(r.err, c.err);
    }
  }
  expectedExit = 0;
}

// The shortest time between a request's coming and the latest answer the
// server had finished before it, over every request that had one.
double ShortestPause(const std::vector<ScriptedServer::Timing>& times) {
  double shortest = 1e9;
  for (const ScriptedServer::Timing& t : times) {
    std::chrono::steady_clock::time_point latestEnd{};
    for (const ScriptedServer::Timing& q : times) {
      if (q.answered <= t.came && q.answered > latestEnd) latestEnd = q.answered;
    }
    if (latestEnd == std::chrono::steady_clock::time_point{}) continue;
    shortest = std::min(shortest, std::chrono::duration<double>(t.came - latestEnd).count());
  }
  return shortest;
}

// -perhost and -wait, measured at the servers: never more than -perhost
// connections open to one host; with -wait (or a robots.txt Crawl-delay),
// never less than the pause, less a little for the clocks, between an
// answer's end and the next request to that host. The output is -j 1's.
TEST_F(CrawlTest, EachHostIsAskedPolitely) {
  ScriptedServer other("127.0.0.2");
  std::string links;
  for (int i = 0; i < 6; ++i) {
    std::string name = "/p" + std::to_string(i) + ".html";
    links += "<a href=\"" + server.Url(name) + "\">a</a> <a href=\"" + other.Url(name) + "\">b</a>\n";
    Page(name, "page\n");
    other.SetResponse(name, HtmlResponse("page\n"));
  }
  Page("/", links);
  other.SetResponse("/robots.txt", FileResponse("User-agent: *\nCrawl-delay: 0.2\n", "text/plain"));
  for (ScriptedServer* s : {&server, &other}) s->SetResponseDelay(20, 7);
  const std::vector<std::string> args = {server.Url("/"), "-k", ".", "-d", "1", "-print", "-stat",
                                         "-j", "8"};
  const ProcessResult alone = Crawl({server.Url("/"), "-k", ".", "-d", "1", "-print", "-stat"});
  const struct {
    std::vector<std::string> options;
    size_t mostOpen;         // at each server
    double pause, otherPause;  // the least pause at server and at other
  } runs[] = {
      {{"-perhost", "2"}, 2, 0, 0},
      {{"-wait", "0.05"}, 1, 0.045, 0.045},
      {{"-wait", "0.05", "-robots"}, 1, 0.045, 0.195},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.options.back());
    ScriptedServer* both[] = {&server, &other};
    for (ScriptedServer* s : both) s->ClearRequests();
    std::vector<std::string> polite = args;
    polite.insert(polite.end(), run.options.begin(), run.options.end());
    EXPECT_EQ(Crawl(polite).out, alone.out);
    for (ScriptedServer* s : both) {
      ASSERT_GE(s->RequestTimings().size(), 6u) << s->HostPort();
      EXPECT_LE(s->MostOpenAtOnce(), run.mostOpen + 1) << s->HostPort();
    }
    EXPECT_GE(ShortestPause(server.RequestTimings()), run.pause);
    EXPECT_GE(ShortestPause(other.RequestTimings()), run.otherPause);
  }
}

// A failed connection names host, port and URL with its reason, on one line
// of standard output, for an IPv6 literal as for any host.
TEST_F(CrawlTest, RefusedConnectionIsReportedAndTheRunGoesOn) {
  RefusedPort refused;
  expectedExit = 1;
  std::string port = std::to_string(refused.Port());
  std::string gone = "http://127.0.0.1:" + port + "/gone.html";
  Page("/", "<a href=\"" + gone + "\">gone</a>\n<a href=\"http://[::1]:" + port +
                "/six.html\">six</a>\n<a href=\"ok.html\">ok</a>\n");
  Page("/ok.html", "fine\n");
  ProcessResult r = Crawl({server.Url("/"), "-d", "1", "-stat"});
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  // Without an IPv6 loopback the reason is the system's for that.
  const std::string six = "Cannot connect to ::1 port " + port + " for http://[::1]:" + port +
                          "/six.html: ";
  EXPECT_EQ(lines[0].substr(0, six.size()), six);
  if (HasIpv6Loopback()) {
    EXPECT_EQ(lines[0], six + "Connection refused");
  }
  EXPECT_EQ(lines[1], "Cannot connect to 127.0.0.1 port " + port + " for " + gone +
                          ": Connection refused");
  EXPECT_EQ(lines[2], "Saves(0) Prints(0) Hits(2) HTTP 200(100%) Errors(2)");
  EXPECT_EQ(r.err, "");
}

// C1 controls in a link (raw, or in UTF-8) are escaped where the URL is
// printed, and only there: the request carries the link's bytes as found.
TEST_F(CrawlTest, ControlBytesAreEscapedInPrintedUrlsOnly) {
  Page("/",
       "<a href=\"raw\x9B[2J.html\">a</a> <a href=\"utf8\xC2\x9B[2J.html\">b</a>\n"
       "<a href=\"caf\xC3\xA9.html\">c</a>\n");
  server.SetDefaultResponse(HtmlResponse("leaf\n"));
  ProcessResult r = Crawl({server.Url("/"), "-f", "html", "-print", "-d", "1"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{U("/caf\xC3\xA9.html"), U("/utf8%C2%9B[2J.html"),
                                      U("/raw%9B[2J.html")}));
  EXPECT_EQ(server.RequestPaths(),
            (std::vector<std::string>{"/", "/caf\xC3\xA9.html", "/utf8\xC2\x9B[2J.html",
                                      "/raw\x9B[2J.html"}));
}

TEST_F(CrawlTest, StartUrlSavedFirstWhenBothPatternsAreDots) {
  server.SetResponse("/file.zip", FileResponse(std::string("PK\3\4\0\0", 6), "application/zip"));
  ProcessResult r = Crawl({server.Url("/file.zip"), "-download", "-stat"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Saving " + server.Url("/file.zip") + " as file.zip",
                                      "Saves(1) Prints(0) Hits(2) HTTP 200(100%) Errors(0)"}));
  EXPECT_EQ(ReadFile(workDir + "/file.zip"), std::string("PK\3\4\0\0", 6));
}

TEST_F(CrawlTest, LinksKeptFromOnePageAreBounded) {
  expectedExit = 1;
  std::string html;
  for (int i = 0; i < 10005; ++i) html += "<a href=\"l" + std::to_string(i) + "\">x</a>\n";
  Page("/", html);
  ProcessResult r = Crawl({server.Url("/"), "-f", ".", "-print", "-stat"});
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 10002u);
  EXPECT_EQ(lines[0], "Too many links on " + server.Url("/") + ": only the first 10000 are kept");
  EXPECT_EQ(lines[1], U("/l9999"));
  EXPECT_EQ(lines[10000], U("/l0"));
  EXPECT_EQ(lines[10001], "Saves(0) Prints(10000) Hits(1) HTTP 200(100%) Errors(1)");
}

TEST_F(CrawlTest, DeepChainNeedsNoDeepStack) {
  const int depth = 5000;
  for (int i = 0; i <= depth + 1; ++i) {
    Page("/p" + std::to_string(i) + ".html",
         "<a href=\"p" + std::to_string(i + 1) + ".html\">next</a>\n");
  }
  ProcessResult r = Crawl({server.Url("/p0.html"), "-d", std::to_string(depth), "-stat"}, 600);
  EXPECT_EQ(r.out, "Saves(0) Prints(0) Hits(5001) HTTP 200(100%) Errors(0)\n");
  std::vector<std::string> paths = server.RequestPaths();
  ASSERT_EQ(paths.size(), size_t(depth + 1));
  EXPECT_EQ(paths.back(), "/p5000.html");
}

// Ctrl-C or SIGTERM during a save: the run ends at once with 128 + the
// signal, the counters line is still printed, the save is not announced, and
// no partial file is left under the final name or as a temporary.
TEST_F(CrawlTest, InterruptedSaveLeavesNothingPartial) {
  const struct {
    const char* name;
    int status;
  } signals[] = {{"INT", 130}, {"TERM", 143}};
  std::string head =
      "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
      "Content-Length: 1000000\r\n\r\n";
  for (const auto& sig : signals) {
    // The body stops at 4096 bytes and the server holds the connection.
    int id = server.AddScript(
        ConnectionScript().ReceiveOnce().Send(head + std::string(4096, 'b')).WaitForGo());
    // The signal is sent once the save's temporary file exists.
    std::string script = "'" + std::string(FERRET_BINARY) + "' '" + server.Url("/big.bin") +
                         "' -download -stat & pid=$!; "
                         "for i in $(seq 1000); do ls -a | grep -q ferret- && break; sleep 0.01; "
                         "done; kill -" +
                         sig.name + " $pid; wait $pid";
    ProcessResult r = RunProcess({"/bin/sh", "-c", script}, workDir, 60);
    server.Go(id);
    EXPECT_EQ(r.exitCode, sig.status) << sig.name << r.err;
    EXPECT_EQ(r.out, "Saves(0) Prints(0) Hits(1) HTTP 200(100%) Errors(0)\n") << sig.name;
    ProcessResult listing = RunProcess({"/bin/ls", "-a", workDir});
    EXPECT_EQ(listing.out, ".\n..\n") << sig.name;
  }
}

// A stop while a link's redirect target is being asked for: the redirect's
// head was read, so it is a hit, though no answer followed. The run ends
// with 128 + the signal, or with 3 when standard output failed too (the
// counters line could not be written): a failed output says more than the
// signal. No line comes before the counters, so that the output fails only
// at the end.
TEST_F(CrawlTest, StopDuringARedirectCountsItsHitAndAFailedOutputDecidesTheStatus) {
  const struct {
    const char* name;
    int signal;
    bool fullDisk;  // standard output is /dev/full
    int status;
    const char* out;
  } cases[] = {
      {"SIGINT", SIGINT, false, 130, "Saves(0) Prints(0) Hits(2) HTTP 200(50%) Errors(0)\n"},
      {"SIGTERM", SIGTERM, false, 143, "Saves(0) Prints(0) Hits(2) HTTP 200(50%) Errors(0)\n"},
      {"SIGINT, output failed", SIGINT, true, 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.AddScript(ConnectionScript().ReceiveOnce().Send(
        HtmlResponse("no keyword\n<a href=\"/moved.html\">m</a>\n")));
    server.AddScript(ConnectionScript().ReceiveOnce().Send(RedirectResponse("/held.html")));
    int held = server.AddScript(ConnectionScript().ReceiveOnce().WaitForGo());
    std::string command = "exec '" + std::string(FERRET_BINARY) + "' '" +
                          server.Url("/index.html") + "' -k needle -d 1 -stat";
    if (c.fullDisk) command += " >/dev/full";
    ProcessResult r = RunProcess({"/bin/sh", "-c", command}, workDir, 120, [&](int pid) {
      // Once the request for the target is in, ferret waits for its answer.
      if (server.WaitForSteps(held, 1)) kill(pid, c.signal);
      server.Go(held);
    });
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err,
              c.fullDisk ? "ferret: cannot write standard output: No space left on device\n" : "");
    EXPECT_TRUE(server.WaitUntilDone(held));
  }
}

// -once: on a site whose pages all link to each other, every page is
// requested once and printed once, whatever spelling a link uses, and a
// redirect to a page met before ends there.
TEST_F(CrawlTest, OnceRequestsEachPageOnce) {
  const int pages = 5;
  std::string nav;
  for (int i = 0; i < pages; ++i) nav += "<a href=\"p" + std::to_string(i) + ".html\">" + "</a>\n";
  // Other spellings of p0: another letter case of the host, dot segments, a
  // fragment; and a redirect to it.
  std::string host = server.HostPort();
  nav += "<a href=\"/x/../p0.html#top\">up</a>\n<a href=\"./p0.html\">here</a>\n";
  nav += "<a href=\"/moved.html\">moved</a>\n";
  for (int i = 0; i < pages; ++i) Page("/p" + std::to_string(i) + ".html", "needle\n" + nav);
  server.SetResponse("/moved.html", RedirectResponse("/p0.html"));
  ProcessResult r = Crawl({server.Url("/p0.html"), "-k", "needle", "-d", "3", "-once", "-stat"});
  std::vector<std::string> paths = server.RequestPaths();
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"/moved.html", "/p0.html", "/p1.html", "/p2.html",
                                             "/p3.html", "/p4.html"}));
  EXPECT_EQ(r.out, "Saves(0) Prints(0) Hits(6) HTTP 200(83%) Errors(0)\n");  // 1 redirect
  // Without -once the same crawl asks again and again (and this server does
  // not resolve the dot segments: 404s, so errors).
  expectedExit = 1;
  Crawl({server.Url("/p0.html"), "-k", "needle", "-d", "3", "-stat"});
  EXPECT_GT(server.RequestPaths().size(), 100u);
}

}  // namespace
