// The stream buffer over a transport double: faults a loopback socket cannot
// be made to show on cue.
#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <string>

#include "net/SocketStreamBuf.h"
#include "net/StreamRead.h"
#include "tests/support/ScriptedTransport.h"

namespace {

TEST(TransportDouble, StreamThatFailsBeforeItsEndStopsReadersAtOnce) {
  const int errors[] = {ECONNRESET, EAGAIN, ETIMEDOUT};
  for (int error : errors) {
    auto log = std::make_shared<TransportLog>();
    auto transport = std::make_unique<ScriptedTransport>(log);
    transport->Deliver("first line\nsecond, cut").FailAfter(error);
    SocketStreamBuf buf;
    buf.UseTransport(std::move(transport));
    std::iostream stream(&buf);
    char line[64];
    std::string lines;
    // The crawler's line loop: it must end although end of file never comes.
    for (int guard = 0; guard < 100 && buf.connected; ++guard) {
      ReadLine(stream, line, sizeof line);
      lines += std::string(line) + "|";
      if (stream.eof() || stream.fail()) break;
    }
    EXPECT_EQ(lines, "first line|second, cut|") << error;
    EXPECT_EQ(buf.connected, 0) << error;
    EXPECT_LE(log->receives, 3) << error;
  }
}

TEST(TransportDouble, PartialSendsDeliverEveryByteInOrder) {
  auto log = std::make_shared<TransportLog>();
  auto transport = std::make_unique<ScriptedTransport>(log);
  transport->SendLimit(7).Deliver("ok");
  SocketStreamBuf buf;
  buf.UseTransport(std::move(transport));
  std::iostream stream(&buf);
  std::string request;
  for (int i = 0; i < 100; ++i) request += "line " + std::to_string(i) + "\n";
  stream << request;
  char reply[8];
  ReadLine(stream, reply, sizeof reply);  // a read sends what is pending first
  EXPECT_EQ(log->sent, request);
  EXPECT_STREQ(reply, "ok");
}

}  // namespace
