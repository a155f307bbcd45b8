// StartList: the start URLs of -i FILE, one a line.
//
// A line is a URL, optionally followed by blanks and a depth (a whole
// number from 0, the depth that start is crawled to instead of -d's), so
// that a link handed on with the depth it has left can be given back as it
// came; or a URL and "-": a URL requested before (by an earlier run), which
// -once counts as met and does not request again. Blanks around either are ignored; an empty line,
// or one whose first non-blank character is '#', is no start. Anything else on a line (a third
// word, a depth that is no number) makes it a bad line, which is reported
// with its number and skipped; the URL itself is read later, by the run, as
// a start URL given alone is.
#ifndef FERRET_APP_STARTLIST_H_
#define FERRET_APP_STARTLIST_H_

#include <cstdio>
#include <string>

constexpr int kMetBefore = -2;

struct StartLine {
  long number = 0;      // from 1
  std::string url;      // empty: the line holds no start
  int depth = -1;       // -1: the run's -d; kMetBefore: requested before, no start
  std::string problem;  // why the line is bad; empty when it is not
};

// Reads line (without its line end) into *start (number left as it is).
void ReadStartLine(const std::string& line, StartLine* start);

// Reads the lines of a list one at a time, so that a list of any length,
// standard input included, costs one line of memory.
class StartList {
 public:
  // "-" is standard input; null file() when the file cannot be opened.
  explicit StartList(const std::string& path);
  ~StartList();
  StartList(const StartList&) = delete;
  StartList& operator=(const StartList&) = delete;

  std::FILE* file() const { return in; }
  // The next line that holds a start or is bad; false at the end of the list.
  bool Next(StartLine* start);

 private:
  std::FILE* in;
  bool owned;
  long number = 0;
};

#endif  // FERRET_APP_STARTLIST_H_
