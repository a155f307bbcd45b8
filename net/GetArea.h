// GetArea: reaches a stream buffer's get area, so that a reader finds a line
// with memchr and copies it in one piece instead of making a call per
// character. The members are named through this derived class, as access
// rules require; no object of it is ever made.
#ifndef FERRET_NET_GETAREA_H_
#define FERRET_NET_GETAREA_H_

#include <streambuf>

struct GetArea : std::streambuf {
  static char* Next(std::streambuf* source) { return (source->*&GetArea::gptr)(); }
  static char* End(std::streambuf* source) { return (source->*&GetArea::egptr)(); }
  static void Advance(std::streambuf* source, int count) {
    (source->*&GetArea::gbump)(count);
  }
};

#endif  // FERRET_NET_GETAREA_H_
