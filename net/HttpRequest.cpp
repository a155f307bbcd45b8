#include "net/HttpRequest.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "net/Sockets.h"
#include "text/AsciiCase.h"

namespace {

// The request for authority and target (Url::Authority, Url::RequestTarget):
// the request line, then Host (so that a server with several sites on one
// address answers for this one), User-Agent (the run's, or ferret's), the
// codings undone here and the run's own fields, each line ended by CR LF.
// To a proxy the target is in absolute form, with Proxy-Authorization when
// the proxy has credentials.
std::string RequestText(const CStr& authority, const CStr& target,
                        const SocketStreamBuf& connection) {
  const SocketStreamBuf::ProxyRequest& proxy = connection.proxyRequest;
  const SocketStreamBuf::RequestIdentity* identity = connection.identity.get();
  std::string text;
  text.reserve(160 + 2 * authority.Length() + target.Length());
  text += "GET ";
  if (proxy.absoluteForm) {
    text += "http://";
    text.append(authority, authority.Length());
  }
  text.append(target, target.Length());
  text += " HTTP/1.1\r\nHost: ";
  text.append(authority, authority.Length());
  text += "\r\nUser-Agent: ";
  if (identity != nullptr && !identity->userAgent.empty()) {
    text += identity->userAgent;
  } else {
    text += "ferret/" FERRET_VERSION;
  }
  text += "\r\nAccept-Encoding: gzip, deflate, br\r\n";
  if (!proxy.authorization.empty()) {
    text += "Proxy-Authorization: ";
    text += proxy.authorization;
    text += "\r\n";
  }
  if (identity != nullptr) {
    for (const std::string& field : identity->fields) {
      text += field;
      text += "\r\n";
    }
  }
  text += "\r\n";
  return text;
}

// A resource that is itself gzip data, whose gzip coding is its own.
bool IsGzipResource(const HttpResponse& head, const Url& url) {
  const CStr path = url.Path();
  std::string_view name(path, path.Length());
  std::string type = head.ContentType();
  return EndsWithFolded(name, ".gz") || EndsWithFolded(name, ".tgz") ||
         StartsWithFolded(type, "application/gzip") || StartsWithFolded(type, "application/x-gzip");
}

// The coding to undo for the answer head gave for url (see Fetch).
ContentCoding CodingToUndo(const HttpResponse& head, const Url& url) {
  ContentCoding coding = ContentCoding::kIdentity;
  if (!ContentDecoder::CodingOf(head.ContentEncoding(), &coding)) return ContentCoding::kIdentity;
  if (coding == ContentCoding::kGzip && IsGzipResource(head, url)) return ContentCoding::kIdentity;
  return coding;
}

const char* CodingName(ContentCoding coding) {
  switch (coding) {
    case ContentCoding::kGzip: return "gzip";
    case ContentCoding::kDeflate: return "deflate";
    case ContentCoding::kBrotli: return "br";
    case ContentCoding::kIdentity: break;
  }
  return "identity";
}

// Whether the head leads on to its Location.
bool Redirects(const HttpResponse& head) {
  return head.HasLocation() && (!head.HasStatusLine() || head.Status() / 100 == 3);
}

bool IsFailureStatus(const HttpResponse& head) {
  return head.HasStatusLine() && head.Status() / 100 != 2;
}

// A receive that failed with error, while url was read.
Failure ReceiveFailure(int error, const CStr& url) {
  Failure failure;
  bool timedOut = error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT;
  failure.kind = timedOut ? FailureKind::kTimedOut : FailureKind::kReceiveFailed;
  failure.url = url;
  failure.systemError = error;
  return failure;
}

// The outcome, moved out, failed as failure says. Taken by reference so that
// the failure is made before anything of the outcome moves.
FetchOutcome Failed(FetchOutcome& outcome, Failure failure) {
  outcome.status = FetchStatus::kFailed;
  outcome.failure = std::move(failure);
  return std::move(outcome);
}

Failure Simple(FailureKind kind, const CStr& url) {
  Failure failure;
  failure.kind = kind;
  failure.url = url;
  return failure;
}

// What went wrong with an exchange whose head has been read, if anything.
bool HeadProblem(const SocketStreamBuf& connection, const HttpResponse& head, const CStr& url,
                 Failure* failure) {
  // A peer that closes at once resets or ends the connection, depending on
  // whether the request had reached it: either way, nothing came back.
  bool closed = connection.connected || connection.ReceiveError() == ECONNRESET;
  if (head.BytesRead() == 0 && closed) {
    *failure = Simple(FailureKind::kEmptyReply, url);
  } else if (!connection.connected) {
    *failure = ReceiveFailure(connection.ReceiveError(), url);
  } else if (head.HowEnded() == HttpResponse::End::kTooLarge) {
    *failure = Simple(FailureKind::kHeaderTooLarge, url);
  } else {
    return false;
  }
  return true;
}

// What is wrong with an answer's Content-Length, if anything. A
// Transfer-Encoding frames the body instead, so it is not heeded then.
bool LengthProblem(const HttpResponse& head, const CStr& url, Failure* failure) {
  if (head.Find("Transfer-Encoding") != nullptr) return false;
  HttpResponse::Length length = head.ContentLengthField();
  using Kind = HttpResponse::Length::Kind;
  if (length.kind != Kind::kInvalid && length.kind != Kind::kConflicting) return false;
  *failure = Simple(
      length.kind == Kind::kInvalid ? FailureKind::kBadLength : FailureKind::kConflictingLength,
      url);
  failure->detail = length.text.substr(0, 200).c_str();
  return true;
}

// Reads heads from connection until one is not interim. False with *failure
// when a head could not be read, or there were too many interim ones;
// *answered says whether any byte of an answer came.
bool ReadFinalHead(SocketStreamBuf& connection, HttpResponse* head, const CStr& url,
                   RecordedExchange* record, Failure* failure, bool* answered) {
  *answered = false;
  for (int interim = 0;; ++interim) {
    head->Read(connection, record != nullptr ? &record->head : nullptr);
    *answered = *answered || head->BytesRead() > 0;
    if (record != nullptr && !connection.connected) record->endError = connection.ReceiveError();
    if (HeadProblem(connection, *head, url, failure)) return false;
    if (!head->IsInterim()) return true;
    if (interim == kMaxInterimHeads) {
      *failure = Simple(FailureKind::kTooManyInterim, url);
      return false;
    }
  }
}

// The scheme of a Location that names one other than http and https.
CStr OtherScheme(const CStr& location) {
  CStr scheme;
  if (!Url::HasOtherScheme(location)) return scheme;
  const char* text = location;
  scheme.Append(text, static_cast<unsigned short>(std::strchr(text, ':') - text));
  return scheme;
}

}  // namespace

ResponseBody::ResponseBody(std::unique_ptr<SocketStreamBuf> connection, const CStr& url,
                           Framing framing, ContentCoding coding)
    : connection(std::move(connection)),
      body(*this->connection, framing),
      decoded(coding == ContentCoding::kIdentity ? nullptr
                                                 : std::make_unique<DecodedBody>(body, coding)),
      stream(decoded ? static_cast<std::streambuf*>(decoded.get()) : &body),
      url(url),
      declared(framing.declared),
      coding(coding) {}

ResponseBody::~ResponseBody() {
  if (pool == nullptr || !connection) return;
  // A connection that could not serve another exchange (a replay) is not
  // drained for one.
  if (!body.Ended() && connection->OverOwnSocket() && !SocketsStopRequested()) {
    body.DiscardUpTo(kDrainBytes);
  }
  // The exchange is over, kept or not; its slot goes only once the
  // connection is back in the pool, so the next exchange finds it there.
  std::shared_ptr<void> slot = std::move(connection->exchangeSlot);
  // What the peer did since is asked when the connection is handed out
  // again (ConnectionPool::Take), once, not here as well.
  if (body.Ended() && connection->Reusable()) pool->Keep(poolKey, std::move(connection));
}

void ResponseBody::KeepIn(ConnectionPool* into, std::string key, bool keepAlive) {
  if (!keepAlive) return;
  pool = into;
  poolKey = std::move(key);
}

void ResponseBody::ReadToEnd() { body.Discard(); }

void ResponseBody::ReadUpTo(unsigned long long most) { body.DiscardUpTo(most); }

bool ResponseBody::Complete(Failure* failure) const {
  if (body.ReceiveError() != 0) {
    *failure = ReceiveFailure(body.ReceiveError(), url);
    return false;
  }
  if (body.Malformed()) {
    *failure = Simple(FailureKind::kBadChunking, url);
    return false;
  }
  // A decoder that failed stopped the reading: that is why it ended.
  ContentDecoder::Problem problem = decoded ? decoded->Problem() : ContentDecoder::Problem::kNone;
  if (problem == ContentDecoder::Problem::kTooLarge) {
    *failure = Simple(FailureKind::kDecodedTooLarge, url);
    return false;
  }
  if (problem != ContentDecoder::Problem::kNone) {
    *failure = Simple(FailureKind::kBadEncoding, url);
    failure->detail = CodingName(coding);
    return false;
  }
  unsigned long long got = body.Delivered();  // as received: what the length counts
  if (declared >= 0 && got < static_cast<unsigned long long>(declared)) {
    *failure = Simple(FailureKind::kCutShort, url);
    failure->bytesRead = got;
    failure->bytesExpected = declared;
    return false;
  }
  return true;
}

std::unique_ptr<SocketStreamBuf> ResponseBody::ReleaseConnection() {
  body.Detach();
  return std::move(connection);
}

namespace {

// One exchange's connection: a kept one from pool when there is one, else
// a new one from connect.
struct Exchange {
  std::unique_ptr<SocketStreamBuf> connection;
  std::string key;  // the pool's key for the server; empty without a pool
  HttpResponse head;
};

// Sends the request for url and reads its final head into *exchange, on a
// connection kept in pool when take says so and there is one. False with
// *failure set when no connection could be made or no head read. A kept
// connection that fails before any byte of the answer came (the server
// closed it while it waited) is replaced by a new one, once.
bool Ask(const Url& url, const Connector& connect, ConnectionPool* pool, bool take,
         RecordedExchange* record, Exchange* exchange, Failure* failure) {
  const CStr& text = url.Text();
  // An exchange that may take a kept connection is paced before it takes
  // one, so that a connection never waits out of the pool for its turn; the
  // slot stays with the exchange on whichever connection serves it (and a
  // paced connector, seeing it, takes no other).
  HostPacer::Slot slot;
  if (pool != nullptr) exchange->key = ConnectionPool::KeyOf(url);
  if (pool != nullptr && take) {
    if (HostPacer* pacer = pool->Pacer()) slot = pacer->Begin(static_cast<const char*>(url.Host()));
    exchange->connection = pool->Take(exchange->key);
  }
  for (bool kept = exchange->connection != nullptr;; kept = false) {
    if (kept) {
      exchange->connection->exchangeSlot = slot;
      exchange->connection->BeginExchange();
    } else {
      exchange->connection = std::make_unique<SocketStreamBuf>();
      exchange->connection->exchangeSlot = slot;
      if (!connect(*exchange->connection, url, failure)) {
        failure->url = text;
        if (record != nullptr) record->failure = *failure;
        return false;
      }
    }
    if (record != nullptr) record->connected = true;
    {
      const CStr authority = url.Authority(), target = url.RequestTarget();
      std::string sent = RequestText(authority, target, *exchange->connection);
      if (record != nullptr) {
        // What goes out is kept as it went (an archive holds it).
        record->request = sent;
        record->targetUri = std::string(url.Secure() ? "https://" : "http://") +
                            static_cast<const char*>(authority) + static_cast<const char*>(target);
        record->peerAddress = exchange->connection->peerAddress;
        record->began = std::chrono::system_clock::now();
      }
      // A failed send shows as a failed head read.
      exchange->connection->sputn(sent.data(), static_cast<std::streamsize>(sent.size()));
      exchange->connection->pubsync();
    }
    bool answered = false;
    if (ReadFinalHead(*exchange->connection, &exchange->head, text, record, failure, &answered)) {
      return true;
    }
    if (!kept || answered || SocketsStopRequested()) return false;
    if (record != nullptr) {
      record->head.clear();
      record->endError = 0;
    }
  }
}

// Whether the connection may serve another exchange once the body after
// head, framed so, is read: the server keeps it alive, and the body's end is
// not the connection's.
bool ServesAnother(const HttpResponse& head, const Framing& framing) {
  return head.KeepsAlive() && framing.kind != BodyFraming::kUntilClose;
}

// Reads and drops the body of an answer that is not handed on (a redirect,
// an error status), so that its connection can serve the next exchange;
// with record, the body is read (as far as kMaxPassedBody) into it first.
void DropBody(Exchange& exchange, ConnectionPool* pool, const CStr& url,
              RecordedExchange* record = nullptr, size_t cap = 0) {
  if (pool == nullptr && record == nullptr) return;
  Framing framing = FramingOf(exchange.head);
  ResponseBody body(std::move(exchange.connection), url, framing);
  if (record != nullptr) {
    body.RecordInto(record, cap);
    if (exchange.head.HowEnded() == HttpResponse::End::kBlankLine) body.ReadUpTo(kMaxPassedBody);
  }
  if (pool != nullptr) {
    body.KeepIn(pool, std::move(exchange.key), ServesAnother(exchange.head, framing));
  }
}

}  // namespace

FetchOutcome Fetch(const Url& start, const FetchPolicy& allowed, const Connector& connect,
                   const ExchangeRecorder* recorder, ConnectionPool* pool, KeptFor keptFor) {
  FetchOutcome outcome;
  outcome.url = start;
  for (int redirects = 0;; ++redirects) {
    const Url& url = outcome.url;
    const CStr& text = url.Text();
    if (allowed && !allowed(url)) {
      outcome.status = FetchStatus::kRefused;
      return outcome;
    }
    RecordedExchange* record = nullptr;
    if (recorder != nullptr) {
      record = &recorder->into->emplace_back();
      record->url = url.Text();
      record->memory.DrawFrom(recorder->budget);
    }
    Exchange exchange;
    Failure failure;
    bool take = keptFor == KeptFor::kEveryExchange ||
                (keptFor == KeptFor::kFirstExchange && redirects == 0);
    if (!Ask(url, connect, pool, take, record, &exchange, &failure)) {
      return Failed(outcome, failure);
    }
    const HttpResponse& head = exchange.head;
    ++outcome.headersRead;
    RecordedExchange* passedBody = recorder != nullptr && recorder->everyBody ? record : nullptr;
    const size_t cap = recorder != nullptr ? recorder->cap : 0;
    if (!Redirects(head)) {
      if (IsFailureStatus(head)) {
        failure = Simple(FailureKind::kHttpError, text);
        failure.status = head.Status();
        if (const std::string* after = head.Find("Retry-After")) {
          failure.retryAfter = after->substr(0, 200).c_str();
        }
        DropBody(exchange, pool, text, passedBody, cap);
        return Failed(outcome, failure);
      }
      if (LengthProblem(head, text, &failure)) return Failed(outcome, failure);
      outcome.html = head.IsHtml();
      outcome.httpStatus = head.Status();
      outcome.contentType = head.ContentType();
      Framing framing = FramingOf(head);
      outcome.body = std::make_unique<ResponseBody>(std::move(exchange.connection), text, framing,
                                                    CodingToUndo(head, url));
      if (pool != nullptr) {
        outcome.body->KeepIn(pool, std::move(exchange.key), ServesAnother(head, framing));
      }
      if (record != nullptr) outcome.body->RecordInto(record, recorder->cap);
      // A head that ran to the stream's end leaves a body already at its end.
      if (head.HowEnded() != HttpResponse::End::kBlankLine) {
        outcome.body->Stream().setstate(std::ios_base::eofbit);
      }
      return outcome;
    }
    DropBody(exchange, pool, text, passedBody, cap);
    if (redirects == kMaxRedirects) {
      return Failed(outcome, Simple(FailureKind::kTooManyRedirects, text));
    }
    CStr location = head.Location();
    CStr scheme = OtherScheme(location);
    if (!scheme.IsEmpty()) {
      failure = Simple(FailureKind::kRedirectScheme, text);
      failure.detail = scheme;
      return Failed(outcome, failure);
    }
    Url target;
    UrlProblem problem;
    if (!url.Resolve(Url::EscapeControls(location), &target, &problem)) {
      return Failed(outcome, problem);
    }
    outcome.url = target;
  }
}
