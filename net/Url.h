// Url: one URL read into its parts, and the resolution of a page's links.
//
// URLs travel through the crawler as text, in one of three forms:
// "http://host:port/dir/file" or "https://host:port/dir/file" (scheme and
// port optional; either scheme in any letter case), as typed or as found on
// a page; the scheme-less "host:port/dir/file" that Resolve builds on an
// http page; and "https://host:port/dir/file" that it builds on an https
// page, so the scheme is never lost. The text is what the user sees printed;
// Parse reads every form into the scheme, host, port (the scheme's default,
// 80 or 443, when absent), dir (no leading or trailing slash) and file
// (after the last slash). A "#fragment" is never part of what is requested;
// a "user:password@" before the host is recognised and dropped, so the
// credentials are never sent; a port outside 1 to 65535 makes the URL bad.
//
// A Url owns copies of its parts; nothing here prints or counts. Failures come
// back as a UrlProblem for the caller to report.
#ifndef FERRET_NET_URL_H_
#define FERRET_NET_URL_H_

#include <string>

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

  // The URL that link stands for on the page whose URL is pageText, read as
  // a browser reads it: the link's fragment is dropped; a link that is only
  // a fragment is the page itself; an absolute link (IsAbsolute) stands for
  // itself; "//host/path" takes the page's scheme; otherwise the page's
  // host:port followed by the link's path, with "https://" in front on an
  // https page. False (with *problem) when the result would pass
  // kMaxUrlLength; *resolved is then left alone. Links for which
  // HasOtherScheme holds are the caller's to skip.
  static bool Resolve(const CStr& pageText, const CStr& link, CStr* resolved, UrlProblem* problem);

  // Begins with "http://" or "https://", in any letter case.
  static bool IsAbsolute(const char* link);
  // Begins with a scheme other than those ("javascript:", "tel:", "ftp:").
  static bool HasOtherScheme(const char* link);
  // text with every byte below 0x21 and 0x7F written as %XX, so that no
  // control byte, space or line end reaches a request line or a terminal.
  static CStr EscapeControls(const CStr& text);
  // An IPv4 or IPv6 address written out, not a name.
  static bool IsIpAddress(const char* host);

  // The URL's identity for telling URLs met before: the scheme ("http" for
  // the scheme-less form), the host in lower case, the port, and the path
  // with "." and ".." segments resolved; the fragment is never part of it.
  std::string Key() const;

  // 443 for https, 80 otherwise.
  int DefaultPort() const;
  const CStr& Text() const { return text; }
  bool Secure() const { return secure; }
  const CStr& Host() const { return host; }
  int Port() const { return port; }
  const CStr& Dir() const { return dir; }
  const CStr& File() const { return file; }

 private:
  CStr text;            // as given to Parse
  bool secure = false;  // https
  CStr host;
  int port = 80;
  CStr dir;
  CStr file;
};

#endif  // FERRET_NET_URL_H_
