#include "net/Connector.h"

#include "net/Sockets.h"
#include "net/TlsTransport.h"

bool ConnectTo(SocketStreamBuf& connection, const Url& url, ConnectFailure* failure) {
  connection.Connect(url.Host(), url.Port());
  if (!connection.connected) {
    int code = SocketLastError();
    failure->report.Format("Error %d connecting to %s", code, static_cast<const char*>(url.Host()));
    failure->reason = SocketErrorText(code);
    return false;
  }
  if (!url.Secure()) return true;
  CStr reason;
  std::unique_ptr<TlsTransport> tls =
      TlsTransport::Open(connection.TakeTransport(), url.Host(), &reason);
  if (!tls) {
    connection.Reset();
    failure->report.Format("TLS error with %s: %s", static_cast<const char*>(url.Host()),
                           static_cast<const char*>(reason));
    return false;
  }
  connection.UseTransport(std::move(tls));
  return true;
}
