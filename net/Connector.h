// ConnectTo: opens the connection a URL needs and puts the right transport
// under the stream buffer; ConnectVia does the same through the run's
// proxies.
//
// The HTTP code asks for a connection through a Connector and never learns
// which transport it got; tests pass a Connector of their own to run the
// HTTP code over a test double.
#ifndef FERRET_NET_CONNECTOR_H_
#define FERRET_NET_CONNECTOR_H_

#include <functional>

#include "net/Failure.h"
#include "net/Proxy.h"
#include "net/SocketStreamBuf.h"
#include "net/Url.h"

// Connects connection (fresh or Reset) to url's host and port. True with
// `connected` set; false with *failure's kind, host, port and reason filled
// in (the URL is the caller's to add).
using Connector =
    std::function<bool(SocketStreamBuf& connection, const Url& url, Failure* failure)>;

// The Connector for real hosts: a TCP connection (to each of the host's IPv4
// and IPv6 addresses in turn), with TLS over it for an https URL. A failed
// connect is kConnectFailed with the socket layer's code (SocketLastError);
// a failed handshake or certificate check is kTlsFailed with the TLS
// library's reason as detail. There is no fallback to a plain or unverified
// connection.
bool ConnectTo(SocketStreamBuf& connection, const Url& url, Failure* failure);

// The Connector for a run with proxy settings: a URL for which settings name
// a proxy (ProxySettings::For) goes through it, any other as ConnectTo takes
// it (with no proxy at all, this is ConnectTo).
//   http:  a TCP connection to the proxy, whose proxyRequest asks for the
//          absolute form and carries the credentials. The proxy's own answer
//          (a 407, a 502) is the HTTP answer, as curl and wget report it.
//   https: a TCP connection to the proxy, "CONNECT host:port HTTP/1.1" with
//          Host (and Proxy-Authorization) and User-Agent, whose answer head
//          must be 2xx with no byte after it; then TLS with the origin
//          through the tunnel, its certificate checked for the origin's host
//          exactly as ConnectTo checks it.
// The proxy's name is looked up, the origin's never (the proxy does that). A
// proxy that cannot be reached, fails to answer or refuses the tunnel is
// kProxyFailed with the proxy's host and port; an unusable setting is
// kBadProxy; a failed handshake with the origin is kTlsFailed for the
// origin's host, as without a proxy. Every copy of the Connector shares the
// settings, and any thread may call it.
Connector ConnectVia(ProxySettings settings);

#endif  // FERRET_NET_CONNECTOR_H_
