// ConnectionPool: connections kept open after an exchange, for the next
// request to the same server.
//
// A connection is kept under its server's key (scheme, host and port: see
// KeyOf) once its exchange ended clean (net/HttpRequest.h decides when), and
// handed out again, newest first, to the next request for that key, by any
// thread. The pool is bounded: at most kMaxIdlePerServer connections a
// server and kMaxIdle in all (the oldest goes first when either is met), and
// none older than kIdleSeconds since it was kept, since servers close idle
// connections after a while of their own. A connection handed out is
// checked first (SocketStreamBuf::StillUsable): one the server has closed,
// or that holds anything unasked, is closed instead. A connection that
// passes the check may still be closed by the server a moment later; the
// caller retries on a fresh one.
//
// The pool owns the connections it keeps and closes them when it goes.
// Thread-safe; a connection is closed outside the lock.
#ifndef FERRET_NET_CONNECTIONPOOL_H_
#define FERRET_NET_CONNECTIONPOOL_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/HostPacer.h"
#include "net/SocketStreamBuf.h"
#include "net/Url.h"

constexpr size_t kMaxIdlePerServer = 16;
constexpr size_t kMaxIdle = 64;
constexpr int kIdleSeconds = 30;

class ConnectionPool {
 public:
  ConnectionPool() = default;
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // The key of url's server: "scheme://host:port".
  static std::string KeyOf(const Url& url);

  // A kept connection to key's server that is still usable, or null.
  std::unique_ptr<SocketStreamBuf> Take(const std::string& key);
  // Keeps connection for key's server.
  void Keep(const std::string& key, std::unique_ptr<SocketStreamBuf> connection);

  // Connections kept now.
  size_t Idle() const;

  // The run's pacer (not owned; null: none), which paces the exchanges on
  // the connections handed out here, as the run's connector paces those on
  // new ones.
  void SetPacer(HostPacer* runPacer) { pacer = runPacer; }
  HostPacer* Pacer() const { return pacer; }

 private:
  using Clock = std::chrono::steady_clock;
  struct Kept {
    std::string key;
    std::unique_ptr<SocketStreamBuf> connection;
    Clock::time_point since;
  };
  // The newest connection kept for key, unchecked, out of the pool; or null.
  std::unique_ptr<SocketStreamBuf> takeNewest(const std::string& key);
  // Moves the connections kept past kIdleSeconds into *expired.
  void Expire(Clock::time_point now, std::vector<Kept>* expired);

  mutable std::mutex mutex;
  std::vector<Kept> kept;  // oldest first
  HostPacer* pacer = nullptr;
};

#endif  // FERRET_NET_CONNECTIONPOOL_H_
