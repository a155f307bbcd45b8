// ShownLine: a line of a page that matched the keyword, as -show reports it;
// ShownLines, the ones one page keeps.
//
// A line is numbered from 1 among the lines its keyword test reads: the
// page's source lines (split at '\n'), or with -text the text lines a reader
// sees. Only its first match is kept, and of the line itself at most
// kShowWidth bytes around it: when the line is longer, a window starting
// kShowBefore bytes before the match (fewer at the line's start, more near
// its end), moved off the middle of a UTF-8 character where the bytes allow.
// The bytes are the page's own, control bytes included: whoever writes them
// out makes them safe.
//
// A page keeps at most a given count of lines, one entry a line whatever
// its matches; with a count of 0 nothing is kept, and no test is wanted once
// a line matched. Used by one thread.
#ifndef FERRET_APP_SHOWNLINE_H_
#define FERRET_APP_SHOWNLINE_H_

#include <cstddef>
#include <string>
#include <vector>

constexpr size_t kShowWidth = 200;
constexpr size_t kShowBefore = 60;

struct ShownLine {
  long number = 0;         // from 1
  std::string text;        // the line, or the window of it that is kept
  size_t column = 0;       // the byte offset of text in the whole line
  size_t matchStart = 0;   // the first match: its offset in text
  size_t matchLength = 0;  // and its length, cut where text ends
  bool cutBefore = false;  // the line has bytes before text
  bool cutAfter = false;   // and after it
};

class ShownLines {
 public:
  explicit ShownLines(size_t count) : count(count) {}

  // Whether a match in the line being read is still wanted: there is room
  // for it, and no match of the line was kept yet.
  bool Wants() const { return !lineKept && kept.size() < count; }
  bool Full() const { return kept.size() >= count; }

  // Keeps the line being read, or the piece of it at byte offset column
  // (length bytes at text), whose first match is the matched bytes at offset
  // start in text; more: the line goes on after the piece.
  void Keep(const char* text, size_t length, size_t column, size_t start, size_t matched,
            bool more);
  // The line being read ended; the next one is read.
  void EndLine() {
    ++number;
    lineKept = false;
  }
  // Ends the page: the lines kept; ready for the next page.
  std::vector<ShownLine> Take();

 private:
  const size_t count;
  long number = 1;        // of the line being read
  bool lineKept = false;  // a match of it is kept
  std::vector<ShownLine> kept;
};

#endif  // FERRET_APP_SHOWNLINE_H_
