// TcpTransport: a Transport over a connected TCP socket.
//
// The socket belongs to whoever connected it (SocketStreamBuf); the transport
// only sends and receives on it, through the socket layer's calls, and must
// not outlive it. Once the socket layer's exchange limit has passed since the
// transport was made (or last restarted, for a connection used again), every
// call fails with ETIMEDOUT: a peer that trickles a byte now and then cannot
// hold the connection for ever.
#ifndef FERRET_NET_TCPTRANSPORT_H_
#define FERRET_NET_TCPTRANSPORT_H_

#include <chrono>

#include "net/Transport.h"

class TcpTransport : public Transport {
 public:
  explicit TcpTransport(int fd);

  long Send(const char* data, size_t length) override;
  long Receive(char* data, size_t length) override;
  void Restart() override;

 private:
  // False, with errno ETIMEDOUT, once the deadline has passed.
  bool InTime() const;

  const int fd;        // not owned
  const bool limited;  // whether deadline applies
  std::chrono::steady_clock::time_point deadline;
};

#endif  // FERRET_NET_TCPTRANSPORT_H_
