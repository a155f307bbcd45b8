// Fetch: one HTTP/1.0 GET with its redirects, as the crawler asks for it.
//
// Fetch connects to the URL's host, sends "GET <path> HTTP/1.0" and an empty
// line (bare LFs, no header fields), reads the response header up to the
// first empty line, follows a "Location:" header line (at most kMaxRedirects
// times in a row) and hands back the body as a stream positioned at its
// first byte.
//
// Nothing here prints or counts: the outcome says what happened, how many
// response headers were read, and what to report, and the caller (the
// crawler) does the rest. Which hosts may be asked is the caller's policy,
// consulted before every connect, redirects included.
#ifndef FERRET_NET_HTTPREQUEST_H_
#define FERRET_NET_HTTPREQUEST_H_

#include <functional>
#include <iostream>
#include <memory>

#include "net/Connector.h"
#include "net/SocketStreamBuf.h"
#include "net/Url.h"
#include "text/CStr.h"

// Redirects followed in a row before a request gives up.
constexpr int kMaxRedirects = 20;

// The body of a response: owns the connection and the stream reading it.
// The stream is destroyed before the connection it reads.
class ResponseBody {
 public:
  ResponseBody(std::unique_ptr<SocketStreamBuf> connection, std::unique_ptr<std::iostream> stream)
      : connection(std::move(connection)), stream(std::move(stream)) {}

  std::iostream& Stream() { return *stream; }
  // False once a receive has failed (a reset, a timeout).
  bool Connected() const { return connection->connected != 0; }

 private:
  std::unique_ptr<SocketStreamBuf> connection;
  std::unique_ptr<std::iostream> stream;
};

enum class FetchStatus {
  kAnswered,          // a header that did not redirect was read; body set
  kRefused,           // the policy refused the URL (nothing to report)
  kBadUrl,            // the URL or a redirect target could not be read
  kConnectFailed,     // no connection to the host
  kTooManyRedirects,  // the chain went on past kMaxRedirects
};

struct FetchOutcome {
  FetchStatus status = FetchStatus::kAnswered;
  // The URL that answered (or failed), after any redirects.
  CStr url;
  // The answer declared text/html; meaningful only when answered.
  bool html = false;
  // Response headers read, redirects included.
  int headersRead = 0;
  // Set exactly when status is kAnswered.
  std::unique_ptr<ResponseBody> body;
  // What to tell the user when status is neither kAnswered nor kRefused:
  // the line (no newline) and the system's reason for it, or null.
  CStr report;
  const char* reason = nullptr;
};

// Whether a URL may be requested; an empty policy allows everything.
using FetchPolicy = std::function<bool(const Url&)>;

FetchOutcome Fetch(const CStr& url, const FetchPolicy& allowed,
                   const Connector& connect = ConnectTo);

#endif  // FERRET_NET_HTTPREQUEST_H_
