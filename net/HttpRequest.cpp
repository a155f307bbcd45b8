#include "net/HttpRequest.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// The request line, then Host (so that a server with several sites on one
// address answers for this one) and User-Agent, each line ended by CR LF.
// To a proxy the target is in absolute form, with Proxy-Authorization when
// the proxy has credentials.
void SendRequest(std::ostream& stream, const Url& url, const SocketStreamBuf::ProxyRequest& proxy) {
  stream << "GET ";
  if (proxy.absoluteForm) stream << "http://" << static_cast<const char*>(url.Authority());
  stream << static_cast<const char*>(url.RequestTarget()) << " HTTP/1.0\r\n"
         << "Host: " << static_cast<const char*>(url.Authority())
         << "\r\nUser-Agent: ferret/" FERRET_VERSION "\r\n";
  if (!proxy.authorization.empty()) {
    stream << "Proxy-Authorization: " << proxy.authorization << "\r\n";
  }
  stream << "\r\n" << std::flush;
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
// when a head could not be read, or there were too many interim ones.
bool ReadFinalHead(SocketStreamBuf& connection, HttpResponse* head, const CStr& url,
                   RecordedExchange* record, Failure* failure) {
  for (int interim = 0;; ++interim) {
    head->Read(connection, record != nullptr ? &record->head : nullptr);
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
                           Framing framing)
    : connection(std::move(connection)),
      body(*this->connection, framing),
      stream(&body),
      url(url),
      declared(framing.declared) {}

void ResponseBody::ReadToEnd() { body.Discard(); }

bool ResponseBody::Complete(Failure* failure) const {
  if (body.ReceiveError() != 0) {
    *failure = ReceiveFailure(body.ReceiveError(), url);
    return false;
  }
  if (body.Malformed()) {
    *failure = Simple(FailureKind::kBadChunking, url);
    return false;
  }
  unsigned long long got = BytesRead();
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

FetchOutcome Fetch(const Url& start, const FetchPolicy& allowed, const Connector& connect,
                   const ExchangeRecorder* recorder) {
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
    auto connection = std::make_unique<SocketStreamBuf>();
    Failure failure;
    if (!connect(*connection, url, &failure)) {
      failure.url = text;
      if (record != nullptr) record->failure = failure;
      return Failed(outcome, failure);
    }
    if (record != nullptr) record->connected = true;
    {
      std::ostream request(connection.get());
      SendRequest(request, url, connection->proxyRequest);
    }
    HttpResponse head;
    if (!ReadFinalHead(*connection, &head, text, record, &failure)) {
      return Failed(outcome, failure);
    }
    ++outcome.headersRead;
    if (!Redirects(head)) {
      if (IsFailureStatus(head)) {
        failure = Simple(FailureKind::kHttpError, text);
        failure.status = head.Status();
        return Failed(outcome, failure);
      }
      if (LengthProblem(head, text, &failure)) return Failed(outcome, failure);
      outcome.html = head.IsHtml();
      outcome.body = std::make_unique<ResponseBody>(std::move(connection), text, FramingOf(head));
      if (record != nullptr) outcome.body->RecordInto(record, recorder->cap);
      // A head that ran to the stream's end leaves a body already at its end.
      if (head.HowEnded() != HttpResponse::End::kBlankLine) {
        outcome.body->Stream().setstate(std::ios_base::eofbit);
      }
      return outcome;
    }
    connection.reset();
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
