// WebUrl: an http or https URL read, and a link resolved, as a browser does:
// the absolute, normalised text an anchor's href gives, without the fragment.
//
// Reading, after RFC 3986 section 5 and the WHATWG URL rules for the http and
// https schemes:
//   - leading and trailing C0 controls and spaces are stripped, tabs and line
//     ends removed anywhere; the fragment (from the first '#') is dropped;
//   - '\' is read as '/'; the scheme is lower-cased; "//host/path",
//     "/path", "?query", "" and relative forms resolve against the base,
//     and "http:path" against a base of the same scheme is relative too;
//   - userinfo is kept ("user:password@", an empty password without ':');
//   - the host is percent-decoded, internationalised names converted to
//     ASCII (libidn2, non-transitional), others lower-cased; a host that ends
//     in a number is an IPv4 address in any of its forms ("0x7f.1",
//     "2130706433") and is written dotted-decimal; an IPv6 literal is written
//     compressed, in lower case, in brackets; a host with a forbidden code
//     point (space, '<', '%' after decoding, ...) is an error;
//   - the port is digits up to 65535 and is dropped when it is the scheme's
//     default;
//   - "." and ".." segments (also written "%2e") are removed;
//   - bytes outside what a path, a query or userinfo may hold as they are
//     (controls, space, '"', '<', '>', '`', non-ASCII bytes, ...) are written
//     %XX; a '%' already there, and so every existing %XX, is kept as given.
// Link bytes are taken to be UTF-8 and are percent-encoded byte for byte.
//
// The other form the crawler prints (Url::Resolve's) is untouched by this;
// a WebUrl turns into a Url, whose parts the crawl requests, by ToUrl.
#ifndef FERRET_NET_WEBURL_H_
#define FERRET_NET_WEBURL_H_

#include <string>
#include <string_view>

#include "net/Url.h"

// What became of a link.
enum class WebUrlOutcome {
  kResolved,     // an http or https URL
  kOtherScheme,  // a URL of another scheme ("mailto:", "ftp:"): the caller skips it
  kFailed,       // *problem says why: kBadUrl, or kUrlTooLong past kMaxUrlLength
};

class WebUrl {
 public:
  // Reads text as an absolute URL (a start URL): with an "http:" or "https:"
  // scheme in any letter case as a browser would; any other text, as
  // Url::Parse does, as the scheme-less http form ("host:8080/x" is
  // "http://host:8080/x"). True with every part set; false with *problem
  // filled in (kBadUrl or kUrlTooLong) and *this left as it was.
  bool Parse(const CStr& text, UrlProblem* problem);

  // The URL that link, found on a page whose base is *this, stands for. On
  // kResolved *target is set (it may be this very object: a <base href> read
  // against the page); otherwise it is left alone. A default-constructed
  // WebUrl is no base: only absolute links resolve against it.
  WebUrlOutcome Resolve(const CStr& link, WebUrl* target, UrlProblem* problem) const;

  // The text Resolve gives for link, worked out without the full reading
  // when link is plain: only a fragment, or a relative path, or "http://"
  // or "https://" in lower case, a host of lower-case ASCII labels and a
  // path; the path of printable ASCII that needs no encoding, without '%'
  // or '\\' (a relative one not "//", nor holding ':'), then an optional
  // "?query" without white space or controls (encoded as Resolve encodes
  // it), then an optional "#fragment". True with *resolved set; false for
  // any other link (Resolve reads it), or past kMaxUrlLength.
  bool ResolvePlain(std::string_view link, std::string* resolved) const;

  // The host of link when it is "http://" or "https://" (in lower case)
  // and a host that every resolution of it keeps exactly as written: lower-
  // case ASCII labels, no port or userinfo. Empty for any other link.
  static std::string_view PlainHostOf(std::string_view link);
  // Text() parsed into the Url the crawl requests. False with *problem
  // (kBadUrl) for what a browser keeps but cannot be requested: port 0.
  bool ToUrl(Url* url, UrlProblem* problem) const;

  // The normalised text, without a fragment; empty for a default-constructed
  // WebUrl.
  const std::string& Text() const { return text; }
  bool Secure() const { return secure; }

 private:
  // Reads given against base (nullptr: Parse's reading) into *target, which
  // is left alone unless the outcome is kResolved.
  static WebUrlOutcome readChecked(const WebUrl* base, const CStr& given, WebUrl* target,
                                   UrlProblem* problem);
  // Sets the parts from link (cleaned) against base; kFailed when it is not
  // a URL. text is not set.
  WebUrlOutcome read(const WebUrl* base, const std::string& link);
  // userinfo, host and port from the authority s[0, n); false when it has
  // no host or a bad one, or a bad port.
  bool readAuthority(const char* s, size_t n);
  // Sets text from the parts.
  void serialise();

  bool valid = false;
  bool secure = false;
  std::string userinfo;  // as written before '@', encoded; empty for none
  std::string host;      // as written: lower-case ASCII, dotted IPv4, [IPv6]
  int port = -1;         // -1 for the scheme's default
  std::string path;      // each segment with its '/' in front; never empty when valid
  bool hasQuery = false;
  std::string query;  // encoded, without the '?'
  std::string text;
};

#endif  // FERRET_NET_WEBURL_H_
