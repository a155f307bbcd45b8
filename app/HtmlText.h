// HtmlText: the text of an HTML page as a reader sees it, line by line, from
// the tokens of an HtmlTokenizer.
//
// Tags are removed; the content of <script> and <style> is dropped (comments
// never reach the sink); character references come decoded. A line ends at
// each line end of the source inside text and at each start or end tag of a
// block element (the elements displayed as blocks, table parts and list
// items, and <br> and <title>); the text of other elements (a, em, code,
// span, ...) joins its neighbours. Within a line each run of ASCII white
// space becomes one space; a line's leading and trailing white space is
// dropped, and so are empty lines.
//
// The lines go to a TextLines as they are found, in pieces: the text is
// never held here.
#ifndef FERRET_APP_HTMLTEXT_H_
#define FERRET_APP_HTMLTEXT_H_

#include <cstddef>
#include <string_view>

#include "text/HtmlTokenizer.h"

// Where lines of text go: pieces of a line, then its end.
class TextLines {
 public:
  virtual ~TextLines() = default;
  virtual void Append(const char* data, size_t length) = 0;
  virtual void EndLine() = 0;
};

class HtmlText : public HtmlTokenSink {
 public:
  // lines is borrowed.
  explicit HtmlText(TextLines* lines) : lines(lines) {}

  void OnToken(const HtmlToken& token) override;
  // Ends the last line; ready for the next page.
  void Finish();

  static bool IsBlock(std::string_view name);

 private:
  void AddText(std::string_view text);
  void EndLine();

  TextLines* const lines;
  int dropped = 0;        // <script> and <style> elements open
  bool lineBegun = false;  // text has gone out on this line
  bool space = false;      // white space waits between this line's text and what follows
};

#endif  // FERRET_APP_HTMLTEXT_H_
