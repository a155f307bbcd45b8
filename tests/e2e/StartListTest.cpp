// -i FILE end to end: several start URLs crawled in turn, each in its own
// scope, a bad line reported with its number while the others go on, the
// list read from standard input, and the JSON output still valid.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/Shard.h"
#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedServer.h"

namespace {

using Args = std::vector<std::string>;

class StartListTest : public testing::Test {
 protected:
  void SetUp() override {
    for (ScriptedServer* server : {&a, &b}) {
      server->SetDefaultResponse(
          HttpResponse("HTTP/1.0 404 Not Found", {"Content-Type: text/plain"}, "no\n"));
    }
    // a's index links a page of its own and one of b's: -confine keeps the
    // first start on a, while b's page, a start of its own, is crawled.
    a.SetResponse("/index.html", HtmlResponse("ferret\n<a href=\"a.html\">a</a>\n<a href=\"" +
                                              b.Url("/x.html") + "\">x</a>\n"));
    a.SetResponse("/a.html", HtmlResponse("ferret a\n"));
    b.SetResponse("/x.html", HtmlResponse("ferret x\n<a href=\"y.html\">y</a>\n"));
    b.SetResponse("/y.html", HtmlResponse("ferret y\n"));
    std::ofstream(listPath) << "# two sites\n"
                            << a.Url("/index.html") << "\n"
                            << "  " << b.Url("/x.html") << " 0\n"
                            << "http://[bad\n"
                            << "\n"
                            << a.Url("/a.html") << "\n";
  }
  ProcessResult Run(const std::string& shellArgs) {
    return RunProcess({"/bin/sh", "-c", std::string(FERRET_BINARY) + " " + shellArgs}, dir.Path(),
                      60);
  }

  ScriptedServer a{"127.0.0.1"};
  ScriptedServer b{"127.0.0.2"};
  TempDir dir{"ferret-list"};
  const std::string listPath = dir.Path() + "/list";
};

TEST_F(StartListTest, EachStartIsCrawledInTurnInItsOwnScope) {
  const std::string options = " -k ferret -d 1 -confine -print -stat";
  ProcessResult r = Run("-i list" + options);
  EXPECT_EQ(r.exitCode, 1) << r.err;  // the bad line is an error; the starts went
  EXPECT_EQ(Lines(r.out), (Args{a.Url("/index.html"), a.HostPort() + "/a.html", b.Url("/x.html"),
                                "Bad start line 4: Bad URL 'http://[bad'", a.Url("/a.html"),
                                "Saves(0) Prints(4) Hits(4) HTTP 200(100%) Errors(1)"}));
  // b's page is no link the first start may follow, and the second start's
  // depth (0, from its line) takes it no further; without -once the last
  // start asks for a.html again.
  EXPECT_EQ(a.RequestPaths(), (Args{"/index.html", "/a.html", "/a.html"}));
  EXPECT_EQ(b.RequestPaths(), (Args{"/x.html"}));
  // With -j the output is the same.
  a.ClearRequests();
  b.ClearRequests();
  ProcessResult parallel = Run("-i list -j 4" + options);
  EXPECT_EQ(parallel.out, r.out);
  EXPECT_EQ(parallel.exitCode, 1);

  // Standard input; -once's record spans the list, so a.html is asked for
  // once; the JSON events validate and tell what the human lines tell.
  ProcessResult human = Run("-i - -once" + options + " < list");
  ProcessResult json = Run("-i - -once -json" + options + " < list");
  EXPECT_EQ(json.exitCode, 1) << json.err;
  EXPECT_EQ(Lines(human.out).size(), 5u) << human.out;
  std::ofstream(dir.Path() + "/json") << json.out;
  std::ofstream(dir.Path() + "/human") << human.out;
  ProcessResult checked = RunProcess(
      {"/usr/bin/python3", FERRET_SOURCE_DIR "/tests/e2e/json_check.py",
       FERRET_SOURCE_DIR "/doc/ferret-events.schema.json", "json", "human", "--print", "--stat"},
      dir.Path(), 60);
  EXPECT_EQ(checked.out, "ok\n") << checked.err;
  for (const std::string& start :
       {"{\"type\":\"start\",\"url\":\"" + a.Url("/index.html") + "\",\"line\":2,\"depth\":1}",
        "{\"type\":\"start\",\"url\":\"" + b.Url("/x.html") + "\",\"line\":3,\"depth\":0}",
        "{\"type\":\"start\",\"url\":\"" + a.Url("/a.html") + "\",\"line\":6,\"depth\":1}",
        std::string("{\"type\":\"refused\",\"url\":\"") + a.Url("/a.html") +
            "\",\"reason\":\"once\"}"}) {
    EXPECT_NE(json.out.find(start + "\n"), std::string::npos) << start << "\n" << json.out;
  }
}

// A line "URL -" names a page an earlier run asked for: with -once it is
// not asked for again, whichever start meets it; without, it is no start.
TEST_F(StartListTest, PagesMetBeforeAreNotAskedForWithOnce) {
  std::ofstream(dir.Path() + "/met") << a.Url("/a.html") << " -\n" << a.Url("/index.html") << "\n";
  for (const char* once : {" -once", ""}) {
    a.ClearRequests();
    ProcessResult r = Run(std::string("-i met -d 1 -confine") + once);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const Args asked = *once ? Args{"/index.html"} : Args{"/index.html", "/a.html"};
    EXPECT_EQ(a.RequestPaths(), asked) << once;
  }
}

// -shard: only the shard's own hosts are asked; a link, a redirect or a
// start on another shard's host is an outlink event, with the depth it
// would be scanned at, and nothing is asked of that host.
TEST_F(StartListTest, ShardsAskOnlyTheirOwnHostsAndHandTheRestOn) {
  int shards = 2;
  while (ShardOfHost("127.0.0.1", shards) == ShardOfHost("127.0.0.2", shards)) ++shards;
  const std::string ofA =
      std::to_string(ShardOfHost("127.0.0.1", shards)) + "/" + std::to_string(shards);
  const std::string ofB =
      std::to_string(ShardOfHost("127.0.0.2", shards)) + "/" + std::to_string(shards);
  const std::string bShard = std::to_string(ShardOfHost("127.0.0.2", shards));
  a.SetResponse("/index.html",
                HtmlResponse("ferret\n<a href=\"a.html\">a</a>\n<a href=\"" + b.Url("/x.html") +
                             "\">x</a>\n<a href=\"moved.html\">m</a>\n"));
  a.SetResponse("/moved.html", RedirectResponse(b.Url("/y.html")));
  ProcessResult own = Run(a.Url("/index.html") + " -d 2 -json -shard " + ofA);
  EXPECT_EQ(own.exitCode, 0) << own.err;
  EXPECT_EQ(a.RequestPaths(), (Args{"/index.html", "/moved.html", "/a.html"}));
  EXPECT_TRUE(b.Requests().empty());
  for (const std::string& outlink :
       {"{\"type\":\"outlink\",\"url\":\"" + b.Url("/x.html") + "\",\"shard\":" + bShard +
            ",\"depth\":1,\"referrer\":\"" + a.Url("/index.html") + "\"}",
        "{\"type\":\"outlink\",\"url\":\"" + b.Url("/y.html") + "\",\"shard\":" + bShard +
            ",\"depth\":1,\"referrer\":\"" + a.Url("/moved.html") + "\"}"}) {
    EXPECT_NE(own.out.find(outlink + "\n"), std::string::npos) << outlink << "\n" << own.out;
  }
  std::ofstream(dir.Path() + "/json") << own.out;
  ProcessResult checked =
      RunProcess({"/usr/bin/python3", FERRET_SOURCE_DIR "/tests/e2e/json_check.py",
                  FERRET_SOURCE_DIR "/doc/ferret-events.schema.json", "json"},
                 dir.Path(), 60);
  EXPECT_EQ(checked.out, "ok\n") << checked.err;
  // The start itself belongs to the other shard: handed on, nothing asked.
  a.ClearRequests();
  ProcessResult other = Run(a.Url("/index.html") + " -d 2 -json -shard " + ofB);
  EXPECT_EQ(other.exitCode, 0) << other.err;
  EXPECT_TRUE(a.Requests().empty() && b.Requests().empty());
  EXPECT_EQ(Lines(other.out).front(), "{\"type\":\"outlink\",\"url\":\"" + a.Url("/index.html") +
                                          "\",\"shard\":" + ofA.substr(0, ofA.find('/')) +
                                          ",\"depth\":2,\"referrer\":null}");
}

TEST_F(StartListTest, ListsThatCrawlNothing) {
  const struct {
    const char* list;  // written to the file "only"
    int exitCode;
    const char* out;
  } cases[] = {
      {"http://[bad\nhttp://h/ 1 2\n", 2,
       "Bad start line 1: Bad URL 'http://[bad'\nBad start line 2: more than a URL and a depth\n"},
      {"# nothing\n\n", 0, ""},
  };
  for (const auto& c : cases) {
    std::ofstream(dir.Path() + "/only") << c.list;
    ProcessResult r = Run("-i only -d 1");
    EXPECT_EQ(r.exitCode, c.exitCode) << c.list;
    EXPECT_EQ(r.out, c.out) << c.list;
  }
  ProcessResult missing = Run("-i none -d 1");
  EXPECT_EQ(missing.exitCode, 255);
  EXPECT_EQ(missing.err, "ferret: cannot read none: No such file or directory\n");
  EXPECT_TRUE(a.Requests().empty() && b.Requests().empty());
}

}  // namespace
