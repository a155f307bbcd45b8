// The test server itself, driven by a raw socket client so that its
// behaviour does not depend on the network code it is used to test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/HttpResponse.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScriptedServer.h"

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

}  // namespace
