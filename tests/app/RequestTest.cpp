#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/Request.h"
#include "net/HttpRequest.h"
#include "net/Sockets.h"
#include "net/StreamRead.h"
#include "tests/app/TestCrawl.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ParsedUrl.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/ScriptedTransport.h"

namespace {

// The crawl the tests of this file drive; ResetCrawl starts a fresh one.
std::unique_ptr<TestCrawl> crawl = std::make_unique<TestCrawl>();
void ResetCrawl() { crawl = std::make_unique<TestCrawl>(); }

struct Outcome {
  int result;
  std::string url;       // the URL after the request
  std::string out;       // standard output
  std::string err;       // standard error
  std::string bodyLine;  // first body line, when a stream was handed over
  bool bodyAtEnd = false;
};

Outcome Request(const std::string& url) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  FetchOutcome response = RequestPage(crawl->context, ParsedUrl(url.c_str()));
  int result = response.body ? (response.html ? 1 : 0) : -1;
  Outcome o{result,
            std::string(response.url.Text()),
            testing::internal::GetCapturedStdout(),
            testing::internal::GetCapturedStderr(),
            "",
            false};
  if (result == -1) {
    EXPECT_EQ(response.body, nullptr) << url;
  } else if (response.body) {
    std::iostream& body = response.body->Stream();
    char line[1024];
    ReadLine(body, line, sizeof line - 1);
    o.bodyLine = line;
    o.bodyAtEnd = body.eof();
  }
  return o;
}

class HttpRequestTest : public testing::Test {
 protected:
  void SetUp() override { ResetCrawl(); }
  std::string Url(const std::string& path) { return server.Url(path); }
  std::string Bare(const std::string& path) { return server.HostPort() + path; }
  ScriptedServer server;
};

TEST_F(HttpRequestTest, RequestBytesOnTheWire) {
  const struct {
    const char* url;
    const char* requestLine;
  } cases[] = {
      {"/a/f.html", "GET /a/f.html HTTP/1.1"},
      {"//x/f.html", "GET //x/f.html HTTP/1.1"},  // the path as written, both slashes
      {"/", "GET / HTTP/1.1"},
      {"/index.html", "GET /index.html HTTP/1.1"},
      {"/docs/old/page.html", "GET /docs/old/page.html HTTP/1.1"},
      {"/docs/", "GET /docs/ HTTP/1.1"},
      {"/a.html#frag", "GET /a.html HTTP/1.1"},
  };
  const std::string fields = "\r\nHost: " + server.HostPort() +
                             "\r\nUser-Agent: ferret/" FERRET_VERSION
                             "\r\nAccept-Encoding: gzip, deflate, br\r\n\r\n";
  server.SetDefaultResponse(HtmlResponse("x\n"));
  size_t n = 0;
  for (const auto& c : cases) {
    Request(Url(c.url));
    ASSERT_TRUE(server.WaitForRequests(++n)) << c.url;
    EXPECT_EQ(server.Requests().back(), c.requestLine + fields) << c.url;
  }
  // The scheme-less form and a host without path ask for the same bytes.
  Request(server.HostPort());
  ASSERT_TRUE(server.WaitForRequests(++n));
  EXPECT_EQ(server.Requests().back(), "GET / HTTP/1.1" + fields);
}

TEST_F(HttpRequestTest, ContentTypeDecidesHtml) {
  const struct {
    const char* header;
    int html;
  } cases[] = {
      {"Content-Type: text/html", 1},
      {"content-type: TEXT/HTML; charset=us-ascii", 1},
      {"CONTENT-TYPE:\t text/html", 1},
      {"Content-Type: text/plain", 0},
      {"Content-Type: image/gif", 0},
      {"X-Note: Content-Type: text/html", 0},  // only the Content-Type field counts
  };
  for (const auto& c : cases) {
    server.SetResponse("/p", HttpResponse("HTTP/1.0 200 OK", {c.header}, "body\n"));
    Outcome o = Request(Url("/p"));
    EXPECT_EQ(o.result, c.html) << c.header;
    EXPECT_EQ(o.bodyLine, "body") << c.header;
  }
  Outcome none = Request(Url("/missing"));  // default: a 404
  EXPECT_EQ(none.result, -1);
  EXPECT_EQ(none.out, "HTTP 404 at " + Url("/missing") + "\n");
}

TEST_F(HttpRequestTest, RedirectsAreResolvedAndCounted) {
  server.SetResponse("/old", RedirectResponse("/new.html"));
  server.SetResponse("/new.html", HtmlResponse("new\n"));
  server.SetResponse("/abs", RedirectResponse(Url("/new.html")));
  server.SetResponse("/rel/x", RedirectResponse("y.html"));
  server.SetResponse("/rel/y.html", FileResponse("y\n", "text/plain"));
  server.SetResponse("/ok-with-location",
                     HttpResponse("HTTP/1.0 200 OK", {"Location:\t  /new.html"}, "z"));

  Outcome relative = Request(Url("/old"));
  EXPECT_EQ(relative.result, 1);
  EXPECT_EQ(relative.url, Bare("/new.html"));
  EXPECT_EQ(relative.bodyLine, "new");
  EXPECT_EQ(crawl->Counts().hits, 2);
  EXPECT_EQ(crawl->Counts().http200, 1);

  Outcome absolute = Request(Url("/abs"));
  EXPECT_EQ(absolute.url, Url("/new.html"));
  Outcome sibling = Request(Url("/rel/x"));
  EXPECT_EQ(sibling.url, Bare("/rel/y.html"));
  EXPECT_EQ(sibling.result, 0);
  // Only a 3xx redirects: a 2xx with a Location is an answer.
  Outcome ok = Request(Url("/ok-with-location"));
  EXPECT_EQ(ok.url, Url("/ok-with-location"));
  EXPECT_EQ(ok.bodyLine, "z");
  EXPECT_EQ(crawl->Counts().hits, 7);
  EXPECT_EQ(crawl->Counts().http200, 4);
  EXPECT_EQ(crawl->Counts().errors, 0);
}

TEST_F(HttpRequestTest, OnlyALocationHeaderRedirects) {
  // A long header line arrives in pieces; the piece that begins with
  // "Location:" here is the middle of the X-Pad header.
  const std::string padded = "X-Pad: " + std::string(1015, 'a') + "Location: /evil";
  ASSERT_EQ(padded.find("Location:"), 1022u);
  server.SetResponse("/p", HttpResponse("HTTP/1.0 200 OK",
                                        {"Content-Location: /elsewhere", "X-Location: /other",
                                         padded, "Content-Type: text/html"},
                                        "page\n"));
  Outcome o = Request(Url("/p"));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.url, Url("/p"));
  EXPECT_EQ(server.RequestPaths(), std::vector<std::string>{"/p"});
  EXPECT_EQ(crawl->Counts().hits, 1);
}

TEST_F(HttpRequestTest, RedirectLoopIsBounded) {
  server.SetResponse("/loop", RedirectResponse("/loop"));
  Outcome o = Request(Url("/loop"));
  EXPECT_EQ(o.result, -1);
  EXPECT_EQ(o.out, "Too many redirects at " + Bare("/loop") + "\n");
  EXPECT_EQ(crawl->Counts().errors, 1);
  EXPECT_EQ(crawl->Counts().hits, kMaxRedirects + 1);
  EXPECT_EQ(crawl->Counts().http200, 0);
  EXPECT_EQ(server.RequestPaths().size(), size_t(kMaxRedirects + 1));
}

TEST_F(HttpRequestTest, HeaderLinesAreReadWhole) {
  // Lines of any length, and lines holding NUL bytes, are one header line
  // each; only the empty line ends the header.
  const size_t lengths[] = {1021, 1022, 1023, 1024, 5000};
  for (size_t length : lengths) {
    std::string longLine = "X-Long: " + std::string(length - 8, 'a');
    server.SetResponse(
        "/long", HttpResponse("HTTP/1.0 200 OK", {longLine, "Content-Type: text/html"}, "b\n"));
    Outcome o = Request(Url("/long"));
    EXPECT_EQ(o.result, 1) << length;
    EXPECT_EQ(o.bodyLine, "b") << length;
  }
  server.SetResponse(
      "/nul", HttpResponse("HTTP/1.0 200 OK",
                           {std::string("\0X-Odd: 1", 9), "Content-Type: text/html"}, "b\n"));
  Outcome nul = Request(Url("/nul"));
  EXPECT_EQ(nul.result, 1);
  EXPECT_EQ(nul.bodyLine, "b");
  // A header that never ends is cut off at its bound.
  server.SetResponse("/endless", "HTTP/1.0 200 OK\r\n" + std::string(kMaxHeaderBytes, 'x'));
  Outcome endless = Request(Url("/endless"));
  EXPECT_EQ(endless.result, -1);
  EXPECT_EQ(endless.out, "Header too large (over 65536 bytes) at " + Url("/endless") + "\n");
}

TEST_F(HttpRequestTest, StatusLineDecides) {
  server.SetResponse("/noblank", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n");
  server.SetResponse("/bare", "just a body\n\nmore\n");
  server.SetResponse("/created", HttpResponse("HTTP/1.1 204 No Content", {}, ""));
  const struct {
    const char* path;
    const char* response;
    const char* out;  // after the URL; "" for none
  } failures[] = {
      {"/lf", "HTTP/1.0 404 Not Found\nContent-Type: text/plain\n\ngone\n", "HTTP 404 at "},
      {"/e500", "HTTP/1.1 500 Oops\r\n\r\n", "HTTP 500 at "},
      {"/forbidden", "HTTP/1.0 403 Forbidden\r\nLocation: /x\r\n\r\n", "HTTP 403 at "},
      {"/nolocation", "HTTP/1.0 302 Found\r\n\r\n", "HTTP 302 at "},
      {"/empty", "", "Empty reply from "},
  };
  for (const auto& f : failures) server.SetResponse(f.path, f.response);

  Outcome noBlank = Request(Url("/noblank"));
  EXPECT_EQ(noBlank.result, 1);
  EXPECT_TRUE(noBlank.bodyAtEnd);
  Outcome bare = Request(Url("/bare"));  // no status line: taken as before
  EXPECT_EQ(bare.result, 0);
  EXPECT_EQ(bare.bodyLine, "more");
  EXPECT_EQ(Request(Url("/created")).result, 0);
  EXPECT_EQ(crawl->Counts().http200, 3);
  for (const auto& f : failures) {
    Outcome o = Request(Url(f.path));
    EXPECT_EQ(o.result, -1) << f.path;
    EXPECT_EQ(o.out, f.out + Url(f.path) + "\n") << f.path;
  }
  // A response with a status counts as a hit; an empty reply is none.
  EXPECT_EQ(crawl->Counts().hits, 7);
  EXPECT_EQ(crawl->Counts().http200, 3);
  EXPECT_EQ(crawl->Counts().errors, 5);
}

TEST_F(HttpRequestTest, ServerClosingAtOnce) {
  server.SetCloseOnAccept(true);
  Outcome o = Request(Url("/"));
  EXPECT_EQ(o.result, -1);
  EXPECT_EQ(o.out, "Empty reply from " + Url("/") + "\n");
  EXPECT_EQ(crawl->Counts().hits, 0);
  EXPECT_EQ(crawl->Counts().http200, 0);
  EXPECT_EQ(crawl->Counts().errors, 1);
}

TEST_F(HttpRequestTest, SilentServerTimesOut) {
  int id = server.AddScript(ConnectionScript().ReceiveOnce().WaitForGo().Close());
  SocketSetIoTimeout(1);
  Outcome o = Request(Url("/"));
  SocketSetIoTimeout(kSocketIoTimeoutSeconds);
  server.Go(id);
  EXPECT_EQ(o.result, -1);
  EXPECT_EQ(o.out, "Timed out reading " + Url("/") + "\n");
  EXPECT_EQ(crawl->Counts().hits, 0);
  EXPECT_EQ(crawl->Counts().errors, 1);
  EXPECT_TRUE(server.WaitUntilDone(id));
}

TEST(HttpRequestFailures, RefusedAndConfined) {
  ResetCrawl();
  RefusedPort refused;
  std::string url = "http://127.0.0.1:" + std::to_string(refused.Port()) + "/";
  Outcome o = Request(url);
  EXPECT_EQ(o.result, -1);
  EXPECT_EQ(o.out, "Cannot connect to 127.0.0.1 port " + std::to_string(refused.Port()) + " for " +
                       url + ": Connection refused\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(crawl->Counts().errors, 1);
  EXPECT_EQ(crawl->Counts().hits, 0);

  // A label past DNS's 63 bytes fails in the resolver itself: no query
  // leaves the machine.
  const std::string unresolvable = std::string(64, 'a') + ".invalid";
  Outcome unresolved = Request("http://" + unresolvable + "/");
  EXPECT_EQ(unresolved.result, -1);
  // The resolver's own reason follows on the same line.
  std::string start = "Cannot find host " + unresolvable + " for http://" + unresolvable + "/: ";
  EXPECT_EQ(unresolved.out.rfind(start, 0), 0u) << unresolved.out;
  EXPECT_GT(unresolved.out.size(), start.size() + 1) << unresolved.out;
  EXPECT_EQ(unresolved.out.back(), '\n');
  EXPECT_EQ(unresolved.err, "");
  EXPECT_EQ(crawl->Counts().errors, 2);

  // Confinement refuses silently, before any connection is tried.
  ScriptedServer server("127.0.0.2");
  crawl->options.confine = 1;
  crawl->context.startHost = "127.0.0.1";
  Outcome refusedByDomain = Request(server.Url("/"));
  EXPECT_EQ(refusedByDomain.result, -1);
  EXPECT_EQ(refusedByDomain.out, "");
  EXPECT_EQ(server.Accepted(), 0u);
  EXPECT_EQ(crawl->Counts().errors, 2);
  EXPECT_EQ(crawl->Counts().hits, 0);

  // A redirect out of the domain is refused at the redirect.
  crawl->context.startHost = "127.0.0.2";
  server.SetResponse("/out", RedirectResponse("http://127.0.0.1:1/x"));
  Outcome redirected = Request(server.Url("/out"));
  EXPECT_EQ(redirected.result, -1);
  EXPECT_EQ(redirected.out, "");
  EXPECT_EQ(crawl->Counts().hits, 1);
}

}  // namespace
