// SocketStreamBuf against real loopback connections to a ScriptedServer.
//
// Nothing here sleeps: every ordering a test relies on comes from a blocking
// read on one side or from a WaitForGo/WaitForSteps handshake. Checks that
// nothing has arrived yet can only pass wrongly, never fail wrongly, because
// loopback delivery completes within the sender's send call.
#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include "net/SocketStreamBuf.h"
#include "net/Sockets.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScriptedServer.h"

namespace {

using Chunks = std::vector<std::string>;
const int kEof = std::char_traits<char>::eof();

// Everything the buffer yields until EOF.
std::string ReadAll(SocketStreamBuf& buf) {
  std::string all;
  for (int c = buf.sbumpc(); c != kEof; c = buf.sbumpc()) all += static_cast<char>(c);
  return all;
}

// 300 distinct-looking bytes, so misplaced or repeated bytes show.
std::string LongLine() {
  std::string line;
  for (int i = 0; i < 300; ++i) line += static_cast<char>('a' + i % 26);
  return line;
}

class SocketStreamBufTest : public ::testing::Test {
 protected:
  // Queues script for the next connection and connects buf to it.
  int Connect(SocketStreamBuf& buf, const ConnectionScript& script) {
    int id = server.AddScript(script);
    EXPECT_EQ(0, buf.ConnectAddress(server.Address(), server.Port()));
    EXPECT_EQ(1, buf.connected);
    return id;
  }

  void ExpectScriptDone(int id) {
    EXPECT_TRUE(server.WaitUntilDone(id));
    EXPECT_EQ("", server.Error(id));
  }

  ScriptedServer server;
};

TEST_F(SocketStreamBufTest, WriteWaitsForTheFirstReadWhichSendsItFirst) {
  SocketStreamBuf buf;
  int id = Connect(
      buf, ConnectionScript().WaitForGo().ReceiveAvailable().ReceiveOnce().Send("pong").Close());
  ASSERT_EQ(4, buf.sputn("ping", 4));
  server.Go(id);
  ASSERT_TRUE(server.WaitForSteps(id, 2));

  EXPECT_EQ("pong", ReadAll(buf));
  ExpectScriptDone(id);
  EXPECT_EQ((Chunks{"", "ping"}), server.Receives(id));
}

TEST_F(SocketStreamBufTest, LongWriteLeavesOnePutAreaAtATime) {
  SocketStreamBuf buf;
  std::iostream stream(&buf);
  int id = Connect(buf, ConnectionScript()
                            .WaitForGo()
                            .ReceiveAvailable()
                            .WaitForGo()
                            .Receive(256)
                            .ReceiveAvailable()
                            .WaitForGo()
                            .Receive(44)
                            .Close());
  const std::string line = LongLine();

  // A full put area is still held back.
  stream << line.substr(0, 256);
  server.Go(id);
  ASSERT_TRUE(server.WaitForSteps(id, 2));
  // The next byte sends exactly the full put area; the rest waits.
  stream << line.substr(256);
  server.Go(id);
  ASSERT_TRUE(server.WaitForSteps(id, 5));
  stream << std::flush;
  server.Go(id);

  ExpectScriptDone(id);
  EXPECT_TRUE(stream.good());
  Chunks chunks = server.Receives(id);
  ASSERT_EQ(4u, chunks.size());
  EXPECT_EQ("", chunks[0]);
  EXPECT_EQ(line.substr(0, 256), chunks[1]);
  EXPECT_EQ("", chunks[2]);
  EXPECT_EQ(line.substr(256), chunks[3]);
}

// A flush between two exchanges on one connection must not lose the bytes
// of the second that have already arrived.
TEST_F(SocketStreamBufTest, FlushKeepsReceivedButUnreadBytes) {
  SocketStreamBuf buf;
  int id =
      Connect(buf, ConnectionScript().Send("abcdef").WaitForGo().ReceiveOnce().Send("XYZ").Close());
  EXPECT_EQ('a', buf.sbumpc());
  EXPECT_EQ(0, buf.pubsync());
  EXPECT_EQ(5, buf.in_avail());
  ASSERT_EQ(1, buf.sputn("!", 1));
  server.Go(id);

  EXPECT_EQ("bcdefXYZ", ReadAll(buf));
  ExpectScriptDone(id);
  EXPECT_EQ((Chunks{"!"}), server.Receives(id));
}

TEST_F(SocketStreamBufTest, ReceivesAtMostTheGetAreaAtATime) {
  SocketStreamBuf buf;
  std::string body;
  while (body.size() < 3 * SocketStreamBuf::kReceiveSize) body += LongLine();
  int id = Connect(buf, ConnectionScript().Send(body).Close());
  ASSERT_EQ('a', buf.sgetc());
  EXPECT_GT(buf.in_avail(), 0);
  EXPECT_LE(buf.in_avail(), SocketStreamBuf::kReceiveSize);
  EXPECT_EQ(body, ReadAll(buf));
  EXPECT_EQ(1, buf.connected);
  ExpectScriptDone(id);
}

TEST_F(SocketStreamBufTest, OneCharacterCanBePutBackAfterAReceive) {
  SocketStreamBuf buf;
  int id = Connect(buf, ConnectionScript().Send("abc").Close());
  ASSERT_EQ('a', buf.sgetc());
  // The first put-back goes into the byte kept before the received data ...
  EXPECT_EQ('z', buf.sputbackc('z'));
  // ... and there is room for no more.
  EXPECT_EQ(kEof, buf.sputbackc('y'));
  EXPECT_EQ("zabc", ReadAll(buf));
  ExpectScriptDone(id);
}

TEST_F(SocketStreamBufTest, ReadCharactersCanBeUngot) {
  SocketStreamBuf buf;
  int id = Connect(buf, ConnectionScript().Send("abc").Close());
  EXPECT_EQ('a', buf.sbumpc());
  EXPECT_EQ('b', buf.sbumpc());
  EXPECT_EQ('b', buf.sungetc());
  EXPECT_EQ('q', buf.sputbackc('q'));  // replaces the 'a'
  EXPECT_EQ('p', buf.sputbackc('p'));  // the kept byte
  EXPECT_EQ(kEof, buf.sungetc());
  EXPECT_EQ("pqbc", ReadAll(buf));
  ExpectScriptDone(id);
}

TEST_F(SocketStreamBufTest, OrderlyCloseGivesEofAndStaysConnected) {
  SocketStreamBuf buf;
  std::iostream stream(&buf);
  int id = Connect(buf, ConnectionScript().Send("first\nsecond").Close());
  std::string line;
  ASSERT_TRUE(std::getline(stream, line));
  EXPECT_EQ("first", line);
  std::getline(stream, line);
  EXPECT_EQ("second", line);
  EXPECT_TRUE(stream.eof());
  EXPECT_EQ(kEof, buf.sgetc());
  EXPECT_EQ(1, buf.connected);
  ExpectScriptDone(id);
}

TEST_F(SocketStreamBufTest, ReceiveErrorGivesEofAndClearsConnected) {
  SocketStreamBuf buf;
  int id = Connect(buf, ConnectionScript().Abort());
  EXPECT_EQ(kEof, buf.sgetc());
  EXPECT_EQ(0, buf.connected);
  ExpectScriptDone(id);
}

// Without MSG_NOSIGNAL the second send after a reset raises SIGPIPE, which
// would end this test binary.
TEST_F(SocketStreamBufTest, SendToAResetPeerFailsWithoutKillingTheProcess) {
  SocketStreamBuf buf;
  int id = Connect(buf, ConnectionScript().Abort());
  ASSERT_EQ(kEof, buf.sgetc());  // the reset has arrived
  ExpectScriptDone(id);
  const std::string line = LongLine();
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(256, buf.sputn(line.data(), line.size())) << round;
    EXPECT_EQ(0, buf.pubsync()) << round;
  }
}

TEST_F(SocketStreamBufTest, DestroyingSendsNoPendingOutput) {
  int id = server.AddScript(ConnectionScript().ReceiveUntilClosed());
  {
    SocketStreamBuf buf;
    ASSERT_EQ(0, buf.ConnectAddress(server.Address(), server.Port()));
    ASSERT_EQ(7, buf.sputn("pending", 7));
  }
  ExpectScriptDone(id);
  EXPECT_EQ((Chunks{""}), server.Receives(id));
}

TEST_F(SocketStreamBufTest, SeekingFails) {
  SocketStreamBuf buf;
  std::iostream stream(&buf);
  EXPECT_EQ(-1, buf.pubseekoff(0, std::ios_base::cur));
  EXPECT_EQ(-1, buf.pubseekpos(0));
  EXPECT_EQ(-1, stream.tellp());
}

TEST_F(SocketStreamBufTest, ConnectByNameAndByAddress) {
  ScriptedServer other("127.0.0.2");  // a second loopback address shows byte order
  struct Case {
    const char* name;  // nullptr: connect by address
  } cases[] = {{"127.0.0.2"}, {nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "by address");
    SocketStreamBuf buf;
    int id = other.AddScript(ConnectionScript().Receive(2).Send("ok").Close());
    int result = c.name ? buf.Connect(c.name, other.Port())
                        : buf.ConnectAddress(other.Address(), other.Port());
    ASSERT_EQ(0, result);
    EXPECT_EQ(1, buf.connected);
    EXPECT_EQ(0, SocketLastError());
    buf.sputn("hi", 2);
    EXPECT_EQ("ok", ReadAll(buf));
    EXPECT_TRUE(other.WaitUntilDone(id));
    EXPECT_EQ("hi", other.Received(id));
  }
}

TEST_F(SocketStreamBufTest, UnresolvableNameChangesNothing) {
  // A label past DNS's 63 bytes fails in the resolver itself: no query
  // leaves the machine.
  const std::string unresolvable = std::string(64, 'a') + ".invalid";
  SocketStreamBuf fresh;
  EXPECT_EQ(-1, fresh.Connect(unresolvable.c_str(), 80));
  EXPECT_EQ(0, fresh.connected);
  EXPECT_NE(0, SocketLastError());

  // On a live connection, the failed lookup leaves the connection usable.
  SocketStreamBuf buf;
  int id = Connect(buf, ConnectionScript().Receive(3).Send("still here").Close());
  EXPECT_EQ(-1, buf.Connect(unresolvable.c_str(), 80));
  EXPECT_EQ(1, buf.connected);
  EXPECT_NE(0, SocketLastError());
  buf.sputn("hi?", 3);
  EXPECT_EQ("still here", ReadAll(buf));
  ExpectScriptDone(id);
  EXPECT_EQ("hi?", server.Received(id));
}

TEST_F(SocketStreamBufTest, RefusedConnectReportsTheError) {
  RefusedPort refused;
  SocketStreamBuf byName;
  EXPECT_EQ(-1, byName.Connect("127.0.0.1", refused.Port()));
  EXPECT_EQ(0, byName.connected);
  EXPECT_EQ(ECONNREFUSED, SocketLastError());
  EXPECT_EQ(ECONNREFUSED, errno);

  SocketStreamBuf byAddress;
  errno = 0;
  EXPECT_EQ(-1, byAddress.ConnectAddress(server.Address(), refused.Port()));
  EXPECT_EQ(0, byAddress.connected);
  EXPECT_EQ(ECONNREFUSED, SocketLastError());
}

TEST_F(SocketStreamBufTest, ResetAfterAFailedConnectAllowsAnotherConnect) {
  RefusedPort refused;
  SocketStreamBuf buf;
  ASSERT_EQ(-1, buf.Connect("127.0.0.1", refused.Port()));
  buf.Reset();
  EXPECT_EQ(0, buf.connected);
  int id = Connect(buf, ConnectionScript().Receive(4).Send("done").Close());
  buf.sputn("ping", 4);
  EXPECT_EQ("done", ReadAll(buf));
  ExpectScriptDone(id);
  EXPECT_EQ("ping", server.Received(id));
}

// The redirect path of the HTTP layer: one buffer, reset between two
// connections, with unread input left over from the first.
TEST_F(SocketStreamBufTest, ResetBufferServesTheNextConnection) {
  SocketStreamBuf buf;
  std::iostream stream(&buf);
  int first = Connect(
      buf,
      ConnectionScript().ReceiveOnce().Send("HTTP/1.0 302 Found\nLocation: x\n\nleftover").Close());
  stream << "GET /a HTTP/1.0\n";
  std::string line;
  ASSERT_TRUE(std::getline(stream, line));
  EXPECT_EQ("HTTP/1.0 302 Found", line);
  buf.Reset();
  EXPECT_EQ(0, buf.connected);
  ExpectScriptDone(first);

  int second = Connect(buf, ConnectionScript().Receive(16).Send("fresh\n").Close());
  stream << "GET /x HTTP/1.0\n" << std::flush;
  ASSERT_TRUE(std::getline(stream, line));
  EXPECT_EQ("fresh", line);
  ExpectScriptDone(second);
  EXPECT_EQ((Chunks{"GET /a HTTP/1.0\n"}), server.Receives(first));
  EXPECT_EQ("GET /x HTTP/1.0\n", server.Received(second));
}

}  // namespace
