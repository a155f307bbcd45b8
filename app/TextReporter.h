// TextReporter: the human output of a crawl.
//
// Printed URLs, "Saving <url> as <path>", error lines and the counters line
// go to standard output, one line each, flushed as written; the system's
// reason behind a failure, when there is one, follows on standard error (as
// perror("") writes it). The progress line is shown on standard error while
// it is a terminal, and erased before every other line.
#ifndef FERRET_APP_TEXTREPORTER_H_
#define FERRET_APP_TEXTREPORTER_H_

#include "app/Progress.h"
#include "app/Reporter.h"

class TextReporter : public Reporter {
 public:
  void RequestStarted(const CStr& url) override { progress.Request(url, Counts().errors); }
  void ScanningDepth(int depth) override { progress.Depth(depth); }
  void BodyBytes(size_t length) override { progress.Bytes(length, Counts().errors); }
  bool Finish(bool withCounters) override;

  // "Saves(..) Prints(..) Hits(..) HTTP 200(..%) Errors(..)" for counts.
  static CStr CountersLine(const Counters& counts);

 protected:
  void WritePrinted(const CStr& url) override;
  void WriteSaving(const CStr& url, const CStr& path) override;
  void WriteFailure(const CrawlFailure& failure) override;

 private:
  // One line (with its newline) on standard output, then reason, if any, on
  // standard error.
  void WriteLine(const CStr& line, const char* reason);

  ProgressLine progress;
  bool outputFailed = false;  // a line could not be written: nothing more is
  int outputError = 0;        // the errno of that write, or 0
};

#endif  // FERRET_APP_TEXTREPORTER_H_
