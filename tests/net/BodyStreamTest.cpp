// The body stream over a scripted connection: each framing delivers exactly
// its body, tells how it ended, and leaves what follows on the connection.
#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "net/BodyStream.h"
#include "net/HttpResponse.h"
#include "net/RecordedExchange.h"
#include "net/SocketStreamBuf.h"
#include "tests/support/ScriptedTransport.h"

namespace {

const int kEof = std::char_traits<char>::eof();

// A connection that delivers chunks, then fails with error (0: ends).
std::unique_ptr<SocketStreamBuf> Scripted(const std::vector<std::string>& chunks, int error) {
  auto transport = std::make_unique<ScriptedTransport>(std::make_shared<TransportLog>());
  for (const std::string& chunk : chunks) transport->Deliver(chunk);
  transport->FailAfter(error);
  auto connection = std::make_unique<SocketStreamBuf>();
  connection->UseTransport(std::move(transport));
  return connection;
}

std::string ReadAll(std::streambuf& buf) {
  std::string all;
  for (int c = buf.sbumpc(); c != kEof; c = buf.sbumpc()) all += static_cast<char>(c);
  return all;
}

TEST(BodyStream, EachFramingDeliversExactlyItsBody) {
  const std::string big(3000, 'b');
  const struct {
    const char* name;
    std::vector<std::string> chunks;  // the head, then what follows
    int error;                        // after the chunks; 0: orderly end
    BodyFraming framing;
    std::string body;
    bool ended;
    int receiveError;
    std::string left;  // still on the connection after the body
  } rows[] = {
      {"length, more behind it",
       {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "NEXT"},
       0,
       BodyFraming::kLength,
       "hello",
       true,
       0,
       "NEXT"},
      {"length in one chunk with what follows",
       {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcHTTP/1.1 204"},
       0,
       BodyFraming::kLength,
       "abc",
       true,
       0,
       "HTTP/1.1 204"},
      {"length zero",
       {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\nrest"},
       0,
       BodyFraming::kLength,
       "",
       true,
       0,
       "rest"},
      {"length across many receives",
       {"HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n", big, "x"},
       0,
       BodyFraming::kLength,
       big,
       true,
       0,
       "x"},
      {"closed before the length",
       {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc"},
       0,
       BodyFraming::kLength,
       "abc",
       false,
       0,
       ""},
      {"reset before the length",
       {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc"},
       ECONNRESET,
       BodyFraming::kLength,
       "abc",
       false,
       ECONNRESET,
       ""},
      {"until close",
       {"HTTP/1.0 200 OK\r\n\r\nabc", "def"},
       0,
       BodyFraming::kUntilClose,
       "abcdef",
       true,
       0,
       ""},
      {"until a timeout",
       {"HTTP/1.0 200 OK\r\n\r\nabc"},
       EAGAIN,
       BodyFraming::kUntilClose,
       "abc",
       false,
       EAGAIN,
       ""},
      {"invalid length: until close",
       {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabcd"},
       0,
       BodyFraming::kUntilClose,
       "abcd",
       true,
       0,
       ""},
      {"chunked, not decoded: until close",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\nContent-Length: 2\r\n\r\n"
        "3\r\nabc\r\n0\r\n\r\n"},
       0,
       BodyFraming::kChunked,
       "3\r\nabc\r\n0\r\n\r\n",
       true,
       0,
       ""},
      {"head ended by the stream: no body",
       {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n"},
       0,
       BodyFraming::kLength,
       "",
       true,
       0,
       ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<SocketStreamBuf> connection = Scripted(row.chunks, row.error);
    HttpResponse head;
    head.Read(*connection);
    Framing framing = FramingOf(head);
    EXPECT_EQ(framing.kind, row.framing);
    BodyStream body(*connection, framing);
    std::istream in(&body);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, row.body);
    EXPECT_EQ(body.Delivered(), row.body.size());
    EXPECT_EQ(body.Ended(), row.ended);
    EXPECT_EQ(body.ReceiveError(), row.receiveError);
    EXPECT_EQ(kEof, body.sgetc());  // an ended body stays ended
    body.Detach();
    if (row.receiveError == 0) {
      EXPECT_EQ(ReadAll(*connection), row.left);
    }
  }
}

TEST(BodyStream, CountsWhatTheReaderTookAndRecordsItUpToACap) {
  std::unique_ptr<SocketStreamBuf> connection =
      Scripted({"HTTP/1.0 200 OK\r\n\r\n", "0123456789", "abcdefghij"}, 0);
  HttpResponse head;
  RecordedExchange record;
  head.Read(*connection, &record.head);
  BodyStream body(*connection, FramingOf(head));
  body.RecordInto(&record, record.head.size() + 10);
  char block[4];
  ASSERT_EQ(body.sgetn(block, 4), 4);
  EXPECT_EQ(body.Delivered(), 4u);  // not what the stream holds ahead
  EXPECT_EQ(ReadAll(body), "456789");
  // The cap is met: the body ends as a failed receive, and the recording is
  // of no use for a replay.
  EXPECT_EQ(body.ReceiveError(), EFBIG);
  EXPECT_FALSE(body.Ended());
  EXPECT_FALSE(record.usable);
  EXPECT_EQ(record.head, "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(record.body, "0123456789");
}

}  // namespace
