#include "app/FailureText.h"

#include <cstdio>
#include <cstring>

#include "net/HttpResponse.h"
#include "net/Sockets.h"

namespace {

const char* Text(const CStr& text) { return static_cast<const char*>(text); }

}  // namespace

FailureLine FailureText(const Failure& f) {
  FailureLine out;
  switch (f.kind) {
    case FailureKind::kNone: break;
    case FailureKind::kBadUrl: out.line.Format("Bad URL '%s'", Text(f.url)); break;
    case FailureKind::kUrlTooLong:
      out.line.Format("URL too long (%u characters): %.60s...", f.url.Length(), Text(f.url));
      break;
    case FailureKind::kConnectFailed:
      out.line.Format("Error %d connecting to %s", f.systemError, Text(f.host));
      out.reason = SocketErrorText(f.systemError);
      break;
    case FailureKind::kTlsFailed:
      out.line.Format("TLS error with %s: %s", Text(f.host), Text(f.detail));
      break;
    case FailureKind::kTooManyRedirects:
      out.line.Format("Too many redirects at %s", Text(f.url));
      break;
    case FailureKind::kHttpError: out.line.Format("HTTP %d at %s", f.status, Text(f.url)); break;
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
  }
  return out;
}
