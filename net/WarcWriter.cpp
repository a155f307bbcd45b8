#include "net/WarcWriter.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// What the pipe carries: frames of one byte of kind, then what it says.
constexpr char kRecordFrame = 'R';  // FrameHead, index key, index fields, head, block
constexpr char kCommitFrame = 'C';  // the records since the last commit are whole
constexpr char kAbortFrame = 'X';   // they are not: drop them

struct FrameHead {
  uint64_t headLength;
  uint64_t blockLength;
  uint32_t keyLength;
  uint32_t fieldsLength;
};

// Reads the pipe in large pieces.
class PipeReader {
 public:
  explicit PipeReader(int fd) : fd(fd) {}
  // Exactly length bytes; false when the pipe ends (or fails) first.
  bool Read(void* into, size_t length) {
    char* out = static_cast<char*>(into);
    while (length > 0) {
      if (at == end && !fill()) return false;
      size_t take = std::min(length, end - at);
      std::memcpy(out, buffer + at, take);
      out += take;
      at += take;
      length -= take;
    }
    return true;
  }

 private:
  bool fill() {
    for (;;) {
      ssize_t got = read(fd, buffer, sizeof buffer);
      if (got > 0) {
        at = 0;
        end = static_cast<size_t>(got);
        return true;
      }
      if (got < 0 && errno == EINTR) continue;
      return false;
    }
  }

  int fd;
  char buffer[64 * 1024];
  size_t at = 0, end = 0;
};

bool WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t sent = write(fd, data, length);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

// The bytes of one group until it is committed: in memory up to kMemory,
// the rest in an unnamed temporary file.
class GroupBuffer {
 public:
  static constexpr size_t kMemory = 8u << 20;
  ~GroupBuffer() {
    if (spill != -1) close(spill);
  }
  bool Append(const char* data, size_t length) {
    size_ += length;
    if (spill == -1 && memory.size() + length <= kMemory) {
      memory.append(data, length);
      return true;
    }
    if (spill == -1) {
      const char* dir = std::getenv("TMPDIR");
      spill =
          open(dir != nullptr && *dir != '\0' ? dir : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
      if (spill == -1) return false;
    }
    return WriteAll(spill, data, length);
  }
  uint64_t Size() const { return size_; }
  bool WriteTo(int fd) {
    if (!WriteAll(fd, memory.data(), memory.size())) return false;
    if (spill == -1) return true;
    if (lseek(spill, 0, SEEK_SET) != 0) return false;
    char piece[64 * 1024];
    for (;;) {
      ssize_t got = read(spill, piece, sizeof piece);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      if (got == 0) return true;
      if (!WriteAll(fd, piece, static_cast<size_t>(got))) return false;
    }
  }
  void Clear() {
    memory.clear();
    size_ = 0;
    if (spill != -1) close(spill);
    spill = -1;
  }

 private:
  std::string memory;
  int spill = -1;
  uint64_t size_ = 0;
};

// One record's bytes into a group: as they are, or as one gzip member.
class RecordSink {
 public:
  RecordSink(GroupBuffer* into, bool gzip) : into(into), gzip(gzip) {
    if (gzip) {
      std::memset(&stream, 0, sizeof stream);
      deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    }
  }
  ~RecordSink() {
    if (gzip) deflateEnd(&stream);
  }
  bool Add(const char* data, size_t length) {
    if (!gzip) return into->Append(data, length);
    return deflated(data, length, Z_NO_FLUSH);
  }
  bool Finish() { return !gzip || deflated(nullptr, 0, Z_FINISH); }

 private:
  bool deflated(const char* data, size_t length, int flush) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = static_cast<uInt>(length);
    char out[64 * 1024];
    int result;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(out);
      stream.avail_out = sizeof out;
      result = deflate(&stream, flush);
      if (result == Z_STREAM_ERROR) return false;
      size_t made = sizeof out - stream.avail_out;
      if (made > 0 && !into->Append(out, made)) return false;
    } while (stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    return true;
  }

  GroupBuffer* into;
  bool gzip;
  z_stream stream;
};

struct IndexEntry {
  std::string key, fields;
  uint64_t offset, length;
};

// Copies length bytes from the pipe into the record; false when the pipe
// ends first or the record cannot take them.
bool CopyBytes(PipeReader& pipe, RecordSink& record, uint64_t length, bool* sunk) {
  char piece[64 * 1024];
  while (length > 0) {
    size_t take = static_cast<size_t>(std::min<uint64_t>(length, sizeof piece));
    if (!pipe.Read(piece, take)) return false;
    if (*sunk) *sunk = record.Add(piece, take);
    length -= take;
  }
  return true;
}

class Writer {
 public:
  Writer(int in, int file, std::string path)
      : pipe(in),
        file(file),
        path(std::move(path)),
        gzip(this->path.size() > 3 && this->path.compare(this->path.size() - 3, 3, ".gz") == 0) {
    size_t slash = this->path.rfind('/');
    name = slash == std::string::npos ? this->path : this->path.substr(slash + 1);
  }

  // Takes groups until the pipe closes; the exit status of the writer.
  int Run() {
    for (;;) {
      char kind;
      if (!pipe.Read(&kind, 1)) break;
      if (kind == kCommitFrame) {
        if (!Commit()) return Fail(errno);
      } else if (kind == kAbortFrame) {
        group.Clear();
        pending.clear();
      } else if (kind != kRecordFrame || !TakeRecord()) {
        break;  // the crawler went, in the middle of a group: it is dropped
      }
      if (!sinkOk) return Fail(errno);
    }
    if (!WriteIndex()) return Fail(errno);
    if (fdatasync(file) != 0 && errno != EINVAL) return Fail(errno);
    return 0;
  }

 private:
  bool TakeRecord() {
    FrameHead head;
    if (!pipe.Read(&head, sizeof head)) return false;
    IndexEntry entry;
    entry.key.resize(head.keyLength);
    entry.fields.resize(head.fieldsLength);
    if (!pipe.Read(&entry.key[0], entry.key.size()) ||
        !pipe.Read(&entry.fields[0], entry.fields.size())) {
      return false;
    }
    entry.offset = group.Size();
    RecordSink record(&group, gzip);
    if (!CopyBytes(pipe, record, head.headLength + head.blockLength, &sinkOk)) return false;
    // An index entry spans the record up to the end of its block, or its
    // whole gzip member.
    uint64_t blockEnd = group.Size();
    if (sinkOk) sinkOk = record.Add("\r\n\r\n", 4) && record.Finish();
    entry.length = (gzip ? group.Size() : blockEnd) - entry.offset;
    if (!entry.key.empty()) pending.push_back(std::move(entry));
    return true;
  }

  bool Commit() {
    if (!group.WriteTo(file)) return false;
    for (IndexEntry& entry : pending) {
      entry.offset += written;
      index.push_back(std::move(entry));
    }
    written += group.Size();
    group.Clear();
    pending.clear();
    return true;
  }

  bool WriteIndex() {
    std::stable_sort(index.begin(), index.end(),
                     [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; });
    std::string temporary = path + ".cdxj.part";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd == -1) return false;
    std::string lines;
    bool ok = true;
    for (const IndexEntry& entry : index) {
      lines += entry.key + " {" + entry.fields + ",\"length\":\"" + std::to_string(entry.length) +
               "\",\"offset\":\"" + std::to_string(entry.offset) +
               "\",\"filename\":" + Quoted(name) + "}\n";
      if (lines.size() > (1u << 20)) {
        ok = ok && WriteAll(fd, lines.data(), lines.size());
        lines.clear();
      }
    }
    ok = ok && WriteAll(fd, lines.data(), lines.size()) && fdatasync(fd) == 0;
    int saved = errno;
    close(fd);
    if (!ok || rename(temporary.c_str(), (path + ".cdxj").c_str()) != 0) {
      if (ok) saved = errno;
      unlink(temporary.c_str());
      errno = saved;
      return false;
    }
    return true;
  }

  static std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') out += '\\';
      if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out + "\"";
  }

  int Fail(int error) {
    std::fprintf(stderr, "ferret: cannot write %s: %s\n", path.c_str(), std::strerror(error));
    return 1;
  }

  PipeReader pipe;
  int file;
  std::string path, name;
  bool gzip;
  GroupBuffer group;
  std::vector<IndexEntry> pending, index;
  uint64_t written = 0;
  bool sinkOk = true;
};

}  // namespace

std::unique_ptr<WarcWriter> WarcWriter::Open(const std::string& path, std::string* error) {
  int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (file == -1) {
    *error = std::strerror(errno);
    return nullptr;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    close(file);
    return nullptr;
  }
  std::fflush(nullptr);  // nothing buffered is written twice
  pid_t child = fork();
  if (child == -1) {
    *error = std::strerror(errno);
    close(file);
    close(ends[0]);
    close(ends[1]);
    return nullptr;
  }
  if (child == 0) {
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    close(ends[1]);
    int status = Writer(ends[0], file, path).Run();
    _exit(status);
  }
  close(ends[0]);
  close(file);
  return std::unique_ptr<WarcWriter>(new WarcWriter(path, ends[1], child));
}

WarcWriter::WarcWriter(std::string path, int pipe, pid_t writer)
    : path(std::move(path)), pipe(pipe), writer(writer) {}

WarcWriter::~WarcWriter() { Close(); }

bool WarcWriter::Send(const void* data, size_t length) {
  if (failed || pipe == -1) return false;
  failed = !WriteAll(pipe, static_cast<const char*>(data), length);
  return !failed;
}

bool WarcWriter::Write(const std::vector<WarcRecord>& records) {
  for (const WarcRecord& record : records) {
    FrameHead head{record.head.size(), record.blockLength,
                   static_cast<uint32_t>(record.indexKey.size()),
                   static_cast<uint32_t>(record.indexFields.size())};
    if (!Send(&kRecordFrame, 1) || !Send(&head, sizeof head) ||
        !Send(record.indexKey.data(), record.indexKey.size()) ||
        !Send(record.indexFields.data(), record.indexFields.size()) ||
        !Send(record.head.data(), record.head.size())) {
      return false;
    }
    unsigned long long sent = 0;
    bool read = record.block([this, &sent, &record](std::string_view piece) {
      size_t take = static_cast<size_t>(
          std::min<unsigned long long>(piece.size(), record.blockLength - sent));
      if (Send(piece.data(), take)) sent += take;
    });
    if (failed) return false;
    if (!read || sent != record.blockLength) {
      // The frame is filled to the length it announced, then taken back.
      static const char zeros[4096] = {};
      while (sent < record.blockLength) {
        size_t take = static_cast<size_t>(
            std::min<unsigned long long>(sizeof zeros, record.blockLength - sent));
        if (!Send(zeros, take)) return false;
        sent += take;
      }
      Send(&kAbortFrame, 1);
      return false;
    }
  }
  return Send(&kCommitFrame, 1);
}

bool WarcWriter::Close() {
  if (pipe != -1) {
    close(pipe);
    pipe = -1;
  }
  if (writer == 0) return !failed;
  int status = 0;
  pid_t done;
  do {
    done = waitpid(writer, &status, 0);
  } while (done == -1 && errno == EINTR);
  writer = 0;
  if (done == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) failed = true;
  return !failed;
}
