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
      {"chunked, decoded; Content-Length not heeded",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\nContent-Length: 2\r\n\r\n"
        "3\r\nabc\r\n0\r\n\r\nNEXT"},
       0,
       BodyFraming::kChunked,
       "abc",
       true,
       0,
       "NEXT"},
      {"chunked not last: until close",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
       0,
       BodyFraming::kUntilClose,
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

// A connection holding a chunked response: head, then body, then error.
std::unique_ptr<SocketStreamBuf> Chunked(std::vector<std::string> body, int error = 0) {
  body.insert(body.begin(), "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  return Scripted(body, error);
}

struct Decoded {
  std::string body;
  bool ended, malformed;
  int receiveError;
  std::string left;  // on the connection after a body that ended
  std::string raw;   // what a recording of the body holds
};

Decoded Decode(SocketStreamBuf& connection) {
  HttpResponse head;
  head.Read(connection);
  BodyStream body(connection, FramingOf(head));
  RecordedExchange record;
  body.RecordInto(&record, 1 << 20);
  Decoded got;
  got.body = ReadAll(body);
  EXPECT_EQ(body.Delivered(), got.body.size());
  got.ended = body.Ended();
  got.malformed = body.Malformed();
  got.receiveError = body.ReceiveError();
  body.Detach();
  if (got.ended) got.left = ReadAll(connection);
  got.raw = record.body.Text();
  return got;
}

TEST(BodyStream, ChunkedBodiesAreDecodedAndMalformedOnesSaySo) {
  const std::string big(3000, 'z');
  const struct {
    const char* name;
    std::string raw;  // the body as sent, then the connection ends
    int error;
    std::string body;
    bool ended, malformed;
    std::string left;
  } rows[] = {
      {"one chunk", "3\r\nabc\r\n0\r\n\r\nNEXT", 0, "abc", true, false, "NEXT"},
      {"hex sizes, both cases",
       "a\r\n0123456789\r\n1A\r\n" + std::string(26, 'q') + "\r\n0\r\n\r\n", 0,
       "0123456789" + std::string(26, 'q'), true, false, ""},
      {"leading zeros", "0003\r\nabc\r\n000\r\n\r\n", 0, "abc", true, false, ""},
      {"extensions passed over", "3;name=\"v;x\"\r\nabc\r\n0 ; last\r\n\r\n", 0, "abc", true, false,
       ""},
      {"LF line ends", "3\nabc\n0\n\n", 0, "abc", true, false, ""},
      {"trailers dropped", "3\r\nabc\r\n0\r\nX-T: 1\r\nY: 2\r\n\r\nNEXT", 0, "abc", true, false,
       "NEXT"},
      {"closed in the trailers: whole", "3\r\nabc\r\n0\r\nX-T:", 0, "abc", true, false, ""},
      {"reset in the trailers: whole", "3\r\nabc\r\n0\r\n", ECONNRESET, "abc", true, false, ""},
      {"a chunk larger than the buffers", "bb8\r\n" + big + "\r\n0\r\n\r\n", 0, big, true, false,
       ""},
      {"empty body", "0\r\n\r\n", 0, "", true, false, ""},
      {"size not hex", "x\r\nabc\r\n0\r\n\r\n", 0, "", false, true, ""},
      {"size missing", "\r\nabc\r\n0\r\n\r\n", 0, "", false, true, ""},
      {"size, then other text", "3 x\r\nabc\r\n0\r\n\r\n", 0, "", false, true, ""},
      {"negative size", "-3\r\nabc\r\n0\r\n\r\n", 0, "", false, true, ""},
      // 2 to the 64th, plus 3: wrapped, it would read as 3.
      {"size past 60 bits", "10000000000000003\r\nabc\r\n0\r\n\r\n", 0, "", false, true, ""},
      {"size line too long", "3;" + std::string(kMaxChunkLine, 'e') + "\r\nabc\r\n0\r\n\r\n", 0, "",
       false, true, ""},
      {"data longer than its size", "3\r\nabcd\r\n0\r\n\r\n", 0, "abc", false, true, ""},
      {"CR without LF after data", "3\r\nabc\rX0\r\n\r\n", 0, "abc", false, true, ""},
      {"closed before the last chunk", "3\r\nabc\r\n", 0, "abc", false, true, ""},
      {"closed after the data", "3\r\nabc", 0, "abc", false, true, ""},
      {"closed within a chunk", "5\r\nabc", 0, "abc", false, true, ""},
      {"closed in a size line", "3\r\nabc\r\n0", 0, "abc", false, true, ""},
      {"closed at once", "", 0, "", false, true, ""},
      {"reset within a chunk: a failed receive", "5\r\nabc", ECONNRESET, "abc", false, false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<SocketStreamBuf> connection = Chunked({row.raw}, row.error);
    Decoded got = Decode(*connection);
    EXPECT_EQ(got.body, row.body);
    EXPECT_EQ(got.ended, row.ended);
    EXPECT_EQ(got.malformed, row.malformed);
    EXPECT_EQ(got.receiveError, row.malformed || row.ended ? 0 : row.error);
    EXPECT_EQ(got.left, row.left);
    // The recording holds the coding as received, up to where the body ended.
    EXPECT_EQ(got.raw + got.left, row.raw.substr(0, got.raw.size() + got.left.size()));
  }
}

// However the bytes arrive, the same body comes out, and the recording holds
// them all as sent.
TEST(BodyStream, ChunkedBodySplitAnywhereDecodesTheSame) {
  const std::string raw =
      "4;e=1\r\nWiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nT: x\r\n\r\n";
  const std::string decoded = "Wikipedia in\r\n\r\nchunks.";
  // (An empty receive would end the stream: each part holds a byte at least.)
  for (size_t at = 1; at < raw.size(); ++at) {
    SCOPED_TRACE(at);
    std::unique_ptr<SocketStreamBuf> connection = Chunked({raw.substr(0, at), raw.substr(at)});
    Decoded got = Decode(*connection);
    EXPECT_EQ(got.body, decoded);
    EXPECT_TRUE(got.ended);
    EXPECT_EQ(got.raw, raw);
  }
  std::vector<std::string> bytes;
  for (char c : raw) bytes.emplace_back(1, c);
  std::unique_ptr<SocketStreamBuf> connection = Chunked(bytes);
  Decoded got = Decode(*connection);
  EXPECT_EQ(got.body, decoded);
  EXPECT_TRUE(got.ended);
}

TEST(BodyStream, CountsWhatTheReaderTookAndRecordsPastTheCapOnDisk) {
  std::unique_ptr<SocketStreamBuf> connection =
      Scripted({"HTTP/1.0 200 OK\r\n\r\n", "0123456789", "abcdefghij"}, 0);
  HttpResponse head;
  RecordedExchange record;
  head.Read(*connection, &record.head);
  BodyStream body(*connection, FramingOf(head));
  body.RecordInto(&record, 10);
  char block[4];
  ASSERT_EQ(body.sgetn(block, 4), 4);
  EXPECT_EQ(body.Delivered(), 4u);  // not what the stream holds ahead
  EXPECT_EQ(ReadAll(body), "456789abcdefghij");
  EXPECT_TRUE(body.Ended());
  // Past the cap the recording goes on in its temporary file, whole.
  EXPECT_TRUE(record.usable);
  EXPECT_EQ(record.head, "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(record.body.Text(), "0123456789");
  ASSERT_NE(record.spill, nullptr);
  char spilled[16] = {};
  EXPECT_EQ(record.spill->Read(0, spilled, sizeof spilled), 10);
  EXPECT_STREQ(spilled, "abcdefghij");
}

}  // namespace
