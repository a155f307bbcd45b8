#include "net/StreamRead.h"

#include <cstring>
#include <streambuf>

#include "net/GetArea.h"

int ReadLine(std::istream& in, char* buffer, int limit) {
  buffer[0] = '\0';
  if (limit <= 0) return 0;
  std::istream::sentry ok(in, true);  // keep leading blanks
  if (!ok) return 0;
  std::streambuf* source = in.rdbuf();
  int stored = 0;
  std::ios_base::iostate state = std::ios_base::goodbit;
  while (stored < limit - 1) {
    if (GetArea::Next(source) == GetArea::End(source) &&
        source->sgetc() == std::char_traits<char>::eof()) {
      state |= std::ios_base::eofbit;
      if (stored == 0) state |= std::ios_base::failbit;
      break;
    }
    const char* next = GetArea::Next(source);
    if (next == GetArea::End(source)) {  // a buffer without a get area: one at a time
      int c = source->sbumpc();
      if (c == '\n') break;
      buffer[stored++] = static_cast<char>(c);
      continue;
    }
    size_t room = static_cast<size_t>(limit - 1 - stored);
    size_t held = static_cast<size_t>(GetArea::End(source) - next);
    size_t span = held < room ? held : room;
    const void* end = std::memchr(next, '\n', span);
    size_t taken = end ? static_cast<size_t>(static_cast<const char*>(end) - next) : span;
    std::memcpy(buffer + stored, next, taken);
    stored += static_cast<int>(taken);
    if (end) {
      GetArea::Advance(source, static_cast<int>(taken + 1));  // the LF is consumed, not stored
      break;
    }
    GetArea::Advance(source, static_cast<int>(taken));
  }
  buffer[stored] = '\0';
  if (state != std::ios_base::goodbit) in.setstate(state);
  return stored;
}

void StripCrLf(char* line) {
  char* out = line;
  for (const char* in = line; *in != '\0'; ++in) {
    if (*in != '\r' && *in != '\n') *out++ = *in;
  }
  *out = '\0';
}
