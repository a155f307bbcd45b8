#include <gtest/gtest.h>

#include <string>

#include "app/Confine.h"
#include "app/FailureText.h"
#include "net/StreamRead.h"
#include "net/Url.h"
#include "tests/support/ParsedUrl.h"

namespace {

// The line a URL problem is reported with.
std::string Reported(const UrlProblem& problem) { return std::string(FailureText(problem).line); }

// text resolved on the page pageText as the crawl resolves a link; empty
// with *line set when it is refused.
CStr Resolved(const char* pageText, const char* link, std::string* line) {
  Url page, target;
  UrlProblem problem;
  EXPECT_TRUE(page.Parse(pageText, &problem)) << pageText;
  if (page.Resolve(link, &target, &problem)) return target.Text();
  *line = Reported(problem);
  return CStr();
}

TEST(StartUrl, HowTheGroupsFall) {
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
    Url url;
    UrlProblem problem;
    ASSERT_TRUE(url.Parse(c.url, &problem)) << c.url;
    EXPECT_STREQ(url.Host(), c.host) << c.url;
    EXPECT_EQ(url.Port(), c.port) << c.url;
    EXPECT_STREQ(url.Dir(), c.dir) << c.url;
    EXPECT_STREQ(url.File(), c.file) << c.url;
  }
}

TEST(StartUrl, PortsOutsideTheRangeAreBad) {
  const char* bad[] = {"host:0/",     "https://host:0/x",        "host:65536/",
                       "host:65617/", "http://host:4294967376/", "host:99999999999/"};
  for (const char* url : bad) {
    Url parsed;
    UrlProblem problem;
    EXPECT_FALSE(parsed.Parse(url, &problem)) << url;
    EXPECT_EQ(Reported(problem), std::string("Bad URL '") + url + "'");
  }
}

TEST(StartUrl, CallersStringIsNeverChanged) {
  CStr url("http://host");
  CStr shared(url);
  Url parsed;
  UrlProblem problem;
  parsed.Parse(url, &problem);
  EXPECT_STREQ(url, "http://host");
  EXPECT_STREQ(shared, "http://host");
}

TEST(LinkResolution, AgainstThePage) {
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
    std::string line;
    EXPECT_STREQ(Resolved(c.page, c.link, &line), c.result) << c.page << " " << c.link;
    EXPECT_EQ(line, "") << c.page << " " << c.link;
  }
}

TEST(LinkResolution, RefusesRunawayLength) {
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
    std::string page = "http://host/" + std::string(c.dirLength, 'd') + "/p.html";
    std::string out;
    CStr resolved = Resolved(page.c_str(), c.link, &out);
    EXPECT_EQ(resolved.IsEmpty(), c.refused) << c.dirLength << " " << c.link;
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
      {"127.0.0.1", "127.0.0.1.", 1},
      {"127.0.0.1", "localhost", 0},
      {"127.0.0.1", "x.127.0.0.1", 0},
      {"10.1.2.3", "192.168.2.3", 0},
      {"a.github.io", "b.github.io", 0},
  };
  for (const auto& c : cases) {
    std::string label = std::string(c.startHost) + " vs " + c.urlHost;
    std::string url = std::string("http://") + c.urlHost + ":8080/x/y.html";
    EXPECT_EQ(SameDomainHost(ParsedUrl(url).Host(), c.startHost), c.same) << label;
    // The URL's port and path play no part; nor does the scheme-less form.
    std::string bare = std::string(c.urlHost) + "/z";
    EXPECT_EQ(SameDomainHost(ParsedUrl(bare).Host(), c.startHost), c.same) << label;
    // Asked of one start host many times, with its domain worked out once.
    SameDomainAs sameDomain(c.startHost);
    EXPECT_EQ(sameDomain(ParsedUrl(url).HostView()), c.same != 0) << label;
    EXPECT_EQ(sameDomain(ParsedUrl(url).HostView()), c.same != 0) << label << ", asked again";
  }
}

}  // namespace
