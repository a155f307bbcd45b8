// Url: one URL read into its parts, and the resolution of a page's links.
//
// URLs travel through the crawler as text, in one of two forms:
// "http://host:port/dir/file" (scheme and port optional), as typed or as
// found on a page, and the scheme-less "host:port/dir/file" that Resolve
// builds. The text is what the user sees printed; Parse reads both forms
// into host, port (80 when absent or 0), dir (no leading or trailing slash)
// and file (after the last slash).
//
// A Url owns copies of its parts; nothing here prints or counts. Failures come
// back as a UrlProblem for the caller to report.
#ifndef FERRET_NET_URL_H_
#define FERRET_NET_URL_H_

#include "text/CStr.h"

// Resolved URLs longer than this are refused: a chain of relative links could
// otherwise grow a URL past what a string can hold.
constexpr unsigned kMaxUrlLength = 8192;

// Why a URL could not be used: the line to show the user (no newline) and
// the system's error number behind it, or 0.
struct UrlProblem {
  CStr message;
  int systemError = 0;
};

class Url {
 public:
  // Reads text. True with every part set; false with *problem filled in and
  // the parts left as they were.
  bool Parse(const CStr& text, UrlProblem* problem);

  // The URL that link stands for on the page whose URL is pageText: link
  // itself when it begins with "http://" (any letter case), otherwise
  // host:port followed by the link's path. False (with *problem) when the
  // result would pass kMaxUrlLength; *resolved is then left alone.
  static bool Resolve(const CStr& pageText, const CStr& link, CStr* resolved, UrlProblem* problem);

  const CStr& Text() const { return text; }
  const CStr& Host() const { return host; }
  int Port() const { return port; }
  const CStr& Dir() const { return dir; }
  const CStr& File() const { return file; }

 private:
  CStr text;  // as given to Parse
  CStr host;
  int port = 80;
  CStr dir;
  CStr file;
};

#endif  // FERRET_NET_URL_H_
