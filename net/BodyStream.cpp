#include "net/BodyStream.h"

#include <cerrno>
#include <cstring>

#include "net/RecordedExchange.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The last coding of a Transfer-Encoding value is "chunked", in any case.
bool EndsInChunked(const std::string& value) {
  size_t end = value.find_last_not_of(" \t");
  if (end == std::string::npos) return false;
  size_t begin = value.find_last_of(", \t", end);
  begin = begin == std::string::npos ? 0 : begin + 1;
  const char* chunked = "chunked";
  if (end + 1 - begin != std::strlen(chunked)) return false;
  for (size_t i = 0; chunked[i] != '\0'; ++i) {
    if (Lower(value[begin + i]) != chunked[i]) return false;
  }
  return true;
}

}  // namespace

Framing FramingOf(const HttpResponse& head) {
  Framing framing;
  std::vector<std::string> codings = head.FindAll("Transfer-Encoding");
  framing.declared = codings.empty() ? head.ContentLength() : -1;
  if (head.HowEnded() != HttpResponse::End::kBlankLine) {
    framing.kind = BodyFraming::kLength;
    framing.length = 0;
  } else if (!codings.empty()) {
    framing.kind = EndsInChunked(codings.back()) ? BodyFraming::kChunked : BodyFraming::kUntilClose;
  } else if (framing.declared >= 0) {
    framing.kind = BodyFraming::kLength;
    framing.length = framing.declared;
  }
  return framing;
}

BodyStream::BodyStream(SocketStreamBuf& connection, Framing framing)
    : connection(&connection), framing(framing) {}

void BodyStream::RecordInto(RecordedExchange* into, size_t limit) {
  record = into;
  cap = limit;
}

void BodyStream::Detach() {
  taken -= static_cast<unsigned long long>(egptr() - gptr());
  setg(nullptr, nullptr, nullptr);
  connection = nullptr;
  if (state == State::kOpen) state = State::kDetached;
}

unsigned long long BodyStream::Delivered() const {
  return taken - static_cast<unsigned long long>(egptr() - gptr());
}

BodyStream::int_type BodyStream::finish(State reached, int error) {
  state = reached;
  receiveError = error;
  return traits_type::eof();
}

BodyStream::int_type BodyStream::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (state != State::kOpen) return traits_type::eof();
  bool framedByLength = framing.kind == BodyFraming::kLength;
  unsigned long long left = 0;
  if (framedByLength) {
    left = static_cast<unsigned long long>(framing.length) - taken;
    if (left == 0) return finish(State::kEnded, 0);
  }
  if (record != nullptr && record->Size() >= cap) {
    record->usable = false;
    return finish(State::kFailed, EFBIG);
  }
  if (traits_type::eq_int_type(connection->sgetc(), traits_type::eof())) {
    if (connection->connected) {
      return finish(framedByLength ? State::kClosedEarly : State::kEnded, 0);
    }
    if (record != nullptr) record->endError = connection->ReceiveError();
    return finish(State::kFailed, connection->ReceiveError());
  }
  std::streamsize count = connection->in_avail();
  if (count > static_cast<std::streamsize>(kBufferSize)) count = kBufferSize;
  if (framedByLength && static_cast<unsigned long long>(count) > left) {
    count = static_cast<std::streamsize>(left);
  }
  count = connection->sgetn(buffer, count);
  taken += static_cast<unsigned long long>(count);
  if (record != nullptr) record->body.append(buffer, static_cast<size_t>(count));
  setg(buffer, buffer, buffer + count);
  return traits_type::to_int_type(*gptr());
}
