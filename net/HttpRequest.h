// Fetch: one HTTP/1.0 GET with its redirects, as the crawler asks for it.
//
// Fetch connects to the URL's host (over TLS for https), sends
// "GET <path> HTTP/1.0" with Host and User-Agent fields, reads the response
// header up to the first empty line, follows a "Location:" header line (at
// most kMaxRedirects times in a row) and hands back the body as a stream
// positioned at its first byte.
//
// A header is read line by line whatever a line's length or bytes; only an
// empty line (or the end of the stream) ends it. The status line decides:
// 2xx, or no status line at all, is an answer; a Location line redirects
// unless the status is 4xx or 5xx; any other status is an HTTP error, whose
// body is not handed over. A header that cannot be read (nothing came, the
// receive failed or timed out, it passed kMaxHeaderBytes) is a failed
// transfer.
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

// The most bytes one response header may take.
constexpr size_t kMaxHeaderBytes = 64 * 1024;

// The body of a response: owns the connection and the stream reading it.
// The stream is destroyed before the connection it reads.
class ResponseBody {
 public:
  ResponseBody(std::unique_ptr<SocketStreamBuf> connection, std::unique_ptr<std::iostream> stream,
               const CStr& url, unsigned long long bodyStart, long long contentLength)
      : connection(std::move(connection)),
        stream(std::move(stream)),
        url(url),
        bodyStart(bodyStart),
        contentLength(contentLength) {}

  std::iostream& Stream() { return *stream; }
  // False once a receive has failed (a reset, a timeout).
  bool Connected() const { return connection->connected != 0; }
  // Body bytes taken from the stream so far.
  unsigned long long BytesRead() const;
  // Once the reader has stopped: true when the body arrived whole; otherwise
  // false with the line to report ("Timed out reading <url>", "Transfer cut
  // short at <n> of <m> bytes: <url>", ...) and the system's reason or null.
  bool Complete(CStr* report, const char** reason) const;

 private:
  std::unique_ptr<SocketStreamBuf> connection;
  std::unique_ptr<std::iostream> stream;
  const CStr url;                      // the URL that answered
  const unsigned long long bodyStart;  // connection bytes before the body
  const long long contentLength;       // declared body length; -1 when not given
};

enum class FetchStatus {
  kAnswered,          // a header that did not redirect was read; body set
  kRefused,           // the policy refused the URL (nothing to report)
  kBadUrl,            // the URL or a redirect target could not be read
  kConnectFailed,     // no connection to the host
  kTooManyRedirects,  // the chain went on past kMaxRedirects
  kHttpError,         // the answer's status was a failure (404, 500, ...)
  kTransferFailed,    // the header did not arrive whole
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
