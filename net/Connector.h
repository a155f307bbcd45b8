// ConnectTo: opens the connection a URL needs and puts the right transport
// under the stream buffer.
//
// The HTTP code asks for a connection through a Connector and never learns
// which transport it got; tests pass a Connector of their own to run the
// HTTP code over a test double.
#ifndef FERRET_NET_CONNECTOR_H_
#define FERRET_NET_CONNECTOR_H_

#include <functional>

#include "net/SocketStreamBuf.h"
#include "net/Url.h"
#include "text/CStr.h"

// Why a connection could not be made: the line for the user (no newline) and
// the system's reason, or null.
struct ConnectFailure {
  CStr report;
  const char* reason = nullptr;
};

// Connects connection (fresh or Reset) to url's host and port. True with
// `connected` set; false with *failure filled in.
using Connector =
    std::function<bool(SocketStreamBuf& connection, const Url& url, ConnectFailure* failure)>;

// The Connector for real hosts: a TCP connection, with TLS over it for an
// https URL. A failed handshake or certificate check is a failure of its own
// ("TLS error with <host>: <reason>"); there is no fallback to a plain or
// unverified connection.
bool ConnectTo(SocketStreamBuf& connection, const Url& url, ConnectFailure* failure);

#endif  // FERRET_NET_CONNECTOR_H_
