#include "net/RecordedExchange.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Passes everything through to the transport below and keeps a copy of what
// arrives.
class RecordingTransport : public Transport {
 public:
  RecordingTransport(std::unique_ptr<Transport> below, RecordedExchange* record, size_t cap)
      : below(std::move(below)), record(record), cap(cap) {}

  long Send(const char* data, size_t length) override { return below->Send(data, length); }

  long Receive(char* data, size_t length) override {
    if (record->received.size() >= cap) {
      record->usable = false;
      errno = EFBIG;
      return -1;
    }
    long got = below->Receive(data, length);
    if (got > 0) record->received.append(data, static_cast<size_t>(got));
    if (got < 0) record->endError = errno;
    return got;
  }

 private:
  std::unique_ptr<Transport> below;
  RecordedExchange* const record;  // not owned
  const size_t cap;
};

// Plays a recording back; what is sent goes nowhere.
class ReplayTransport : public Transport {
 public:
  ReplayTransport(std::shared_ptr<const Recordings> all, const RecordedExchange* record)
      : all(std::move(all)), record(record) {}

  long Send(const char*, size_t length) override { return static_cast<long>(length); }

  long Receive(char* data, size_t length) override {
    size_t left = record->received.size() - position;
    if (left == 0) {
      if (record->endError == 0) return 0;
      errno = record->endError;
      return -1;
    }
    size_t taken = left < length ? left : length;
    std::memcpy(data, record->received.data() + position, taken);
    position += taken;
    return static_cast<long>(taken);
  }

 private:
  const std::shared_ptr<const Recordings> all;  // keeps record alive
  const RecordedExchange* const record;
  size_t position = 0;
};

}  // namespace

Connector RecordingConnector(Recordings* into, size_t cap) {
  return [into, cap](SocketStreamBuf& connection, const Url& url, ConnectFailure* failure) {
    into->emplace_back();
    RecordedExchange& record = into->back();
    record.url = url.Text();
    if (!ConnectTo(connection, url, failure)) {
      record.failure = *failure;
      return false;
    }
    record.connected = true;
    connection.UseTransport(
        std::make_unique<RecordingTransport>(connection.TakeTransport(), &record, cap));
    return true;
  };
}

Connector ReplayConnector(std::shared_ptr<const Recordings> from) {
  auto next = std::make_shared<size_t>(0);
  return [from, next](SocketStreamBuf& connection, const Url& url, ConnectFailure* failure) {
    bool replay = *next < from->size() && (*from)[*next].usable && (*from)[*next].url == url.Text();
    if (!replay) {
      *next = from->size();  // the recordings no longer follow this fetch
      return ConnectTo(connection, url, failure);
    }
    const RecordedExchange& record = (*from)[(*next)++];
    if (!record.connected) {
      *failure = record.failure;
      return false;
    }
    connection.UseTransport(std::make_unique<ReplayTransport>(from, &record));
    return true;
  };
}
