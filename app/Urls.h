// The crawler's URL operations: splitting and resolving with the failures
// reported to the user and counted.
//
// These wrap Url (net/Url.h), which does the reading and resolving and
// reports nothing.
#ifndef FERRET_APP_URLS_H_
#define FERRET_APP_URLS_H_

#include "net/Url.h"
#include "text/CStr.h"

// Splits url into host, dir (no leading or trailing slash), file (after the
// last slash) and port (80 when absent or 0). 0 with all outputs written; -1
// ("Bad URL" printed, errors + 1) with none written.
int SplitUrl(CStr url, CStr& host, CStr& dir, CStr& file, int& port);

// The URL that link stands for on the page pageUrl (see Url::Resolve). Empty
// when the result would pass kMaxUrlLength (reported, errors + 1).
CStr ResolveUrl(CStr pageUrl, CStr link);

// Prints problem's line on standard output and its reason, if any, on
// standard error; errors + 1.
void ReportUrlProblem(const UrlProblem& problem);

#endif  // FERRET_APP_URLS_H_
