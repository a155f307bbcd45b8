// Sockets: Ferret's thin platform layer over POSIX TCP sockets.
//
// Everything the network code asks of the operating system goes through the
// functions here, so that the policies live in one place:
//   - a system call interrupted by a signal (EINTR) is retried;
//   - a failed call returns -1 and leaves errno exactly as the call set it;
//   - no send ever raises SIGPIPE: a send to a peer that has gone away is an
//     ordinary failure (EPIPE or ECONNRESET), never the death of the process;
//   - the last connect attempt's error code is kept for the HTTP layer to
//     print (SocketLastError).
// Descriptors are plain ints; the caller owns what SocketOpen returns and
// gives it back with SocketClose.
#ifndef FERRET_NET_SOCKETS_H_
#define FERRET_NET_SOCKETS_H_

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The error of this thread's last failed connect attempt: the errno of the
// connect, or the resolver's (non-zero) code when the host name did not
// resolve. 0 after a connect that succeeded. Set only by SocketConnect and
// SocketResolve.
int SocketLastError();

// The text of an error code from SocketLastError (a resolver's code or an
// errno value); null for 0.
const char* SocketErrorText(int code);

// Asks every blocking call of the network code, on every thread, to give
// up: from now on a call interrupted by a signal fails with EINTR instead of
// being retried, and no new one starts waiting. reason (non-zero: the
// signal's number, or a caller's own code) is kept for SocketsStopReason.
// Only stores to an atomic, so a signal handler may call it (one installed
// without SA_RESTART, so that the call in progress is interrupted), and it
// leaves errno alone.
void SocketsRequestStop(int reason);
// The reason given to the first SocketsRequestStop; 0 while none was.
int SocketsStopReason();
bool SocketsStopRequested();

// The same for the calling thread alone: its blocking calls give up, the
// others' go on. For a signal handler run on a thread that is to stop
// waiting (a worker fetching ahead when the run ends); also leaves errno
// alone.
void SocketsAbandonWaitsOnThisThread();

// Whether SocketsAbandonWaitsOnThisThread was called on this thread.
bool SocketsWaitsAbandoned();

// From now on, on the calling thread, a send's or receive's wait for its
// peer that lasts afterMs milliseconds calls call(context) once, then goes
// on for the rest of its time (the stop and wake signals held off during
// the call). call null: no call. For a thread that does better than wait
// when a server is slow (fetching ahead starts more workers then).
using SlowWaitCall = void (*)(void* context);
void SocketsOnSlowWait(SlowWaitCall call, void* context, int afterMs);

// How long the calling thread's sends and receives have waited for their
// peers, in all: for a thread that weighs waiting against working.
std::chrono::nanoseconds SocketsWaitedOnThisThread();

// While one lives, the calling thread's waits make no such call: for code
// that may reach the network while it holds what the call would take.
class SocketsSlowWaitPause {
 public:
  SocketsSlowWaitPause();
  ~SocketsSlowWaitPause();
  SocketsSlowWaitPause(const SocketsSlowWaitPause&) = delete;
  SocketsSlowWaitPause& operator=(const SocketsSlowWaitPause&) = delete;
};

// The signal that wakes a thread out of its waits (its handler calls
// SocketsAbandonWaitsOnThisThread). It, SIGINT and SIGTERM are held off
// between a send's or receive's check of the stop flags and its wait, which
// lets them in, so that one arriving in between cuts the wait short instead
// of leaving it to run to its timeout.
constexpr int kSocketWakeSignal = SIGUSR1;

// Calls call() again for as long as it fails with EINTR, unless a stop was
// requested, and returns its result. Every system call of the network code
// goes through here, so a failure always reaches the caller as -1 with the
// call's own errno.

template <typename Call>
auto RetryOnEintr(Call call) -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR && !SocketsStopRequested() &&
           !SocketsWaitsAbandoned());
  return result;
}

// How long a send or receive may wait for the peer before it fails.
constexpr int kSocketIoTimeoutSeconds = 60;

// A new blocking TCP socket for family (AF_INET or AF_INET6), or -1. Its
// sends and receives fail (EAGAIN) after waiting the I/O timeout for the
// peer.
int SocketOpen(int family = AF_INET);

// Sets the I/O timeout of sockets opened from now on; 0 waits forever.
void SocketSetIoTimeout(int seconds);

// How long one whole exchange (a connection, from its connect to its last
// byte) may last, however steadily the peer trickles bytes: 30 minutes.
constexpr int kSocketExchangeLimitSeconds = 30 * 60;

// Sets the exchange limit of connections made from now on (tests shorten
// it); 0 lifts it.
void SocketSetExchangeLimit(int seconds);
int SocketExchangeLimit();

// Connects fd to peer. 0 on success; -1 with errno and SocketLastError() set
// to the reason otherwise. A connect interrupted by a signal is waited for
// rather than restarted, as POSIX requires.
int SocketConnect(int fd, const sockaddr* peer, socklen_t length);
int SocketConnect(int fd, const sockaddr_in& peer);

// An address a name resolved to, of either family.
struct SocketAddress {
  sockaddr_storage storage;
  socklen_t length;
  int family() const { return storage.ss_family; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// The numeric form of address's host: dotted IPv4, or IPv6 without
// brackets; empty for another family.
std::string AddressText(const SocketAddress& address);

// Looks host up for addresses of any family (an IP literal, v4 or v6,
// needs no lookup) and stores them in *found, in the order to try them
// (the resolver's, RFC 6724), each with port. 0 on success; otherwise the
// resolver's code, which is also stored for SocketLastError(), and *found
// is left alone.
int SocketResolve(const char* host, int port, std::vector<SocketAddress>* found);

// One send of up to length bytes (without SIGPIPE); the count sent or -1.
long SocketSend(int fd, const char* data, size_t length);

// One receive of up to length bytes; the count received (0 when the peer
// has closed in order) or -1.
long SocketRecv(int fd, char* data, size_t length);

// shutdown(how); 0 or -1.
int SocketShutdown(int fd, int how);

// Releases fd. Not retried on EINTR: Linux has released the descriptor by
// then, and a second close could hit a descriptor opened meanwhile.
int SocketClose(int fd);

#endif  // FERRET_NET_SOCKETS_H_
