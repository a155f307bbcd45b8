#include "app/BodyCopy.h"

void CopyRest(ResponseBody& body, const PieceSink& sink,
              const std::function<void(size_t)>& onBytes) {
  // An empty piece is the body's end, or a receive that failed.
  for (std::string_view piece = body.NextPiece(); !piece.empty(); piece = body.NextPiece()) {
    if (onBytes) onBytes(piece.size());
    bool more = sink(piece);
    body.ConsumePiece(piece.size());
    if (!more) return;
  }
}

PieceStream::int_type PieceStream::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  body.ConsumePiece(held);
  held = 0;
  std::string_view piece = body.NextPiece();
  if (piece.empty()) {
    setg(nullptr, nullptr, nullptr);
    return traits_type::eof();
  }
  if (sink) sink(piece);
  held = piece.size();
  // The get area is only read (neither std::istream nor ReadLine writes
  // through it), and the piece stays where it is until it is consumed.
  char* start = const_cast<char*>(piece.data());
  setg(start, start, start + held);
  return traits_type::to_int_type(*start);
}

bool HeldBody::Append(std::string_view piece) {
  if (!whole) return false;
  size_t room = memory.size() < kInMemory ? kInMemory - memory.size() : 0;
  size_t first = piece.size() < room ? piece.size() : room;
  memory.append(piece.data(), first);
  if (first == piece.size()) return true;
  if (spill == nullptr) spill = std::make_unique<SpillFile>();
  whole = spill->Append(piece.data() + first, piece.size() - first);
  return whole;
}

bool HeldBody::WriteTo(const std::function<bool(const char*, size_t)>& write) const {
  if (!memory.empty() && !write(memory.data(), memory.size())) return false;
  if (spill == nullptr) return true;
  char block[64 * 1024];
  for (size_t offset = 0; offset < spill->Size();) {
    long got = spill->Read(offset, block, sizeof block);
    if (got <= 0 || !write(block, static_cast<size_t>(got))) return false;
    offset += static_cast<size_t>(got);
  }
  return true;
}
