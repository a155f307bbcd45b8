// Fetch: one HTTP/1.1 GET with its redirects, as the crawler asks for it.
//
// Fetch connects to the URL's host (over TLS for https), or takes a kept
// connection to it, sends "GET <path> HTTP/1.1" with Host, User-Agent and
// Accept-Encoding fields (through an HTTP proxy, as the connection's
// proxyRequest says: the target in absolute form, and Proxy-Authorization),
// reads the response head (net/HttpResponse.h), follows its Location field
// (at most kMaxRedirects times in a row) and hands back the body as a stream
// that delivers exactly the body, framed as the head says
// (net/BodyStream.h), its Content-Encoding undone.
//
// Codings: gzip, deflate and br are asked for and undone, so that readers
// and saved files see the resource's own bytes. Two kinds of answer keep
// their bytes as sent: one whose coding this client cannot undo (or a list
// of several), and a gzip-encoded answer for a resource that is itself a
// gzip file (its path ends in ".gz" or ".tgz", or its Content-Type is a gzip
// type), which a browser saves as the compressed file its name promises.
//
// The status line decides. A 1xx head (net/HttpResponse.h, IsInterim) is
// passed over and the next head read from the same connection, at most
// kMaxInterimHeads times; such heads are not counted as read. A 3xx with a
// Location field, or a head without a status line that has one, redirects,
// to an http: or https: URL only (any other scheme is a failure naming it).
// Otherwise a 2xx, or no status line at all, is an answer; any other status
// (below 100 too) is an HTTP error, whose body is not handed over. An answer
// whose Content-Length does not read as one length (invalid, or values that
// differ) fails without its body; with a Transfer-Encoding the
// Content-Length is not heeded. A head that cannot be read (nothing came, the
// receive failed or timed out, it passed kMaxHeaderBytes) is a failed
// transfer.
//
// Nothing here prints or counts: the outcome says what happened, how many
// response heads were read, and, for a failure, what went wrong as data
// (net/Failure.h); the caller (the crawler) words and counts it. Which hosts
// may be asked is the caller's policy, consulted before every connect,
// redirects included.
#ifndef FERRET_NET_HTTPREQUEST_H_
#define FERRET_NET_HTTPREQUEST_H_

#include <functional>
#include <iostream>
#include <memory>

#include "net/BodyStream.h"
#include "net/ConnectionPool.h"
#include "net/Connector.h"
#include "net/ContentDecoder.h"
#include "net/DecodedBody.h"
#include "net/Failure.h"
#include "net/HttpResponse.h"
#include "net/RecordedExchange.h"
#include "net/SocketStreamBuf.h"
#include "net/Url.h"
#include "text/CStr.h"

// Redirects followed in a row before a request gives up.
constexpr int kMaxRedirects = 20;
// 1xx heads passed over before one exchange's final head.
constexpr int kMaxInterimHeads = 8;

// The body of a response: owns the connection until it is released, and the
// body stream over it with the stream that reads it; the streams go before
// the connection. A body with a Content-Encoding it undoes (see Fetch) is
// delivered decoded; the framing, the recording and the counts of what
// arrived are of the bytes as received.
//
// With a pool (KeepIn), the connection goes back to it when the body goes,
// if the exchange left it fit for another: the server keeps it alive, the
// framing is not until-close, and the body was read to its end. A body left
// unread is first read to its end when at most kDrainBytes of it remain
// (the run is not stopping); otherwise the connection is closed, never
// handed on half read.
class ResponseBody {
 public:
  ResponseBody(std::unique_ptr<SocketStreamBuf> connection, const CStr& url, Framing framing,
               ContentCoding coding = ContentCoding::kIdentity);
  ~ResponseBody();
  ResponseBody(const ResponseBody&) = delete;
  ResponseBody& operator=(const ResponseBody&) = delete;

  // For readers: delivers the body and nothing past it.
  std::iostream& Stream() { return stream; }
  // The same bytes without a copy (BodyStream::Next), for a reader that
  // takes them in pieces of any size: one reader reads one way.
  std::string_view NextPiece() { return decoded ? decoded->Next() : body.Next(); }
  void ConsumePiece(size_t n) {
    if (decoded) {
      decoded->Consume(n);
    } else {
      body.Consume(n);
    }
  }
  // False once a receive has failed (a reset, a timeout) or decoding has.
  bool Connected() const {
    return body.ReceiveError() == 0 &&
           (!decoded || decoded->Problem() == ContentDecoder::Problem::kNone);
  }
  // Body bytes taken from the stream so far, decoded.
  unsigned long long BytesRead() const { return decoded ? decoded->Delivered() : body.Delivered(); }
  // Whether the body reached its framing's end.
  bool Ended() const { return body.Ended(); }
  // Once the reader has stopped: true when the body arrived whole (no receive
  // failed, the declared length, if any, was reached, a chunked body read as
  // one, its coding decoded whole); otherwise false with *failure saying why
  // (kTimedOut, kReceiveFailed, kBadChunking, kCutShort, kBadEncoding,
  // kDecodedTooLarge).
  bool Complete(Failure* failure) const;
  // Reads the rest of the body and drops it, until it ends or fails.
  void ReadToEnd();
  // The same, for at most most bytes more.
  void ReadUpTo(unsigned long long most);

  // Hands the connection back, positioned after the body as far as it was
  // read; the stream delivers nothing more.
  std::unique_ptr<SocketStreamBuf> ReleaseConnection();

  // Copies the body into record as it is read (net/RecordedExchange.h).
  void RecordInto(RecordedExchange* record, size_t cap) { body.RecordInto(record, cap); }
  // Leaves the body out of the recording (BodyStream::LeaveOutOfRecord),
  // for a reader on the recording thread that needs no replay of it.
  void LeaveBodyOut() { body.LeaveOutOfRecord(); }

  // Gives the connection to pool under key when the body goes, as above.
  void KeepIn(ConnectionPool* into, std::string key, bool keepAlive);

 private:
  std::unique_ptr<SocketStreamBuf> connection;
  BodyStream body;                       // over *connection
  std::unique_ptr<DecodedBody> decoded;  // over body; null for the identity coding
  std::iostream stream;                  // over decoded, or body
  const CStr url;                        // the URL that answered
  const long long declared;              // the head's Content-Length; -1 when not given
  const ContentCoding coding;
  ConnectionPool* pool = nullptr;  // not owned; null: the connection closes with the body
  std::string poolKey;
};

// The most bytes read, and dropped, from a body nobody reads any more so that
// its connection can serve another exchange.
constexpr unsigned long long kDrainBytes = 64 * 1024;

enum class FetchStatus {
  kAnswered,  // a head that did not redirect was read; body set
  kRefused,   // the policy refused the URL (nothing to report)
  kFailed,    // failure says what went wrong
};

struct FetchOutcome {
  FetchStatus status = FetchStatus::kAnswered;
  // The URL that answered (or failed), after any redirects.
  Url url;
  // The answer declared text/html; meaningful only when answered.
  bool html = false;
  // When answered: the final head's status and Content-Type value.
  int httpStatus = 0;
  std::string contentType;
  // Response heads read, redirects included.
  int headersRead = 0;
  // Set exactly when status is kAnswered.
  std::unique_ptr<ResponseBody> body;
  // Set when status is kFailed.
  Failure failure;
};

// Whether a URL may be requested; an empty policy allows everything.
using FetchPolicy = std::function<bool(const Url&)>;

// Which exchanges of a fetch may take a kept connection instead of asking
// the connector: every one; only the first, for a connector that must see
// every redirect hop; or none, for a connector that replays.
enum class KeptFor { kEveryExchange, kFirstExchange, kNone };

// With recorder, every exchange is recorded as it is read, the body's as far
// as its reader goes. With pool, a connection kept there for the server is
// used (by the exchanges keptFor says) before connect is asked for a new
// one, and every exchange that leaves its connection fit for another (its
// body read, or drained, as ResponseBody says) keeps it there; a kept
// connection that fails before any byte of the answer came is replaced by a
// new one from connect, once (a GET may be sent again).
FetchOutcome Fetch(const Url& url, const FetchPolicy& allowed, const Connector& connect = ConnectTo,
                   const ExchangeRecorder* recorder = nullptr, ConnectionPool* pool = nullptr,
                   KeptFor keptFor = KeptFor::kEveryExchange);

#endif  // FERRET_NET_HTTPREQUEST_H_
