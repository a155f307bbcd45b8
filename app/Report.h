// ReportFailure: how the crawl reports a failure to the user.
//
// The message goes to standard output through printf; then, when the failed
// operation left a system error number, its text goes to standard error as
// perror("") writes it. The caller passes the error number it captured right
// after the failed operation (having cleared errno right before it), so a
// stale value, or one set by printf itself, is never shown.
#ifndef FERRET_APP_REPORT_H_
#define FERRET_APP_REPORT_H_

void ReportFailure(int systemError, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

#endif  // FERRET_APP_REPORT_H_
