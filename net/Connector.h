// ConnectTo: opens the connection a URL needs and puts the right transport
// under the stream buffer.
//
// The HTTP code asks for a connection through a Connector and never learns
// which transport it got; tests pass a Connector of their own to run the
// HTTP code over a test double.
#ifndef FERRET_NET_CONNECTOR_H_
#define FERRET_NET_CONNECTOR_H_

#include <functional>

#include "net/Failure.h"
#include "net/SocketStreamBuf.h"
#include "net/Url.h"

// Connects connection (fresh or Reset) to url's host and port. True with
// `connected` set; false with *failure's kind, host, port and reason filled
// in (the URL is the caller's to add).
using Connector =
    std::function<bool(SocketStreamBuf& connection, const Url& url, Failure* failure)>;

// The Connector for real hosts: a TCP connection, with TLS over it for an
// https URL. A failed connect is kConnectFailed with the socket layer's code
// (SocketLastError); an IPv6 literal host, which the IPv4 socket layer cannot
// reach, is kConnectFailed with EAFNOSUPPORT and no lookup; a failed handshake or certificate check
// is kTlsFailed with the TLS library's reason as detail. There is no fallback to a plain or
// unverified connection.
bool ConnectTo(SocketStreamBuf& connection, const Url& url, Failure* failure);

#endif  // FERRET_NET_CONNECTOR_H_
