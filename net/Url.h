// Url: one URL split into its parts after RFC 3986, and the resolution of a
// page's links.
//
// URLs travel through the crawler as text, in one of three printed forms:
// as typed or as found on a page ("http://host:port/path?query#fragment" or
// "https://...", scheme and port optional, either scheme in any letter case);
// the scheme-less "host:port/dir/file" that Resolve builds on an http page;
// and "https://host:port/dir/file" that it builds on an https page, so the
// scheme is never lost. Text() is what the user sees printed and is kept as
// given; Parse reads every form into separate parts:
//   scheme    http or https; text without "http://" or "https://" in front
//             is the scheme-less http form and is read from its first byte
//             as an authority, so "host:81/x" has host "host", not a scheme;
//   userinfo  a "user:password@" before the host is recognised and dropped,
//             so credentials are never kept or sent;
//   host      up to the first ':' of the authority; an IPv6 literal is
//             written in brackets and stored without them ("::1");
//   port      decimal digits, the scheme's default (80, 443) when absent or
//             empty; anything else, or a value outside 1 to 65535, makes the
//             URL bad;
//   path      up to the first '?' or '#'; query after '?' up to '#', with
//             "present but empty" told apart from absent; fragment after '#'.
// The authority ends at the first '/', '?' or '#'. A fragment names a place
// in a page: it is never requested, never part of a resolved link or a Key.
//
// A Url owns copies of its parts; nothing here prints or counts. Failures come
// back as a UrlProblem for the caller to report.
#ifndef FERRET_NET_URL_H_
#define FERRET_NET_URL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "net/Failure.h"
#include "text/CStr.h"
#include "text/Fnv1a.h"

// Resolved URLs longer than this are refused: a chain of relative links could
// otherwise grow a URL past what a string can hold.
constexpr unsigned kMaxUrlLength = 8192;

// Why a URL could not be used: the line to show the user (no newline) and
// the system's error number behind it, or 0.
// Why a URL could not be used, as data: kind kBadUrl (url: the text that
// does not read as a URL) or kUrlTooLong (url: the text a resolution would
// give). The crawler words it.
using UrlProblem = Failure;

class Url {
 public:
  // Reads text. True with every part set; false with *problem filled in
  // (kBadUrl) and the parts left as they were.
  bool Parse(const CStr& text, UrlProblem* problem);

  // The URL that link, found on the page *this (or sent as its Location),
  // stands for, read as a browser reads it, printed in the forms above:
  // the link's fragment is dropped; a link that is only a fragment is the
  // page itself (its Text() without the fragment); an absolute link
  // (IsAbsolute) stands for itself; "//host/path" takes the page's scheme;
  // "/path" takes the page's authority; "?query" takes the page's path; an
  // empty link is the page's directory; anything else is appended to the
  // page's directory. Dot segments stay as written (Key resolves them). True
  // with *target parsed from that text. False with *problem when the text
  // would pass kMaxUrlLength, or does not parse (an absolute link with a bad
  // port); *target is then left alone. Links for which HasOtherScheme holds
  // are the caller's to skip.
  bool Resolve(const CStr& link, Url* target, UrlProblem* problem) const;
  // Resolve(link, ...) would succeed: false with *problem as it would set
  // it. The usual relative link is decided from lengths alone, building no
  // URL.
  bool CanResolve(const CStr& link, UrlProblem* problem) const;
  // The same text for a page given as text, without parsing the result: true
  // with *resolved set; false only past kMaxUrlLength. A page text that does
  // not parse is read as an empty URL.
  static bool Resolve(const CStr& pageText, const CStr& link, CStr* resolved, UrlProblem* problem);

  // Begins with "http://" or "https://", in any letter case.
  static bool IsAbsolute(const char* link);
  // Begins with a scheme other than those ("javascript:", "tel:", "ftp:").
  static bool HasOtherScheme(const char* link);
  // text with every byte below 0x21 and 0x7F written as %XX, so that no
  // control byte, space or line end reaches a request line or a terminal.
  static CStr EscapeControls(const CStr& text);
  // An IPv4 or IPv6 address written out (without brackets), not a name.
  static bool IsIpAddress(const char* host);

  // The URL's identity for telling URLs met before: the scheme ("http" for
  // the scheme-less form), the host in lower case (IPv6 in brackets), the
  // port, the path with "." and ".." segments resolved and empty ones
  // dropped, then "?query" when there is a query; never the fragment.
  std::string Key() const;
  // Appends Key() to *key.
  void AppendKeyTo(std::string* key) const;
  // Feeds Key()'s bytes to *hash, mostly without building the key.
  void HashKeyInto(Fnv1a64* hash) const;
  // Key() == other.Key(), mostly decided without building either key.
  bool SameKey(const Url& other) const;

  // 443 for https, 80 otherwise.
  int DefaultPort() const;
  const CStr& Text() const { return text; }
  bool Secure() const { return secure; }
  // Without brackets: what name lookup and TLS take.
  CStr Host() const;
  // Host() as a view of Text(), valid while the URL is.
  std::string_view HostView() const { return Piece(hostBegin, hostEnd); }
  // Host() as a URL or a Host field writes it: an IPv6 literal in brackets.
  CStr BracketedHost() const;
  int Port() const { return port; }
  // Begins with "/"; "/" when the URL has no path.
  CStr Path() const;
  CStr Query() const;
  // A '?' was present, even with nothing after it.
  bool HasQuery() const { return hasQuery; }
  CStr Fragment() const;
  // The path between its first and its last '/', without either.
  CStr Dir() const;
  // The path after its last '/', then "?query" when present, so that
  // "/" Dir() "/" File() (one '/' when Dir() is empty) is the request target.
  CStr File() const;
  // Path() then "?query" when present: what goes on the request line.
  CStr RequestTarget() const;
  // BracketedHost(), then ":port" unless it is the scheme's default: what
  // goes in the Host field.
  CStr Authority() const;

 private:
  bool resolveText(const CStr& link, CStr* resolved, UrlProblem* problem) const;
  // The parts, as views of text.
  std::string_view Piece(uint32_t begin, uint32_t end) const {
    return std::string_view(static_cast<const char*>(text) + begin, end - begin);
  }
  std::string_view PathView() const {
    return pathBegin == pathEnd ? std::string_view("/", 1) : Piece(pathBegin, pathEnd);
  }
  std::string_view QueryView() const {
    return hasQuery ? Piece(pathEnd + 1, queryEnd) : std::string_view();
  }
  std::string_view DirView() const;
  // BracketedHost() appended to *out, in lower case with lower.
  void appendBracketedHost(std::string* out, bool lower) const;
  // Hands Key()'s bytes to sink in pieces, each a char or a string_view
  // (the one spelling of the key that AppendKeyTo and HashKeyInto share).
  template <typename Sink>
  void feedKey(Sink&& sink) const;
  // BracketedHost()'s length, without making it.
  size_t BracketedHostLength() const;

  // Every part is a piece of text, which Parse shares rather than copies: a
  // URL costs no allocation of its own.
  CStr text;            // as given to Parse
  bool secure = false;  // https
  int port = 80;
  uint32_t hostBegin = 0, hostEnd = 0;  // without an IPv6 literal's brackets
  uint32_t pathBegin = 0, pathEnd = 0;  // empty: the path is "/"
  uint32_t queryEnd = 0;                // the query is (pathEnd, queryEnd) when hasQuery
  bool hasQuery = false;
};

#endif  // FERRET_NET_URL_H_
