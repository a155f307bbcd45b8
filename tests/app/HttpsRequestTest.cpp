// RequestPage over TLS against a silent server: the socket I/O timeout bounds
// the handshake as it bounds reading a response.
#include <gtest/gtest.h>

#include <memory>

#include <cstdlib>
#include <string>

#include "app/Request.h"
#include "net/HttpRequest.h"
#include "net/Sockets.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/app/TestCrawl.h"
#include "tests/support/ParsedUrl.h"

namespace {

// The crawl the tests of this file drive; ResetCrawl starts a fresh one.
std::unique_ptr<TestCrawl> crawl = std::make_unique<TestCrawl>();
void ResetCrawl() { crawl = std::make_unique<TestCrawl>(); }

TEST(HttpsRequestSilence, TimeoutBoundsHandshakeAndResponse) {
  // Read once, when the first TLS connection is made.
  ASSERT_EQ(setenv("SSL_CERT_FILE", TestPki().CaFile().c_str(), 1), 0);
  const struct {
    const char* name;
    bool stallInHandshake;  // otherwise: handshake done, request read, no answer
    const char* out;        // followed by the URL, when it ends in a space
  } cases[] = {
      // Had the client waited on, the stalling server would have closed after
      // its own 10 s: "connection closed during the handshake".
      {"stalled handshake", true, "TLS error with 127.0.0.1: handshake timed out"},
      {"silent after handshake", false, "Timed out reading "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetCrawl();
    ScriptedServer server;
    server.EnableTls(TestPki().valid);
    int id = -1;
    if (c.stallInHandshake) {
      server.SetStallOnAccept(true);
    } else {
      id = server.AddScript(ConnectionScript().ReceiveOnce().WaitForGo().Close());
    }
    std::string url = server.Url("/");
    SocketSetIoTimeout(1);
    testing::internal::CaptureStdout();
    FetchOutcome outcome = RequestPage(crawl->context, ParsedUrl(url.c_str()));
    std::string out = testing::internal::GetCapturedStdout();
    SocketSetIoTimeout(kSocketIoTimeoutSeconds);
    if (id >= 0) {
      server.Go(id);
      EXPECT_TRUE(server.WaitUntilDone(id));
      EXPECT_EQ(server.Handshakes(), 1u);
    }
    std::string expected = c.out;
    if (expected.back() == ' ') expected += url;
    EXPECT_EQ(out, expected + "\n");
    EXPECT_EQ(outcome.body, nullptr);
    EXPECT_EQ(crawl->Counts().hits, 0);
    EXPECT_EQ(crawl->Counts().errors, 1);
  }
}

}  // namespace
