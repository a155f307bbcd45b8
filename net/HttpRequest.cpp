#include "net/HttpRequest.h"

#include "app/Confine.h"
#include "app/Report.h"
#include "app/Settings.h"
#include "app/Urls.h"
#include "net/Sockets.h"
#include "net/StreamRead.h"
#include "regex/Regexp.h"

namespace {

// What one response header said.
struct Header {
  int htmlFlag = 0;
  CStr location;  // the redirect target as given, or empty
  bool redirected = false;
};

bool Connect(SocketStreamBuf& connection, const CStr& host, int port) {
  connection.Connect(host, port);
  if (connection.connected) return true;
  ++runSettings.errors;
  int code = SocketLastError();
  ReportFailure(SocketErrorText(code), "Error %d connecting to %s\n", code,
                static_cast<const char*>(host));
  return false;
}

void SendRequest(std::iostream& stream, const CStr& dir, const CStr& file) {
  // The first flush also drops input left over from an earlier connection.
  stream << "GET " << (!dir.IsEmpty() && dir[0] != '/' ? "/" : "") << static_cast<const char*>(dir)
         << "/" << static_cast<const char*>(file) << " HTTP/1.0" << std::endl
         << std::endl;
}

// Reads header lines into LineBuffer up to the first empty one.
Header ReadHeader(std::iostream& stream, const SocketStreamBuf& connection) {
  // Only a header named Location redirects, not one that merely contains it.
  Regexp locationPattern("^Location:[\t ]*(.*)", 1);
  Regexp contentTypePattern("Content-Type:[\t ]*text/html", 1);
  Header header;
  if (stream.eof()) return header;
  // A header line longer than a read arrives in pieces; only the first piece
  // of a line can name the header.
  bool startsLine = true;
  while (connection.connected) {
    int stored = ReadLine(stream, LineBuffer, kLineBufferSize - 1);
    StripCrLf(LineBuffer);
    if (!header.htmlFlag && contentTypePattern.Match(LineBuffer)) {
      header.htmlFlag = 1;
    }
    if (!header.redirected && startsLine && locationPattern.Match(LineBuffer)) {
      header.location = locationPattern[1];
      header.redirected = true;
    }
    if (LineBuffer[0] == '\0' || stream.eof()) break;
    startsLine = stored < kLineBufferSize - 2;
  }
  return header;
}

}  // namespace

int RequestPage(CStr& url, SocketStreamBuf& connection, std::iostream*& stream) {
  stream = nullptr;
  for (int redirects = 0;; ++redirects) {
    if (runSettings.confine && !SameDomain(url, runSettings.startHost)) {
      return -1;
    }
    CStr host, dir, file;
    int port = 80;
    if (SplitUrl(url, host, dir, file, port) != 0) return -1;
    if (!Connect(connection, host, port)) return -1;

    stream = new std::iostream(&connection);
    SendRequest(*stream, dir, file);
    Header header = ReadHeader(*stream, connection);
    ++runSettings.hits;
    if (!header.redirected) {
      ++runSettings.http200;
      return header.htmlFlag;
    }

    delete stream;
    stream = nullptr;
    connection.Reset();
    if (redirects == kMaxRedirects) {
      ++runSettings.errors;
      ReportFailure(nullptr, "Too many redirects at %s\n", static_cast<const char*>(url));
      return -1;
    }
    CStr target = ResolveUrl(url, header.location);
    if (target.IsEmpty()) return -1;
    url = target;
  }
}
