#include "net/ContentDecoder.h"

#include <brotli/decode.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "text/AsciiCase.h"

namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The first two bytes of a zlib stream (RFC 1950): deflate, a window of at
// most 32 KiB, and a check that makes them a multiple of 31.
bool IsZlibHeader(unsigned char cmf, unsigned char flg) {
  return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

}  // namespace

// One coding's decompressor. Step decodes what it can of *data (moving
// *data and *n past what it took) into out, at most room bytes, and says
// how many it wrote; false for a stream that does not read as the coding.
// The caller steps again while input is left, the room was filled, or the
// codec holds input of its own (Pending).
class ContentDecoder::Codec {
 public:
  virtual ~Codec() = default;
  virtual bool Step(const char** data, size_t* n, char* out, size_t room, size_t* written) = 0;
  virtual bool Pending() const { return false; }
  // The stream's end has been read (bytes after it are passed over).
  virtual bool Ended() const = 0;
};

// gzip, and deflate in either of its two forms.
class ContentDecoder::Zlib : public ContentDecoder::Codec {
 public:
  explicit Zlib(bool gzip) : gzip_(gzip) {}
  ~Zlib() override {
    if (started_) inflateEnd(&z_);
  }

  bool Step(const char** data, size_t* n, char* out, size_t room, size_t* written) override {
    *written = 0;
    // The stream is made ready at its first step: a body nobody reads (a
    // replay of a page read ahead) costs no decoder state.
    if (gzip_ && !started_ && !tried_) {
      tried_ = true;
      started_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
    }
    if (!gzip_ && !started_) {
      // deflate: the zlib form or the raw one, told by the first two bytes.
      while (head_ < 2 && *n > 0) {
        first_[head_++] = *(*data)++;
        --*n;
      }
      if (head_ < 2) return true;
      bool zlib = IsZlibHeader(static_cast<unsigned char>(first_[0]),
                               static_cast<unsigned char>(first_[1]));
      started_ = inflateInit2(&z_, zlib ? MAX_WBITS : -MAX_WBITS) == Z_OK;
      if (!started_) return false;
      headLeft_ = 2;
    }
    if (!started_) return false;
    if (headLeft_ > 0) {  // the two bytes taken go in first
      const char* head = first_ + (2 - headLeft_);
      size_t left = headLeft_;
      bool fine = Inflate(&head, &left, out, room, written);
      headLeft_ = left;
      return fine;
    }
    if (ended_) {
      // Another gzip member may follow; anything else is passed over.
      if (*n == 0) return true;
      if (!gzip_ || static_cast<unsigned char>(**data) != 0x1F) {
        *data += *n;
        *n = 0;
        return true;
      }
      if (inflateReset(&z_) != Z_OK) return false;
      ended_ = false;
    }
    return Inflate(data, n, out, room, written);
  }
  bool Pending() const override { return headLeft_ > 0; }
  bool Ended() const override { return ended_; }

 private:
  bool Inflate(const char** data, size_t* n, char* out, size_t room, size_t* written) {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(*data));
    z_.avail_in = static_cast<uInt>(*n);
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(room);
    int result = inflate(&z_, Z_NO_FLUSH);
    *written = room - z_.avail_out;
    *data += *n - z_.avail_in;
    *n = z_.avail_in;
    if (result == Z_STREAM_END) {
      ended_ = true;
      return true;
    }
    // Z_BUF_ERROR: nothing to do without more input (not an error then).
    return result == Z_OK || (result == Z_BUF_ERROR && *n == 0);
  }

  const bool gzip_;
  z_stream z_{};
  bool started_ = false;
  bool tried_ = false;  // gzip: the stream was made ready, or that failed
  bool ended_ = false;
  char first_[2] = {0, 0};
  size_t head_ = 0;      // bytes of first_ taken
  size_t headLeft_ = 0;  // of those, still to be decoded
};

class ContentDecoder::Brotli : public ContentDecoder::Codec {
 public:
  Brotli() : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
  ~Brotli() override {
    if (state_ != nullptr) BrotliDecoderDestroyInstance(state_);
  }

  bool Step(const char** data, size_t* n, char* out, size_t room, size_t* written) override {
    *written = 0;
    if (state_ == nullptr) return false;
    if (ended_) {
      *n = 0;
      return true;
    }
    const uint8_t* in = reinterpret_cast<const uint8_t*>(*data);
    size_t inLeft = *n;
    uint8_t* next = reinterpret_cast<uint8_t*>(out);
    size_t outLeft = room;
    BrotliDecoderResult result =
        BrotliDecoderDecompressStream(state_, &inLeft, &in, &outLeft, &next, nullptr);
    *written = room - outLeft;
    *data = reinterpret_cast<const char*>(in);
    *n = inLeft;
    if (result == BROTLI_DECODER_RESULT_ERROR) return false;
    if (result == BROTLI_DECODER_RESULT_SUCCESS) ended_ = true;
    return true;
  }
  bool Ended() const override { return ended_; }

 private:
  BrotliDecoderState* state_;
  bool ended_ = false;
};

bool ContentDecoder::CodingOf(std::string_view value, ContentCoding* coding) {
  value = Trimmed(value);
  if (value.empty() || EqualsFolded(value, "identity")) {
    *coding = ContentCoding::kIdentity;
  } else if (EqualsFolded(value, "gzip") || EqualsFolded(value, "x-gzip")) {
    *coding = ContentCoding::kGzip;
  } else if (EqualsFolded(value, "deflate")) {
    *coding = ContentCoding::kDeflate;
  } else if (EqualsFolded(value, "br")) {
    *coding = ContentCoding::kBrotli;
  } else {
    return false;
  }
  return true;
}

ContentDecoder::ContentDecoder(ContentCoding coding) {
  switch (coding) {
    case ContentCoding::kIdentity: break;
    case ContentCoding::kGzip: codec_ = std::make_unique<Zlib>(true); break;
    case ContentCoding::kDeflate: codec_ = std::make_unique<Zlib>(false); break;
    case ContentCoding::kBrotli: codec_ = std::make_unique<Brotli>(); break;
  }
}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::Hand(const char* data, size_t n, const Emit& emit) {
  decoded_ += n;
  if (decoded_ > kMaxDecodedBytes || decoded_ > kMaxDecodedRatio * encoded_ + kDecodedSlack) {
    problem_ = Problem::kTooLarge;
    stopped_ = true;
    return false;
  }
  if (n != 0 && !emit(data, n)) stopped_ = true;
  return !stopped_;
}

bool ContentDecoder::Feed(const char* data, size_t n, const Emit& emit) {
  if (stopped_) return false;
  encoded_ += n;
  if (codec_ == nullptr) {
    for (size_t at = 0; at < n; at += kDecodedPiece) {
      if (!Hand(data + at, std::min(kDecodedPiece, n - at), emit)) return false;
    }
    return true;
  }
  // Decoded bytes go out as they come, a piece at a time.
  if (piece_ == nullptr) piece_.reset(new char[kDecodedPiece]);
  for (;;) {
    const size_t before = n;
    size_t written = 0;
    if (!codec_->Step(&data, &n, piece_.get(), kDecodedPiece, &written)) {
      problem_ = Problem::kCorrupt;
      stopped_ = true;
      return false;
    }
    if (!Hand(piece_.get(), written, emit)) return false;
    if (n == 0 && written < kDecodedPiece && !codec_->Pending()) return true;
    if (written == 0 && n == before && !codec_->Pending()) {  // no progress: never spin
      problem_ = Problem::kCorrupt;
      stopped_ = true;
      return false;
    }
  }
}

bool ContentDecoder::Finish() {
  if (stopped_) return false;
  if (codec_ == nullptr || encoded_ == 0 || codec_->Ended()) return true;
  problem_ = Problem::kCutShort;
  stopped_ = true;
  return false;
}
