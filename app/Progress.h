// Progress: one status line on standard error while it is a terminal.
//
// The line shows the pages requested, the body bytes read, the errors, the
// depth being scanned, the elapsed time and the URL being fetched. It is
// redrawn in place at most five times a second, and erased (ProgressClear)
// before any other line is written to standard output or standard error and
// when the run ends, so the screen reads exactly as the output does without
// it. When standard error is not a terminal nothing at all is written.
//
// For the crawl's one thread; the state is the process's.
#ifndef FERRET_APP_PROGRESS_H_
#define FERRET_APP_PROGRESS_H_

#include <cstddef>

#include "text/CStr.h"

// Decides, once, whether standard error is a terminal; starts the clock.
void ProgressStart();
// A request for url begins.
void ProgressRequest(const CStr& url);
// Pages at this depth are being scanned.
void ProgressDepth(int depth);
// length more body bytes were read.
void ProgressBytes(size_t length);
// Erases the status line, if one is shown.
void ProgressClear();

#endif  // FERRET_APP_PROGRESS_H_
