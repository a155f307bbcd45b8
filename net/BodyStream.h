// BodyStream: a stream buffer that delivers exactly one response body from
// the connection below it.
//
// The framing decides where the body ends: after its declared length (bytes
// past it stay in the connection, never delivered), or when the connection
// ends. The connection is borrowed: it must outlive the body stream, or the
// stream must be detached first, after which it delivers nothing more.
// Nothing past the body's end is read, so that a connection could serve a
// next exchange.
//
// The stream reports the bytes it has delivered, whether the body ended at
// its framing's end, and the errno of the receive that ended it, if one
// failed. Reading only; seeking and writing are not supported. Not
// thread-safe.
#ifndef FERRET_NET_BODYSTREAM_H_
#define FERRET_NET_BODYSTREAM_H_

#include <cstddef>
#include <streambuf>

#include "net/HttpResponse.h"
#include "net/SocketStreamBuf.h"

struct RecordedExchange;

enum class BodyFraming {
  kLength,      // exactly the declared length
  kUntilClose,  // until the connection ends
  kChunked,     // chunked transfer coding; not decoded yet: read until close
};

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

  // Copies every byte taken from the connection, and the error that ended
  // the body, into record (not owned, must outlive the stream). Once the
  // recording holds cap bytes, the body ends as a failed receive (EFBIG) and
  // the recording is marked unusable.
  void RecordInto(RecordedExchange* record, size_t cap);

  // The connection is no longer to be read: every read gives EOF.
  void Detach();

  // Body bytes handed to the reader so far.
  unsigned long long Delivered() const;
  // True once the body reached its framing's end: its whole length, or an
  // orderly close of a body that runs until close.
  bool Ended() const { return state == State::kEnded; }
  // The errno of the receive that ended the body; 0 when none failed.
  int ReceiveError() const { return receiveError; }

 protected:
  int_type underflow() override;

 private:
  enum class State { kOpen, kEnded, kClosedEarly, kFailed, kDetached };
  static constexpr size_t kBufferSize = 1024;

  // Ends the body in state; returns EOF.
  int_type finish(State reached, int error);

  SocketStreamBuf* connection;  // borrowed; null once detached
  const Framing framing;
  unsigned long long taken = 0;  // bytes moved from the connection into buffer
  State state = State::kOpen;
  int receiveError = 0;
  RecordedExchange* record = nullptr;  // not owned
  size_t cap = 0;
  char buffer[kBufferSize];
};

#endif  // FERRET_NET_BODYSTREAM_H_
