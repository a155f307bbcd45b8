#include "net/RecordedExchange.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Plays an exchange back: its head, then its body, then its end; what is
// sent goes nowhere.
class ReplayTransport : public Transport {
 public:
  ReplayTransport(std::shared_ptr<const Recordings> all, const RecordedExchange* record)
      : all(std::move(all)), record(record) {}

  long Send(const char*, size_t length) override { return static_cast<long>(length); }

  long Receive(char* data, size_t length) override {
    const std::string& part = position < record->head.size() ? record->head : record->body;
    size_t offset = &part == &record->head ? position : position - record->head.size();
    size_t left = part.size() - offset;
    if (left == 0) {
      if (record->endError == 0) return 0;
      errno = record->endError;
      return -1;
    }
    size_t taken = left < length ? left : length;
    std::memcpy(data, part.data() + offset, taken);
    position += taken;
    return static_cast<long>(taken);
  }

 private:
  const std::shared_ptr<const Recordings> all;  // keeps record alive
  const RecordedExchange* const record;
  size_t position = 0;  // in head, then body
};

}  // namespace

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
    return true;
  };
}
