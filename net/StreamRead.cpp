#include "net/StreamRead.h"

#include <streambuf>

int ReadLine(std::istream& in, char* buffer, int limit) {
  buffer[0] = '\0';
  if (limit <= 0) return 0;
  std::istream::sentry ok(in, true);  // keep leading blanks
  if (!ok) return 0;
  std::streambuf* source = in.rdbuf();
  int stored = 0;
  std::ios_base::iostate state = std::ios_base::goodbit;
  while (stored < limit - 1) {
    int c = source->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      state |= std::ios_base::eofbit;
      if (stored == 0) state |= std::ios_base::failbit;
      break;
    }
    if (c == '\n') break;
    buffer[stored++] = static_cast<char>(c);
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
