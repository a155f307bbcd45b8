// Parallel fetching (-j N) and single visits (-once), end to end: the built
// ferret binary against scripted loopback sites.
//
// Parallelism must not be observable: for every site and option set, runs
// with -j 1, -j 8 and -j 64 print the same bytes on both streams, exit with
// the same status, save the same tree and make the same requests as the run
// without -j (with -maxpages, none past the limit), also when the server answers after random
// delays so that pages fetched ahead arrive out of order. -once is checked by what the server is
// asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScriptedServer.h"

namespace {

using Args = std::vector<std::string>;

// Everything a run leaves behind that a user can see, plus what the server
// was asked for (sorted: only the order of requests may change with -j).
struct Outcome {
  int exitCode = -1;
  bool timedOut = false;
  std::string out;
  std::string err;
  std::map<std::string, std::string> saved;
  std::vector<std::string> requests;
};

Outcome Crawl(ScriptedServer& server, const std::string& start, const Args& options) {
  TempDir dir("ferret-parallel");
  Args argv{FERRET_BINARY, server.Url(start)};
  argv.insert(argv.end(), options.begin(), options.end());
  server.ClearRequests();
  ProcessResult r = RunProcess(argv, dir.Path(), 60);
  Outcome o;
  o.exitCode = r.exitCode;
  o.timedOut = r.timedOut;
  o.out = r.out;
  o.err = r.err;
  o.saved = DirectoryTree(dir.Path());
  o.requests = server.RequestPaths();
  std::sort(o.requests.begin(), o.requests.end());
  return o;
}

// JSON output with the values of its timings made 0.
std::string Untimed(std::string json) {
  for (const char* member : {"\"elapsed_ms\":", "\"wall_ms\":"}) {
    for (size_t at = json.find(member); at != std::string::npos; at = json.find(member, at)) {
      at += std::strlen(member);
      size_t digits = json.find_first_not_of("0123456789", at);
      json.replace(at, digits - at, "0");
    }
  }
  return json;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Join(const Args& args) {
  std::string text;
  for (const std::string& a : args) text += (text.empty() ? "" : " ") + a;
  return text;
}

std::string Page(int n) { return "/n" + std::to_string(n) + ".html"; }

// path with "." and ".." segments resolved, as the server's resource.
std::string Canonical(const std::string& path) {
  std::vector<std::string> kept;
  size_t start = 1;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string segment = path.substr(start, slash - start);
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
    } else if (segment != ".") {
      kept.push_back(segment);
    }
    start = slash + 1;
  }
  std::string canonical;
  for (const std::string& segment : kept) canonical += "/" + segment;
  return canonical.empty() ? "/" : canonical;
}

std::map<std::string, int> CanonicalCounts(const std::vector<std::string>& paths) {
  std::map<std::string, int> counts;
  for (const std::string& path : paths) ++counts[Canonical(path)];
  return counts;
}

std::string Link(const std::string& href) { return "<a href=\"" + href + "\">x</a>\n"; }

// --------------------------------------------------------------- the sites

// index.html, then directories d0..d3 three levels down, each level linking
// its four children relatively and an image; pages with an even digit sum
// mention the keyword.
void TreeSite(ScriptedServer& server, RefusedPort&) {
  std::function<void(const std::string&, int, int)> add = [&](const std::string& dir, int level,
                                                              int sum) {
    std::string html = sum % 2 == 0 ? "<p>a needle here</p>\n" : "<p>hay</p>\n";
    html += "<img src=\"pic.gif\">\n";
    for (int i = 0; i < 4 && level < 3; ++i) {
      html += Link("d" + std::to_string(i) + "/index.html");
      add(dir + "d" + std::to_string(i) + "/", level + 1, sum + i);
    }
    server.SetResponse(dir + "index.html", HtmlResponse(html));
    server.SetResponse(dir + "pic.gif", FileResponse("GIF89a" + dir, "image/gif"));
  };
  add("/", 0, 0);
}

// Twenty pages n0..n19, each with a navigation bar linking all twenty;
// even pages mention the keyword.
void NavigationSite(ScriptedServer& server, RefusedPort&) {
  std::string bar;
  for (int i = 0; i < 20; ++i) bar += Link("n" + std::to_string(i) + ".html");
  for (int i = 0; i < 20; ++i) {
    server.SetResponse(Page(i),
                       HtmlResponse("<nav>\n" + bar + "</nav>\n<p>page " + std::to_string(i) +
                                    (i % 2 == 0 ? " has the needle" : "") + "</p>\n"));
  }
}

// c0 -> c1 -> ... -> c300 -> c301 (missing); every seventh mentions the
// keyword.
void ChainSite(ScriptedServer& server, RefusedPort&) {
  for (int i = 0; i <= 300; ++i) {
    server.SetResponse("/c" + std::to_string(i) + ".html",
                       HtmlResponse((i % 7 == 0 ? "needle\n" : "straw\n") +
                                    Link("c" + std::to_string(i + 1) + ".html")));
  }
}

// Relative, absolute and chained redirects, a loop and one to a missing page.
void RedirectSite(ScriptedServer& server, RefusedPort&) {
  server.SetResponse("/",
                     HtmlResponse("needle at home\n" + Link("rel") + Link("abs") + Link("loop1") +
                                  Link("to404") + Link("twice") + Link("docs/")));
  server.SetResponse("/rel", RedirectResponse("rel-target.html"));
  server.SetResponse("/abs", RedirectResponse(server.Url("/abs-target.html")));
  server.SetResponse("/loop1", RedirectResponse("/loop2"));
  server.SetResponse("/loop2", RedirectResponse("loop1"));
  server.SetResponse("/to404", RedirectResponse("/missing.html"));
  server.SetResponse("/twice", RedirectResponse("/rel"));
  server.SetResponse("/docs/", RedirectResponse("/docs/index.html"));
  server.SetResponse("/rel-target.html", HtmlResponse("needle\n" + Link("abs") + Link("/")));
  server.SetResponse("/abs-target.html", HtmlResponse("plain\n" + Link("rel-target.html")));
  server.SetResponse("/docs/index.html", HtmlResponse("needle\n" + Link("../rel")));
}

// Error statuses, an empty reply, a short body, a refused port, and good
// pages between them.
void ErrorSite(ScriptedServer& server, RefusedPort& refused) {
  server.SetResponse(
      "/", HtmlResponse("needle\n" + Link("missing.html") + Link("boom.html") + Link("ok.html") +
                        Link("empty.html") +
                        Link("http://127.0.0.1:" + std::to_string(refused.Port()) + "/gone.html") +
                        Link("short.bin") + Link("ok2.html")));
  server.SetResponse("/boom.html",
                     HttpResponse("HTTP/1.0 500 Internal Server Error", {}, "oops\n"));
  server.SetResponse("/empty.html", "");
  server.SetResponse("/short.bin",
                     HttpResponse("HTTP/1.0 200 OK",
                                  {"Content-Type: application/octet-stream", "Content-Length: 100"},
                                  "ten bytes!"));
  server.SetResponse("/ok.html", HtmlResponse("needle\n" + Link("missing.html") + Link("/")));
  server.SetResponse("/ok2.html", HtmlResponse("hay\n" + Link("boom.html")));
}

// The start page itself fails.
void FailedStartSite(ScriptedServer& server, RefusedPort&) {
  server.SetResponse("/", HttpResponse("HTTP/1.0 500 Internal Server Error", {}, "oops\n"));
}

// HTML pages with images, archives and a large binary file in directories.
void MixedSite(ScriptedServer& server, RefusedPort&) {
  server.SetResponse("/", HtmlResponse("needle\n" + Link("docs/a.html") + Link("docs/b.html") +
                                       "<img src=\"img/logo.png\">\n" + Link("notes.txt")));
  server.SetResponse("/docs/a.html", HtmlResponse("needle\n<img src=\"../img/x.gif\">\n" +
                                                  Link("../files/data.bin") + Link("b.html")));
  server.SetResponse("/docs/b.html",
                     HtmlResponse("hay\n" + Link("/files/archive.zip") + Link("../img/x.gif")));
  server.SetResponse("/img/logo.png", FileResponse(PseudoRandomBytes(5000, 1), "image/png"));
  server.SetResponse("/img/x.gif", FileResponse(PseudoRandomBytes(777, 2), "image/gif"));
  server.SetResponse("/files/data.bin",
                     FileResponse(PseudoRandomBytes(300000, 3), "application/octet-stream"));
  server.SetResponse(
      "/files/archive.zip",
      FileResponse(std::string("PK\3\4\0\0", 6) + PseudoRandomBytes(4000, 4), "application/zip"));
  server.SetResponse("/notes.txt", FileResponse("needle in a text file\n", "text/plain"));
}

// A site shaped like a documentation book: a contents page linking every
// chapter, chapters linking the previous and next one, the contents and
// fragments of themselves, sections and a figure; every third section links
// an appendix page that links on to a deeper one. A crawl from the contents
// meets late chapters first down the next-chapter chain, deep, and only later
// straight from the contents.
struct BookPage {
  std::string path;
  std::vector<std::string> links;  // hrefs as written
  bool keyword;
};

std::vector<BookPage> BookPages() {
  const int chapters = 12;
  auto chapter = [](int c) { return "ch" + std::to_string(c) + ".html"; };
  std::vector<BookPage> pages;
  BookPage contents{"/book/index.html", {}, false};
  for (int c = chapters; c >= 1; --c) contents.links.push_back(chapter(c));
  pages.push_back(contents);
  for (int c = 1; c <= chapters; ++c) {
    BookPage page{"/book/" + chapter(c), {"index.html", "#top", chapter(c) + "#s1"}, c % 2 == 0};
    if (c > 1) page.links.push_back(chapter(c - 1));
    if (c < chapters) page.links.push_back(chapter(c + 1));
    for (int s = 1; s <= 2; ++s) {
      std::string section = "ch" + std::to_string(c) + "-s" + std::to_string(s) + ".html";
      page.links.push_back(section);
      BookPage sectionPage{"/book/" + section, {chapter(c), "fig.png"}, s == 1};
      if ((c + s) % 3 == 0) sectionPage.links.push_back("/appendix/a" + std::to_string(c) + ".html");
      pages.push_back(sectionPage);
    }
    pages.push_back(page);
    std::string appendix = "/appendix/a" + std::to_string(c) + ".html";
    pages.push_back({appendix, {"deep" + std::to_string(c) + ".html", "/book/index.html"}, true});
    pages.push_back({"/appendix/deep" + std::to_string(c) + ".html", {}, true});
  }
  return pages;
}

void BookSite(ScriptedServer& server, RefusedPort&) {
  for (const BookPage& page : BookPages()) {
    std::string html = page.keyword ? "<p>the borrow checker</p>\n" : "<p>text</p>\n";
    for (const std::string& href : page.links) {
      html += href.size() > 4 && href.compare(href.size() - 4, 4, ".png") == 0
                  ? "<img src=\"" + href + "\">\n"
                  : Link(href);
    }
    server.SetResponse(page.path, HtmlResponse(html));
  }
  server.SetResponse("/book/fig.png", FileResponse(PseudoRandomBytes(3000, 5), "image/png"));
}

struct Site {
  const char* name;
  void (*build)(ScriptedServer&, RefusedPort&);
  const char* start;
  // Runs against randomly delayed answers too (not the chain: its pages can
  // only be fetched one after another, so delays would just add up).
  bool delayed;
  std::vector<Args> optionSets;
};

const std::vector<Site>& Sites() {
  static const std::vector<Site> sites = {
      {"tree",
       TreeSite,
       "/index.html",
       true,
       {{"-k", "needle", "-d", "3", "-print", "-stat"},
        {"-k", "needle", "-d", "2", "-download", "-create", "-stat"},
        {"-f", "html|gif", "-d", "2", "-download", "-create", "-print", "-stat"},
        {"-k", "needle", "-d", "3", "-once", "-print", "-stat"},
        {"-k", "needle", "-d", "2", "-once", "-download", "-create", "-stat"},
        {"-f", "html|gif", "-d", "2", "-download", "-create", "-print", "-stat", "-maxpages",
         "7"}}},
      {"book",
       BookSite,
       "/book/index.html",
       true,
       {{"-k", "borrow", "-d", "3", "-once", "-confine", "-print", "-stat"},
        {"-k", "borrow", "-d", "2", "-print", "-stat"},
        {"-f", "html|png", "-d", "2", "-download", "-create", "-print", "-once", "-stat"},
        {"-k", "borrow", "-d", "3", "-once", "-confine", "-print", "-stat", "-html"},
        {"-f", "png$", "-d", "3", "-download", "-create", "-print", "-stat", "-html"},
        {"-k", "borrow", "-d", "3", "-once", "-print", "-stat", "-maxpages", "9"}}},
      {"navigation",
       NavigationSite,
       "/n0.html",
       true,
       {{"-k", "needle", "-d", "2", "-print", "-stat"},
        {"-f", "html", "-d", "1", "-print", "-stat"},
        {"-k", "needle", "-d", "3", "-once", "-print", "-stat"},
        {"-f", "html", "-d", "3", "-once", "-download", "-print", "-stat"},
        {"-k", "needle", "-d", "3", "-once", "-print", "-stat", "-text"},
        {"-k", "needle", "-d", "2", "-print", "-stat", "-maxpages", "25"}}},
      {"chain", ChainSite, "/c0.html", false, {{"-k", "needle", "-d", "300", "-print", "-stat"}}},
      {"redirects",
       RedirectSite,
       "/",
       true,
       {{"-k", "needle", "-d", "2", "-print", "-stat"},
        {"-f", ".", "-d", "1", "-download", "-print", "-stat"},
        {"-k", "needle", "-d", "3", "-once", "-print", "-stat"},
        {"-f", ".", "-d", "2", "-once", "-download", "-print", "-stat", "-html"}}},
      {"errors",
       ErrorSite,
       "/",
       true,
       {{"-k", "needle", "-d", "2", "-print", "-stat"},
        {"-f", ".", "-d", "1", "-download", "-stat"}}},
      {"failed start", FailedStartSite, "/", false, {{"-k", "needle", "-d", "2", "-stat"}}},
      {"mixed",
       MixedSite,
       "/",
       true,
       {{"-k", "needle", "-d", "3", "-download", "-stat"},
        {"-f", "\\.(html|gif|png|bin|zip|txt)", "-d", "3", "-download", "-create", "-stat"},
        {"-d", "3", "-download", "-stat"},
        {"-d", "3", "-download", "-create", "-once", "-stat"},
        {"-k", "needle", "-d", "3", "-tries", "2", "-stat"},
        {"-f", ".", "-d", "2", "-download", "-create", "-print", "-once", "-stat", "-html"}}},
  };
  return sites;
}

// A variant of the baseline run: the -j value and whether answers are delayed.
struct Variant {
  const char* jobs;
  bool delayed;
};

// The fetcher ahead starts its first worker once the crawl has run 50 ms,
// or once a request has waited 5 ms: a start page answered 20 ms late lets
// the workers fetch from the first links on, however fast the rest.
constexpr int kSlowStartPageMs = 20;

// Calls run for every option set of every site, the site served (its start
// page kSlowStartPageMs late).
void ForEachSiteRun(
    const std::function<void(const Site&, ScriptedServer&, const Args&, const std::string&)>& run) {
  for (const Site& site : Sites()) {
    ScriptedServer server;
    RefusedPort refused;
    server.SetDefaultResponse(NotFoundResponse());
    site.build(server, refused);
    server.DelayResponse(site.start, kSlowStartPageMs);
    for (const Args& options : site.optionSets) {
      run(site, server, options, std::string(site.name) + " / " + Join(options));
    }
  }
}

TEST(ParallelCrawl, OutputIsIdenticalWhateverTheParallelism) {
  uint32_t seed = 1;
  ForEachSiteRun([&seed](const Site& site, ScriptedServer& server, const Args& options,
                         const std::string& tag) {
    server.SetResponseDelay(0);
    Outcome base = Crawl(server, site.start, options);
    // A baseline that fetched nothing (an option not understood) makes the
    // comparisons empty; the other option sets still run.
    if (base.timedOut || base.requests.empty()) {
      ADD_FAILURE() << tag << ": the run without -j failed\n" << base.out << base.err;
      return;
    }
    bool first = &options == &site.optionSets.front();
    std::vector<Variant> variants = {{"8", false}};
    if (first) variants.push_back({"1", false});
    if (site.delayed) variants.push_back({"8", true});
    // The widest window once, where it has the most to fetch ahead.
    if (std::string(site.name) == "navigation" && first) variants.push_back({"64", true});
    for (const Variant& v : variants) {
      Args args = options;
      args.insert(args.end(), {"-j", v.jobs});
      std::string label = tag + " -j " + v.jobs + (v.delayed ? " (delayed answers)" : "");
      server.SetResponseDelay(v.delayed ? 30 : 0, seed++);
      Outcome o = Crawl(server, site.start, args);
      if (o.timedOut) {
        ADD_FAILURE() << label << ": timed out";
        continue;
      }
      EXPECT_EQ(o.exitCode, base.exitCode) << label << "\n" << o.out << o.err;
      EXPECT_EQ(o.out, base.out) << label;
      EXPECT_EQ(o.err, base.err) << label;
      EXPECT_EQ(o.saved, base.saved) << label;
      if (std::find(options.begin(), options.end(), "-once") == options.end()) {
        // Fetching ahead asks for exactly what the crawl asks for.
        EXPECT_EQ(o.requests, base.requests) << label;
      } else {
        // With -once the fetch ahead asks for the same URLs, each spelled
        // as the crawl spells it and no more often.
        std::set<std::string> got(o.requests.begin(), o.requests.end());
        std::set<std::string> want(base.requests.begin(), base.requests.end());
        EXPECT_EQ(got, want) << label;
        for (const std::string& path : o.requests) {
          auto times = [&path](const std::vector<std::string>& all) {
            return std::count(all.begin(), all.end(), path);
          };
          EXPECT_LE(times(o.requests), std::max<long>(1, times(base.requests))) << label << path;
        }
      }
    }
  });
}

// The JSON output stands for the human one: for every site and option set
// above, every line validates against the schema and tells the events the
// human lines tell (tests/e2e/json_check.py maps one to the other); -json
// changes nothing else a run does, and -j 8 writes the events -j 1 writes
// (their timings aside).
TEST(ParallelCrawl, JsonOutputTellsWhatTheHumanOutputTells) {
  TempDir files("ferret-json");
  ForEachSiteRun(
      [&](const Site& site, ScriptedServer& server, const Args& options, const std::string& tag) {
        auto has = [&options](const char* name) {
          return std::find(options.begin(), options.end(), name) != options.end();
        };
        Outcome human = Crawl(server, site.start, options);
        const std::string humanPath = files.Path() + "/human";
        WriteFile(humanPath, human.out);
        bool printed = has("-print") || (has("-k") && !has("-download") && !has("-stat"));
        std::string events;
        for (const char* jobs : {"1", "8"}) {
          SCOPED_TRACE(tag + " -json -j " + jobs);
          Args args = options;
          args.insert(args.end(), {"-json", "-j", jobs});
          Outcome json = Crawl(server, site.start, args);
          EXPECT_EQ(json.exitCode, human.exitCode);
          EXPECT_EQ(json.saved, human.saved);
          EXPECT_EQ(json.requests, human.requests);
          const std::string jsonPath = files.Path() + "/json";
          WriteFile(jsonPath, json.out);
          Args check{"/usr/bin/python3", FERRET_SOURCE_DIR "/tests/e2e/json_check.py",
                     FERRET_SOURCE_DIR "/doc/ferret-events.schema.json", jsonPath, humanPath};
          if (printed) check.push_back("--print");
          if (has("-stat")) check.push_back("--stat");
          ProcessResult checked = RunProcess(check, files.Path(), 60);
          EXPECT_EQ(checked.out, "ok\n") << checked.err;
          std::string untimed = Untimed(json.out);
          if (events.empty()) {
            events = untimed;
          } else {
            EXPECT_EQ(untimed, events);
          }
        }
      });
}

TEST(ParallelCrawl, BadParallelismIsRefusedBeforeAnyRequest) {
  ScriptedServer server;
  RefusedPort unused;
  NavigationSite(server, unused);
  const struct {
    Args args;
    const char* message;
  } cases[] = {
      {{"-j", "0"}, "ferret: -j must be 1 to 64\n"},
      {{"-j", "65"}, "ferret: -j must be 1 to 64\n"},
      {{"-j", "x"}, "ferret: -j must be 1 to 64\n"},
      {{"-j"}, "ferret: -j needs a value\n"},
      {{"-stat", "-j"}, "ferret: -j needs a value\n"},
  };
  for (const auto& c : cases) {
    Args argv{FERRET_BINARY, server.Url("/n0.html")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProcessResult r = RunProcess(argv, "", 30);
    EXPECT_EQ(r.exitCode, 255) << Join(c.args);
    EXPECT_EQ(r.out, "") << Join(c.args);
    EXPECT_EQ(r.err, c.message) << Join(c.args);
  }
  // The extremes are accepted.
  for (const char* jobs : {"1", "64"}) {
    ProcessResult r = RunProcess({FERRET_BINARY, server.Url("/n0.html"), "-j", jobs, "-stat"});
    EXPECT_EQ(r.exitCode, 0) << jobs << r.out << r.err;
  }
  EXPECT_EQ(server.RequestPaths().size(), 2u);
}

// How often each path was requested.
std::map<std::string, int> Counts(const std::vector<std::string>& paths) {
  std::map<std::string, int> counts;
  for (const std::string& p : paths) ++counts[p];
  return counts;
}

// No fetch ahead starts while the recordings hold 2 MiB of memory (half of
// the 4 MiB they may hold between them). The crawl asks for the first file
// it saves itself, and the server holds that answer; the two workers fetch
// ahead the files after it, 1 MiB each, until they hold two (a third may
// have begun before the second was whole), and ask for no more until the
// crawl has taken one, however many are linked.
TEST(ParallelCrawl, FetchingAheadStopsAtTheByteWindow) {
  const int files = 20;
  const size_t window = 2;  // files of 1 MiB
  ScriptedServer server;
  server.SetTimeoutMs(120000);  // the held answer waits on the test, not on a clock
  std::string html;
  std::map<std::string, std::string> tree;
  for (int i = 0; i < files; ++i) {
    std::string name = "f" + std::to_string(i) + ".bin";
    std::string body = PseudoRandomBytes(1 << 20, static_cast<unsigned>(i) + 10);
    html += Link(name);
    server.SetResponse("/" + name, FileResponse(body, "application/octet-stream"));
    tree[name] = "file " + body;
  }
  server.SetResponse("/", HtmlResponse(html));
  const std::string held = "/f" + std::to_string(files - 1) + ".bin";  // the last link: first saved
  server.HoldResponse(held);
  TempDir dir("ferret-window");
  size_t beforeRelease = 0;
  auto watch = [&](int) {
    // The start page, the held file and the window's files are asked for in
    // any case. A request past the window would follow the last of them at
    // once; it is watched for, for a while, before the held answer goes out.
    // Only the count decides.
    if (server.WaitForRequests(2 + window)) {
      std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    beforeRelease = server.Requests().size();
    server.ReleaseResponse(held);
  };
  ProcessResult r =
      RunProcess({FERRET_BINARY, server.Url("/"), "-f", "bin", "-download", "-stat", "-j", "2"},
                 dir.Path(), 120, watch);
  EXPECT_GE(beforeRelease, 2 + window);
  EXPECT_LE(beforeRelease, 3 + window);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), files + 1u) << r.out;
  EXPECT_EQ(lines.front(), "Saving " + server.HostPort() + held + " as " + held.substr(1));
  EXPECT_EQ(lines.back(), "Saves(20) Prints(0) Hits(21) HTTP 200(100%) Errors(0)");
  EXPECT_TRUE(DirectoryTree(dir.Path()) == tree);  // not printed: 20 MiB
  EXPECT_EQ(server.RequestPaths().size(), files + 1u);
}

// A server slow to answer gets as many requests at once as -j asks for,
// whatever the machine's cores: workers past one a core start while every
// worker's fetch is slow. The server holds every file's answer until the start page
// and -j files are asked for, and a while more, to see that no more than
// one further is (the crawl's own, when it asked for the first file before
// a worker began it), then lets them go.
TEST(ParallelCrawl, ASlowServerGetsAsManyRequestsAtOnceAsAskedFor) {
  const int files = 9, jobs = 6;
  ScriptedServer server;
  server.SetTimeoutMs(120000);  // the held answers wait on the test, not on a clock
  std::string html;
  for (int i = 0; i < files; ++i) {
    std::string name = "f" + std::to_string(i) + ".bin";
    html += Link(name);
    server.SetResponse("/" + name, FileResponse("file " + name, "application/octet-stream"));
    server.HoldResponse("/" + name);
  }
  server.SetResponse("/", HtmlResponse(html));
  TempDir dir("ferret-slow");
  size_t beforeRelease = 0;
  auto watch = [&](int) {
    if (server.WaitForRequests(1 + jobs)) std::this_thread::sleep_for(std::chrono::seconds(1));
    beforeRelease = server.Requests().size();
    for (int i = 0; i < files; ++i) server.ReleaseResponse("/f" + std::to_string(i) + ".bin");
  };
  ProcessResult r = RunProcess({FERRET_BINARY, server.Url("/"), "-f", "bin", "-download", "-stat",
                                "-j", std::to_string(jobs)},
                               dir.Path(), 120, watch);
  EXPECT_GE(beforeRelease, 1u + jobs);
  EXPECT_LE(beforeRelease, 2u + jobs);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).back(), "Saves(9) Prints(0) Hits(10) HTTP 200(100%) Errors(0)") << r.out;
  EXPECT_EQ(server.RequestPaths().size(), files + 1u);
}

// The most threads the process pid has at once, looked at every millisecond
// until it has ended.
size_t MostThreadsOf(int pid) {
  size_t most = 0;
  for (;;) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    size_t threads = 0;
    bool ended = true;
    while (std::getline(status, line)) {
      if (line.compare(0, 6, "State:") == 0) ended = line.find('Z') != std::string::npos;
      if (line.compare(0, 8, "Threads:") == 0) threads = std::stoul(line.substr(8));
    }
    if (ended) return most;
    most = std::max(most, threads);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Where each page's links must be listed before anything after it is
// fetched (-once) and each page has one link, there is never a second
// request to fetch beside the crawl's next: -j 8 starts no worker, however
// slow the answers (each past the 5 ms that calls for workers). It runs
// with the threads -j 1 has (a sanitizer may add its own), on the crawl's
// one kept connection.
TEST(ParallelCrawl, AChainOfPagesWithOnceStartsNoWorker) {
  ScriptedServer server;
  server.SetRequestsPerConnection(100);
  for (int i = 0; i <= 20; ++i) {
    std::string path = "/c" + std::to_string(i) + ".html";
    std::string body =
        (i % 7 == 0 ? "needle\n" : "straw\n") + Link("c" + std::to_string(i + 1) + ".html");
    server.SetResponse(path, KeptHtmlResponse(body));
    server.DelayResponse(path, 8);
  }
  std::string expected;
  size_t threadsAlone = 0;
  for (const char* jobs : {"1", "8"}) {
    SCOPED_TRACE(jobs);
    TempDir dir("ferret-chain");
    server.ClearRequests();
    const size_t before = server.Accepted();
    size_t threads = 0;
    ProcessResult r =
        RunProcess({FERRET_BINARY, server.Url("/c0.html"), "-k", "needle", "-d", "20", "-once",
                    "-print", "-stat", "-j", jobs},
                   dir.Path(), 60, [&threads](int pid) { threads = MostThreadsOf(pid); });
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (expected.empty()) {
      expected = r.out;
      threadsAlone = threads;
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(server.RequestPaths().size(), 21u);
    EXPECT_EQ(server.Accepted() - before, 1u);
    EXPECT_GE(threads, 1u);
    EXPECT_EQ(threads, threadsAlone);
  }
}

// A server whose every answer takes 3 ms, too little to count as slow (5
// ms), keeps the crawl waiting most of its time: -j 8 starts workers for it
// once the crawl has run 50 ms, well into the start page's links. They fetch
// ahead only what the crawl has still to ask for (each page as often as -j 1
// asks for it: with -once, none the crawl took before they started, though
// the start page links to each twice), and the run prints what -j 1 prints.
// (A crawl of a fast server, which keeps its core busy, starts none: a
// worker would only share that core's work, at a cost.)
TEST(ParallelCrawl, AServerThatKeepsTheCrawlWaitingGetsWorkers) {
  ScriptedServer server;
  server.SetRequestsPerConnection(1000);
  std::string index;
  for (int i = 0; i < 40; ++i) {
    std::string name = "p" + std::to_string(i) + ".html";
    index += Link(name);
    server.SetResponse("/" + name, KeptHtmlResponse(i % 3 == 0 ? "needle\n" : "straw\n"));
    server.DelayResponse("/" + name, 3);
  }
  server.SetResponse("/", KeptHtmlResponse(index + index));
  for (bool once : {false, true}) {
    SCOPED_TRACE(once ? "-once" : "");
    std::string expected;
    std::map<std::string, int> expectedCounts;
    size_t threadsAlone = 0, threadsWith = 0;
    for (const char* jobs : {"1", "8"}) {
      SCOPED_TRACE(jobs);
      TempDir dir("ferret-waiting");
      server.ClearRequests();
      std::vector<std::string> args = {FERRET_BINARY, server.Url("/"), "-k",    "needle", "-d",
                                       "1",           "-print",        "-stat", "-j",     jobs};
      if (once) args.push_back("-once");
      size_t threads = 0;
      ProcessResult r =
          RunProcess(args, dir.Path(), 60, [&threads](int pid) { threads = MostThreadsOf(pid); });
      EXPECT_EQ(r.exitCode, 0) << r.err;
      std::map<std::string, int> counts = Counts(server.RequestPaths());
      if (expected.empty()) {
        expected = r.out;
        expectedCounts = counts;
        threadsAlone = threads;
      }
      EXPECT_EQ(r.out, expected);
      EXPECT_EQ(counts, expectedCounts);
      threadsWith = threads;
    }
    EXPECT_EQ(expectedCounts.size(), 41u);
    EXPECT_EQ(expectedCounts["/p7.html"], once ? 1 : 2);
    EXPECT_GT(threadsAlone, 0u);
    EXPECT_GT(threadsWith, threadsAlone);
    EXPECT_EQ(Lines(expected).back(), once
                                          ? "Saves(0) Prints(14) Hits(41) HTTP 200(100%) Errors(0)"
                                          : "Saves(0) Prints(28) Hits(81) HTTP 200(100%) Errors(0)")
        << expected;
  }
}

// Past the 1 MiB a recording keeps in memory its bytes go to a temporary
// file; where none can be made (TMPDIR names no directory), the recording is
// not whole and is not replayed: the crawl asks again and saves the file
// whole, as -j 1 does. (With -once a fetch ahead stops at a redirect: the
// crawl asks for its target itself, once.)
TEST(ParallelCrawl, AnAnswerNotRecordedWholeIsAskedForAgain) {
  ScriptedServer server;
  const std::string big = PseudoRandomBytes(3 << 19, 7), target = PseudoRandomBytes(3 << 19, 8);  // 1.5 MiB each
  server.SetResponse("/", HtmlResponse(Link("big.bin") + Link("moved.bin")));
  server.DelayResponse("/", kSlowStartPageMs);
  server.SetResponse("/big.bin", FileResponse(big, "application/octet-stream"));
  server.SetResponse("/moved.bin", RedirectResponse("/target.bin"));
  server.SetResponse("/target.bin", FileResponse(target, "application/octet-stream"));
  const std::map<std::string, std::string> tree = {{"big.bin", "file " + big},
                                                   {"target.bin", "file " + target}};
  std::string expected;
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    TempDir dir("ferret-unrecorded");
    server.ClearRequests();
    ProcessResult r =
        RunProcess({"/usr/bin/env", "TMPDIR=/dev/null/none", FERRET_BINARY, server.Url("/"), "-f",
                    "bin", "-download", "-once", "-stat", "-j", jobs},
                   dir.Path(), 60);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    if (expected.empty()) expected = r.out;
    EXPECT_EQ(r.out, expected);
    EXPECT_TRUE(DirectoryTree(dir.Path()) == tree);  // not printed: 3 MiB
    // Fetched ahead, each large file was asked for again: its recording was
    // not what the crawl read.
    std::map<std::string, int> counts = Counts(server.RequestPaths());
    EXPECT_EQ(counts["/"], 1);
    EXPECT_EQ(counts["/moved.bin"], 1);
    EXPECT_EQ(counts["/big.bin"] > 1, jobs[0] == '2');
    EXPECT_EQ(counts["/target.bin"], 1);
  }
  EXPECT_EQ(Lines(expected).back(), "Saves(2) Prints(0) Hits(4) HTTP 200(75%) Errors(0)");
}

// --------------------------------------------------------------- -once

TEST(Once, NavigationBarPagesAreEachRequestedOnce) {
  ScriptedServer server;
  RefusedPort unused;
  NavigationSite(server, unused);
  // Depth first, last link first: n0, then n19 whose bar leads to n18, whose
  // bar leads to n17 .. n1; everything met after that has been seen.
  std::string expected = server.Url("/n0.html") + "\n";
  for (int i = 18; i >= 2; i -= 2) expected += server.HostPort() + Page(i) + "\n";
  expected += "Saves(0) Prints(10) Hits(20) HTTP 200(100%) Errors(0)\n";
  std::map<std::string, int> once;
  for (int i = 0; i < 20; ++i) once[Page(i)] = 1;
  for (const char* jobs : {"1", "8"}) {
    server.ClearRequests();
    ProcessResult r = RunProcess({FERRET_BINARY, server.Url("/n0.html"), "-k", "needle", "-d", "3",
                                  "-once", "-print", "-stat", "-j", jobs},
                                 "", 60);
    EXPECT_EQ(r.exitCode, 0) << jobs << r.err;
    EXPECT_EQ(r.out, expected) << jobs;
    EXPECT_EQ(Counts(server.RequestPaths()), once) << jobs;
  }
  // The implied -print prints the same pages.
  server.ClearRequests();
  ProcessResult implied =
      RunProcess({FERRET_BINARY, server.Url("/n0.html"), "-k", "needle", "-d", "3", "-once"});
  EXPECT_EQ(implied.out + "Saves(0) Prints(10) Hits(20) HTTP 200(100%) Errors(0)\n", expected);
  EXPECT_EQ(server.RequestPaths().size(), 20u);
}

TEST(Once, CycleIsWalkedOnce) {
  ScriptedServer server;
  server.SetResponse("/a.html", HtmlResponse("needle a\n" + Link("b.html")));
  server.SetResponse("/b.html", HtmlResponse("needle b\n" + Link("a.html")));
  Args base{FERRET_BINARY, server.Url("/a.html"), "-k", "needle", "-d", "10", "-stat"};
  // Without -once the depth alone ends the walk round the cycle.
  RunProcess(base);
  EXPECT_EQ(server.RequestPaths().size(), 11u);
  server.ClearRequests();
  base.push_back("-once");
  ProcessResult r = RunProcess(base);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Saves(0) Prints(0) Hits(2) HTTP 200(100%) Errors(0)\n");
  EXPECT_EQ(server.RequestPaths(), (std::vector<std::string>{"/a.html", "/b.html"}));
}

// In file mode a link met again is neither saved nor printed again; a link
// saved and scanned is one request (counted for each). A link that does not
// parse is met nowhere: each time it is read it is an error line.
TEST(Once, FileLinkMetAgainIsNotSavedAgain) {
  ScriptedServer server;
  const std::string bad = "http://127.0.0.1:99999/f.gif";
  // The last link is taken first, so the saved and printed URL is the plain one.
  server.SetResponse("/", HtmlResponse(Link(bad) + "<img src=\"f.gif\">\n<img src=\"./f.gif\">\n" +
                                       Link(bad) + Link("/sub/../f.gif") + Link("f.gif#big")));
  server.SetResponse("/f.gif", FileResponse("GIF89a", "image/gif"));
  TempDir dir("ferret-once");
  ProcessResult r = RunProcess({FERRET_BINARY, server.Url("/"), "-f", "gif", "-d", "1", "-download",
                                "-print", "-once", "-stat"},
                               dir.Path());
  std::string url = server.HostPort() + "/f.gif";
  EXPECT_EQ(r.out, "Saving " + url + " as f.gif\n" + url + "\nBad URL '" + bad + "'\nBad URL '" +
                       bad + "'\nSaves(1) Prints(1) Hits(3) HTTP 200(100%) Errors(2)\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(Counts(server.RequestPaths()), (std::map<std::string, int>{{"/", 1}, {"/f.gif", 1}}));
  EXPECT_EQ(ReadFile(dir.Path() + "/f.gif"), "GIF89a");
}

// Path with "." and ".." segments removed, as the server would read it.
std::string WithoutDots(const std::string& path) {
  std::vector<std::string> kept;
  size_t from = 1;
  while (from <= path.size()) {
    size_t slash = std::min(path.find('/', from), path.size());
    std::string segment = path.substr(from, slash - from);
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      if (slash == path.size()) kept.push_back("");
    } else if (segment == "." && slash == path.size()) {
      kept.push_back("");
    } else if (segment != ".") {
      kept.push_back(segment);
    }
    from = slash + 1;
  }
  std::string out;
  for (const std::string& s : kept) out += "/" + s;
  return out.empty() ? "/" : out;
}

// Links that name one URL in different spellings are requested once; links
// that name different URLs are not merged. Each case's page links the hrefs
// ("{hp}" is the server's host:port) and every other path answers a page
// with no links.
// With -once every page within the depth is reached, each requested once,
// however the depth-first crawl first met it: the same pages as a
// breadth-first walk of the book's links to the same depth.
TEST(Once, ReachesWhatABreadthFirstCrawlReaches) {
  ScriptedServer server;
  RefusedPort unused;
  BookSite(server, unused);
  std::map<std::string, std::vector<std::string>> linksOf;
  for (const BookPage& page : BookPages()) {
    std::string dir = page.path.substr(0, page.path.rfind('/') + 1);
    for (const std::string& href : page.links) {
      if (href[0] == '#') continue;  // the page itself
      std::string target = Canonical(href[0] == '/' ? href.substr(0, href.find('#'))
                                                    : dir + href.substr(0, href.find('#')));
      if (target != page.path) linksOf[page.path].push_back(target);
    }
  }
  for (int depth = 0; depth <= 4; ++depth) {
    std::set<std::string> reached{"/book/index.html"};
    std::vector<std::string> level{"/book/index.html"};
    for (int d = 0; d < depth; ++d) {
      std::vector<std::string> next;
      for (const std::string& page : level) {
        for (const std::string& target : linksOf[page]) {
          if (reached.insert(target).second) next.push_back(target);
        }
      }
      level = next;
    }
    for (const char* jobs : {"1", "8"}) {
      Outcome o = Crawl(server, "/book/index.html",
                        {"-k", "borrow", "-d", std::to_string(depth), "-once", "-j", jobs});
      std::string label = "-d " + std::to_string(depth) + " -j " + jobs;
      EXPECT_EQ(o.exitCode, 0) << label << o.out << o.err;
      std::map<std::string, int> counts = CanonicalCounts(o.requests);
      std::set<std::string> requested;
      for (const auto& entry : counts) {
        requested.insert(entry.first);
        EXPECT_EQ(entry.second, 1) << label << " " << entry.first;
      }
      EXPECT_EQ(requested, reached) << label;
    }
  }
}

TEST(Once, CanonicalKeys) {
  const struct {
    const char* name;
    const char* address;
    int port;               // 0: ephemeral
    const char* startHost;  // as written in the start URL, with the port
    const char* startPath;
    std::vector<std::string> hrefs;
    std::map<std::string, std::string> redirects;  // path -> Location
    size_t withoutOnce;                            // requests made without -once
    std::set<std::string> expected;                // paths requested with -once, dots removed
  } cases[] = {
      {"host letter case",
       "127.0.0.1",
       0,
       "http://localhost:{port}",
       "/",
       {"http://LOCALHOST:{port}/x.html", "http://localhost:{port}/x.html",
        "http://LocalHost:{port}/x.html", "http://LOCALHOST:{port}/"},
       {},
       4,
       {"/", "/x.html"}},
      {"explicit default port",
       "127.0.0.14",
       80,
       "http://127.0.0.14",
       "/",
       {"http://127.0.0.14:80/x.html", "x.html", "http://127.0.0.14/x.html",
        "http://127.0.0.14:80/"},
       {},
       4,
       {"/", "/x.html"}},
      {"dot segments",
       "127.0.0.1",
       0,
       "http://{hp}",
       "/a/index.html",
       {"../b.html", "/a/../b.html", "/b.html", "./../b.html", "./index.html", "c/../index.html",
        "/a/./index.html"},
       {},
       5,
       {"/a/index.html", "/b.html"}},
      {"fragments",
       "127.0.0.1",
       0,
       "http://{hp}",
       "/",
       {"x.html#top", "x.html#end", "x.html", "#self", "/#self"},
       {},
       4,
       {"/", "/x.html"}},
      {"scheme-less and http://",
       "127.0.0.1",
       0,
       "{hp}",
       "/",
       {"http://{hp}/x.html", "x.html", "HTTP://{hp}/x.html", "http://{hp}/", "/"},
       {},
       4,
       {"/", "/x.html"}},
      {"redirect target",
       "127.0.0.1",
       0,
       "http://{hp}",
       "/",
       {"x.html", "go", "again"},
       {{"/go", "x.html"}, {"/again", "/go"}},
       7,
       {"/", "/go", "/again", "/x.html"}},
      {"different URLs stay apart",
       "127.0.0.1",
       0,
       "http://{hp}",
       "/",
       {"x.html", "X.html", "x.html?q=1", "x.html?q=2", "x/", "x"},
       {},
       7,
       {"/", "/x.html", "/X.html", "/x.html?q=1", "/x.html?q=2", "/x/", "/x"}},
  };
  for (const auto& c : cases) {
    if (c.port != 0 && !CanBindLoopback(c.address, c.port)) {
      std::cerr << "[ skipped ] " << c.name << ": cannot bind " << c.address << ":" << c.port
                << "\n";
      continue;
    }
    ScriptedServer server(c.address, c.port);
    auto fill = [&](std::string text) {
      const std::pair<std::string, std::string> keys[] = {
          {"{hp}", server.HostPort()}, {"{port}", std::to_string(server.Port())}};
      for (const auto& key : keys) {
        for (size_t at; (at = text.find(key.first)) != std::string::npos;) {
          text.replace(at, key.first.size(), key.second);
        }
      }
      return text;
    };
    std::string html = "needle\n";
    for (const std::string& href : c.hrefs) html += Link(fill(href));
    server.SetDefaultResponse(HtmlResponse("needle\n"));
    server.SetResponse(c.startPath, HtmlResponse(html));
    for (const auto& r : c.redirects) server.SetResponse(r.first, RedirectResponse(r.second));
    std::string start = fill(c.startHost) + c.startPath;
    Args args{FERRET_BINARY, start, "-k", "needle", "-d", "1", "-print"};

    // Without -once every link is fetched but those to the start page itself,
    // so each case tests something.
    ProcessResult all = RunProcess(args, "", 30);
    EXPECT_EQ(all.exitCode, 0) << c.name << all.out << all.err;
    EXPECT_EQ(server.RequestPaths().size(), c.withoutOnce) << c.name;

    server.ClearRequests();
    args.push_back("-once");
    ProcessResult once = RunProcess(args, "", 30);
    EXPECT_EQ(once.exitCode, 0) << c.name << once.out << once.err;
    std::vector<std::string> paths = server.RequestPaths();
    std::set<std::string> seen;
    for (const std::string& p : paths) seen.insert(WithoutDots(p));
    EXPECT_EQ(paths.size(), c.expected.size()) << c.name << ": " << Join(paths);
    EXPECT_EQ(seen, c.expected) << c.name;
    // Nothing printed twice either.
    std::vector<std::string> lines = Lines(once.out);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size())
        << c.name << "\n"
        << once.out;
  }
}

}  // namespace
