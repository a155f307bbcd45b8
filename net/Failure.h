// Failure: what went wrong with one fetch, as data.
//
// The network code fills in what it knows and never renders text; the
// crawler turns a Failure into the words it shows (app/FailureText.h). Which
// fields are meaningful depends on the kind; the rest keep their defaults.
#ifndef FERRET_NET_FAILURE_H_
#define FERRET_NET_FAILURE_H_

#include "text/CStr.h"

enum class FailureKind {
  kNone,
  kBadUrl,             // url: text that does not read as a URL
  kUrlTooLong,         // url: what a resolution would give, past kMaxUrlLength
  kConnectFailed,      // url, host, port, systemError (errno, or the resolver's code)
  kTlsFailed,          // host, port, detail: the TLS library's reason
  kTooManyRedirects,   // url
  kHttpError,          // url, status
  kEmptyReply,         // url: the server sent nothing back
  kTimedOut,           // url, systemError: a receive waited past its bound
  kReceiveFailed,      // url, systemError
  kHeaderTooLarge,     // url: the head passed kMaxHeaderBytes
  kCutShort,           // url, bytesRead of bytesExpected
  kBadLength,          // url, detail: Content-Length values not a length (or none)
  kConflictingLength,  // url, detail: Content-Length values that differ
  kBadChunking,        // url: a chunked body that does not read as one
  kBadEncoding,        // url, detail: the Content-Encoding its body does not decode as
  kDecodedTooLarge,    // url: decoded past the bounds of net/ContentDecoder.h
  kTooManyInterim,     // url: more than kMaxInterimHeads 1xx heads in a row
  kRedirectScheme,     // url: what redirected; detail: the target's scheme
  // url; host, port: the proxy's; then one of: systemError, why it could not
  // be reached (errno, or the resolver's code); status, its answer to
  // CONNECT that was not 2xx; detail, what else went wrong with the tunnel.
  kProxyFailed,
  kBadProxy,  // url; host: the variable holding the setting; detail: why it is unusable
};

struct Failure {
  FailureKind kind = FailureKind::kNone;
  CStr url;  // the URL being fetched when it failed, after any redirects
  CStr host;
  int port = 0;
  int status = 0;       // the HTTP status
  int systemError = 0;  // 0 when the system gave no error number
  CStr detail;
  CStr retryAfter;  // kHttpError: the answer's Retry-After value, if any
  unsigned long long bytesRead = 0;
  long long bytesExpected = -1;
};

#endif  // FERRET_NET_FAILURE_H_
