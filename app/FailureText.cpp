#include "app/FailureText.h"

#include <cstdio>
#include <cstring>

#include "net/ContentDecoder.h"
#include "net/HttpResponse.h"
#include "net/Sockets.h"

namespace {

const char* Text(const CStr& text) { return static_cast<const char*>(text); }

// What a server sent, fit for one line of a terminal: at most 60 bytes, every
// byte outside printable ASCII written as %XX.
CStr Printable(const CStr& text) {
  CStr out;
  const unsigned kMost = 60;
  for (unsigned i = 0; i < text.Length() && i < kMost; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (text.Length() > kMost) out += "...";
  return out;
}

// A proxy that could not be reached, failed to answer or refused a tunnel.
CStr ProxyFailureLine(const Failure& f) {
  CStr line;
  if (f.status != 0) {
    line.Format("Proxy %s port %d refused CONNECT for %s: HTTP %03d", Text(f.host), f.port,
                Text(f.url), f.status);
  } else if (!f.detail.IsEmpty()) {
    line.Format("Proxy %s port %d failed for %s: %s", Text(f.host), f.port, Text(f.url),
                Text(f.detail));
  } else if (f.systemError < 0) {  // the resolver's code
    line.Format("Cannot find proxy host %s for %s: %s", Text(f.host), Text(f.url),
                SocketErrorText(f.systemError));
  } else {
    const char* reason = SocketErrorText(f.systemError);
    line.Format("Cannot connect to proxy %s port %d for %s: %s", Text(f.host), f.port, Text(f.url),
                reason != nullptr ? reason : "no reason given");
  }
  return line;
}

}  // namespace

FailureLine FailureText(const Failure& f) {
  FailureLine out;
  switch (f.kind) {
    case FailureKind::kNone: break;
    case FailureKind::kBadUrl: out.line.Format("Bad URL '%s'", Text(f.url)); break;
    case FailureKind::kUrlTooLong:
      out.line.Format("URL too long (%u characters): %.60s...", f.url.Length(), Text(f.url));
      break;
    case FailureKind::kConnectFailed: {
      const char* reason = SocketErrorText(f.systemError);
      if (f.systemError < 0) {  // the resolver's code
        out.line.Format("Cannot find host %s for %s: %s", Text(f.host), Text(f.url), reason);
      } else {
        out.line.Format("Cannot connect to %s port %d for %s: %s", Text(f.host), f.port,
                        Text(f.url), reason != nullptr ? reason : "no reason given");
      }
      break;
    }
    case FailureKind::kTlsFailed:
      out.line.Format("TLS error with %s: %s", Text(f.host), Text(f.detail));
      break;
    case FailureKind::kTooManyRedirects:
      out.line.Format("Too many redirects at %s", Text(f.url));
      break;
    case FailureKind::kHttpError: out.line.Format("HTTP %03d at %s", f.status, Text(f.url)); break;
    case FailureKind::kEmptyReply: out.line.Format("Empty reply from %s", Text(f.url)); break;
    case FailureKind::kTimedOut: out.line.Format("Timed out reading %s", Text(f.url)); break;
    case FailureKind::kReceiveFailed:
      out.line.Format("Error %d reading %s", f.systemError, Text(f.url));
      out.reason = std::strerror(f.systemError);
      break;
    case FailureKind::kHeaderTooLarge:
      out.line.Format("Header too large (over %u bytes) at %s",
                      static_cast<unsigned>(kMaxHeaderBytes), Text(f.url));
      break;
    case FailureKind::kCutShort: {
      // CStr formats one int per directive; 64-bit counts go through snprintf.
      char counts[96];
      std::snprintf(counts, sizeof counts,
                    "Transfer cut short at %llu of %lld bytes: ", f.bytesRead, f.bytesExpected);
      out.line.Format("%s%s", counts, Text(f.url));
      break;
    }
    case FailureKind::kBadLength:
      out.line.Format("Bad Content-Length '%s' at %s", Text(Printable(f.detail)), Text(f.url));
      break;
    case FailureKind::kConflictingLength:
      out.line.Format("Conflicting Content-Length '%s' at %s", Text(Printable(f.detail)),
                      Text(f.url));
      break;
    case FailureKind::kBadChunking:
      out.line.Format("Bad chunked encoding at %s", Text(f.url));
      break;
    case FailureKind::kBadEncoding:
      out.line.Format("Bad %s content encoding at %s", Text(Printable(f.detail)), Text(f.url));
      break;
    case FailureKind::kDecodedTooLarge:
      out.line.Format("Decoded body too large (over %u times its encoded size) at %s",
                      kMaxDecodedRatio, Text(f.url));
      break;
    case FailureKind::kTooManyInterim:
      out.line.Format("Too many interim (1xx) responses at %s", Text(f.url));
      break;
    case FailureKind::kRedirectScheme:
      out.line.Format("Redirect to a %s: URL refused at %s", Text(Printable(f.detail)),
                      Text(f.url));
      break;
    case FailureKind::kProxyFailed: out.line = ProxyFailureLine(f); break;
    case FailureKind::kBadProxy:
      out.line.Format("Bad proxy setting %s for %s: %s", Text(f.host), Text(f.url), Text(f.detail));
      break;
  }
  return out;
}
