// ContentDecoder: undoes a response body's Content-Encoding as the body
// streams, so that a page is scanned, and a file saved, as the resource's
// own bytes, as a browser would save them.
//
//   ContentDecoder decoder(coding);
//   while (piece) if (!decoder.Feed(piece, n, emit)) -> decoder.Problem()
//   if (!decoder.Finish()) -> decoder.Problem()
//
// Codings: gzip (and x-gzip; members one after another are read as one
// body), deflate (the zlib format RFC 9110 names, or the raw deflate some
// servers send instead, told apart by the zlib header as browsers do) and
// br (Brotli, RFC 7932). Bytes after the end of the last stream are passed
// over, as browsers pass them over.
//
// Bounded, so that a small body cannot fill a disk or the memory: decoding
// fails once the decoded bytes pass kMaxDecodedRatio times the encoded bytes
// read plus kDecodedSlack (a bomb fails after a few MB), or kMaxDecodedBytes
// in all. Decoded bytes are handed over in pieces of at most kDecodedPiece
// as they come, and the decoder holds no more than its coding's window (32
// KiB for gzip and deflate, at most 16 MiB for br). A stream that does not
// read as its coding, or that ends before its end, is a problem; what was
// handed over before it is the caller's to throw away.
//
// One decoder reads one body; not thread-safe.
#ifndef FERRET_NET_CONTENTDECODER_H_
#define FERRET_NET_CONTENTDECODER_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

constexpr unsigned kMaxDecodedRatio = 100;
constexpr size_t kDecodedSlack = 1u << 20;
constexpr unsigned long long kMaxDecodedBytes = 4ull << 30;
constexpr size_t kDecodedPiece = 64 * 1024;

enum class ContentCoding { kIdentity, kGzip, kDeflate, kBrotli };

class ContentDecoder {
 public:
  enum class Problem { kNone, kCorrupt, kTooLarge, kCutShort };

  // The coding a Content-Encoding value names (letter case and white
  // space aside; none or "identity": kIdentity). False for another coding
  // or a list of several, which this decoder cannot undo.
  static bool CodingOf(std::string_view contentEncoding, ContentCoding* coding);

  explicit ContentDecoder(ContentCoding coding);
  ~ContentDecoder();
  ContentDecoder(const ContentDecoder&) = delete;
  ContentDecoder& operator=(const ContentDecoder&) = delete;

  // Hands what is false to stop decoding (as a failed write would).
  using Emit = std::function<bool(const char* data, size_t length)>;
  // Decodes the next n encoded bytes, handing the decoded ones to emit.
  // False once a problem was met (Problem() says which) or emit said stop.
  bool Feed(const char* data, size_t n, const Emit& emit);
  // The encoded body ended: false when its stream had not (kCutShort).
  bool Finish();

  Problem problem() const { return problem_; }
  unsigned long long EncodedBytes() const { return encoded_; }
  unsigned long long DecodedBytes() const { return decoded_; }

 private:
  class Codec;
  class Zlib;
  class Brotli;

  // Counts n decoded bytes against the bounds and hands them to emit.
  bool Hand(const char* data, size_t n, const Emit& emit);

  std::unique_ptr<Codec> codec_;  // null for kIdentity
  std::unique_ptr<char[]> piece_;  // kDecodedPiece bytes, made at the first Feed
  Problem problem_ = Problem::kNone;
  bool stopped_ = false;  // emit said stop, or a problem was met
  unsigned long long encoded_ = 0;
  unsigned long long decoded_ = 0;
};

#endif  // FERRET_NET_CONTENTDECODER_H_
