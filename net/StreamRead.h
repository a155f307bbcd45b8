// Line reads on a response stream, with the semantics the crawler
// relies on.
//
// ReadLine stores at most limit - 1 characters and a NUL. It stops after the
// delimiter LF, which it consumes without storing, or once limit - 1
// characters are stored, leaving the rest of the line (its LF included) for
// the next read without marking the stream failed. At the end of the stream it
// sets eofbit (and failbit when nothing was stored). On a stream that has
// already failed it stores an empty line.
#ifndef FERRET_NET_STREAMREAD_H_
#define FERRET_NET_STREAMREAD_H_

#include <istream>

// Returns the number of characters stored.
int ReadLine(std::istream& in, char* buffer, int limit);

// Removes every CR and LF from a NUL-terminated line, in place.
void StripCrLf(char* line);

#endif  // FERRET_NET_STREAMREAD_H_
