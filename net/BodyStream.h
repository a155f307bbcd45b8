// BodyStream: a stream buffer that delivers exactly one response body from
// the connection below it.
//
// The framing decides where the body ends: after its declared length (bytes
// past it stay in the connection, never delivered), at the last chunk of the
// chunked transfer coding, or when the connection ends. Chunked bodies are
// decoded (RFC 9112, 7.1): a size line of hex digits, with extensions after
// ';' passed over, then that many bytes and a CR LF (or LF); the chunk of
// size 0 is the last, and the trailer lines after it up to the empty line
// are read and dropped. Once the last chunk is read the body is whole,
// whatever the trailers do. A size line that does not read so (or passes
// kMaxChunkLine), data not followed by its line end, or a connection that
// ends in order before the last chunk makes the body malformed. The
// connection is borrowed: it must outlive the body stream, or the
// stream must be detached first, after which it delivers nothing more.
// Nothing past the body's end is read, so that a connection could serve a
// next exchange.
//
// The stream reports the bytes it has delivered, whether the body ended at
// its framing's end or was malformed, and the errno of the receive that ended it, if one
// failed. Reading only; seeking and writing are not supported. Not
// thread-safe.
#ifndef FERRET_NET_BODYSTREAM_H_
#define FERRET_NET_BODYSTREAM_H_

#include <cstddef>
#include <streambuf>
#include <string>
#include <string_view>

#include "net/HttpResponse.h"
#include "net/SocketStreamBuf.h"

struct RecordedExchange;

enum class BodyFraming {
  kLength,      // exactly the declared length
  kUntilClose,  // until the connection ends
  kChunked,     // chunked transfer coding, decoded
};

// The longest chunk size line, extensions included, before it is malformed.
constexpr size_t kMaxChunkLine = 4096;

struct Framing {
  BodyFraming kind = BodyFraming::kUntilClose;
  long long length = 0;     // for kLength: the bytes to deliver
  long long declared = -1;  // the length the head declared; -1 for none
};

// How the body after head is framed: a Transfer-Encoding ending in chunked
// is chunked, any other Transfer-Encoding runs until close, and so does a
// head without a valid Content-Length; a Content-Length otherwise frames the
// body. A head that did not end with its empty line has no body, whatever
// it declared. A Content-Length beside a Transfer-Encoding is not heeded.
Framing FramingOf(const HttpResponse& head);

class BodyStream : public std::streambuf {
 public:
  BodyStream(SocketStreamBuf& connection, Framing framing);
  BodyStream(const BodyStream&) = delete;
  BodyStream& operator=(const BodyStream&) = delete;

  // Copies every byte taken from the connection (the chunked coding's own
  // bytes included, so that a replay decodes them again), and the error
  // that ended the body, into record (not owned, must outlive the stream),
  // which keeps at most cap body bytes in memory (RecordedExchange::AppendBody).
  void RecordInto(RecordedExchange* record, size_t cap);
  // Records nothing more, and marks the record as holding none of the body
  // (RecordedExchange::bodyKept); before any of the body is read.
  void LeaveOutOfRecord();

  // The body bytes that come next, read without a copy: at least one, or
  // none once the body is over (where a read would give EOF). Consume says
  // how many of them were used; the rest come again.
  std::string_view Next();
  void Consume(size_t n) { gbump(static_cast<int>(n)); }

  // The connection is no longer to be read: every read gives EOF.
  void Detach();
  // Reads the rest of the body (recording it, as any read does) and drops
  // it, until it ends or fails.
  void Discard();
  // As Discard, while at most limit more bytes are dropped (a body of a
  // declared length that has more left is not read at all). Whether the
  // body reached its end.
  bool DiscardUpTo(unsigned long long limit);

  // Body bytes handed to the reader so far.
  unsigned long long Delivered() const;
  // True once the body reached its framing's end: its whole length, or an
  // orderly close of a body that runs until close.
  bool Ended() const { return state == State::kEnded; }
  // True when the chunked coding did not read as one (see above).
  bool Malformed() const { return state == State::kMalformed; }
  // The errno of the receive that ended the body; 0 when none failed.
  int ReceiveError() const { return receiveError; }

 protected:
  int_type underflow() override;

 private:
  enum class State { kOpen, kEnded, kClosedEarly, kFailed, kMalformed, kDetached };
  static constexpr size_t kBufferSize = 16 * 1024;

  // Ends the body in state; returns EOF.
  int_type finish(State reached, int error);
  // Whether the connection holds a byte for the body. If not, the body is
  // finished: in closed at an orderly end, as a failed receive at a failure.
  bool ready(State closed);
  // Moves up to limit bytes that the connection holds (at least one, after
  // ready) into the buffer; returns the first.
  int_type fill(unsigned long long limit);
  int_type underflowChunked();
  // One byte of the chunked coding itself, recorded; false as ready.
  bool controlByte(char* c, State closed);
  // One line of the chunked coding without its LF and a CR before it,
  // spending at most *budget bytes. False when the body finished first (as
  // ready), or with the state still open when the budget ran out.
  bool controlLine(std::string* line, size_t* budget, State closed);
  // The size line of the next chunk; false once the body finished.
  bool chunkSize(unsigned long long* size);
  // The line end after a chunk's data; false once the body finished.
  bool chunkEnd();
  // Ends the body as malformed; returns false.
  bool malformed();

  SocketStreamBuf* connection;  // borrowed; null once detached
  const Framing framing;
  unsigned long long taken = 0;  // bytes moved from the connection into buffer
  State state = State::kOpen;
  int receiveError = 0;
  RecordedExchange* record = nullptr;  // not owned
  size_t cap = 0;
  unsigned long long chunkLeft = 0;  // data bytes of the present chunk not yet taken
  bool afterData = false;            // a chunk's data was taken; its line end is next
  char buffer[kBufferSize];
};

#endif  // FERRET_NET_BODYSTREAM_H_
