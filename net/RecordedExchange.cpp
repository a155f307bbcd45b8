#include "net/RecordedExchange.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// An unnamed file under dir, or -1.
int OpenUnnamed(const char* dir) {
  int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd != -1 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without O_TMPFILE: a named file, removed at once.
  std::string path = std::string(dir) + "/.ferret-spill-XXXXXX";
  fd = mkostemp(&path[0], O_CLOEXEC);
  if (fd != -1) unlink(path.c_str());
  return fd;
}

// Plays an exchange back: its head, then its body, then its end; what is
// sent goes nowhere.
class ReplayTransport : public Transport {
 public:
  ReplayTransport(std::shared_ptr<const Recordings> all, const RecordedExchange* record)
      : all(std::move(all)), record(record) {}

  long Send(const char*, size_t length) override { return static_cast<long>(length); }

  long Receive(char* data, size_t length) override {
    size_t inMemory = record->head.size() + record->body.size();
    if (position >= inMemory && record->spill != nullptr) {
      long got = record->spill->Read(position - inMemory, data, length);
      if (got > 0) {
        position += static_cast<size_t>(got);
        return got;
      }
      if (got < 0) return -1;
    }
    size_t taken;
    const std::string& head = record->head;
    if (position >= head.size() && !record->bodyKept) {
      errno = EIO;
      return -1;
    }
    if (position < head.size()) {
      taken = head.size() - position < length ? head.size() - position : length;
      std::memcpy(data, head.data() + position, taken);
    } else {
      taken = record->body.Read(position - head.size(), data, length);
    }
    if (taken == 0) {
      if (record->endError == 0) return 0;
      errno = record->endError;
      return -1;
    }
    position += taken;
    return static_cast<long>(taken);
  }

 private:
  const std::shared_ptr<const Recordings> all;  // keeps record alive
  const RecordedExchange* const record;
  size_t position = 0;  // in head, then body
};

}  // namespace

SpillFile::SpillFile() {
  const char* dir = std::getenv("TMPDIR");
  fd = OpenUnnamed(dir != nullptr && *dir != '\0' ? dir : "/tmp");
}

SpillFile::~SpillFile() {
  if (fd != -1) close(fd);
}

bool SpillFile::Append(const char* data, size_t length) {
  if (fd == -1) return false;
  while (length > 0) {
    ssize_t written = pwrite(fd, data, length, static_cast<off_t>(size));
    if (written == -1 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    length -= static_cast<size_t>(written);
    size += static_cast<size_t>(written);
  }
  return true;
}

long SpillFile::Read(size_t offset, char* data, size_t length) const {
  if (offset >= size) return 0;
  if (length > size - offset) length = size - offset;
  ssize_t got;
  do {
    got = pread(fd, data, length, static_cast<off_t>(offset));
  } while (got == -1 && errno == EINTR);
  return static_cast<long>(got);
}

bool BudgetDraw::Grow(size_t more) {
  if (from != nullptr && !from->Take(more)) return false;
  bytes += more;
  return true;
}

size_t RecordedBytes::RoomFor(size_t size, size_t limit) const {
  size_t room = capacity;
  if (pieces.size() <= 1) {
    size_t first = room == 0 ? 4096 : room;
    while (first < size && first < kPiece) first *= 2;
    room = first < kPiece ? first : kPiece;
  }
  while (room < size) room += kPiece;
  return room < limit ? room : limit;
}

void RecordedBytes::Reserve(size_t room) {
  if (room <= capacity) return;
  if (pieces.size() <= 1 && capacity < kPiece) {
    // The first piece grows in place of itself while it is the only one.
    Piece first;
    first.room = room < kPiece ? room : kPiece;
    first.bytes.reset(new char[first.room]);
    if (!pieces.empty()) {
      first.used = pieces.front().used;
      std::memcpy(first.bytes.get(), pieces.front().bytes.get(), first.used);
      pieces.front() = std::move(first);
    } else {
      pieces.push_back(std::move(first));
    }
    capacity = pieces.front().room;
  }
  while (capacity < room) {
    Piece piece;
    piece.room = room - capacity < kPiece ? room - capacity : kPiece;
    piece.bytes.reset(new char[piece.room]);
    capacity += piece.room;
    pieces.push_back(std::move(piece));
  }
}

void RecordedBytes::Append(const char* data, size_t count) {
  for (Piece& piece : pieces) {
    if (count == 0) return;
    size_t taken = piece.room - piece.used < count ? piece.room - piece.used : count;
    std::memcpy(piece.bytes.get() + piece.used, data, taken);
    piece.used += taken;
    data += taken;
    count -= taken;
    length += taken;
  }
}

size_t RecordedBytes::Read(size_t offset, char* data, size_t count) const {
  for (const Piece& piece : pieces) {
    if (offset >= piece.used) {
      offset -= piece.used;
      continue;
    }
    size_t taken = piece.used - offset < count ? piece.used - offset : count;
    std::memcpy(data, piece.bytes.get() + offset, taken);
    return taken;
  }
  return 0;
}

std::string RecordedBytes::Text() const {
  std::string all;
  all.reserve(length);
  for (const Piece& piece : pieces) all.append(piece.bytes.get(), piece.used);
  return all;
}

bool RecordedExchange::reserveBody(size_t size, size_t memoryCap) {
  if (size <= body.Capacity()) return true;
  size_t wanted = body.RoomFor(size, memoryCap);
  if (!memory.Grow(wanted - body.Capacity())) return false;
  body.Reserve(wanted);
  return true;
}

void RecordedExchange::AppendBody(const char* data, size_t length, size_t memoryCap) {
  if (spill == nullptr && body.size() < memoryCap) {
    size_t kept = memoryCap - body.size() < length ? memoryCap - body.size() : length;
    if (!reserveBody(body.size() + kept, memoryCap)) kept = 0;
    body.Append(data, kept);
    data += kept;
    length -= kept;
  }
  if (length == 0) return;
  if (spill == nullptr) spill = std::make_shared<SpillFile>();
  if (!spill->Append(data, length)) usable = false;
}

bool RecordedExchange::ReadBody(const std::function<void(std::string_view)>& sink) const {
  char piece[RecordedBytes::kPiece];
  for (size_t at = 0;;) {
    size_t got = body.Read(at, piece, sizeof piece);
    if (got == 0) break;
    sink(std::string_view(piece, got));
    at += got;
  }
  if (spill == nullptr) return true;
  for (size_t at = 0;;) {
    long got = spill->Read(at, piece, sizeof piece);
    if (got < 0) return false;
    if (got == 0) return true;
    sink(std::string_view(piece, static_cast<size_t>(got)));
    at += static_cast<size_t>(got);
  }
}

Connector ReplayConnector(std::shared_ptr<const Recordings> from, Connector otherwise) {
  auto next = std::make_shared<size_t>(0);
  return [from, next, otherwise](SocketStreamBuf& connection, const Url& url, Failure* failure) {
    bool replay = *next < from->size() && (*from)[*next].usable && (*from)[*next].url == url.Text();
    if (!replay) {
      *next = from->size();  // the recordings no longer follow this fetch
      return otherwise(connection, url, failure);
    }
    const RecordedExchange& record = (*from)[(*next)++];
    if (!record.connected) {
      *failure = record.failure;
      return false;
    }
    connection.UseTransport(std::make_unique<ReplayTransport>(from, &record));
    connection.peerAddress = record.peerAddress;
    return true;
  };
}
