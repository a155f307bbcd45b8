// ProgressLine: one status line on standard error while it is a terminal.
//
// The line shows the pages requested, the body bytes read, the errors, the
// depth being scanned, the elapsed time and the URL being fetched. It is
// redrawn in place at most five times a second, and erased (Clear) before any
// other line is written to standard output or standard error and when the
// run ends, so the screen reads exactly as the output does without it. When
// standard error is not a terminal nothing at all is written.
//
// Owned by the TextReporter; used from the crawl's thread only.
#ifndef FERRET_APP_PROGRESS_H_
#define FERRET_APP_PROGRESS_H_

#include <chrono>
#include <cstddef>

#include "text/CStr.h"

class ProgressLine {
 public:
  // Decides whether standard error is a terminal; starts the clock.
  ProgressLine();

  // A request for url begins; errors is the run's count so far.
  void Request(const CStr& url, int errors);
  // Whether the line is drawn at all (what it would show need not be made).
  bool Enabled() const { return enabled; }
  // Pages at this depth are being scanned.
  void Depth(int depth) { depth_ = depth; }
  // length more body bytes were read.
  void Bytes(size_t length, int errors);
  // Erases the status line, if one is shown.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(int errors);

  bool enabled = false;  // standard error is a terminal
  bool shown = false;    // a status line is on the screen now
  Clock::time_point start;
  Clock::time_point lastDraw;
  unsigned long long pages = 0;
  unsigned long long bytes = 0;
  int depth_ = 0;
  CStr url;
};

#endif  // FERRET_APP_PROGRESS_H_
