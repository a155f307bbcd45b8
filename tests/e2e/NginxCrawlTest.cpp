// End-to-end crawls of the built ferret binary against a real nginx serving
// the bundled sample site on free loopback ports, over HTTP and HTTPS.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/e2e/NginxServer.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsTestClient.h"

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::vector<std::string> With(std::string first, const std::vector<std::string>& rest) {
  std::vector<std::string> all = {std::move(first)};
  all.insert(all.end(), rest.begin(), rest.end());
  return all;
}

const std::string kSite = std::string(FERRET_SOURCE_DIR) + "/examples/site";

class NginxCrawlTest : public testing::Test {
 protected:
  static constexpr int kRequestsPerConnection = 5;

  void SetUp() override {
    std::string binary = FindNginx();
    if (binary.empty()) GTEST_SKIP() << "nginx is not installed (apt-get install nginx-light)";
    nginx.EnableTls(TestPki().valid);
    // Connections are kept, but closed by the server every few requests,
    // and text is sent compressed: the crawls must not tell.
    nginx.SetKeepaliveRequests(kRequestsPerConnection);
    nginx.EnableGzip();
    ASSERT_TRUE(nginx.Start(binary, kSite)) << nginx.Log();
    host = "127.0.0.1:" + std::to_string(nginx.Port());
    tlsHost = "127.0.0.1:" + std::to_string(nginx.TlsPort());
    ASSERT_FALSE(workDir.empty());
  }
  // Runs in dir (the work directory when empty), trusting the test CA.
  ProcessResult Crawl(std::vector<std::string> args, const std::string& dir = "") {
    args.insert(args.begin(),
                {"/usr/bin/env", "SSL_CERT_FILE=" + TestPki().CaFile(), FERRET_BINARY});
    ProcessResult r = RunProcess(args, dir.empty() ? workDir : dir, 300);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    return r;
  }

  NginxServer nginx;
  std::string host;     // the HTTP site, "127.0.0.1:port"
  std::string tlsHost;  // the same site over HTTPS
  TempDir scratch{"ferret-saved"};
  const std::string& workDir = scratch.Path();
};

TEST_F(NginxCrawlTest, KeywordCrawlWithDepth) {
  ProcessResult r = Crawl({"http://" + host + "/", "-k", "polecat", "-d", "2", "-print", "-stat"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{host + "/gallery/", host + "/docs/mustelids.html",
                                      host + "/news/autumn-walk.html",
                                      "Saves(0) Prints(3) Hits(28) HTTP 200(100%) Errors(0)"}));
}

TEST_F(NginxCrawlTest, FileCrawlSavesTheServedBytes) {
  ProcessResult r = Crawl(
      {"http://" + host + "/", "-f", "\\.(gif|png|zip|txt)", "-download", "-create", "-stat"});
  const std::vector<std::string> saved = {"images/pawprint.gif", "files/club-kit.zip",
                                          "files/checklist.txt", "gallery/sable.png",
                                          "images/logo.png"};
  std::vector<std::string> expected;
  for (const std::string& path : saved) {
    expected.push_back("Saving " + host + "/" + path + " as " + path);
  }
  expected.push_back("Saves(5) Prints(0) Hits(6) HTTP 200(100%) Errors(0)");
  EXPECT_EQ(Lines(r.out), expected);
  for (const std::string& path : saved) {
    std::string served = ReadFile(kSite + "/" + path);
    ASSERT_FALSE(served.empty()) << path;
    EXPECT_EQ(ReadFile(workDir + "/" + path), served) << path;
  }
  ProcessResult files = RunProcess({"/usr/bin/find", ".", "-type", "f"}, workDir);
  EXPECT_EQ(Lines(files.out).size(), saved.size()) << files.out;
}

TEST_F(NginxCrawlTest, KeywordCrawlSavesFoundPagesIntoTheirDirectories) {
  ProcessResult r = Crawl({"http://" + host + "/", "-k", "polecat", "-d", "1", "-create"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Saving " + host + "/gallery/ as gallery/index.html"}));
  EXPECT_EQ(ReadFile(workDir + "/gallery/index.html"), ReadFile(kSite + "/gallery/index.html"));
}

// The HTTPS side serves the site's exact bytes under the test CA, so crawls
// over it can be compared with crawls over HTTP.
TEST_F(NginxCrawlTest, HttpsServesTheSiteUnderTheTestCa) {
  for (const std::string path : {"/docs/mustelids.html", "/images/pawprint.gif"}) {
    SCOPED_TRACE(path);
    TlsTestClient client(INADDR_LOOPBACK, nginx.TlsPort());
    ASSERT_EQ("", client.Handshake(TestPki().CaFile(), "127.0.0.1"));
    ASSERT_TRUE(client.Send("GET " + path + " HTTP/1.0\r\nHost: " + tlsHost + "\r\n\r\n"));
    std::string response = client.ReadAll();
    EXPECT_EQ(TlsTestClient::End::kCloseNotify, client.Ending()) << client.Error();
    EXPECT_EQ(0u, response.find("HTTP/1.1 200 OK\r\n")) << response;
    size_t body = response.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, body);
    std::string served = ReadFile(kSite + path);
    ASSERT_FALSE(served.empty());
    EXPECT_EQ(served, response.substr(body + 4));
  }
  // The HTTPS server presents the chosen certificate, not just any.
  TlsTestClient wrongName(INADDR_LOOPBACK, nginx.TlsPort());
  EXPECT_EQ("IP address mismatch", wrongName.Handshake(TestPki().CaFile(), "127.0.0.9"));
}

// The same crawl over HTTPS prints the same pages, each URL keeping its
// https:// scheme: with the site's URLs of either crawl brought to the
// scheme-less "127.0.0.1:port" form of the HTTP crawl, the outputs are equal.
TEST_F(NginxCrawlTest, HttpsCrawlPrintsTheSamePagesAsHttp) {
  const std::vector<std::vector<std::string>> runs = {
      {"-k", "polecat", "-d", "2", "-print", "-stat"},
      {"-f", ".", "-d", "3", "-print", "-stat"},
      {"-k", "polecat", "-d", "2", "-print", "-stat", "-text"},
      {"-f", ".", "-d", "3", "-print", "-stat", "-html"},
  };
  for (const std::vector<std::string>& args : runs) {
    SCOPED_TRACE(args[1] + " " + args.back());
    ProcessResult http = Crawl(With("http://" + host + "/", args));
    ProcessResult https = Crawl(With("https://" + tlsHost + "/", args));
    ASSERT_GE(Lines(http.out).size(), 4u) << http.out;
    EXPECT_EQ(ReplaceAll(https.out, "https://" + tlsHost + "/", "").find(tlsHost),
              std::string::npos)
        << https.out;
    EXPECT_EQ(ReplaceAll(https.out, "https://" + tlsHost + "/", host + "/"),
              ReplaceAll(http.out, "http://" + host + "/", host + "/"));
  }
}

// A crawl keeps its connections: over HTTP and HTTPS, -j 1 uses one
// connection until the server closes it after its kRequestsPerConnection
// requests, then the next; -j 4 uses at most a connection for each worker
// and the crawl itself at a time. Over HTTPS one full TLS handshake is made:
// every later connection resumes the session the server gave (with -j N,
// the connections begun before the first session came back make their own).
TEST_F(NginxCrawlTest, CrawlsKeepTheirConnectionsAndResumeTls) {
  for (bool tls : {false, true}) {
    for (const char* jobs : {"1", "4"}) {
      const std::string run = std::string(tls ? "https" : "http") + " -j " + jobs;
      SCOPED_TRACE(run);
      auto read = [this, tls] { return tls ? nginx.TlsLog() : nginx.ConnectionLog(); };
      std::string log = read();
      ProcessResult r = Crawl({(tls ? "https://" + tlsHost : "http://" + host) + "/", "-f", ".",
                               "-d", "2", "-print", "-j", jobs});
      nginx.AwaitLogged();
      std::string after = read();
      std::map<std::string, int> requests;  // by connection
      std::set<std::string> full;
      for (const std::string& line : Lines(after.substr(log.size()))) {
        std::istringstream fields(line);
        std::string connection, reused, alpn;
        fields >> connection >> reused >> alpn;
        ++requests[connection];
        if (!tls) continue;
        if (reused == ".") full.insert(connection);
        EXPECT_EQ(alpn, "http/1.1") << line;
      }
      size_t total = 0;
      for (const auto& one : requests) total += static_cast<size_t>(one.second);
      ASSERT_GE(total, 12u) << r.out;
      const size_t threads = jobs == std::string("1") ? 1 : std::stoul(jobs) + 1;
      // Each connection serves as many requests as nginx lets it, but for
      // one per thread that the crawl's end left short.
      const size_t fewest = (total + kRequestsPerConnection - 1) / kRequestsPerConnection;
      EXPECT_LE(requests.size(), fewest + threads) << total << " requests";
      EXPECT_GE(requests.size(), fewest);
      if (tls) {
        EXPECT_GE(full.size(), 1u);
        EXPECT_LE(full.size(), threads) << requests.size() << " connections";
      }
      std::printf("%s: %zu requests over %zu connections, %zu full TLS handshakes\n", run.c_str(),
                  total, requests.size(), full.size());
    }
  }
}

TEST_F(NginxCrawlTest, HttpsDownloadSavesTheSameBytesAsHttp) {
  TempDir httpsDir("ferret-saved-https");
  ASSERT_FALSE(httpsDir.Path().empty());
  const std::vector<std::string> args = {
      "-f", "\\.(gif|png|zip|txt|html)", "-d", "2", "-download", "-create", "-stat"};
  ProcessResult http = Crawl(With("http://" + host + "/", args));
  ProcessResult https = Crawl(With("https://" + tlsHost + "/", args), httpsDir.Path());
  EXPECT_EQ(ReplaceAll(https.out, "https://" + tlsHost + "/", host + "/"), http.out);
  std::vector<std::string> find = {"/bin/sh", "-c", "find . -type f | LC_ALL=C sort"};
  std::vector<std::string> saved = Lines(RunProcess(find, workDir).out);
  ASSERT_GE(saved.size(), 7u);
  EXPECT_EQ(Lines(RunProcess(find, httpsDir.Path()).out), saved);
  for (const std::string& path : saved) {
    std::string bytes = ReadFile(workDir + "/" + path);
    EXPECT_FALSE(bytes.empty()) << path;
    EXPECT_EQ(ReadFile(httpsDir.Path() + "/" + path), bytes) << path;
  }
}

// A crawl of an IPv6 literal is the crawl of the address, over HTTP and
// HTTPS: the same lines (the host written as "[::1]:port"), the same files
// saved, every request made over IPv6.
TEST(NginxIpv6Crawl, AnIpv6LiteralCrawlsAsAnIpv4AddressDoes) {
  std::string binary = FindNginx();
  if (binary.empty()) GTEST_SKIP() << "nginx is not installed (apt-get install nginx-light)";
  if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
  NginxServer nginx;
  nginx.EnableIpv6();
  nginx.EnableTls(TestPki().valid);
  ASSERT_TRUE(nginx.Start(binary, kSite)) << nginx.Log();
  const struct {
    std::string scheme;
    int port;
    std::vector<std::string> args;
  } runs[] = {
      {"http", nginx.Port(), {"-k", "polecat", "-d", "2", "-print", "-once", "-confine", "-stat"}},
      {"http", nginx.Port(), {"-f", ".", "-d", "2", "-print", "-stat", "-html", "-confine"}},
      {"http", nginx.Port(),
       {"-f", "\\.(gif|png|zip|txt)", "-d", "2", "-download", "-create", "-stat"}},
      {"https", nginx.TlsPort(), {"-k", "polecat", "-d", "2", "-print", "-once", "-stat"}},
  };
  for (const auto& run : runs) {
    const std::vector<std::string>& args = run.args;
    SCOPED_TRACE(run.scheme + " " + args[1] + " " + args.back());
    const std::string v4 = "127.0.0.1:" + std::to_string(run.port);
    const std::string v6 = "[::1]:" + std::to_string(run.port);
    auto crawl = [&](const std::string& host, const std::string& dir) {
      return RunProcess(With("/usr/bin/env",
                             With("SSL_CERT_FILE=" + TestPki().CaFile(),
                                  With(FERRET_BINARY, With(run.scheme + "://" + host + "/", args)))),
                        dir, 300);
    };
    TempDir dir4("ferret-v4"), dir6("ferret-v6");
    ProcessResult four = crawl(v4, dir4.Path());
    nginx.AwaitLogged();
    size_t logged = nginx.AccessLog().size();
    ProcessResult six = crawl(v6, dir6.Path());
    nginx.AwaitLogged();
    EXPECT_EQ(six.exitCode, four.exitCode);
    EXPECT_EQ(six.err, "");
    ASSERT_GE(Lines(four.out).size(), 3u) << four.out;
    EXPECT_EQ(six.out, ReplaceAll(four.out, v4, v6));
    std::vector<std::string> find = {"/bin/sh", "-c", "find . -type f | LC_ALL=C sort"};
    std::vector<std::string> saved = Lines(RunProcess(find, dir4.Path()).out);
    EXPECT_EQ(Lines(RunProcess(find, dir6.Path()).out), saved);
    for (const std::string& path : saved) {
      EXPECT_EQ(ReadFile(dir6.Path() + "/" + path), ReadFile(dir4.Path() + "/" + path)) << path;
    }
    std::vector<std::string> requests = Lines(nginx.AccessLog().substr(logged));
    ASSERT_GE(requests.size(), 2u);
    requests.pop_back();  // the marker's
    for (const std::string& line : requests) EXPECT_EQ(line.rfind("::1 ", 0), 0u) << line;
  }
}

// The HTML pages a server answered with 200 since `from` bytes of its log.
std::set<std::string> PagesServed(const std::string& log, size_t from) {
  std::set<std::string> pages;
  for (const std::string& line : Lines(log.substr(from))) {
    // ... "GET /path HTTP/1.1" 200 ...
    size_t get = line.find("\"GET ");
    if (get == std::string::npos) continue;
    size_t end = line.find(' ', get + 5);
    std::string path = line.substr(get + 5, end - get - 5);
    if (line.compare(line.find("\" ", end) + 2, 3, "200") != 0) continue;
    if (path.size() > 5 && path.compare(path.size() - 5, 5, ".html") == 0) pages.insert(path);
  }
  return pages;
}

// A real documentation tree, Debian's reference manual: from its index at
// depth 3 a -html crawl asks for every page that wget -r asks for, and
// -html -f saves the images of every page it walks, where the design's
// reading, whose file pattern also chooses the pages walked, saves only
// those of the start page.
TEST(NginxRealDocs, HtmlCrawlReachesWhatWgetReaches) {
  const std::string root = "/usr/share/debian-reference";
  std::string binary = FindNginx();
  if (binary.empty() || access((root + "/index.en.html").c_str(), R_OK) != 0 ||
      access("/usr/bin/wget", X_OK) != 0) {
    GTEST_SKIP() << "needs nginx-light, debian-reference-en and wget (scripts/packages test)";
  }
  NginxServer nginx;
  ASSERT_TRUE(nginx.Start(binary, root)) << nginx.Log();
  const std::string start = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/index.en.html";
  TempDir dir("ferret-realdocs");
  auto served = [&](const std::vector<std::string>& command) {
    size_t from = nginx.AccessLog().size();
    ProcessResult r = RunProcess(command, dir.Path(), 300);
    EXPECT_FALSE(r.timedOut) << command[0];
    nginx.AwaitLogged();
    return PagesServed(nginx.AccessLog(), from);
  };
  std::set<std::string> wget =
      served({"/usr/bin/wget", "-q", "-r", "-l", "3", "-P", dir.Path() + "/wget", start});
  std::set<std::string> html =
      served({FERRET_BINARY, start, "-d", "3", "-html", "-once", "-confine", "-stat"});
  EXPECT_GE(wget.size(), 10u);
  for (const std::string& page : wget) EXPECT_EQ(html.count(page), 1u) << page;

  size_t saves[2];
  for (int withHtml = 0; withHtml < 2; ++withHtml) {
    TempDir saved("ferret-realdocs-images");
    std::vector<std::string> command = {FERRET_BINARY, start, "-f", "\\.(png|gif|svg)$", "-d",
                                        "3", "-once", "-confine", "-download", "-create"};
    if (withHtml) command.push_back("-html");
    ProcessResult r = RunProcess(command, saved.Path(), 300);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    saves[withHtml] = Lines(r.out).size();
  }
  EXPECT_GE(saves[1], 5u);
  EXPECT_LT(saves[0], saves[1]);
}

}  // namespace
