// TlsTransport: a Transport that speaks TLS over another Transport (TCP, or
// a test double), which it owns.
//
// Open performs the client handshake over the transport below: TLS 1.2 or later, the
// server's certificate verified against the system's trust store (which
// honours SSL_CERT_FILE and SSL_CERT_DIR) and checked against the host name
// or IP address asked for, with SNI for names. There is no way to skip the
// verification. ALPN offers "http/1.1", the only protocol spoken. The
// socket's send and receive timeouts bound the handshake as they bound every
// later read. Bytes reach the socket only through the transport below, so no
// send can raise SIGPIPE.
//
// Sessions are resumed: a new connection to a server (by host and port)
// offers the last session that server gave, so a crawl of one server makes
// one full handshake, not one a connection. Every check above holds for the
// session's first connection, which was made for the same name.
//
// The transport owns its TLS session and the transport below. Thread-safe to use from
// several threads, one transport per thread; the shared client context and
// session cache are made once.
#ifndef FERRET_NET_TLSTRANSPORT_H_
#define FERRET_NET_TLSTRANSPORT_H_

#include <memory>

#include "net/Transport.h"
#include "text/CStr.h"

struct ssl_st;
struct TransportChannel;

class TlsTransport : public Transport {
 public:
  ~TlsTransport() override;

  // Handshakes over below with host, the server at port: offering the last
  // session that server gave (any thread's connection's), which it may take
  // instead of a full handshake. The transport, or null with *reason set to
  // a short text (e.g. "certificate has expired").
  static std::unique_ptr<TlsTransport> Open(std::unique_ptr<Transport> below, const CStr& host,
                                            int port, CStr* reason);

  long Send(const char* data, size_t length) override;
  long Receive(char* data, size_t length) override;
  void Restart() override;

 private:
  TlsTransport(std::unique_ptr<TransportChannel> channel, ssl_st* session);
  // Turns a failed SSL_read/SSL_write result into the transport's -1 with
  // errno, or 0 for an orderly end.
  long Failure(int result);

  // The transport below and what the session's BIO has seen of it.
  const std::unique_ptr<TransportChannel> channel;
  ssl_st* const session;  // owned; freed before channel
};

#endif  // FERRET_NET_TLSTRANSPORT_H_
