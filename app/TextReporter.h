// TextReporter: the human output of a crawl.
//
// Printed URLs, "Saving <url> as <path>", error lines and the counters line
// go to standard output, one line each, written whole as it comes (a write
// a stop signal interrupts is resumed, so a reader slower than the crawl
// still gets every line and the counters line); the system's reason behind a
// failure, when there is one, follows on standard error (as perror("")
// writes it). The progress line is shown on standard error while it is a
// terminal, and erased before every other line.
//
// A printed page's matching lines (-show) follow its URL, one a line:
// "  <number>: <text>", the text made terminal-safe (a tab shown as a
// space), with "..." where the line was cut. The match is highlighted as
// grep --color=auto highlights it ("\033[01;31m" before, "\033[m" after),
// only when standard output is a terminal and NO_COLOR is unset or empty
// (no-color.org).
//
// No line reaches the terminal with a byte that could control it: in every
// line written, and in the progress line's URL, bytes below 0x20, 0x7F and C1
// controls are percent-encoded (see TerminalSafe), save the highlight's own
// SGR sequences. Only the printed text is changed; the URLs the crawl
// requests are not.
#ifndef FERRET_APP_TEXTREPORTER_H_
#define FERRET_APP_TEXTREPORTER_H_

#include <cstddef>
#include <string>

#include "app/Progress.h"
#include "app/Reporter.h"

class TextReporter : public Reporter {
 public:
  TextReporter();
  void RequestStarted(const CStr& url) override;
  // "ferret: <message>" on standard error.
  void Notice(const CStr& message) override;
  void ScanningDepth(int depth) override { progress.Depth(depth); }
  void BodyBytes(size_t length) override { progress.Bytes(length, Counts().errors); }
  bool Finish(bool withCounters) override;
  void HoldLines(bool hold) override {
    if (!hold) ReleaseLines();
    holding = hold;
  }
  void ReleaseLines() override;
  void DropLines() override { held.clear(); }

  // The line that tells of failure (as written, before it is made safe),
  // and in *reason the system's reason behind it, or null.
  static CStr FailureMessage(const CrawlFailure& failure, const char** reason);

  // "Saves(..) Prints(..) Hits(..) HTTP 200(..%) Errors(..)" for counts.
  static CStr CountersLine(const Counters& counts);

  // text with each byte below 0x20, 0x7F and each C1 control written as %XX:
  // a C1 control is U+0080 to U+009F in UTF-8 (C2 80 to C2 9F, both bytes
  // encoded) or a raw byte 0x80 to 0x9F that is not part of a well-formed
  // UTF-8 sequence. Well-formed UTF-8 for any other character, and bytes
  // 0xA0 to 0xFF outside one, are kept as they are.
  static std::string TerminalSafe(const char* text, size_t length);

 protected:
  // A line that is safe as it is (JSON), with its newline on standard
  // output, as every other line is written.
  void WriteRaw(std::string line) { WriteSafe(std::move(line), nullptr); }
  // The end of the output: the progress line cleared; false, after a
  // message, when a line could not be written.
  bool FinishOutput();

  void WritePrinted(const CStr& url, const std::vector<ShownLine>& lines) override;
  void WriteSaved(const CStr& url, const CStr& path) override;
  void WriteFailure(const CrawlFailure& failure) override;

 private:
  // One line, made terminal-safe, with its newline on standard output; then
  // reason, if any, on standard error.
  void WriteLine(const CStr& line, const char* reason);
  // The same for a line already made safe.
  void WriteSafe(std::string line, const char* reason);
  // bytes on standard output, whole; false, the crawl stopped, when they
  // could not be written.
  bool WriteOut(const std::string& bytes);

  ProgressLine progress;
  const bool colour;          // shown lines are highlighted
  bool holding = false;       // lines are kept in held until released
  std::string held;
  bool outputFailed = false;  // a line could not be written: nothing more is
  int outputError = 0;        // the errno of that write, or 0
};

#endif  // FERRET_APP_TEXTREPORTER_H_
