#include "net/HttpRequest.h"

#include <cstring>

#include "net/StreamRead.h"
#include "regex/Regexp.h"

namespace {

// Header lines are read in pieces of at most this many bytes less two.
constexpr int kHeaderLineSize = 1024;

// What one response header said.
struct Header {
  bool html = false;
  CStr location;  // the redirect target as given, or empty
  bool redirected = false;
};

// The request line, then Host (so that a server with several sites on one
// address answers for this one) and User-Agent, each line ended by CR LF.
void SendRequest(std::iostream& stream, const Url& url) {
  const CStr& dir = url.Dir();
  stream << "GET " << (!dir.IsEmpty() && dir[0] != '/' ? "/" : "") << static_cast<const char*>(dir)
         << "/" << static_cast<const char*>(url.File()) << " HTTP/1.0\r\n"
         << "Host: " << static_cast<const char*>(url.Host());
  if (url.Port() != url.DefaultPort()) stream << ":" << url.Port();
  // The flush also drops input left over from an earlier connection.
  stream << "\r\nUser-Agent: ferret/" FERRET_VERSION "\r\n\r\n" << std::flush;
}

// Reads header lines up to the first empty one.
Header ReadHeader(std::iostream& stream, const SocketStreamBuf& connection) {
  // Only a header named Location redirects, not one that merely contains it.
  static thread_local Regexp locationPattern("^Location:[\t ]*(.*)", 1);
  static thread_local Regexp contentTypePattern("Content-Type:[\t ]*text/html", 1);
  Header header;
  if (stream.eof()) return header;
  char line[kHeaderLineSize];
  // A header line longer than a read arrives in pieces; only the first piece
  // of a line can name the header.
  bool startsLine = true;
  while (connection.connected) {
    int stored = ReadLine(stream, line, kHeaderLineSize - 1);
    StripCrLf(line);
    if (!header.html && contentTypePattern.Match(line)) header.html = true;
    if (!header.redirected && startsLine && locationPattern.Match(line)) {
      header.location = locationPattern[1];
      header.redirected = true;
    }
    if (line[0] == '\0' || stream.eof()) break;
    startsLine = stored < kHeaderLineSize - 2;
  }
  return header;
}

FetchOutcome Failed(FetchOutcome outcome, FetchStatus status, const CStr& report,
                    const char* reason) {
  outcome.status = status;
  outcome.report = report;
  outcome.reason = reason;
  return outcome;
}

}  // namespace

FetchOutcome Fetch(const CStr& start, const FetchPolicy& allowed, const Connector& connect) {
  FetchOutcome outcome;
  outcome.url = start;
  for (int redirects = 0;; ++redirects) {
    Url url;
    UrlProblem problem;
    if (!url.Parse(outcome.url, &problem)) {
      return Failed(std::move(outcome), FetchStatus::kBadUrl, problem.message,
                    problem.systemError != 0 ? std::strerror(problem.systemError) : nullptr);
    }
    if (allowed && !allowed(url)) {
      outcome.status = FetchStatus::kRefused;
      return outcome;
    }
    auto connection = std::make_unique<SocketStreamBuf>();
    ConnectFailure failure;
    if (!connect(*connection, url, &failure)) {
      return Failed(std::move(outcome), FetchStatus::kConnectFailed, failure.report,
                    failure.reason);
    }
    auto stream = std::make_unique<std::iostream>(connection.get());
    SendRequest(*stream, url);
    Header header = ReadHeader(*stream, *connection);
    ++outcome.headersRead;
    if (!header.redirected) {
      outcome.html = header.html;
      outcome.body = std::make_unique<ResponseBody>(std::move(connection), std::move(stream));
      return outcome;
    }
    stream.reset();
    connection.reset();
    if (redirects == kMaxRedirects) {
      CStr report;
      report.Format("Too many redirects at %s", static_cast<const char*>(outcome.url));
      return Failed(std::move(outcome), FetchStatus::kTooManyRedirects, report, nullptr);
    }
    CStr target;
    if (!Url::Resolve(outcome.url, header.location, &target, &problem)) {
      return Failed(std::move(outcome), FetchStatus::kBadUrl, problem.message, nullptr);
    }
    outcome.url = target;
  }
}
