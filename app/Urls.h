// The crawler's URL operations: splitting with the failure reported to the
// user and counted.
//
// These wrap Url (net/Url.h), which does the reading and resolving and
// reports nothing.
#ifndef FERRET_APP_URLS_H_
#define FERRET_APP_URLS_H_

#include "app/Reporter.h"
#include "net/Url.h"
#include "text/CStr.h"

// Splits url into host, dir (no leading or trailing slash), file (after the
// last slash) and port (80 when absent or 0). 0 with all outputs written; -1
// ("Bad URL" reported) with none written.
int SplitUrl(Reporter& reporter, CStr url, CStr& host, CStr& dir, CStr& file, int& port);

// The URL that link stands for on the page pageUrl (see Url::Resolve). Empty
// when the result would pass kMaxUrlLength (reported).
CStr ResolveUrl(Reporter& reporter, CStr pageUrl, CStr link);

// Reports problem's line, with its system reason, if any.
void ReportUrlProblem(Reporter& reporter, const UrlProblem& problem);

#endif  // FERRET_APP_URLS_H_
