// URL splitting and resolution.
//
// URLs are plain CStr text in one of two forms: "http://host:port/dir/file"
// (scheme and port optional) or the scheme-less "host:port/path" that
// ResolveUrl builds. SplitUrl reads both.
#ifndef FERRET_APP_URLS_H_
#define FERRET_APP_URLS_H_

#include "text/CStr.h"

// Resolved URLs longer than this are refused: a chain of relative links could
// otherwise grow a URL past what a string can hold.
constexpr unsigned kMaxUrlLength = 8192;

// Splits url into host, dir (no leading or trailing slash), file (after the
// last slash) and port (80 when absent or 0). 0 with all outputs written; -1
// ("Bad URL" printed, errors + 1) with none written.
int SplitUrl(CStr url, CStr& host, CStr& dir, CStr& file, int& port);

// The URL that link stands for on the page pageUrl: link itself when it
// begins with "http://" (any letter case), otherwise host:port followed by
// the link's path. Empty when the result would pass kMaxUrlLength (reported,
// errors + 1).
CStr ResolveUrl(CStr pageUrl, CStr link);

// Removes every CR and LF from a NUL-terminated line, in place.
void StripCrLf(char* line);

#endif  // FERRET_APP_URLS_H_
