// DecodedBody: a stream buffer that delivers a response body with its
// Content-Encoding undone (net/ContentDecoder.h), over the body stream that
// delivers it as framed (net/BodyStream.h).
//
// The encoded bytes are taken from the body stream a few KiB at a time, so
// that the decoded bytes waiting to be read stay within what the decoder's
// bounds let a few KiB become. Once decoding fails (the stream is corrupt,
// ends before its end, or passes the bounds), or the body ends, every read
// gives EOF; Problem() tells which it was. The body stream is borrowed and
// must outlive this object. Reading only; not thread-safe.
#ifndef FERRET_NET_DECODEDBODY_H_
#define FERRET_NET_DECODEDBODY_H_

#include <streambuf>
#include <string>
#include <string_view>

#include "net/BodyStream.h"
#include "net/ContentDecoder.h"

class DecodedBody : public std::streambuf {
 public:
  DecodedBody(BodyStream& body, ContentCoding coding);
  DecodedBody(const DecodedBody&) = delete;
  DecodedBody& operator=(const DecodedBody&) = delete;

  // As BodyStream::Next and Consume, for the decoded bytes.
  std::string_view Next();
  void Consume(size_t n) { gbump(static_cast<int>(n)); }

  // kNone until decoding failed. A body stream that ended before its framing's
  // end is not counted here (the body stream says so): only a stream whose
  // encoded bytes all came and do not decode whole.
  ContentDecoder::Problem Problem() const { return decoder.problem(); }
  // Decoded bytes handed to the reader so far.
  unsigned long long Delivered() const;

 protected:
  int_type underflow() override;

 private:
  // The most encoded bytes fed to the decoder at once.
  static constexpr size_t kFeedSize = 4096;

  BodyStream& body;
  ContentDecoder decoder;
  std::string decoded;            // the decoded bytes of the last feed
  unsigned long long handed = 0;  // decoded bytes before those in `decoded`
  bool over = false;              // the body ended, or decoding failed
};

#endif  // FERRET_NET_DECODEDBODY_H_
