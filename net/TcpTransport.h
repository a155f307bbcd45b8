// TcpTransport: a Transport over a connected TCP socket.
//
// The socket belongs to whoever connected it (SocketStreamBuf); the transport
// only sends and receives on it, through the socket layer's calls, and must
// not outlive it.
#ifndef FERRET_NET_TCPTRANSPORT_H_
#define FERRET_NET_TCPTRANSPORT_H_

#include "net/Transport.h"

class TcpTransport : public Transport {
 public:
  explicit TcpTransport(int fd) : fd(fd) {}

  long Send(const char* data, size_t length) override;
  long Receive(char* data, size_t length) override;

 private:
  const int fd;  // not owned
};

#endif  // FERRET_NET_TCPTRANSPORT_H_
