#include "net/Sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

namespace {

// Per thread, like the errno it mirrors.
thread_local int lastError = 0;

// Lock-free, so that a signal handler may store to them.
std::atomic<int> stopReason{0};
thread_local volatile std::sig_atomic_t waitsAbandoned = 0;
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler stores the stop reason");

// False, with errno EINTR, once a stop was requested: no new wait starts.
bool MayWait() {
  if (stopReason.load(std::memory_order_relaxed) == 0 && !waitsAbandoned) return true;
  errno = EINTR;
  return false;
}

int ioTimeoutSeconds = kSocketIoTimeoutSeconds;

// The calling thread's SocketsOnSlowWait.
thread_local SlowWaitCall slowWaitCall = nullptr;
thread_local void* slowWaitContext = nullptr;
thread_local int slowWaitMs = 0;
thread_local int slowWaitPauses = 0;
thread_local std::chrono::nanoseconds waited{0};  // SocketsWaitedOnThisThread

// One ppoll for fd, for at most timeoutMs (negative: no limit), letting in
// the signals of mask.
int pollFor(int fd, short events, long timeoutMs, const sigset_t* mask) {
  pollfd entry{fd, events, 0};
  timespec limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000000};
  return ppoll(&entry, 1, timeoutMs >= 0 ? &limit : nullptr, mask);
}

// Waits until fd is ready for events, for at most the I/O timeout, unless a
// stop was requested: 0 when ready, else -1 with errno EINTR (stopping) or
// EAGAIN (timed out, as a receive past SO_RCVTIMEO says). The stop and wake
// signals are blocked from the check of the flags until ppoll lets them in.
int awaitReady(int fd, short events) {
  sigset_t held, previous;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  sigaddset(&held, kSocketWakeSignal);
  pthread_sigmask(SIG_BLOCK, &held, &previous);
  auto began = std::chrono::steady_clock::now();
  int result = -1;
  long timeoutMs = ioTimeoutSeconds > 0 ? ioTimeoutSeconds * 1000L : -1;
  bool told = slowWaitCall == nullptr || slowWaitPauses > 0;
  while (MayWait()) {
    int ready;
    if (!told && (timeoutMs < 0 || timeoutMs > slowWaitMs)) {
      // A wait that lasts is told of once, and then goes on for the rest of
      // its time.
      told = true;
      ready = pollFor(fd, events, slowWaitMs, &previous);
      if (ready == 0) {
        slowWaitCall(slowWaitContext);
        ready = pollFor(fd, events, timeoutMs < 0 ? -1 : timeoutMs - slowWaitMs, &previous);
      }
    } else {
      ready = pollFor(fd, events, timeoutMs, &previous);
    }
    if (ready > 0) {
      result = 0;
      break;
    }
    if (ready == 0) errno = EAGAIN;
    if (ready == 0 || errno != EINTR) break;
  }
  int saved = errno;
  waited += std::chrono::steady_clock::now() - began;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = saved;
  return result;
}
int exchangeLimitSeconds = kSocketExchangeLimitSeconds;

// Finishes a connect that a signal interrupted: the kernel carries on with
// it, so wait until the socket is writable and collect the outcome.
int finishInterruptedConnect(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  if (RetryOnEintr([&] { return poll(&entry, 1, -1); }) == -1) return -1;
  int error = 0;
  socklen_t size = sizeof(error);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == -1) return -1;
  if (error != 0) {
    errno = error;
    return -1;
  }
  return 0;
}

}  // namespace

void SocketsRequestStop(int reason) {
  int none = 0;
  stopReason.compare_exchange_strong(none, reason != 0 ? reason : -1);
}

int SocketsStopReason() { return stopReason.load(); }

bool SocketsStopRequested() { return stopReason.load(std::memory_order_relaxed) != 0; }

void SocketsAbandonWaitsOnThisThread() { waitsAbandoned = 1; }

void SocketsOnSlowWait(SlowWaitCall call, void* context, int afterMs) {
  slowWaitCall = call;
  slowWaitContext = context;
  slowWaitMs = afterMs;
}

SocketsSlowWaitPause::SocketsSlowWaitPause() { ++slowWaitPauses; }

SocketsSlowWaitPause::~SocketsSlowWaitPause() { --slowWaitPauses; }

bool SocketsWaitsAbandoned() { return waitsAbandoned != 0; }

std::chrono::nanoseconds SocketsWaitedOnThisThread() { return waited; }

int SocketLastError() { return lastError; }

const char* SocketErrorText(int code) {
  if (code == 0) return nullptr;
  // Resolver codes are negative; errno values positive.
  return code < 0 ? gai_strerror(code) : std::strerror(code);
}

int SocketOpen(int family) {
  int fd = RetryOnEintr([family] { return socket(family, SOCK_STREAM, IPPROTO_TCP); });
  if (fd >= 0) {
    // Every write here is a whole message (a request, a TLS record, a
    // handshake flight), so holding one back for the peer's acknowledgement
    // of the last gains nothing. It costs a whole delayed-ACK period (40 ms
    // on Linux) when two go out back to back with no answer between them: a
    // resumed TLS handshake's Finished, then the request. Best effort.
    int saved = errno;
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    errno = saved;
  }
  if (fd >= 0 && ioTimeoutSeconds > 0) {
    // A peer that stops talking ends the exchange as a failed receive (or
    // send) instead of holding the crawl forever. Best effort: a socket
    // without the bound still works.
    int saved = errno;
    timeval limit{ioTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    errno = saved;
  }
  return fd;
}

void SocketSetIoTimeout(int seconds) { ioTimeoutSeconds = seconds; }

void SocketSetExchangeLimit(int seconds) { exchangeLimitSeconds = seconds; }

int SocketExchangeLimit() { return exchangeLimitSeconds; }

int SocketConnect(int fd, const sockaddr_in& peer) {
  return SocketConnect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer));
}

int SocketConnect(int fd, const sockaddr* peer, socklen_t length) {
  if (!MayWait()) {
    lastError = EINTR;
    return -1;
  }
  int result = connect(fd, peer, length);
  if (result == -1 && errno == EINTR && !SocketsStopRequested() && !waitsAbandoned) {
    result = finishInterruptedConnect(fd);
  }
  // A blocking connect cut short by the socket's send timeout says
  // EINPROGRESS; what the user needs to hear is that it timed out.
  if (result == -1 && errno == EINPROGRESS) errno = ETIMEDOUT;
  lastError = result == 0 ? 0 : errno;
  return result;
}

int SocketResolve(const char* host, int port, std::vector<SocketAddress>* addresses) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // Every family, even one the machine has no route for: its connect fails
  // at once and the next address is tried (AI_ADDRCONFIG would drop
  // "localhost" where only the loopback interface is up).
  addrinfo* found = nullptr;
  errno = 0;
  int code = getaddrinfo(host, nullptr, &hints, &found);
  if (code == 0 && found == nullptr) code = EAI_NONAME;
  // A system failure inside the resolver is better told by its errno.
  if (code == EAI_SYSTEM && errno > 0) code = errno;
  if (code != 0) {
    lastError = code;
    return code;
  }
  std::vector<SocketAddress> all;
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    if ((at->ai_family != AF_INET && at->ai_family != AF_INET6) ||
        at->ai_addrlen > sizeof(sockaddr_storage)) {
      continue;
    }
    SocketAddress address;
    std::memset(&address, 0, sizeof(address));
    std::memcpy(&address.storage, at->ai_addr, at->ai_addrlen);
    address.length = at->ai_addrlen;
    const uint16_t network = htons(static_cast<uint16_t>(port));
    if (at->ai_family == AF_INET) {
      reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = network;
    } else {
      reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = network;
    }
    all.push_back(address);
  }
  freeaddrinfo(found);
  if (all.empty()) {
    lastError = EAI_NONAME;
    return EAI_NONAME;
  }
  *addresses = std::move(all);
  return 0;
}

// A send or receive (call(flags), flags added to its own) is first tried
// without waiting: most find room or bytes at once, and then cost no wait
// (nor the masking around it). Only one that would block waits for events,
// as awaitReady says, and is made again.
template <typename Call>
long WithoutWaitFirst(int fd, short events, Call call) {
  if (!MayWait()) return -1;
  long done = RetryOnEintr([&] { return call(MSG_DONTWAIT); });
  if (done != -1 || (errno != EAGAIN && errno != EWOULDBLOCK)) return done;
  if (awaitReady(fd, events) == -1) return -1;
  return RetryOnEintr([&] { return call(0); });
}

long SocketSend(int fd, const char* data, size_t length) {
  return WithoutWaitFirst(fd, POLLOUT,
                          [&](int flags) { return send(fd, data, length, MSG_NOSIGNAL | flags); });
}

long SocketRecv(int fd, char* data, size_t length) {
  return WithoutWaitFirst(fd, POLLIN, [&](int flags) { return recv(fd, data, length, flags); });
}

int SocketShutdown(int fd, int how) {
  return RetryOnEintr([&] { return shutdown(fd, how); });
}

int SocketClose(int fd) { return close(fd); }

std::string AddressText(const SocketAddress& address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.family() == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address.storage);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
  } else if (address.family() == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address.storage);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
  }
  return text;
}
