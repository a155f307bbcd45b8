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

int BindLoopback(uint32_t address, int* port) {
  int fd;
  do {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  } while (fd == -1 && errno == EINTR);
  sockaddr_in local;
  std::memset(&local, 0, sizeof(local));
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(address);
  socklen_t size = sizeof(local);
  if (fd == -1 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == -1 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == -1) {
    std::perror("test server: bind");
    std::abort();
  }
  *port = ntohs(local.sin_port);
  return fd;
}

RefusedPort::RefusedPort(const std::string& address)
    : port(0), fd(BindLoopback(LoopbackAddress(address), &port)) {}

RefusedPort::~RefusedPort() { close(fd); }
