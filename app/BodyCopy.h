// BodyCopy: an answer's body handed on as it is read, so that one reading
// serves a save besides the page's scan.
//
// Whoever reads the body (a page's scan) gives every piece it takes to a
// PieceSink, in order, and CopyRest takes what the reader left, so that the
// sink sees the whole body once, byte for byte, however far the reader went.
//
// PieceStream is the line reader's view of a body: a stream buffer over the
// body's own pieces (ResponseBody::NextPiece, no copy) that hands each piece
// to the sink as it fetches it, and consumes it from the body once the next
// is asked for (or at its destruction).
//
// HeldBody keeps what a sink was given, for a save decided only once the page
// is read: in memory up to kInMemory bytes, the rest in an unnamed temporary
// file (net/RecordedExchange.h, SpillFile) that goes with it. Not copyable;
// used by one thread.
#ifndef FERRET_APP_BODYCOPY_H_
#define FERRET_APP_BODYCOPY_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>

#include "net/HttpRequest.h"
#include "net/RecordedExchange.h"

// Hears one piece of a body; returns whether it wants the pieces after it.
using PieceSink = std::function<bool(std::string_view)>;

// Takes the rest of body to its end (or until a receive fails), giving each
// piece to sink while it wants more, and its size to onBytes when given.
void CopyRest(ResponseBody& body, const PieceSink& sink,
              const std::function<void(size_t)>& onBytes = nullptr);

class PieceStream : public std::streambuf {
 public:
  // sink may be empty; both must outlive the stream.
  PieceStream(ResponseBody& body, const PieceSink& sink) : body(body), sink(sink) {}
  ~PieceStream() override { body.ConsumePiece(held); }
  PieceStream(const PieceStream&) = delete;
  PieceStream& operator=(const PieceStream&) = delete;

 protected:
  int_type underflow() override;

 private:
  ResponseBody& body;
  const PieceSink& sink;
  size_t held = 0;  // the body's present piece, in the get area and not yet consumed
};

class HeldBody {
 public:
  static constexpr size_t kInMemory = 1u << 20;

  HeldBody() = default;
  HeldBody(const HeldBody&) = delete;
  HeldBody& operator=(const HeldBody&) = delete;

  // Keeps piece after those before it; false (from then on) once a byte
  // could not be kept (no temporary file could be made or written).
  bool Append(std::string_view piece);
  bool Whole() const { return whole; }
  size_t Size() const { return memory.size() + (spill ? spill->Size() : 0); }
  // Hands every byte kept to write, in order, while it returns true; false
  // when it refused one or the temporary file could not be read.
  bool WriteTo(const std::function<bool(const char*, size_t)>& write) const;

 private:
  std::string memory;  // the first kInMemory bytes
  std::unique_ptr<SpillFile> spill;  // the rest, once there is more
  bool whole = true;
};

#endif  // FERRET_APP_BODYCOPY_H_
