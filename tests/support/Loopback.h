// Loopback: the address checks and bound sockets the test servers stand on.
//
// Test servers may only ever listen on 127.0.0.0/8 (and, for the tests of
// IPv6 itself, on ::1); LoopbackAddress is the one gate every IPv4 address
// passes, and it ends the process for anything else.
#ifndef FERRET_TESTS_SUPPORT_LOOPBACK_H_
#define FERRET_TESTS_SUPPORT_LOOPBACK_H_

#include <cstdint>
#include <string>

// The dotted IPv4 text as a host-byte-order address; ends the process unless
// it lies in 127.0.0.0/8.
uint32_t LoopbackAddress(const std::string& text);

// A new TCP socket bound to the loopback address at *port, or at an ephemeral
// port when *port is 0; the port bound is stored in *port. The caller owns
// the descriptor. Ends the process when the socket cannot be made or bound.
int BindLoopback(uint32_t address, int* port);

// Whether a TCP socket can be bound to the loopback address and port right
// now: a port below 1024 needs privilege, and another program may hold it.
// Tests of fixed ports skip themselves when this is false.
bool CanBindLoopback(const std::string& address, int port);

// Whether this machine has the IPv6 loopback address ::1 (a TCP socket can
// be bound to it). Tests of IPv6 skip themselves, saying so, when it has not.
bool HasIpv6Loopback();

// A loopback port on which connects are refused: a socket bound to it that
// never listens, held for the object's life so nobody else can take the port.
class RefusedPort {
 public:
  explicit RefusedPort(const std::string& address = "127.0.0.1");
  ~RefusedPort();
  RefusedPort(const RefusedPort&) = delete;
  RefusedPort& operator=(const RefusedPort&) = delete;

  int Port() const { return port; }

 private:
  int port;
  int fd;  // owned; bound, never listening
};

#endif  // FERRET_TESTS_SUPPORT_LOOPBACK_H_
