#include <gtest/gtest.h>

#include <string>

#include "app/Confine.h"
#include "app/Urls.h"
#include "tests/app/TestCrawl.h"
#include "net/StreamRead.h"

namespace {

TEST(SplitUrl, HowTheGroupsFall) {
  const struct {
    const char* url;
    const char* host;
    int port;
    const char* dir;
    const char* file;
  } cases[] = {
      {"http://host", "host", 80, "", ""},
      {"host", "host", 80, "", ""},
      {"http://host/", "host", 80, "", ""},
      {"http://host/index.html", "host", 80, "", "index.html"},
      {"http://host/docs", "host", 80, "", "docs"},
      {"http://host/docs/", "host", 80, "docs", ""},
      {"http://host:81/docs/guide/a.html", "host", 81, "docs/guide", "a.html"},
      {"host:80/docs/a.html", "host", 80, "docs", "a.html"},
      {"HTTP://HOST/x", "HOST", 80, "", "x"},
      {"http://host:/x", "host", 80, "", "x"},
      {"https://host/x", "host", 443, "", "x"},
      {"HTTPS://Host:8443/a/b.html", "Host", 8443, "a", "b.html"},
      {"http://host/a/b.html#part/x", "host", 80, "a", "b.html"},
      {"http://user:pw@host:81/a/b.html", "host", 81, "a", "b.html"},
      {"localhost:pw@127.0.0.2:8080/p/r.html", "127.0.0.2", 8080, "p", "r.html"},
      {"host:65535/", "host", 65535, "", ""},
      {"", "", 80, "", ""},
      {"/", "", 80, "", ""},
      {"127.0.0.1:8080/a/../b/c.gif", "127.0.0.1", 8080, "a/../b", "c.gif"},
      {"host/a?q=1/2", "host", 80, "", "a?q=1/2"},
  };
  for (const auto& c : cases) {
    TestCrawl t;
    CStr host("unset"), dir("unset"), file("unset");
    int port = -7;
    EXPECT_EQ(SplitUrl(t.reporter, c.url, host, dir, file, port), 0) << c.url;
    EXPECT_STREQ(host, c.host) << c.url;
    EXPECT_EQ(port, c.port) << c.url;
    EXPECT_STREQ(dir, c.dir) << c.url;
    EXPECT_STREQ(file, c.file) << c.url;
    EXPECT_EQ(t.Counts().errors, 0) << c.url;
  }
}

TEST(SplitUrl, PortsOutsideTheRangeAreBad) {
  const char* bad[] = {"host:0/",     "https://host:0/x",        "host:65536/",
                       "host:65617/", "http://host:4294967376/", "host:99999999999/"};
  for (const char* url : bad) {
    TestCrawl t;
    CStr host, dir, file;
    int port = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(SplitUrl(t.reporter, url, host, dir, file, port), -1) << url;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Bad URL '") + url + "'\n");
    EXPECT_EQ(t.Counts().errors, 1) << url;
  }
}

TEST(SplitUrl, CallersStringIsNeverChanged) {
  TestCrawl t;
  CStr url("http://host");
  CStr shared(url);
  CStr host, dir, file;
  int port = 0;
  SplitUrl(t.reporter, url, host, dir, file, port);
  EXPECT_STREQ(url, "http://host");
  EXPECT_STREQ(shared, "http://host");
}

TEST(ResolveUrl, AgainstThePage) {
  const struct {
    const char* page;
    const char* link;
    const char* result;
  } cases[] = {
      {"http://host/docs/index.html", "guide.html", "host:80/docs/guide.html"},
      {"http://host/docs/index.html", "/img/logo.gif", "host:80/img/logo.gif"},
      {"http://host/index.html", "news.html", "host:80/news.html"},
      {"host:81/a/b/", "../c.html", "host:81/a/b/../c.html"},
      {"http://host/docs/x.html", "HTTP://other/", "HTTP://other/"},
      {"http://host/docs/x.html", "http://other", "http://other"},
      {"http://host/docs/x.html", "#top", "http://host/docs/x.html"},
      {"http://host/docs/x.html#a", "#b", "http://host/docs/x.html"},
      {"http://host/docs/x.html", "y.html#sec", "host:80/docs/y.html"},
      {"http://host/docs/x.html", "//other/p.html", "http://other/p.html"},
      {"https://host/docs/x.html", "//other/p.html", "https://other/p.html"},
      {"https://host/docs/x.html", "y.html", "https://host:443/docs/y.html"},
      {"https://host:8443/docs/x.html", "/y.html", "https://host:8443/y.html"},
      {"host:81/a/", "HtTpS://Other/", "HtTpS://Other/"},
      {"http://host/docs/x.html", "", "host:80/docs/"},
      {"http://host", "a.html", "host:80/a.html"},
      {"http://host:8080/", "ftp://x/y", "host:8080/ftp://x/y"},
      {"host:81/a/b/", "MAILTO:x@y", "host:81/a/b/MAILTO:x@y"},
  };
  for (const auto& c : cases) {
    TestCrawl t;
    EXPECT_STREQ(ResolveUrl(t.reporter, c.page, c.link), c.result) << c.page << " " << c.link;
  }
}

TEST(ResolveUrl, RefusesRunawayLength) {
  // "host:80/" + dir + "/" + link: 8 + dir + 1 + link characters.
  const struct {
    size_t dirLength;
    const char* link;
    bool refused;
  } cases[] = {
      {kMaxUrlLength - 15, "x.html", false},   // exactly the limit
      {kMaxUrlLength - 14, "x.html", true},    // one past it
      {kMaxUrlLength - 20, "/q.html", false},  // a root link drops the dir
      {kMaxUrlLength - 20, "next/page.html", true},
  };
  for (const auto& c : cases) {
    TestCrawl t;
    CStr page(("http://host/" + std::string(c.dirLength, 'd') + "/p.html").c_str());
    testing::internal::CaptureStdout();
    CStr resolved = ResolveUrl(t.reporter, page, c.link);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(resolved.IsEmpty(), c.refused) << c.dirLength << " " << c.link;
    EXPECT_EQ(t.Counts().errors, c.refused ? 1 : 0) << c.dirLength << " " << c.link;
    if (c.refused) {
      EXPECT_EQ(out.rfind("URL too long (", 0), 0u) << out;
    } else {
      EXPECT_LE(resolved.Length(), kMaxUrlLength);
      EXPECT_EQ(out, "");
    }
  }
}

TEST(StripCrLf, RemovesEveryLineEnd) {
  const struct {
    const char* line;
    const char* stripped;
  } cases[] = {
      {"Location: x\r", "Location: x"},
      {"a\r\nb", "ab"},
      {"a\rb\nc", "abc"},
      {"\r\n\r\n", ""},
      {"\n\nx\n", "x"},
      {"plain", "plain"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s", c.line);
    StripCrLf(buffer);
    EXPECT_STREQ(buffer, c.stripped) << c.line;
  }
}

TEST(SameDomain, RegistrableDomains) {
  const struct {
    const char* startHost;
    const char* urlHost;
    int same;
  } cases[] = {
      {"www.example.org", "docs.example.org", 1},
      {"www.example.org", "example.org", 1},
      {"example.com", "example.com", 1},
      {"example.com", "www.example.com", 1},
      {"example.com", "example.net", 0},
      {"a.b.co.uk", "c.d.co.uk", 0},
      {"a.b.co.uk", "x.b.co.uk", 1},
      {"WWW.Example.ORG", "docs.example.org", 1},
      {"www.example.org.", "docs.example.org", 1},
      {"localhost", "localhost", 1},
      {"localhost", "LocalHost", 1},
      {"localhost", "other", 0},
      {"127.0.0.1", "127.0.0.1", 1},
      {"127.0.0.1", "127.5.0.1", 0},
      {"10.1.2.3", "192.168.2.3", 0},
      {"a.github.io", "b.github.io", 0},
  };
  for (const auto& c : cases) {
    std::string label = std::string(c.startHost) + " vs " + c.urlHost;
    std::string url = std::string("http://") + c.urlHost + ":8080/x/y.html";
    EXPECT_EQ(SameDomain(url.c_str(), c.startHost), c.same) << label;
    // The URL's port and path play no part; nor does the scheme-less form.
    std::string bare = std::string(c.urlHost) + "/z";
    EXPECT_EQ(SameDomain(bare.c_str(), c.startHost), c.same) << label;
  }
}

}  // namespace
