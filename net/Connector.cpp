#include "net/Connector.h"

#include <cerrno>
#include <cstring>

#include "net/Sockets.h"
#include "net/TlsTransport.h"

bool ConnectTo(SocketStreamBuf& connection, const Url& url, Failure* failure) {
  failure->host = url.Host();
  failure->port = url.Port();
  // The socket layer speaks IPv4 only: an IPv6 literal is refused before any
  // name lookup.
  if (std::strchr(url.Host(), ':') != nullptr) {
    failure->kind = FailureKind::kConnectFailed;
    failure->systemError = EAFNOSUPPORT;
    return false;
  }
  connection.Connect(url.Host(), url.Port());
  if (!connection.connected) {
    failure->kind = FailureKind::kConnectFailed;
    failure->systemError = SocketLastError();
    return false;
  }
  if (!url.Secure()) return true;
  CStr reason;
  std::unique_ptr<TlsTransport> tls =
      TlsTransport::Open(connection.TakeTransport(), url.Host(), &reason);
  if (!tls) {
    connection.Reset();
    failure->kind = FailureKind::kTlsFailed;
    failure->detail = reason;
    return false;
  }
  connection.UseTransport(std::move(tls));
  return true;
}
