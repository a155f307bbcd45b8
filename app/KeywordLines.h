// KeywordLines: whether any line of a page matches the keyword, each line
// tested whole.
//
// Lines arrive in pieces: raw bytes split at each '\n' (Feed: the lines of
// an HTML source, a '\r' before the '\n' dropped), or pieces of one line
// ended by EndLine (Append: the text lines of a page). A line is tested
// whole up to kMaxWholeLine bytes. A longer one is tested in windows of that
// size, each starting kWindowOverlap bytes before the last one ended, so no
// match of up to kWindowOverlap bytes is missed; in a window after the first
// '^' also matches at the window's start, and '$' at the end of a window
// before the last. Once a line matched nothing more is tested, unless lines
// are to be shown (-show): then testing goes on, a line after the one that
// matched, until that many lines matched, and each is kept with its first
// match (ShownLines; a line of the HTML source is numbered among those Feed
// splits, a text line among those EndLine ends).
//
// Holds at most one window, and the lines kept; used by one thread.
#ifndef FERRET_APP_KEYWORDLINES_H_
#define FERRET_APP_KEYWORDLINES_H_

#include <cstddef>
#include <string>

#include "app/HtmlText.h"
#include "app/ShownLine.h"
#include "regex/Regexp.h"

class KeywordLines : public TextLines {
 public:
  static constexpr size_t kMaxWholeLine = 1u << 20;
  static constexpr size_t kWindowOverlap = 4096;

  // keyword is borrowed; it matches NUL-terminated text. show: how many
  // matching lines a page keeps.
  explicit KeywordLines(Regexp* keyword, size_t show = 0) : keyword(keyword), shown(show) {}

  void Feed(const char* data, size_t length);
  void Append(const char* data, size_t length) override;
  void EndLine() override;
  // Ends the page (its last line may have no line end) and reports whether
  // a line matched, with the lines kept in *lines when given; ready for the
  // next page after.
  bool Finish(std::vector<ShownLine>* lines = nullptr);
  // Nothing more of the page is tested.
  bool Done() const { return found && shown.Full(); }

 private:
  // Whether the line being read is still tested.
  bool Testing() const { return !found || shown.Wants(); }
  // Tests the window held; keeps its overlap when the line goes on.
  void Test(bool lineEnds);

  Regexp* const keyword;
  std::string window;
  size_t windowColumn = 0;  // the byte offset of the window in its line
  bool found = false;
  ShownLines shown;
};

#endif  // FERRET_APP_KEYWORDLINES_H_
