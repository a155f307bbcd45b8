// FailureText: the words the crawler shows for a failed fetch.
//
// The network code hands failures over as data (net/Failure.h); this is the
// one place that words them.
#ifndef FERRET_APP_FAILURETEXT_H_
#define FERRET_APP_FAILURETEXT_H_

#include "net/Failure.h"
#include "text/CStr.h"

struct FailureLine {
  CStr line;                     // for standard output, without its newline
  const char* reason = nullptr;  // the system's reason, for standard error; or null
};

FailureLine FailureText(const Failure& failure);

#endif  // FERRET_APP_FAILURETEXT_H_
