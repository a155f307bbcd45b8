#include "net/BodyStream.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "net/RecordedExchange.h"
#include "text/AsciiCase.h"

namespace {

// The last coding of a Transfer-Encoding value is "chunked", in any case.
bool EndsInChunked(const std::string& value) {
  size_t end = value.find_last_not_of(" \t");
  if (end == std::string::npos) return false;
  size_t begin = value.find_last_of(", \t", end);
  begin = begin == std::string::npos ? 0 : begin + 1;
  const char* chunked = "chunked";
  if (end + 1 - begin != std::strlen(chunked)) return false;
  for (size_t i = 0; chunked[i] != '\0'; ++i) {
    if (AsciiLower(value[begin + i]) != chunked[i]) return false;
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

void BodyStream::LeaveOutOfRecord() {
  if (record != nullptr) record->bodyKept = false;
  record = nullptr;
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

bool BodyStream::ready(State closed) {
  if (!traits_type::eq_int_type(connection->sgetc(), traits_type::eof())) return true;
  if (connection->connected) {
    finish(closed, 0);
  } else {
    if (record != nullptr) record->endError = connection->ReceiveError();
    finish(State::kFailed, connection->ReceiveError());
  }
  return false;
}

void BodyStream::Discard() {
  while (sgetc() != traits_type::eof()) gbump(static_cast<int>(egptr() - gptr()));
}

bool BodyStream::DiscardUpTo(unsigned long long limit) {
  if (state == State::kOpen && framing.kind == BodyFraming::kLength &&
      static_cast<unsigned long long>(framing.length) - taken > limit) {
    return false;
  }
  unsigned long long dropped = 0;
  while (dropped <= limit && sgetc() != traits_type::eof()) {
    dropped += static_cast<unsigned long long>(egptr() - gptr());
    gbump(static_cast<int>(egptr() - gptr()));
  }
  return Ended();
}

BodyStream::int_type BodyStream::fill(unsigned long long limit) {
  std::streamsize count = connection->in_avail();
  if (count > static_cast<std::streamsize>(kBufferSize)) count = kBufferSize;
  if (static_cast<unsigned long long>(count) > limit) count = static_cast<std::streamsize>(limit);
  count = connection->sgetn(buffer, count);
  taken += static_cast<unsigned long long>(count);
  if (record != nullptr) record->AppendBody(buffer, static_cast<size_t>(count), cap);
  setg(buffer, buffer, buffer + count);
  return traits_type::to_int_type(*gptr());
}

std::string_view BodyStream::Next() {
  if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof())) return {};
  return std::string_view(gptr(), static_cast<size_t>(egptr() - gptr()));
}

BodyStream::int_type BodyStream::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (state != State::kOpen) return traits_type::eof();
  switch (framing.kind) {
    case BodyFraming::kLength: {
      unsigned long long left = static_cast<unsigned long long>(framing.length) - taken;
      if (left == 0) return finish(State::kEnded, 0);
      return ready(State::kClosedEarly) ? fill(left) : traits_type::eof();
    }
    case BodyFraming::kUntilClose:
      return ready(State::kEnded) ? fill(kBufferSize) : traits_type::eof();
    case BodyFraming::kChunked: return underflowChunked();
  }
  return traits_type::eof();
}

BodyStream::int_type BodyStream::underflowChunked() {
  while (chunkLeft == 0) {
    if (afterData && !chunkEnd()) return traits_type::eof();
    afterData = false;
    unsigned long long size = 0;
    if (!chunkSize(&size)) return traits_type::eof();
    if (size == 0) {
      // The body is whole: trailers are passed over however they end.
      std::string line;
      size_t budget = kMaxHeaderBytes;
      while (controlLine(&line, &budget, State::kEnded) && !line.empty()) {
      }
      return finish(State::kEnded, 0);
    }
    chunkLeft = size;
    afterData = true;
  }
  if (!ready(State::kMalformed)) return traits_type::eof();
  int_type first = fill(chunkLeft);
  chunkLeft -= static_cast<unsigned long long>(egptr() - eback());
  return first;
}

bool BodyStream::controlByte(char* c, State closed) {
  if (!ready(closed)) return false;
  *c = static_cast<char>(connection->sbumpc());
  if (record != nullptr) record->AppendBody(c, 1, cap);
  return true;
}

bool BodyStream::controlLine(std::string* line, size_t* budget, State closed) {
  line->clear();
  for (char c; *budget > 0;) {
    if (!controlByte(&c, closed)) return false;
    --*budget;
    if (c == '\n') {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    *line += c;
  }
  return false;
}

bool BodyStream::chunkSize(unsigned long long* size) {
  std::string line;
  size_t budget = kMaxChunkLine;
  if (!controlLine(&line, &budget, State::kMalformed)) {
    return state == State::kOpen ? malformed() : false;
  }
  size_t i = 0;
  *size = 0;
  for (; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i) {
    if (*size >> 56 != 0) return malformed();  // past 60 bits
    char c = AsciiLower(line[i]);
    *size = *size * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  if (i == 0) return malformed();
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i < line.size() && line[i] != ';') return malformed();
  return true;
}

bool BodyStream::chunkEnd() {
  char c = 0;
  if (!controlByte(&c, State::kMalformed)) return false;
  if (c == '\r' && !controlByte(&c, State::kMalformed)) return false;
  return c == '\n' ? true : malformed();
}

bool BodyStream::malformed() {
  finish(State::kMalformed, 0);
  return false;
}
