// End-to-end crawls of the built ferret binary over HTTPS against the scripted
// loopback server with the test certificates: what is printed, saved and
// requested, which certificates are refused, and how a cut connection ends.
//
// Every run trusts only the test CA: SSL_CERT_FILE names it and SSL_CERT_DIR
// names an empty directory, so no system certificate takes part.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"

namespace {

// Bytes of every value, so that a save that drops, adds or translates a byte
// shows; longer than one TLS record (16 KiB), so records are joined too.
std::string BinaryBody(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
  return bytes;
}

// Equal bytes; on failure the lengths and the first differing offset, not
// the bytes themselves.
testing::AssertionResult SameBytes(const std::string& got, const std::string& wanted) {
  if (got == wanted) return testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < wanted.size() && got[at] == wanted[at]) ++at;
  return testing::AssertionFailure() << got.size() << " bytes where " << wanted.size()
                                     << " were wanted; they differ from offset " << at;
}

class HttpsCrawlTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(workDir.empty());
    ASSERT_FALSE(noCertificates.Path().empty());
    server.EnableTls(TestPki().valid);
    server.SetDefaultResponse(NotFoundResponse());
  }
  ProcessResult Crawl(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/env", "SSL_CERT_FILE=" + TestPki().CaFile(),
                               "SSL_CERT_DIR=" + noCertificates.Path(), FERRET_BINARY});
    ProcessResult r = RunProcess(args, workDir, 120);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, expectedExit) << r.err;
    return r;
  }
  int expectedExit = 0;  // 1 once the run counts an error
  void Page(const std::string& path, const std::string& html) {
    server.SetResponse(path, HtmlResponse(html));
  }
  // How the crawler prints a URL of the TLS server: always with its scheme.
  std::string S(const std::string& path) { return server.Url(path); }
  std::vector<std::string> SavedFiles() {
    return Lines(RunProcess({"/usr/bin/find", ".", "-type", "f"}, workDir).out);
  }

  ScriptedServer server;
  TempDir scratch{"ferret-https-crawl"};
  TempDir noCertificates{"ferret-no-certs"};
  const std::string& workDir = scratch.Path();
};

TEST_F(HttpsCrawlTest, RelativeAndAbsoluteLinksKeepTheScheme) {
  const std::string hostPort = server.HostPort();
  Page("/index.html", "<p>ferret home</p>\n<a href=\"docs/a.html\">a</a>\n<a href=\"https://" +
                          hostPort + "/b.html\">b</a> <a href=\"//" + hostPort +
                          "/c.html\">c</a>\n");
  Page("/docs/a.html", "ferret a\n<a href=\"/d.html\">d</a> <a href=\"e.html#part\">e</a>\n");
  Page("/b.html", "no keyword here\n");
  Page("/c.html", "ferret c\n");
  Page("/d.html", "ferret d\n");
  Page("/docs/e.html", "ferret e\n");
  ProcessResult r = Crawl({S("/index.html"), "-k", "ferret", "-d", "2", "-print", "-stat"});
  EXPECT_EQ(r.err, "");
  // Last link first, depth-first; the fragment is not requested.
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{S("/index.html"), S("/c.html"), S("/docs/a.html"),
                                      S("/docs/e.html"), S("/d.html"),
                                      "Saves(0) Prints(5) Hits(6) HTTP 200(100%) Errors(0)"}));
  EXPECT_EQ(server.RequestPaths(),
            (std::vector<std::string>{"/index.html", "/c.html", "/b.html", "/docs/a.html",
                                      "/docs/e.html", "/d.html"}));
  // Every request went over TLS and names the host with its port (not 443).
  EXPECT_EQ(server.Handshakes(), 6u);
  for (const std::string& request : server.Requests()) {
    EXPECT_NE(request.find("\r\nHost: " + hostPort + "\r\n"), std::string::npos) << request;
  }
}

TEST_F(HttpsCrawlTest, RedirectsBetweenSchemesAreFollowedAndCounted) {
  ScriptedServer plain;
  plain.SetDefaultResponse(NotFoundResponse());
  plain.SetResponse("/start", RedirectResponse(S("/secure.html")));
  Page("/secure.html", "ferret\n<a href=\"/back\">back</a>\n");
  server.SetResponse("/back", RedirectResponse(plain.Url("/plain.html")));
  plain.SetResponse("/plain.html", HtmlResponse("ferret\n<a href=\"next.html\">n</a>\n"));
  plain.SetResponse("/next.html", HtmlResponse("ferret\n"));
  ProcessResult r = Crawl({plain.Url("/start"), "-k", "ferret", "-d", "3", "-print", "-stat"});
  EXPECT_EQ(r.err, "");
  // Pages print under the redirect targets; a link on the http page is
  // resolved to the scheme-less form. Five headers, three answers: 60%.
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{S("/secure.html"), plain.Url("/plain.html"),
                                      plain.HostPort() + "/next.html",
                                      "Saves(0) Prints(3) Hits(5) HTTP 200(60%) Errors(0)"}));
  EXPECT_EQ(plain.RequestPaths(),
            (std::vector<std::string>{"/start", "/plain.html", "/next.html"}));
  EXPECT_EQ(server.RequestPaths(), (std::vector<std::string>{"/secure.html", "/back"}));
}

// A page links a file on a server that fails the TLS check, then a file on a
// good one. The failure is one error line and one error; nothing of the bad
// server is read, requested or saved, and the crawl goes on. The runs read an
// OpenSSL configuration at security level 0, as on a system set up to allow
// old protocols: what is refused is refused by ferret itself.
TEST_F(HttpsCrawlTest, RefusedServersAreOneErrorAndNothingSaved) {
  const std::string zip = BinaryBody(3000);
  server.SetResponse("/ok.zip", FileResponse(zip, "application/zip"));
  TempDir config("ferret-openssl-config");
  const std::string lenient = config.Path() + "/openssl.cnf";
  const std::string settings =
      "openssl_conf = lenient\n[lenient]\nssl_conf = ssl\n[ssl]\n"
      "system_default = defaults\n[defaults]\nCipherString = DEFAULT@SECLEVEL=0\n";
  std::ofstream(lenient) << settings;
  ASSERT_EQ(ReadFile(lenient), settings);
  const TlsVersions modern = TlsVersions::kTls12AndLater;
  const struct {
    const char* name;
    const TestCertificate* certificate;  // null: a plain HTTP server
    TlsVersions versions;
    const char* host;  // the bad server's name in the link
    const char* reason;
  } cases[] = {
      {"expired", &TestPki().expired, modern, "127.0.0.1", "certificate has expired"},
      {"self-signed", &TestPki().selfSigned, modern, "127.0.0.1", "self-signed certificate"},
      {"other name", &TestPki().otherName, modern, "127.0.0.1", "IP address mismatch"},
      {"other name, asked by name", &TestPki().otherName, modern, "localhost", "hostname mismatch"},
      {"TLS 1.1 only", &TestPki().valid, TlsVersions::kTls11Only, "127.0.0.1",
       "tlsv1 alert protocol version"},
      {"plain HTTP", nullptr, modern, "127.0.0.1", "wrong version number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir("ferret-https-refused");
    ScriptedServer bad;
    int plainId = -1;
    if (c.certificate != nullptr) {
      bad.EnableTls(*c.certificate, c.versions);
      bad.SetDefaultResponse(FileResponse("secret", "application/zip"));
    } else {
      plainId = bad.AddScript(
          ConnectionScript().ReceiveOnce().Send(FileResponse("secret", "application/zip")));
    }
    Page("/", "<a href=\"ok.zip\">ok</a> <a href=\"https://" + std::string(c.host) + ":" +
                  std::to_string(bad.Port()) + "/bad.zip\">bad</a>\n");
    std::vector<std::string> args = {"/usr/bin/env",
                                     "SSL_CERT_FILE=" + TestPki().CaFile(),
                                     "SSL_CERT_DIR=" + noCertificates.Path(),
                                     "OPENSSL_CONF=" + lenient,
                                     FERRET_BINARY,
                                     S("/"),
                                     "-f",
                                     "zip",
                                     "-download",
                                     "-stat"};
    ProcessResult r = RunProcess(args, dir.Path(), 120);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);  // errors were counted
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Lines(r.out),
              (std::vector<std::string>{"TLS error with " + std::string(c.host) + ": " + c.reason,
                                        "Saving " + S("/ok.zip") + " as ok.zip",
                                        "Saves(1) Prints(0) Hits(2) HTTP 200(100%) Errors(1)"}));
    EXPECT_TRUE(SameBytes(ReadFile(dir.Path() + "/ok.zip"), zip));
    EXPECT_EQ(Lines(RunProcess({"/usr/bin/find", ".", "-type", "f"}, dir.Path()).out),
              (std::vector<std::string>{"./ok.zip"}));
    if (c.certificate != nullptr) {
      // The client refused the handshake: the server saw it fail, no request.
      EXPECT_TRUE(bad.WaitForHandshakes(1));
      EXPECT_EQ(bad.Handshakes(), 0u);
      EXPECT_EQ(bad.HandshakeErrors().size(), 1u);
      EXPECT_TRUE(bad.Requests().empty());
    } else {
      // No fallback to plain HTTP: only a TLS hello went out, never a GET.
      EXPECT_TRUE(bad.WaitUntilDone(plainId));
      EXPECT_EQ(bad.Received(plainId).find("GET "), std::string::npos);
    }
    EXPECT_EQ(bad.Accepted(), 1u);
  }
}

// A connection reset in the middle of a body: what came before it is used
// (links found, bytes saved) and the crawl goes on with the next link.
TEST_F(HttpsCrawlTest, ResetMidBodyEndsThatPageOnly) {
  const std::string body = BinaryBody(40000);
  const std::string sent = body.substr(0, 20000);
  int index = server.AddScript(ConnectionScript().ReceiveOnce().Send(
      HtmlResponse("<a href=\"after.bin\">a</a>\n<a href=\"cut.bin\">c</a>\n")));
  int cut = server.AddScript(
      ConnectionScript()
          .ReceiveOnce()
          .Send(HttpResponse("HTTP/1.0 200 OK",
                             {"Content-Type: application/octet-stream", "Content-Length: 40000"},
                             sent))
          .Abort());
  server.SetResponse("/after.bin", FileResponse(body, "application/octet-stream"));
  expectedExit = 1;
  ProcessResult r = Crawl({S("/index.html"), "-f", "\\.bin", "-download", "-print"});
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 4u) << r.out;
  // The body cut by the reset is an error, not a save, and leaves no file
  // behind.
  EXPECT_EQ(lines.front(), "Error 104 reading " + S("/cut.bin"));
  EXPECT_EQ(r.out.find("Saving " + S("/cut.bin")), std::string::npos) << r.out;
  EXPECT_EQ(
      std::vector<std::string>(lines.end() - 2, lines.end()),
      (std::vector<std::string>{"Saving " + S("/after.bin") + " as after.bin", S("/after.bin")}));
  EXPECT_EQ(ReadFile(workDir + "/cut.bin"), "");
  EXPECT_TRUE(SameBytes(ReadFile(workDir + "/after.bin"), body));
  // Scripted connections log no requests; the plain one does.
  EXPECT_EQ(server.Received(index).find("GET /index.html HTTP/1.1\r\n"), 0u);
  EXPECT_EQ(server.Received(cut).find("GET /cut.bin HTTP/1.1\r\n"), 0u);
  EXPECT_EQ(server.RequestPaths(), (std::vector<std::string>{"/after.bin"}));
}

// A body that ends before its Content-Length, by a reset or by a close
// without TLS close_notify (a truncation), is a failed transfer: the user is
// told and it counts as an error (the scan then fetches the start URL whole).
TEST_F(HttpsCrawlTest, BodyCutShortIsReportedAsAnError) {
  expectedExit = 1;
  const std::string header =
      "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
      "Content-Length: 40000\r\n\r\n";
  const std::string sent = BinaryBody(20000);
  const struct {
    const char* name;
    ConnectionScript script;
    const char* report;
  } cases[] = {
      {"reset", ConnectionScript().ReceiveOnce().Send(header + sent).Abort(), "Error 104 reading "},
      {"truncated", ConnectionScript().ReceiveOnce().Send(header + sent).CloseWithoutNotify(),
       "Transfer cut short at 20000 of 40000 bytes: "},
  };
  // With no pattern the start URL is saved first (the scripted connection),
  // then read again whole for the scan.
  server.SetResponse("/cut.bin", FileResponse(sent, "application/octet-stream"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.AddScript(c.script);
    ProcessResult r = Crawl({S("/cut.bin"), "-download", "-stat"});
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(r.out.find(c.report + S("/cut.bin") + "\n"), std::string::npos) << r.out;
    EXPECT_NE(lines.back().find("Errors(1)"), std::string::npos) << r.out;
  }
  // Without a Content-Length, a close without close_notify is the body's end,
  // as HTTP/1.0 has it: many servers close that way.
  expectedExit = 0;
  server.AddScript(ConnectionScript()
                       .ReceiveOnce()
                       .Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + sent)
                       .CloseWithoutNotify());
  ProcessResult whole = Crawl({S("/cut.bin"), "-download", "-stat"});
  EXPECT_EQ(Lines(whole.out).back(), "Saves(1) Prints(0) Hits(2) HTTP 200(100%) Errors(0)");
  EXPECT_TRUE(SameBytes(ReadFile(workDir + "/cut.bin"), sent));
}

TEST_F(HttpsCrawlTest, CreateSavesTheBytesIntoTheirDirectories) {
  const std::string logo = BinaryBody(50000);
  const std::string kit = BinaryBody(700);
  Page("/index.html", "<img src=\"/img/deep/logo.png\">\n<a href=\"files/kit.zip\">kit</a>\n");
  server.SetResponse("/img/deep/logo.png", FileResponse(logo, "image/png"));
  server.SetResponse("/files/kit.zip", FileResponse(kit, "application/zip"));
  ProcessResult r =
      Crawl({S("/index.html"), "-f", "\\.(png|zip)", "-download", "-create", "-stat"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Saving " + S("/files/kit.zip") + " as files/kit.zip",
                                      "Saving " + S("/img/deep/logo.png") + " as img/deep/logo.png",
                                      "Saves(2) Prints(0) Hits(3) HTTP 200(100%) Errors(0)"}));
  EXPECT_TRUE(SameBytes(ReadFile(workDir + "/files/kit.zip"), kit));
  EXPECT_TRUE(SameBytes(ReadFile(workDir + "/img/deep/logo.png"), logo));
  EXPECT_EQ(SavedFiles().size(), 2u);
}

TEST_F(HttpsCrawlTest, ConfineKeepsToTheStartHost) {
  ScriptedServer other("127.0.0.2");
  other.EnableTls(TestPki().valid);
  other.SetDefaultResponse(HtmlResponse("ferret\n"));
  Page("/", "ferret\n<a href=\"https://" + other.HostPort() +
                "/x.html\">other</a>\n<a href=\"local.html\">here</a>\n");
  Page("/local.html", "ferret\n");
  ProcessResult r = Crawl({S("/"), "-k", "ferret", "-d", "1", "-confine", "-print", "-stat"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{S("/"), S("/local.html"),
                                      "Saves(0) Prints(2) Hits(2) HTTP 200(100%) Errors(0)"}));
  EXPECT_EQ(other.Accepted(), 0u);
}

}  // namespace
