// The test server itself, driven by a raw socket client (and a TLS client
// written straight on OpenSSL) so that its behaviour does not depend on the
// network code it is used to test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/HttpResponse.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsTestClient.h"

namespace {

using Strings = std::vector<std::string>;

class RawClient {
 public:
  RawClient(const ScriptedServer& server) : RawClient(server.Address(), server.Port()) {}
  RawClient(uint32_t address, int port) : fd(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in peer;
    std::memset(&peer, 0, sizeof(peer));
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);
    result = connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof(peer));
    error = result == 0 ? 0 : errno;
  }
  ~RawClient() { close(fd); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  void Send(const std::string& bytes) {
    ASSERT_EQ(static_cast<long>(bytes.size()), send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
  }
  // Everything until the server closes.
  std::string ReadAll() {
    std::string all;
    char chunk[1024];
    long got;
    while ((got = recv(fd, chunk, sizeof(chunk), 0)) > 0) all.append(chunk, got);
    return all;
  }

  int fd;
  int result;
  int error;
};

TEST(HttpResponseTest, BuildsExactBytes) {
  EXPECT_EQ("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nX: y\r\n\r\n<p>",
            HttpResponse("HTTP/1.0 200 OK", {"Content-Type: text/html", "X: y"}, "<p>"));
  EXPECT_EQ("HTTP/1.0 200 OK\n\nbody", HttpResponse("HTTP/1.0 200 OK", {}, "body", "\n"));
  EXPECT_EQ("HTTP/1.0 302 Found\r\nLocation: /b\r\n\r\n", RedirectResponse("/b"));
  EXPECT_EQ("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nhi", HtmlResponse("hi"));
}

TEST(ScriptedServerTest, HttpServesByPathAndLogsRequestsInOrder) {
  ScriptedServer server;
  server.SetResponse("/", HtmlResponse("<a href=\"x\">"));
  server.SetResponse("/empty", "");
  server.SetResponse("/bad", "HTTP/1.0 200 OK\nContent-Type text/html\n\n");
  struct Case {
    std::string request;
    std::string response;
  } cases[] = {
      {"GET / HTTP/1.0\n\n", HtmlResponse("<a href=\"x\">")},
      {"GET /missing HTTP/1.0\r\nHost: h\r\n\r\n", NotFoundResponse()},
      {"GET /empty HTTP/1.0\n\n", ""},
      {"GET /bad HTTP/1.0\n\n", "HTTP/1.0 200 OK\nContent-Type text/html\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    RawClient client(server);
    ASSERT_EQ(0, client.result);
    // Sent in two pieces, as a client flushing per line does.
    client.Send(c.request.substr(0, 5));
    client.Send(c.request.substr(5));
    EXPECT_EQ(c.response, client.ReadAll());
  }
  ASSERT_TRUE(server.WaitForRequests(4));
  EXPECT_EQ((Strings{"GET / HTTP/1.0\n\n", "GET /missing HTTP/1.0\r\nHost: h\r\n\r\n",
                     "GET /empty HTTP/1.0\n\n", "GET /bad HTTP/1.0\n\n"}),
            server.Requests());
  EXPECT_EQ((Strings{"/", "/missing", "/empty", "/bad"}), server.RequestPaths());
  EXPECT_EQ(4u, server.Accepted());
}

TEST(ScriptedServerTest, DefaultResponseCanBeReplaced) {
  ScriptedServer server;
  server.SetDefaultResponse("HTTP/1.0 500 Oops\r\n\r\n");
  RawClient client(server);
  client.Send("GET /anything HTTP/1.0\n\n");
  EXPECT_EQ("HTTP/1.0 500 Oops\r\n\r\n", client.ReadAll());
}

TEST(ScriptedServerTest, CloseOnAcceptClosesWithoutAnswer) {
  ScriptedServer server;
  server.SetCloseOnAccept(true);
  RawClient client(server);
  ASSERT_EQ(0, client.result);
  EXPECT_EQ("", client.ReadAll());
  EXPECT_EQ(1u, server.Accepted());
  EXPECT_TRUE(server.Requests().empty());
}

TEST(ScriptedServerTest, ScriptsRunInOrderAndRecordEachReceive) {
  ScriptedServer server;
  int first = server.AddScript(ConnectionScript().Receive(6).Send("one").Close());
  int second =
      server.AddScript(ConnectionScript().ReceiveAvailable().WaitForGo().ReceiveUntilClosed());
  EXPECT_EQ(0, first);
  EXPECT_EQ(1, second);
  {
    RawClient client(server);
    client.Send("abc");
    client.Send("def");
    EXPECT_EQ("one", client.ReadAll());
  }
  EXPECT_TRUE(server.WaitUntilDone(first));
  EXPECT_EQ("", server.Error(first));
  EXPECT_EQ("abcdef", server.Received(first));

  {
    RawClient client(server);
    ASSERT_TRUE(server.WaitForSteps(second, 1));
    client.Send("late");
    server.Go(second);
    shutdown(client.fd, SHUT_WR);
    EXPECT_TRUE(server.WaitUntilDone(second));
  }
  EXPECT_EQ("", server.Error(second));
  Strings chunks = server.Receives(second);
  ASSERT_GE(chunks.size(), 3u);
  EXPECT_EQ("", chunks.front());  // nothing had arrived before the Go
  EXPECT_EQ("", chunks.back());   // end of stream
  EXPECT_EQ("late", server.Received(second));
}

TEST(ScriptedServerTest, ScriptFailureIsReportedNotHung) {
  ScriptedServer server;
  server.SetTimeoutMs(2000);
  int id = server.AddScript(ConnectionScript().Receive(10).Send("never"));
  {
    RawClient client(server);
    client.Send("short");
  }
  EXPECT_TRUE(server.WaitUntilDone(id));
  EXPECT_FALSE(server.WaitForSteps(id, 1));
  EXPECT_NE(std::string::npos, server.Error(id).find("step 0"));
  EXPECT_EQ("short", server.Received(id));
}

TEST(ScriptedServerTest, StopsWhileAScriptWaits) {
  int port;
  {
    ScriptedServer server;
    port = server.Port();
    server.AddScript(ConnectionScript().WaitForGo().Send("x"));
    RawClient client(server);
    ASSERT_EQ(0, client.result);
  }
  // Stopped means no longer listening.
  RawClient late(INADDR_LOOPBACK, port);
  EXPECT_EQ(-1, late.result);
}

TEST(ScriptedServerTest, OtherLoopbackAddressesWork) {
  ScriptedServer server("127.0.0.3");
  EXPECT_EQ(0x7f000003u, server.Address());
  EXPECT_EQ("http://127.0.0.3:" + std::to_string(server.Port()) + "/a", server.Url("/a"));
  RawClient client(server);
  client.Send("GET /a HTTP/1.0\n\n");
  EXPECT_EQ(NotFoundResponse(), client.ReadAll());
}

TEST(ScriptedServerDeathTest, RefusesNonLoopbackAddresses) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(ScriptedServer("10.1.2.3"), "not a loopback address");
  EXPECT_DEATH(ScriptedServer("0.0.0.0"), "not a loopback address");
}

TEST(RefusedPortTest, RefusesConnections) {
  RefusedPort refused;
  RawClient client(INADDR_LOOPBACK, refused.Port());
  EXPECT_EQ(-1, client.result);
  EXPECT_EQ(ECONNREFUSED, client.error);
}

// ---------------------------------------------------------------- TLS

// A handshaken client of a TLS server on 127.0.0.1 that trusts the test CA.
std::string Handshake(TlsTestClient& client, const std::string& host = "127.0.0.1") {
  return client.Handshake(TestPki().CaFile(), host);
}

TEST(ScriptedServerTlsTest, ScriptsAndHttpCarryExactBytesOnEachVersion) {
  struct Case {
    TlsVersions versions;
    const char* protocol;
  } cases[] = {{TlsVersions::kTls12AndLater, "TLSv1.3"}, {TlsVersions::kTls12Only, "TLSv1.2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.protocol);
    ScriptedServer server;
    server.EnableTls(TestPki().valid, c.versions);
    EXPECT_EQ("https://" + server.HostPort() + "/x", server.Url("/x"));
    server.SetResponse("/page", HtmlResponse("<p>hi</p>"));
    int id = server.AddScript(ConnectionScript().Receive(6).Send("one").Send("two").Close());
    {
      TlsTestClient client(server.Address(), server.Port());
      ASSERT_EQ("", Handshake(client));
      EXPECT_EQ(c.protocol, client.Protocol());
      ASSERT_TRUE(client.Send("abc"));
      ASSERT_TRUE(client.Send("def"));
      EXPECT_EQ("onetwo", client.ReadAll());
      EXPECT_EQ(TlsTestClient::End::kCloseNotify, client.Ending());
    }
    ASSERT_TRUE(server.WaitUntilDone(id));
    EXPECT_EQ("", server.Error(id));
    EXPECT_EQ((Strings{"abc", "def"}), server.Receives(id));  // one record per read

    TlsTestClient client(server.Address(), server.Port());
    ASSERT_EQ("", Handshake(client));
    ASSERT_TRUE(client.Send("GET /page HTTP/1.0\r\nHost: h\r\n\r\n"));
    EXPECT_EQ(HtmlResponse("<p>hi</p>"), client.ReadAll());
    EXPECT_EQ((Strings{"GET /page HTTP/1.0\r\nHost: h\r\n\r\n"}), server.Requests());
    EXPECT_EQ(2u, server.Handshakes());
    EXPECT_TRUE(server.HandshakeErrors().empty());
  }
}

TEST(ScriptedServerTlsTest, CloseTruncationAndResetReachTheClientDistinctly) {
  const std::string head = "HTTP/1.0 200 OK\r\n\r\npart";
  struct Case {
    ConnectionScript script;
    TlsTestClient::End ending;
  } cases[] = {
      {ConnectionScript().Send(head).Close(), TlsTestClient::End::kCloseNotify},
      {ConnectionScript().Send(head).CloseWithoutNotify(), TlsTestClient::End::kEofWithoutNotify},
      {ConnectionScript().ReceiveOnce().Send(head).Abort(), TlsTestClient::End::kReset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.ending));
    ScriptedServer server;
    server.EnableTls(TestPki().valid);
    int id = server.AddScript(c.script);
    TlsTestClient client(server.Address(), server.Port());
    ASSERT_EQ("", Handshake(client));
    if (c.ending == TlsTestClient::End::kReset) {
      // Mid-body: the client reads what came before the reset, then fails.
      ASSERT_TRUE(client.Send("GET / HTTP/1.0\r\n\r\n"));
      std::string got = client.ReadAll();
      EXPECT_EQ(head.substr(0, got.size()), got);
    } else {
      EXPECT_EQ(head, client.ReadAll());
    }
    EXPECT_EQ(c.ending, client.Ending()) << client.Error();
    EXPECT_TRUE(server.WaitUntilDone(id));
    EXPECT_EQ("", server.Error(id));
  }
}

TEST(ScriptedServerTlsTest, ClientVerificationNamesEachCertificateFault) {
  const TestPkiSet& pki = TestPki();
  struct Case {
    const TestCertificate& certificate;
    std::string host;
    long verify;
    std::string alert;  // what the server hears of the client's refusal
  } cases[] = {
      {pki.valid, "127.0.0.1", X509_V_OK, ""},
      {pki.valid, "localhost", X509_V_OK, ""},
      {pki.otherName, "other.example", X509_V_OK, ""},
      {pki.valid, "127.0.0.2", X509_V_ERR_IP_ADDRESS_MISMATCH, "alert bad certificate"},
      {pki.expired, "127.0.0.1", X509_V_ERR_CERT_HAS_EXPIRED, "alert certificate expired"},
      {pki.otherName, "127.0.0.1", X509_V_ERR_IP_ADDRESS_MISMATCH, "alert bad certificate"},
      {pki.otherName, "localhost", X509_V_ERR_HOSTNAME_MISMATCH, "alert bad certificate"},
      {pki.selfSigned, "127.0.0.1", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "alert unknown ca"},
  };
  ScriptedServer server;
  server.SetResponse("/", HtmlResponse("ok"));
  size_t handshakes = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.certificate.name + " as " + c.host);
    server.EnableTls(c.certificate);
    TlsTestClient client(server.Address(), server.Port());
    std::string failure = Handshake(client, c.host);
    EXPECT_EQ(c.verify, client.VerifyResult()) << failure;
    ASSERT_TRUE(server.WaitForHandshakes(++handshakes));
    if (c.verify == X509_V_OK) {
      EXPECT_EQ("", failure);
      ASSERT_TRUE(client.Send("GET / HTTP/1.0\r\n\r\n"));
      EXPECT_EQ(HtmlResponse("ok"), client.ReadAll());
    } else {
      EXPECT_EQ(X509_verify_cert_error_string(c.verify), failure);
      ASSERT_FALSE(server.HandshakeErrors().empty());
      EXPECT_NE(std::string::npos, server.HandshakeErrors().back().find(c.alert))
          << server.HandshakeErrors().back();
    }
  }
  EXPECT_EQ(3u, server.Handshakes());
  EXPECT_EQ(3u, server.Requests().size());  // none from a refused certificate
}

TEST(ScriptedServerTlsTest, StallHoldsTheHandshakeWhileCloseAtOnceEndsIt) {
  for (bool stall : {true, false}) {
    SCOPED_TRACE(stall ? "stall" : "close at once");
    ScriptedServer server;
    server.EnableTls(TestPki().valid);
    server.SetStallOnAccept(stall);
    server.SetCloseOnAccept(!stall);
    auto start = std::chrono::steady_clock::now();
    TlsTestClient client(server.Address(), server.Port(), 400);
    std::string failure = Handshake(client);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(stall, failure == "timed out") << failure;
    EXPECT_TRUE(!stall || waited >= std::chrono::milliseconds(350));
    EXPECT_EQ(1u, server.Accepted());
    EXPECT_EQ(0u, server.Handshakes());
  }
}

}  // namespace
