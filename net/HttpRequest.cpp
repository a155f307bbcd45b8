#include "net/HttpRequest.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "regex/Regexp.h"

namespace {

// What one response header said.
struct Header {
  int status = 0;  // from the status line; 0 when there was none
  bool html = false;
  CStr location;                 // the redirect target as given, or empty
  bool redirected = false;       // a Location line was seen
  long long contentLength = -1;  // -1 when not given
  bool tooLarge = false;         // ended by kMaxHeaderBytes, not by an empty line
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

// Reads one header line, whatever its length or bytes, into line without
// its CRs and LF, spending at most *budget bytes. False at the end of the
// stream with nothing read, or when the budget ran out.
bool ReadHeaderLine(std::streambuf& source, std::string& line, size_t* budget) {
  line.clear();
  bool any = false;
  for (;;) {
    if (*budget == 0) return false;
    int c = source.sbumpc();
    if (c == std::char_traits<char>::eof()) return any;
    --*budget;
    any = true;
    if (c == '\n') return true;
    if (c != '\r') line += static_cast<char>(c);
  }
}

long long ReadLength(const char* digits) {
  errno = 0;
  long long value = std::strtoll(digits, nullptr, 10);
  return errno != 0 || value < 0 ? -1 : value;
}

// Reads header lines up to the first empty one.
Header ReadHeader(std::iostream& stream) {
  // Only a header named Location redirects, not one that merely contains it;
  // Content-Type is searched for anywhere in a line.
  static thread_local Regexp statusPattern("^HTTP/[0-9]+\\.[0-9]+[\t ]+([0-9][0-9][0-9])", 0);
  static thread_local Regexp locationPattern("^Location:[\t ]*(.*)", 1);
  static thread_local Regexp contentTypePattern("Content-Type:[\t ]*text/html", 1);
  static thread_local Regexp lengthPattern("^Content-Length:[\t ]*([0-9]+)[\t ]*$", 1);
  Header header;
  std::string line;
  size_t budget = kMaxHeaderBytes;
  for (bool first = true; ReadHeaderLine(*stream.rdbuf(), line, &budget); first = false) {
    if (line.empty()) return header;
    const char* text = line.c_str();  // a NUL inside ends what the patterns see
    if (first && statusPattern.Match(text)) header.status = std::atoi(statusPattern[1]);
    if (!header.html && contentTypePattern.Match(text)) header.html = true;
    if (!header.redirected && locationPattern.Match(text)) {
      // A target longer than any URL is cut to one byte past the longest,
      // enough to be refused as too long, and never copied whole.
      int length = locationPattern.SubLength(1);
      if (length > static_cast<int>(kMaxUrlLength)) length = kMaxUrlLength + 1;
      header.location = CStr();
      header.location.Append(text + locationPattern.SubStart(1),
                             static_cast<unsigned short>(length));
      header.redirected = true;
    }
    if (lengthPattern.Match(text)) header.contentLength = ReadLength(lengthPattern[1]);
  }
  header.tooLarge = budget == 0;
  stream.setstate(std::ios_base::eofbit);
  return header;
}

// Whether a header with this status (0: none) leads on to its Location.
bool Redirects(const Header& header) {
  return header.redirected &&
         (header.status == 0 || header.status / 100 == 2 || header.status / 100 == 3);
}

bool IsFailureStatus(int status) { return status != 0 && status / 100 != 2; }

// The user's words for a receive that failed with error.
CStr ReceiveFailure(int error, const CStr& url, const char** reason) {
  CStr report;
  if (error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT) {
    report.Format("Timed out reading %s", static_cast<const char*>(url));
    *reason = nullptr;
  } else {
    report.Format("Error %d reading %s", error, static_cast<const char*>(url));
    *reason = std::strerror(error);
  }
  return report;
}

FetchOutcome Failed(FetchOutcome outcome, FetchStatus status, const CStr& report,
                    const char* reason) {
  outcome.status = status;
  outcome.report = report;
  outcome.reason = reason;
  return outcome;
}

// What went wrong with an exchange whose header has been read, if anything.
bool HeaderProblem(const SocketStreamBuf& connection, const Header& header, const CStr& url,
                   FetchOutcome* outcome) {
  CStr report;
  const char* reason = nullptr;
  // A peer that closes at once resets or ends the connection, depending on
  // whether the request had reached it: either way, nothing came back.
  bool closed = connection.connected || connection.ReceiveError() == ECONNRESET;
  if (connection.BytesReceived() == 0 && closed) {
    report.Format("Empty reply from %s", static_cast<const char*>(url));
  } else if (!connection.connected) {
    report = ReceiveFailure(connection.ReceiveError(), url, &reason);
  } else if (header.tooLarge) {
    report.Format("Header too large (over %u bytes) at %s", static_cast<unsigned>(kMaxHeaderBytes),
                  static_cast<const char*>(url));
  } else {
    return false;
  }
  *outcome = Failed(std::move(*outcome), FetchStatus::kTransferFailed, report, reason);
  return true;
}

}  // namespace

bool ResponseBody::Complete(CStr* report, const char** reason) const {
  *reason = nullptr;
  if (!connection->connected) {
    *report = ReceiveFailure(connection->ReceiveError(), url, reason);
    return false;
  }
  unsigned long long got = BytesRead();
  if (contentLength >= 0 && got < static_cast<unsigned long long>(contentLength)) {
    // CStr formats one int per directive; 64-bit counts go through snprintf.
    char line[96];
    std::snprintf(line, sizeof line, "Transfer cut short at %llu of %lld bytes: ", got,
                  contentLength);
    report->Format("%s%s", line, static_cast<const char*>(url));
    return false;
  }
  return true;
}

unsigned long long ResponseBody::BytesRead() const {
  return connection->BytesReceived() - connection->BytesUnread() - bodyStart;
}

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
    Header header = ReadHeader(*stream);
    if (HeaderProblem(*connection, header, outcome.url, &outcome)) return outcome;
    ++outcome.headersRead;
    if (!Redirects(header)) {
      if (IsFailureStatus(header.status)) {
        CStr report;
        report.Format("HTTP %d at %s", header.status, static_cast<const char*>(outcome.url));
        return Failed(std::move(outcome), FetchStatus::kHttpError, report, nullptr);
      }
      outcome.html = header.html;
      unsigned long long bodyStart = connection->BytesReceived() - connection->BytesUnread();
      outcome.body = std::make_unique<ResponseBody>(std::move(connection), std::move(stream),
                                                    outcome.url, bodyStart, header.contentLength);
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
    if (!Url::Resolve(outcome.url, Url::EscapeControls(header.location), &target, &problem)) {
      return Failed(std::move(outcome), FetchStatus::kBadUrl, problem.message, nullptr);
    }
    outcome.url = target;
  }
}
