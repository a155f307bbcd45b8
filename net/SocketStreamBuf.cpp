#include "net/SocketStreamBuf.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "net/Sockets.h"
#include "net/TcpTransport.h"

SocketStreamBuf::SocketStreamBuf() : connected(0), sock(SocketOpen()) {
  std::memset(&peer, 0, sizeof(peer));
}

SocketStreamBuf::~SocketStreamBuf() {
  transport.reset();
  if (sock != -1) {
    SocketShutdown(sock, SHUT_RDWR);
    SocketClose(sock);
  }
  connected = 0;
}

int SocketStreamBuf::Connect(const char* host, int port) {
  uint32_t address;
  if (SocketResolve(host, &address) != 0) return -1;
  return ConnectAddress(address, port);
}

int SocketStreamBuf::ConnectAddress(uint32_t address, int port) {
  std::memset(&peer, 0, sizeof(peer));
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  peer.sin_addr.s_addr = htonl(address);
  int result = SocketConnect(sock, peer);
  if (result == 0) {
    transport = std::make_unique<TcpTransport>(sock);
  } else {
    transport.reset();
  }
  connected = result == 0 ? 1 : 0;
  return result;
}

void SocketStreamBuf::UseTransport(std::unique_ptr<Transport> replacement) {
  transport = std::move(replacement);
  connected = 1;
}

void SocketStreamBuf::Reset() {
  connected = 0;
  transport.reset();
  if (sock != -1) SocketClose(sock);
  sock = SocketOpen();
  if (buffer) setp(buffer.get(), mid());
  setg(nullptr, nullptr, nullptr);
}

bool SocketStreamBuf::allocate() {
  if (!buffer) buffer.reset(new (std::nothrow) char[kBufferSize]);
  return buffer != nullptr;
}

bool SocketStreamBuf::sendPending() {
  char* next = pbase();
  char* end = pptr();
  while (next < end) {
    long sent = transport ? transport->Send(next, end - next) : -1;
    if (sent <= 0) break;
    next += sent;
  }
  if (next == end) return true;
  // Keep what did not go out at the front of the put area.
  size_t unsent = end - next;
  std::memmove(buffer.get(), next, unsent);
  setp(buffer.get(), mid());
  pbump(static_cast<int>(unsent));
  return false;
}

SocketStreamBuf::int_type SocketStreamBuf::overflow(int_type c) {
  if (!allocate()) return traits_type::eof();
  if (pbase() == nullptr) setp(buffer.get(), mid());
  if (pptr() > pbase() && !sendPending()) return traits_type::eof();
  setp(buffer.get(), mid());
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return traits_type::to_int_type(traits_type::to_char_type(c));
}

SocketStreamBuf::int_type SocketStreamBuf::underflow() {
  if (!allocate()) return traits_type::eof();
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  // A request still waiting in the put area must leave before the answer
  // can be awaited.
  overflow(traits_type::eof());
  errno = ENOTCONN;
  long received = transport ? transport->Receive(mid() + 1, kReceiveSize) : -1;
  if (received == -1) {
    receiveError = errno != 0 ? errno : EIO;
    connected = 0;
    return traits_type::eof();
  }
  setg(mid(), mid() + 1, mid() + 1 + received);
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  return traits_type::eof();
}

int SocketStreamBuf::sync() {
  overflow(traits_type::eof());
  if (buffer) setp(buffer.get(), mid());
  return 0;
}

// Reached when the character before gptr differs from c (or there is none):
// stores c in the free byte before gptr, which after a receive is the byte
// at mid kept for this.
SocketStreamBuf::int_type SocketStreamBuf::pbackfail(int_type c) {
  if (eback() == nullptr || gptr() <= eback()) return traits_type::eof();
  gbump(-1);
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *gptr() = traits_type::to_char_type(c);
  return c;
}

SocketStreamBuf::pos_type SocketStreamBuf::seekoff(off_type, std::ios_base::seekdir,
                                                   std::ios_base::openmode) {
  return pos_type(off_type(-1));
}

SocketStreamBuf::pos_type SocketStreamBuf::seekpos(pos_type, std::ios_base::openmode) {
  return pos_type(off_type(-1));
}
