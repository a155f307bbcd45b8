#include "net/TcpTransport.h"

#include <cerrno>

#include "net/Sockets.h"

namespace {

std::chrono::steady_clock::time_point ExchangeDeadline() {
  return std::chrono::steady_clock::now() + std::chrono::seconds(SocketExchangeLimit());
}

}  // namespace

TcpTransport::TcpTransport(int fd)
    : fd(fd), limited(SocketExchangeLimit() > 0), deadline(ExchangeDeadline()) {}

void TcpTransport::Restart() { deadline = ExchangeDeadline(); }

bool TcpTransport::InTime() const {
  if (!limited || std::chrono::steady_clock::now() < deadline) return true;
  errno = ETIMEDOUT;
  return false;
}

long TcpTransport::Send(const char* data, size_t length) {
  return InTime() ? SocketSend(fd, data, length) : -1;
}

long TcpTransport::Receive(char* data, size_t length) {
  return InTime() ? SocketRecv(fd, data, length) : -1;
}
