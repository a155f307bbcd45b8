// End-to-end crawls of the built ferret binary with proxy variables set for
// it: the run reads them once, and every request, fetched ahead with -j or
// not, goes through the scripted proxy, or straight to the origin where the
// variables say so. Runs trust only the test CA.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedProxy.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"

namespace {

class ProxyCrawl : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(noCertificates.Path().empty()); }
  // Serves index.html, which links a.html and b.html; b.html lacks the keyword.
  void Site(ScriptedServer& origin) {
    origin.SetResponse("/index.html", HtmlResponse("ferret\n<a href=\"a.html\">a</a> "
                                                   "<a href=\"b.html\">b</a>\n"));
    origin.SetResponse("/a.html", HtmlResponse("ferret a\n"));
    origin.SetResponse("/b.html", HtmlResponse("b\n"));
  }
  // ferret with the variables (and the test CA) in its environment.
  ProcessResult Crawl(const std::vector<std::string>& variables, std::vector<std::string> args) {
    std::vector<std::string> command = {"/usr/bin/env", "SSL_CERT_FILE=" + TestPki().CaFile(),
                                        "SSL_CERT_DIR=" + noCertificates.Path()};
    command.insert(command.end(), variables.begin(), variables.end());
    command.push_back(FERRET_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    ProcessResult r = RunProcess(command, scratch.Path(), 120);
    EXPECT_FALSE(r.timedOut);
    return r;
  }

  TempDir scratch{"ferret-proxy-crawl"};
  TempDir noCertificates{"ferret-no-certs"};
};

// The request lines without their protocol version, sorted: -j may send
// them in any order.
std::vector<std::string> Targets(const std::vector<ScriptedProxy::Seen>& seen) {
  std::vector<std::string> lines;
  for (const ScriptedProxy::Seen& each : seen) {
    lines.push_back(each.requestLine.substr(0, each.requestLine.rfind(' ')));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST_F(ProxyCrawl, TheEnvironmentChoosesTheProxy) {
  const struct {
    const char* name;
    bool secure;
    std::vector<std::string> variables;  // "@" stands for the proxy's host:port
    const char* jobs;
    bool proxied;
    const char* authorization;
  } rows[] = {
      {"http_proxy", false, {"http_proxy=@"}, "1", true, ""},
      {"http_proxy, fetched ahead", false, {"http_proxy=http://@/"}, "3", true, ""},
      {"HTTP_PROXY is not read", false, {"HTTP_PROXY=@"}, "1", false, ""},
      {"no_proxy", false, {"http_proxy=@", "no_proxy=example.org,127.0.0.1"}, "2", false, ""},
      {"https_proxy with credentials, fetched ahead",
       true,
       {"https_proxy=http://user:pass@@"},
       "2",
       true,
       "Basic dXNlcjpwYXNz"},
      {"HTTPS_PROXY", true, {"HTTPS_PROXY=@"}, "1", true, ""},
      {"NO_PROXY", true, {"HTTPS_PROXY=@", "NO_PROXY=127.0.0.0/8"}, "1", false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer origin;
    if (row.secure) origin.EnableTls(TestPki().valid);
    Site(origin);
    ScriptedProxy proxy;
    std::vector<std::string> variables;
    for (std::string variable : row.variables) {
      size_t at = variable.rfind('@');
      if (at != std::string::npos) variable.replace(at, 1, proxy.HostPort());
      variables.push_back(variable);
    }
    ProcessResult r = Crawl(variables, {origin.Url("/index.html"), "-k", "ferret", "-d", "1",
                                        "-print", "-stat", "-j", row.jobs});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // Links are printed scheme-less on an http page.
    std::string linkA = row.secure ? origin.Url("/a.html") : origin.HostPort() + "/a.html";
    EXPECT_EQ(Lines(r.out),
              (std::vector<std::string>{origin.Url("/index.html"), linkA,
                                        "Saves(0) Prints(2) Hits(3) HTTP 200(100%) Errors(0)"}));
    EXPECT_EQ(origin.Requests().size(), 3u);
    std::vector<std::string> expected;
    if (row.proxied && row.secure) expected.assign(3, "CONNECT " + origin.HostPort());
    if (row.proxied && !row.secure) {
      for (const char* page : {"/a.html", "/b.html", "/index.html"}) {
        expected.push_back("GET " + origin.Url(page));
      }
    }
    EXPECT_EQ(Targets(proxy.Requests()), expected);
    for (const ScriptedProxy::Seen& seen : proxy.Requests()) {
      EXPECT_EQ(seen.authorization, row.authorization);
    }
  }
}

}  // namespace
