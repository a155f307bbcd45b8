// SocketStreamBuf: a stream buffer over one connection.
//
// The object owns its TCP socket (opened by the first connect after
// construction or a Reset, so that a connection that never connects, such
// as a replay, costs no socket), the Transport that moves bytes over the connection once it is
// made (TcpTransport after a connect; UseTransport puts TLS or a test double
// in its place) and one buffer allocated on first use and kept for the
// object's life, across Resets (then left to the next connection made on the
// same thread: a replay comes and goes with every page). The buffer's first kPutSize bytes are the
// put area; the rest is the get area, whose first byte (at mid) is kept free so that one character
// can always be put back after a receive:
//
//   buffer            mid  mid+1                               buffer+kBufferSize
//   | put area 256 bytes |pb| receives of at most kReceiveSize bytes |
//
// A request goes out in one send when it fits the put area; an answer comes
// in in receives of up to 16 KiB, so that a page costs few system calls.
// Output waits in the put area until it is full, a flush (sync) or the next
// read; a flush sends everything pending and keeps received but unread input
// for the next read. A receive error clears
// `connected`; an orderly close by the peer only makes reads give EOF.
// Without a transport (before a connect) every send and receive fails.
// Destruction drops the transport, then shuts the socket down and closes it
// without sending pending output. Seeking is not supported. Not thread-safe: one stream at a time.
#ifndef FERRET_NET_SOCKETSTREAMBUF_H_
#define FERRET_NET_SOCKETSTREAMBUF_H_

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>
#include <string>

#include "net/Sockets.h"
#include "net/Transport.h"

class SocketStreamBuf : public std::streambuf {
 public:
  static constexpr int kPutSize = 256;
  static constexpr int kReceiveSize = 16 * 1024 - 1;
  static constexpr int kBufferSize = kPutSize + 1 + kReceiveSize;

  SocketStreamBuf();
  ~SocketStreamBuf() override;

  SocketStreamBuf(const SocketStreamBuf&) = delete;
  SocketStreamBuf& operator=(const SocketStreamBuf&) = delete;

  // Resolves host to its addresses, IPv4 and IPv6 (a literal of either
  // needs no lookup), and connects to the first that takes the connection on
  // port, trying each in turn (on a socket of its family). When the name
  // does not resolve: -1, and neither the peer nor `connected` changes
  // (SocketLastError() holds the resolver's code). When no address takes
  // it: -1 and `connected` = 0, with the last one's reason.
  int Connect(const char* host, int port);

  // Connects to address:port, both in host byte order. 0 and `connected` = 1
  // on success; -1 and `connected` = 0 on failure, the reason in
  // SocketLastError().
  int ConnectAddress(uint32_t address, int port);

  // Puts transport in place of the present one, for the connection made by
  // the last successful connect (or none, for a test double), and sets
  // `connected` = 1. Buffered bytes are kept.
  void UseTransport(std::unique_ptr<Transport> transport);

  // Hands over the present transport (null when not connected), so that a
  // transport layered over it can be put back with UseTransport.
  std::unique_ptr<Transport> TakeTransport() { return std::move(transport); }

  // Drops the transport and closes the socket (no shutdown); the next
  // connect opens a new one; `connected` = 0. Pending output and unread input belonged to the
  // closed connection and are dropped; the buffer itself is kept.
  void Reset();

  // 1 after a successful connect; 0 after construction, Reset and a failed
  // receive. Read directly by the loops that read from the connection.
  int connected;

  // The errno of the receive that cleared `connected`; 0 before one failed.
  int ReceiveError() const { return receiveError; }

  // Whether the connection could serve another exchange, as far as this
  // side knows: it runs over this object's own socket (a test double or
  // replay never does), is connected, and holds no unread input and no
  // unsent output.
  bool Reusable() const;
  // Reusable, and the peer has neither closed it nor sent anything unasked
  // (asked of the socket without waiting: a system call).
  bool StillUsable() const;
  // Whether the transport runs over this object's own connected socket (not
  // a test double or a replay): only such a connection could serve another
  // exchange.
  bool OverOwnSocket() const { return overSocket; }
  // A kept connection is used for a new exchange: the transport's time
  // bounds start again.
  void BeginExchange();

  // How a request on this connection is written when it goes to an HTTP
  // proxy rather than to the origin: set by the connector that reached the
  // proxy (ConnectVia, net/Connector.h), read by the code that writes the
  // request (net/HttpRequest.cpp), cleared by Reset. Empty on a direct
  // connection and through a CONNECT tunnel, which carries the request as
  // the origin takes it.
  struct ProxyRequest {
    bool absoluteForm = false;  // the request line names "http://authority/path"
    std::string authorization;  // the Proxy-Authorization value; empty: none
  };
  ProxyRequest proxyRequest;

  // What the run adds to every request on this connection: its own
  // User-Agent value (empty: ferret's) and fields of its own, each a whole
  // "Name: value" line without its CR LF. Set by the run's connector for the
  // server it connected to (the fields only where they may go), so a kept
  // connection carries them to its next request to that same server;
  // cleared by Reset. Null: ferret's User-Agent and nothing more.
  struct RequestIdentity {
    std::string userAgent;
    std::vector<std::string> fields;
  };
  std::shared_ptr<const RequestIdentity> identity;

  // The numeric address (IPv4 dotted, IPv6 without brackets) of the host
  // the last successful connect reached (a replay: the one its recording
  // reached, net/RecordedExchange.h); cleared by Reset.
  std::string peerAddress;

  // Held while an exchange is under way on this connection (a slot of the
  // run's HostPacer, net/HostPacer.h), dropped when the exchange ends, so the
  // pacer counts it; cleared by Reset. Null when nothing paces the run.
  std::shared_ptr<void> exchangeSlot;

 protected:
  int_type overflow(int_type c) override;
  int_type underflow() override;
  int sync() override;
  int_type pbackfail(int_type c) override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  // Allocates the buffer if there is none yet; false when there is none.
  bool allocate();
  char* mid() const { return buffer.get() + kPutSize; }
  // Sends the put area's pending bytes; on failure the unsent bytes are moved
  // to the front of the put area. True when everything went out.
  bool sendPending();

  // Connects sock (opened first, if need be) to address; the result of
  // ConnectAddress.
  int ConnectTo(const SocketAddress& address);
  // Closes sock, dropping any connection; the next connect opens one of
  // family.
  void Reopen(int family);

  int family = AF_INET;                  // sock's address family
  bool overSocket = false;               // transport runs over sock's own connection
  int sock;  // owned; -1 before a connect opens it, or when socket creation failed
  sockaddr_storage peer;                 // the address of the last connect attempt
  std::unique_ptr<Transport> transport;  // over sock (or a double); null when not connected
  std::unique_ptr<char[]> buffer;        // kBufferSize bytes, or null before first use
  int receiveError = 0;                  // errno of the last failed receive
};

#endif  // FERRET_NET_SOCKETSTREAMBUF_H_
