// LiteralSet: the strings of byte sets that every match of a node program
// begins with, read from the program, and the window of them a
// MultiLiteralScan searches for.
//
// Find walks every path from the first node: literal bytes and one-character
// nodes add a set (a run of one or more adds its first and ends the path),
// groups, Empty, ^, \< and \> add nothing, an Alt chain forks the path, and
// anything else (a repeat of zero or more, a loop, $, the end) ends it. A string
// stops at kDepth sets. Every match begins with the characters of one
// string, each in its set, so a position where no string fits starts no
// match. Find fails when some path ends before it has a set (the pattern
// may match the empty string or start with a repeat), or the paths are too
// many or too costly to follow.
#ifndef FERRET_REGEX_LITERALSET_H_
#define FERRET_REGEX_LITERALSET_H_

#include <cstdint>

#include "regex/MultiLiteralScan.h"

struct LiteralSet {
  static constexpr int kDepth = 8;
  static constexpr int kMax = 64;  // strings; more and the scan would admit too much

  // program holds size bytes, magic included, and compiled without error.
  // Strings stop at depth sets (at most kDepth): a walk to the end of the
  // window chosen reads no more of the program than the window needs.
  bool Find(const char* program, int size, int depth = kDepth);
  // Whether every path takes a character; Find fails when it does not. Quick
  // for most patterns that have no strings.
  static bool EveryPathTakesOne(const char* program, int size);
  // The window of width up to MultiLiteralScan::kWidthMax that every string
  // covers and whose sets admit the fewest bytes, and the distinct windows
  // of the strings there; returns their count. A window wider than 1 is
  // preferred to a narrower one whatever it admits. *admitted: the share
  // of random bytes' positions the window fits, roughly.
  int Windows(uint64_t (*out)[MultiLiteralScan::kWidthMax][4], int* width, int* back,
              double* admitted) const;

  uint64_t sets[kMax][kDepth][4];  // of string j, the first length[j] are set
  int length[kMax];
  int count = 0;
  int extent = 0;  // Find read the program's bytes [0, extent)
};

#endif  // FERRET_REGEX_LITERALSET_H_
