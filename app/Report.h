// ReportFailure: how the crawl reports a failure to the user.
//
// The message goes to standard output through printf; then, when the failure
// has a reason from the system, the reason and a newline go to standard error,
// as perror("") writes them. Callers take the reason from the error they
// captured right after the failed operation (having cleared errno right
// before it), so a stale errno, or one set by printf itself, is never shown.
#ifndef FERRET_APP_REPORT_H_
#define FERRET_APP_REPORT_H_

#include "text/CStr.h"

// reason may be null: then nothing goes to standard error.
void ReportFailure(const char* reason, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// ReportFailure of one line (given without its newline), counted in the
// run's errors.
void ReportCountedFailure(const char* reason, const CStr& line);

// The system's text for an errno value; null for 0.
const char* SystemErrorText(int systemError);

#endif  // FERRET_APP_REPORT_H_
