// Transport: the byte pipe under SocketStreamBuf.
//
// A transport moves bytes over one connection that is already established:
// plain TCP (TcpTransport), TLS, or a test double that injects faults. The
// stream buffer and the HTTP code above it see only this interface, so a new
// kind of connection never touches them.
//
// Both calls block until they have something to report and never raise a
// signal. A failure returns -1 with errno describing it (EAGAIN/EWOULDBLOCK
// when the peer stayed silent past the socket's timeout).
#ifndef FERRET_NET_TRANSPORT_H_
#define FERRET_NET_TRANSPORT_H_

#include <cstddef>

class Transport {
 public:
  Transport() = default;
  virtual ~Transport() = default;
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Sends up to length bytes: the count sent (at least 1) or -1.
  virtual long Send(const char* data, size_t length) = 0;
  // Receives up to length bytes: the count received, 0 once the peer has
  // ended the stream in order, or -1.
  virtual long Receive(char* data, size_t length) = 0;
  // A new exchange begins on the connection (a kept connection is used
  // again): any bound on an exchange's time counts from now.
  virtual void Restart() {}
};

#endif  // FERRET_NET_TRANSPORT_H_
