#include "net/SocketStreamBuf.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "net/Sockets.h"
#include "net/TcpTransport.h"

SocketStreamBuf::SocketStreamBuf() : connected(0), sock(-1) { std::memset(&peer, 0, sizeof(peer)); }

namespace {

// The buffer of a connection gone, for the next one this thread makes.
thread_local std::unique_ptr<char[]> spareBuffer;

}  // namespace

SocketStreamBuf::~SocketStreamBuf() {
  if (!spareBuffer) spareBuffer = std::move(buffer);
  transport.reset();
  if (sock != -1) {
    SocketShutdown(sock, SHUT_RDWR);
    SocketClose(sock);
  }
  connected = 0;
}

int SocketStreamBuf::Connect(const char* host, int port) {
  std::vector<SocketAddress> addresses;
  if (SocketResolve(host, port, &addresses) != 0) return -1;
  int result = -1;
  for (size_t i = 0; i < addresses.size() && result != 0; ++i) {
    // A socket that failed to connect is not used again, nor one of the
    // other family.
    if (i > 0 || addresses[i].family() != family) Reopen(addresses[i].family());
    result = ConnectTo(addresses[i]);
    if (SocketsStopRequested()) break;
  }
  return result;
}

int SocketStreamBuf::ConnectAddress(uint32_t address, int port) {
  SocketAddress peerAddress;
  std::memset(&peerAddress, 0, sizeof(peerAddress));
  sockaddr_in* v4 = reinterpret_cast<sockaddr_in*>(&peerAddress.storage);
  v4->sin_family = AF_INET;
  v4->sin_port = htons(static_cast<uint16_t>(port));
  v4->sin_addr.s_addr = htonl(address);
  peerAddress.length = sizeof(sockaddr_in);
  if (family != AF_INET) Reopen(AF_INET);
  return ConnectTo(peerAddress);
}

int SocketStreamBuf::ConnectTo(const SocketAddress& address) {
  std::memcpy(&peer, &address.storage, sizeof(peer));
  if (sock == -1) sock = SocketOpen(family);
  int result = SocketConnect(sock, address.get(), address.length);
  if (result == 0) {
    transport = std::make_unique<TcpTransport>(sock);
    peerAddress = AddressText(address);
  } else {
    transport.reset();
  }
  connected = result == 0 ? 1 : 0;
  overSocket = result == 0;
  return result;
}

bool SocketStreamBuf::Reusable() const {
  if (!overSocket || connected == 0 || !transport || sock == -1) return false;
  return gptr() >= egptr() && pptr() == pbase();
}

bool SocketStreamBuf::StillUsable() const {
  if (!Reusable()) return false;
  pollfd watched{sock, POLLIN, 0};
  return poll(&watched, 1, 0) == 0;
}

void SocketStreamBuf::BeginExchange() {
  if (transport) transport->Restart();
}

void SocketStreamBuf::Reopen(int newFamily) {
  transport.reset();
  connected = 0;
  overSocket = false;
  if (sock != -1) SocketClose(sock);
  family = newFamily;
  sock = -1;
}

void SocketStreamBuf::UseTransport(std::unique_ptr<Transport> replacement) {
  transport = std::move(replacement);
  connected = 1;
}

void SocketStreamBuf::Reset() {
  connected = 0;
  peerAddress.clear();
  overSocket = false;
  proxyRequest = ProxyRequest();
  identity.reset();
  exchangeSlot.reset();
  transport.reset();
  if (sock != -1) SocketClose(sock);
  family = AF_INET;
  sock = -1;
  if (buffer) setp(buffer.get(), mid());
  setg(nullptr, nullptr, nullptr);
}

bool SocketStreamBuf::allocate() {
  if (!buffer)
    buffer = spareBuffer ? std::move(spareBuffer)
                         : std::unique_ptr<char[]>(new (std::nothrow) char[kBufferSize]);
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
