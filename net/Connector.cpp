#include "net/Connector.h"

#include "net/Sockets.h"

bool ConnectTo(SocketStreamBuf& connection, const Url& url, ConnectFailure* failure) {
  connection.Connect(url.Host(), url.Port());
  if (connection.connected) return true;
  int code = SocketLastError();
  failure->report.Format("Error %d connecting to %s", code, static_cast<const char*>(url.Host()));
  failure->reason = SocketErrorText(code);
  return false;
}
