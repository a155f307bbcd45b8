// Fetches through ConnectVia: the scripted proxy forwards absolute-form
// requests and tunnels CONNECT to scripted origins, all on loopback; TLS is
// checked against the origin's certificate, trusted through the test CA.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <string>

#include "net/Connector.h"
#include "net/HttpRequest.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ParsedUrl.h"
#include "tests/support/ScriptedProxy.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"

namespace {

const char kPath[] = "/dir/page?q=1";
const char kBody[] = "through the proxy\n";

// The body of an answered fetch; "" (and a failed test) otherwise.
std::string BodyOf(FetchOutcome& outcome) {
  EXPECT_EQ(outcome.status, FetchStatus::kAnswered) << static_cast<int>(outcome.failure.kind);
  if (outcome.body == nullptr) return std::string();
  std::istream& in = outcome.body->Stream();
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The settings of a run whose proxy for url's scheme is setting.
ProxySettings ProxyFor(bool secure, const std::string& setting, const std::string& noProxy = "") {
  return secure ? ProxySettings("", setting, noProxy) : ProxySettings(setting, "", noProxy);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

class ProxyFetch : public testing::Test {
 protected:
  // Read once, when the first TLS connection is made.
  void SetUp() override { ASSERT_EQ(setenv("SSL_CERT_FILE", TestPki().CaFile().c_str(), 1), 0); }
};

TEST_F(ProxyFetch, PagesComeThroughTheProxy) {
  const struct {
    const char* name;
    bool secure;
    const char* before;  // what comes before the proxy's address in the setting
    const char* proxyHost;
    const char* authorization;
  } rows[] = {
      {"http", false, "", "127.0.0.1", ""},
      {"http with credentials", false, "http://Aladdin:open%20sesame@", "127.0.0.1",
       "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
      {"http, the proxy's name looked up", false, "http://", "localhost", ""},
      {"https", true, "", "127.0.0.1", ""},
      {"https with credentials", true, "us%40er:pw@", "127.0.0.1", "Basic dXNAZXI6cHc="},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer origin;
    if (row.secure) origin.EnableTls(TestPki().valid);
    origin.SetResponse(kPath, HtmlResponse(kBody));
    ScriptedProxy proxy;
    std::string setting =
        std::string(row.before) + row.proxyHost + ":" + std::to_string(proxy.Port());
    FetchOutcome outcome = Fetch(ParsedUrl(origin.Url(kPath)), FetchPolicy(),
                                 ConnectVia(ProxyFor(row.secure, setting)));
    EXPECT_EQ(BodyOf(outcome), kBody);
    std::vector<ScriptedProxy::Seen> seen = proxy.Requests();
    ASSERT_EQ(seen.size(), 1u);
    if (row.secure) {
      EXPECT_EQ(seen[0].requestLine, "CONNECT " + origin.HostPort() + " HTTP/1.1");
      EXPECT_EQ(origin.Handshakes(), 1u);
    } else {
      EXPECT_TRUE(StartsWith(seen[0].requestLine, "GET " + origin.Url(kPath) + " HTTP/1."))
          << seen[0].requestLine;
    }
    EXPECT_EQ(seen[0].authorization, row.authorization);
    // The origin is asked in origin form, for its own authority; through a
    // tunnel, the proxy's credentials never reach it.
    ASSERT_EQ(origin.Requests().size(), 1u);
    const std::string request = origin.Requests()[0];
    EXPECT_TRUE(StartsWith(request, std::string("GET ") + kPath + " HTTP/1.")) << request;
    EXPECT_NE(request.find("\r\nHost: " + origin.HostPort() + "\r\n"), std::string::npos);
    if (row.secure) {
      EXPECT_EQ(request.find("Proxy-Authorization"), std::string::npos);
    }
  }
}

TEST_F(ProxyFetch, FailuresNameTheProxy) {
  ScriptedServer origin;  // over TLS, trusted
  origin.EnableTls(TestPki().valid);
  ScriptedServer plainOrigin;
  ScriptedServer wrongName;  // over TLS, for other.example only
  wrongName.EnableTls(TestPki().otherName);
  ScriptedProxy refusing407, refusing403, forwarding;
  refusing407.Refuse(HttpResponse("HTTP/1.1 407 Proxy Authentication Required",
                                  {"Proxy-Authenticate: Basic realm=\"test\"", "Content-Length: 0"},
                                  ""));
  refusing403.Refuse(HttpResponse("HTTP/1.1 403 Forbidden", {"Content-Length: 0"}, ""));
  RefusedPort notListening;
  // Proxies that answer CONNECT wrongly, one connection each, in row order.
  ScriptedServer odd;
  odd.AddScript(ConnectionScript().ReceiveOnce().Send("HTTP/1.1 200 OK\r\n\r\n\x16\x03\x01"));
  odd.AddScript(ConnectionScript().ReceiveOnce().Close());
  odd.AddScript(ConnectionScript().ReceiveOnce().Send("hello\r\n\r\n"));
  const std::string tls = origin.Url("/"), plain = plainOrigin.Url("/");
  const struct {
    const char* name;
    std::string setting;
    std::string url;
    FailureKind kind;
    std::string host;
    int port;
    int status;
    int systemError;
    std::string detail;
  } rows[] = {
      {"407 to CONNECT", refusing407.HostPort(), tls, FailureKind::kProxyFailed, "127.0.0.1",
       refusing407.Port(), 407, 0, ""},
      {"403 to CONNECT", refusing403.HostPort(), tls, FailureKind::kProxyFailed, "127.0.0.1",
       refusing403.Port(), 403, 0, ""},
      // The proxy's own answer to a plain request is the HTTP answer.
      {"407 to GET", refusing407.HostPort(), plain, FailureKind::kHttpError, "", 0, 407, 0, ""},
      {"not listening", "127.0.0.1:" + std::to_string(notListening.Port()), tls,
       FailureKind::kProxyFailed, "127.0.0.1", notListening.Port(), 0, ECONNREFUSED, ""},
      {"bytes after 200", odd.HostPort(), tls, FailureKind::kProxyFailed, "127.0.0.1", odd.Port(),
       0, 0, "bytes after its answer to CONNECT"},
      {"closed at once", odd.HostPort(), tls, FailureKind::kProxyFailed, "127.0.0.1", odd.Port(), 0,
       0, "closed the connection without answering CONNECT"},
      {"no status line", odd.HostPort(), tls, FailureKind::kProxyFailed, "127.0.0.1", odd.Port(), 0,
       0, "an answer to CONNECT without a status"},
      // The certificate is checked for the origin, not the proxy.
      {"origin's certificate for another name", forwarding.HostPort(), wrongName.Url("/"),
       FailureKind::kTlsFailed, "127.0.0.1", wrongName.Port(), 0, 0, ""},
      {"TLS to the proxy", "https://" + forwarding.HostPort(), tls, FailureKind::kBadProxy,
       "https_proxy", 0, 0, 0, "an https:// proxy (TLS to the proxy) is not supported"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    bool secure = StartsWith(row.url, "https://");
    FetchOutcome outcome =
        Fetch(ParsedUrl(row.url), FetchPolicy(), ConnectVia(ProxyFor(secure, row.setting)));
    ASSERT_EQ(outcome.status, FetchStatus::kFailed);
    const Failure& failure = outcome.failure;
    EXPECT_EQ(static_cast<int>(failure.kind), static_cast<int>(row.kind));
    EXPECT_EQ(std::string(failure.url), row.url);
    EXPECT_EQ(failure.status, row.status);
    EXPECT_EQ(failure.systemError, row.systemError);
    if (row.kind == FailureKind::kHttpError) continue;
    EXPECT_EQ(std::string(failure.host), row.host);
    EXPECT_EQ(failure.port, row.port);
    if (row.kind == FailureKind::kTlsFailed) {
      EXPECT_FALSE(failure.detail.IsEmpty());  // the TLS library's reason
    } else {
      EXPECT_EQ(std::string(failure.detail), row.detail);
    }
  }
  // Nothing reached the origins the proxies turned away.
  EXPECT_EQ(origin.Accepted(), 0u);
  EXPECT_EQ(plainOrigin.Accepted(), 0u);
  EXPECT_EQ(wrongName.Handshakes(), 0u);
  EXPECT_EQ(forwarding.Requests().size(), 1u);
}

TEST_F(ProxyFetch, NoProxyGoesDirect) {
  const struct {
    const char* noProxy;
    bool secure;
    bool direct;
  } rows[] = {
      {"127.0.0.1", false, true}, {"127.0.0.0/8", false, true},
      {"*", false, true},         {"localhost, 127.0.0.1:9", false, true},
      {"127.0.0.1", true, true},  {"127.0.0.2", false, false},
      {"0.0.1", false, false},    {"localhost", true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.noProxy) + (row.secure ? " https" : " http"));
    ScriptedServer origin;
    if (row.secure) origin.EnableTls(TestPki().valid);
    origin.SetResponse(kPath, HtmlResponse(kBody));
    ScriptedProxy proxy;
    FetchOutcome outcome = Fetch(ParsedUrl(origin.Url(kPath)), FetchPolicy(),
                                 ConnectVia(ProxyFor(row.secure, proxy.HostPort(), row.noProxy)));
    EXPECT_EQ(BodyOf(outcome), kBody);
    EXPECT_EQ(proxy.Accepted(), row.direct ? 0u : 1u);
    ASSERT_EQ(origin.Requests().size(), 1u);
    EXPECT_TRUE(StartsWith(origin.Requests()[0], std::string("GET ") + kPath + " HTTP/1."));
  }
}

}  // namespace
