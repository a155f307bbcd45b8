#include "net/Connector.h"

#include "net/Sockets.h"
#include "net/TlsTransport.h"

bool ConnectTo(SocketStreamBuf& connection, const Url& url, Failure* failure) {
  failure->host = url.Host();
  failure->port = url.Port();
  // The host as the socket layer looks it up: a name, or an IPv4 or IPv6
  // literal (without its brackets).
  connection.Connect(url.Host(), url.Port());
  if (!connection.connected) {
    failure->kind = FailureKind::kConnectFailed;
    failure->systemError = SocketLastError();
    return false;
  }
  if (!url.Secure()) return true;
  CStr reason;
  std::unique_ptr<TlsTransport> tls =
      TlsTransport::Open(connection.TakeTransport(), url.Host(), url.Port(), &reason);
  if (!tls) {
    connection.Reset();
    failure->kind = FailureKind::kTlsFailed;
    failure->detail = reason;
    return false;
  }
  connection.UseTransport(std::move(tls));
  return true;
}
