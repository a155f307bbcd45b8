#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

uint32_t LoopbackAddress(const std::string& text) {
  in_addr parsed;
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1 || (ntohl(parsed.s_addr) >> 24) != 127) {
    std::fprintf(stderr, "test server: '%s' is not a loopback address\n", text.c_str());
    std::abort();
  }
  return ntohl(parsed.s_addr);
}

namespace {

// A socket bound to address:port (0: ephemeral), or -1 with errno set.
int TryBind(uint32_t address, int port) {
  int fd;
  do {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  } while (fd == -1 && errno == EINTR);
  if (fd == -1) return -1;
  sockaddr_in local;
  std::memset(&local, 0, sizeof(local));
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(address);
  local.sin_port = htons(static_cast<uint16_t>(port));
  int on = 1;
  // A fixed port may still have connections of an earlier server in TIME_WAIT.
  if (port != 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == -1) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace

int BindLoopback(uint32_t address, int* port) {
  int fd = TryBind(address, *port);
  sockaddr_in local;
  socklen_t size = sizeof(local);
  if (fd == -1 || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == -1) {
    std::perror("test server: bind");
    std::abort();
  }
  *port = ntohs(local.sin_port);
  return fd;
}

bool CanBindLoopback(const std::string& address, int port) {
  int fd = TryBind(LoopbackAddress(address), port);
  if (fd == -1) return false;
  close(fd);
  return true;
}

bool HasIpv6Loopback() {
  int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd == -1) return false;
  sockaddr_in6 local;
  std::memset(&local, 0, sizeof(local));
  local.sin6_family = AF_INET6;
  local.sin6_addr = in6addr_loopback;
  bool bound = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
  close(fd);
  return bound;
}

RefusedPort::RefusedPort(const std::string& address)
    : port(0), fd(BindLoopback(LoopbackAddress(address), &port)) {}

RefusedPort::~RefusedPort() { close(fd); }
