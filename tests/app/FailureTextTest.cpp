// The words for each kind of failure, and the reason that goes to standard
// error with them.
#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/FailureText.h"

namespace {

TEST(FailureText, EachKindHasItsLineAndReason) {
  const char* url = "http://site.test/p";
  auto make = [url](FailureKind kind) {
    Failure failure;
    failure.kind = kind;
    failure.url = url;
    failure.host = "site.test";
    failure.port = 8080;
    return failure;
  };
  Failure bad = make(FailureKind::kBadUrl);
  bad.url = "x:0/";
  Failure tooLong = make(FailureKind::kUrlTooLong);
  tooLong.url = ("site.test:80/" + std::string(9000, 'a')).c_str();
  Failure refused = make(FailureKind::kConnectFailed);
  refused.systemError = ECONNREFUSED;
  Failure unresolved = make(FailureKind::kConnectFailed);
  unresolved.systemError = EAI_NONAME;
  Failure noReason = make(FailureKind::kConnectFailed);
  Failure ipv6 = make(FailureKind::kConnectFailed);
  ipv6.host = "::1";
  ipv6.url = "http://[::1]:8080/";
  ipv6.port = 8080;
  ipv6.systemError = ECONNREFUSED;
  Failure tls = make(FailureKind::kTlsFailed);
  tls.detail = "certificate has expired";
  Failure status = make(FailureKind::kHttpError);
  status.status = 503;
  Failure timedOut = make(FailureKind::kTimedOut);
  timedOut.systemError = EAGAIN;
  Failure reset = make(FailureKind::kReceiveFailed);
  reset.systemError = ECONNRESET;
  Failure cut = make(FailureKind::kCutShort);
  cut.bytesRead = 5000000000ull;
  cut.bytesExpected = 6000000000ll;
  Failure zero = make(FailureKind::kHttpError);
  Failure low = make(FailureKind::kHttpError);
  low.status = 99;
  Failure badLength = make(FailureKind::kBadLength);
  badLength.detail = "-1";
  Failure hostileLength = make(FailureKind::kBadLength);
  hostileLength.detail = ("\x1b[2J\x9b" + std::string(70, '9')).c_str();
  Failure conflicting = make(FailureKind::kConflictingLength);
  conflicting.detail = "5, 6";
  Failure scheme = make(FailureKind::kRedirectScheme);
  scheme.detail = "file";
  // Proxies: host and port are the proxy's.
  Failure proxy = make(FailureKind::kProxyFailed);
  proxy.url = "https://site.test/p";
  proxy.host = "proxy.test";
  proxy.port = 3128;
  Failure proxyRefused = proxy;
  proxyRefused.systemError = ECONNREFUSED;
  Failure proxyUnresolved = proxy;
  proxyUnresolved.systemError = EAI_NONAME;
  Failure proxyNoReason = proxy;
  Failure proxyStatus = proxy;
  proxyStatus.status = 407;
  Failure proxyDetail = proxy;
  proxyDetail.detail = "bytes after its answer to CONNECT";
  Failure badProxy = make(FailureKind::kBadProxy);
  badProxy.host = "https_proxy";
  badProxy.detail = "an https:// proxy (TLS to the proxy) is not supported";
  const struct {
    Failure failure;
    std::string line;
    const char* reason;  // null: none
  } rows[] = {
      {bad, "Bad URL 'x:0/'", nullptr},
      {tooLong, "URL too long (9013 characters): site.test:80/" + std::string(47, 'a') + "...",
       nullptr},
      // Connection failures: host, port, URL and the reason on one line.
      {refused, "Cannot connect to site.test port 8080 for http://site.test/p: Connection refused",
       nullptr},
      {unresolved,
       std::string("Cannot find host site.test for http://site.test/p: ") +
           gai_strerror(EAI_NONAME),
       nullptr},
      {noReason, "Cannot connect to site.test port 8080 for http://site.test/p: no reason given",
       nullptr},
      {ipv6, "Cannot connect to ::1 port 8080 for http://[::1]:8080/: Connection refused", nullptr},
      {tls, "TLS error with site.test: certificate has expired", nullptr},
      {make(FailureKind::kTooManyRedirects), "Too many redirects at http://site.test/p", nullptr},
      {status, "HTTP 503 at http://site.test/p", nullptr},
      {make(FailureKind::kEmptyReply), "Empty reply from http://site.test/p", nullptr},
      {timedOut, "Timed out reading http://site.test/p", nullptr},
      {reset, "Error 104 reading http://site.test/p", "Connection reset by peer"},
      {make(FailureKind::kHeaderTooLarge),
       "Header too large (over 65536 bytes) at http://site.test/p", nullptr},
      {cut, "Transfer cut short at 5000000000 of 6000000000 bytes: http://site.test/p", nullptr},
      {zero, "HTTP 000 at http://site.test/p", nullptr},
      {low, "HTTP 099 at http://site.test/p", nullptr},
      {badLength, "Bad Content-Length '-1' at http://site.test/p", nullptr},
      // What the server sent is cut and never reaches the terminal raw.
      {hostileLength,
       "Bad Content-Length '%1B[2J%9B" + std::string(55, '9') + "...' at http://site.test/p",
       nullptr},
      {conflicting, "Conflicting Content-Length '5, 6' at http://site.test/p", nullptr},
      {make(FailureKind::kBadChunking), "Bad chunked encoding at http://site.test/p", nullptr},
      {make(FailureKind::kTooManyInterim), "Too many interim (1xx) responses at http://site.test/p",
       nullptr},
      {scheme, "Redirect to a file: URL refused at http://site.test/p", nullptr},
      {proxyRefused,
       "Cannot connect to proxy proxy.test port 3128 for https://site.test/p: Connection refused",
       nullptr},
      {proxyUnresolved,
       std::string("Cannot find proxy host proxy.test for https://site.test/p: ") +
           gai_strerror(EAI_NONAME),
       nullptr},
      {proxyNoReason,
       "Cannot connect to proxy proxy.test port 3128 for https://site.test/p: no reason given",
       nullptr},
      {proxyStatus, "Proxy proxy.test port 3128 refused CONNECT for https://site.test/p: HTTP 407",
       nullptr},
      {proxyDetail,
       "Proxy proxy.test port 3128 failed for https://site.test/p: bytes after its answer to "
       "CONNECT",
       nullptr},
      {badProxy,
       "Bad proxy setting https_proxy for http://site.test/p: an https:// proxy (TLS to the "
       "proxy) is not supported",
       nullptr},
  };
  for (const auto& row : rows) {
    FailureLine text = FailureText(row.failure);
    EXPECT_EQ(std::string(text.line), row.line);
    if (row.reason == nullptr) {
      EXPECT_EQ(text.reason, nullptr) << row.line;
    } else {
      ASSERT_NE(text.reason, nullptr) << row.line;
      EXPECT_STREQ(text.reason, row.reason) << row.line;
    }
  }
}

}  // namespace
