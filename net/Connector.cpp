#include "net/Connector.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "net/HttpResponse.h"
#include "net/Sockets.h"
#include "net/TlsTransport.h"

namespace {

// Puts TLS with url's host over what connection is connected to: the host
// itself, or a tunnel to it.
bool StartTls(SocketStreamBuf& connection, const Url& url, Failure* failure) {
  CStr reason;
  std::unique_ptr<TlsTransport> tls =
      TlsTransport::Open(connection.TakeTransport(), url.Host(), url.Port(), &reason);
  if (!tls) {
    connection.Reset();
    failure->kind = FailureKind::kTlsFailed;
    failure->host = url.Host();
    failure->port = url.Port();
    failure->detail = reason;
    return false;
  }
  connection.UseTransport(std::move(tls));
  return true;
}

// What is wrong with the proxy's answer to CONNECT, other than its status;
// empty when nothing is.
CStr TunnelProblem(SocketStreamBuf& connection, const HttpResponse& head) {
  if (!connection.connected && connection.ReceiveError() != ECONNRESET) {
    int error = connection.ReceiveError();
    if (error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT) {
      return "timed out waiting for its answer to CONNECT";
    }
    CStr problem;
    problem.Format("its answer to CONNECT failed: %s", std::strerror(error));
    return problem;
  }
  if (head.HowEnded() == HttpResponse::End::kTooLarge) return "an answer to CONNECT too large";
  if (head.HowEnded() != HttpResponse::End::kBlankLine) {
    return head.BytesRead() == 0 ? "closed the connection without answering CONNECT"
                                 : "closed the connection within its answer to CONNECT";
  }
  if (!head.HasStatusLine() || head.Status() == 0) return "an answer to CONNECT without a status";
  // The tunnel's first bytes must be the origin's, in the TLS handshake.
  if (head.Status() / 100 == 2 && connection.in_avail() > 0) {
    return "bytes after its answer to CONNECT";
  }
  return CStr();
}

// Asks the proxy that connection is connected to for a tunnel to url's host
// and port.
bool OpenTunnel(SocketStreamBuf& connection, const Url& url, const ProxyServer& proxy,
                Failure* failure) {
  std::string authority =
      static_cast<const char*>(url.BracketedHost()) + (":" + std::to_string(url.Port()));
  {
    std::ostream request(&connection);
    request << "CONNECT " << authority << " HTTP/1.1\r\nHost: " << authority
            << "\r\nUser-Agent: ferret/" FERRET_VERSION "\r\n";
    if (!proxy.authorization.empty()) {
      request << "Proxy-Authorization: " << proxy.authorization << "\r\n";
    }
    request << "\r\n" << std::flush;
  }
  HttpResponse head;
  head.Read(connection);
  CStr problem = TunnelProblem(connection, head);
  if (problem.IsEmpty() && head.Status() / 100 == 2) return true;
  connection.Reset();
  failure->kind = FailureKind::kProxyFailed;
  if (problem.IsEmpty()) {
    failure->status = head.Status();
  } else {
    failure->detail = problem;
  }
  return false;
}

// Connects connection to url through proxy.
bool ConnectThrough(const ProxyServer& proxy, SocketStreamBuf& connection, const Url& url,
                    Failure* failure) {
  if (!proxy.problem.empty()) {
    failure->kind = FailureKind::kBadProxy;
    failure->host = proxy.variable.c_str();
    failure->detail = proxy.problem.c_str();
    return false;
  }
  failure->host = proxy.host.c_str();
  failure->port = proxy.port;
  connection.Connect(proxy.host.c_str(), proxy.port);
  if (!connection.connected) {
    failure->kind = FailureKind::kProxyFailed;
    failure->systemError = SocketLastError();
    return false;
  }
  if (!url.Secure()) {
    connection.proxyRequest.absoluteForm = true;
    connection.proxyRequest.authorization = proxy.authorization;
    return true;
  }
  return OpenTunnel(connection, url, proxy, failure) && StartTls(connection, url, failure);
}

}  // namespace

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
  return !url.Secure() || StartTls(connection, url, failure);
}

Connector ConnectVia(ProxySettings settings) {
  if (!settings.Any()) return ConnectTo;
  auto shared = std::make_shared<const ProxySettings>(std::move(settings));
  return [shared](SocketStreamBuf& connection, const Url& url, Failure* failure) {
    const ProxyServer* proxy = shared->For(url);
    if (proxy == nullptr) return ConnectTo(connection, url, failure);
    return ConnectThrough(*proxy, connection, url, failure);
  };
}
