// RecordedExchange: what one exchange (one request's response) brought, kept
// so that it can be played back later as if the server were answering again.
//
// Fetching ahead records each exchange of a fetch (every redirect is an
// exchange of its own) through an ExchangeRecorder given to Fetch: the
// response heads as read (interim 1xx heads included), and the bytes after
// them as received, as far as the reader took them (a chunked body with its
// coding, decoded again on replay), with the error that ended them. Bytes
// the connection held past the exchange are not part of it. The crawl later runs the same fetch
// through ReplayConnector, whose transports play the exchanges back. The HTTP
// code reads a replay exactly as it read the server, so it reports, counts
// and saves exactly the same; an exchange that was not recorded (or not
// usable) is made for real instead.
//
// A recorder writes into recordings it does not own, which must outlive the
// fetch and its body. Each recording is made by one thread and read by
// another only after it is finished.
#ifndef FERRET_NET_RECORDEDEXCHANGE_H_
#define FERRET_NET_RECORDEDEXCHANGE_H_

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/Connector.h"
#include "net/Failure.h"
#include "net/SharedBudget.h"
#include "text/CStr.h"

// SpillFile: what a recording holds past its memory cap, kept in an
// unnamed temporary file (under $TMPDIR, or /tmp) that disappears with the
// object. Written by the recording thread, read by the replay after it.
class SpillFile {
 public:
  SpillFile();
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  // False when the file could not be made or written.
  bool Append(const char* data, size_t length);
  // Up to length bytes from offset; the count read (0 at the end) or -1.
  long Read(size_t offset, char* data, size_t length) const;
  size_t Size() const { return size; }

 private:
  int fd = -1;
  size_t size = 0;
};

// Memory a recording drew from the run's budget for recordings (none: no
// budget), given back when the recording goes; a body that finds no room
// goes on in its spill file.
class BudgetDraw {
 public:
  BudgetDraw() = default;
  BudgetDraw(BudgetDraw&& other) noexcept : from(std::move(other.from)), bytes(other.bytes) {
    other.bytes = 0;
  }
  BudgetDraw& operator=(BudgetDraw&&) = delete;
  ~BudgetDraw() {
    if (from != nullptr) from->Give(bytes);
  }
  // Draws from budget from now on (before anything was drawn).
  void DrawFrom(std::shared_ptr<SharedBudget> budget) { from = std::move(budget); }
  // Draws more bytes; false when the budget has no room for them.
  bool Grow(size_t more);
  size_t Bytes() const { return bytes; }

 private:
  std::shared_ptr<SharedBudget> from;
  size_t bytes = 0;
};

// Bytes kept in memory in pieces of at most kPiece, so that a recording that
// grows never moves what it holds (nor maps and unmaps memory of its own for
// it, which costs every thread of the process a page-table flush). The first
// piece grows from a page's worth by doubling, so that a small body takes
// little; every piece after it is allotted whole.
class RecordedBytes {
 public:
  static constexpr size_t kPiece = 64 * 1024;

  size_t size() const { return length; }
  // The bytes room is kept for.
  size_t Capacity() const { return capacity; }
  // The room, at most limit, that holding size bytes in all takes: the
  // first piece doubled as far as it goes, then whole pieces.
  size_t RoomFor(size_t size, size_t limit) const;
  // Makes room (as RoomFor gave it) in all.
  void Reserve(size_t room);
  // Appends bytes within the room made.
  void Append(const char* data, size_t count);
  // Up to count bytes from offset; how many (0 at the end).
  size_t Read(size_t offset, char* data, size_t count) const;
  // All of them, at once (for tests and small bodies).
  std::string Text() const;

 private:
  struct Piece {
    std::unique_ptr<char[]> bytes;
    size_t room = 0;
    size_t used = 0;
  };
  std::vector<Piece> pieces;  // all but the last full
  size_t length = 0;
  size_t capacity = 0;
};

struct RecordedExchange {
  CStr url;                // the URL the exchange was made for
  bool connected = false;  // false: the connect failed, as failure says
  Failure failure;
  std::string targetUri;    // the URL asked for, absolute: scheme, authority, target
  std::string request;      // the request's bytes as sent (empty: none went out)
  std::string peerAddress;  // the address the connection reached (SocketStreamBuf)
  std::chrono::system_clock::time_point began;  // when the request went out
  std::string head;  // the response heads' bytes, as far as they were read
  // The bytes after the head as received, as far as they were read: the
  // first ones in memory, those past the memory cap in a temporary file.
  RecordedBytes body;
  std::shared_ptr<SpillFile> spill;
  int endError = 0;  // errno of the receive that ended the exchange; 0: none failed
  // False once a byte could not be kept (the temporary file could not be
  // made or written): a reader could then ask for more than was recorded. (A
  // fetch that stopped reading early, at a redirect or an error status, is
  // still usable: a replay reads the same.)
  bool usable = true;
  // False when the thread that recorded the exchange read the body itself
  // and left it out (ResponseBody::LeaveBodyOut): a replay then delivers the
  // head and fails past it (EIO), so that a reader can never take the
  // missing body for an empty one.
  bool bodyKept = true;

  // What the body's memory is drawn from.
  BudgetDraw memory;

  // Appends length body bytes, in memory while the body holds fewer than
  // memoryCap and memory has room, in the spill file past that.
  void AppendBody(const char* data, size_t length, size_t memoryCap);

  // The body bytes recorded: in memory, then in the spill file.
  unsigned long long BodySize() const { return body.size() + (spill ? spill->Size() : 0); }
  // Hands them to sink in order, in pieces; false when the spill file could
  // not be read (sink then had only some of them).
  bool ReadBody(const std::function<void(std::string_view)>& sink) const;

 private:
  // Makes room in memory for a body of size bytes (at most memoryCap): false
  // when memory has none.
  bool reserveBody(size_t size, size_t memoryCap);
};

// The recordings of one fetch; a deque, so that a recording stays where it is
// while later ones are added.
using Recordings = std::deque<RecordedExchange>;

// Where Fetch records its exchanges: appended to *into in order, each
// keeping at most cap body bytes in memory, drawn from budget when there is
// one. With everyBody, the bodies of redirects and error answers are read
// and recorded too (up to kMaxPassedBody bytes each), not only the body
// handed on.
struct ExchangeRecorder {
  Recordings* into;
  size_t cap;
  std::shared_ptr<SharedBudget> budget;
  bool everyBody = false;
};

// The most bytes of a redirect's or an error answer's body a recorder with
// everyBody reads.
constexpr unsigned long long kMaxPassedBody = 1u << 20;

// Plays back *from in order, while each exchange asked for is the next one
// recorded and usable; otherwise (and from then on) connects through
// otherwise (for real, by default). The transports it makes share from, so
// it lives as long as the last of them.
Connector ReplayConnector(std::shared_ptr<const Recordings> from,
                          Connector otherwise = ConnectTo);

#endif  // FERRET_NET_RECORDEDEXCHANGE_H_
