// ScriptedProxy: an HTTP proxy on a loopback address for tests, running on
// threads of the test process.
//
// It listens on 127.0.0.1 (or another 127.x.y.z address; any other address
// ends the process) at an ephemeral port and serves every accepted
// connection on a thread of its own. It reads one request head, records its
// request line and Proxy-Authorization value, and then:
//   - with Refuse(response) set, sends response and closes: nothing is
//     forwarded;
//   - "CONNECT host:port ...": connects to host:port, answers "HTTP/1.1 200
//     Connection established" and relays bytes both ways;
//   - "<method> http://host:port/path ...": connects to host:port and sends
//     the head with the target in origin form ("/path") and without its
//     Proxy-Authorization field, then relays bytes both ways;
//   - anything else: 400, and closes.
// Relaying ends when either side closes (or has been silent for the
// timeout); both connections are then closed. The origin must be a dotted
// IPv4 literal in 127.0.0.0/8, so no name is ever looked up and nothing off
// the machine is reached: any other origin is answered 502 without a
// connect.
//
// All state is guarded by one mutex; the accessors may be called at any time
// from the test's thread. Every wait is bounded by 10 s, a safety net a
// passing test never reaches. Destruction stops the proxy and joins its
// threads.
#ifndef FERRET_TESTS_SUPPORT_SCRIPTEDPROXY_H_
#define FERRET_TESTS_SUPPORT_SCRIPTEDPROXY_H_

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LoopbackListener.h"

class ScriptedProxy {
 public:
  // What one request asked of the proxy.
  struct Seen {
    std::string requestLine;    // without its line end
    std::string authorization;  // the Proxy-Authorization value; empty without one
  };

  // address: dotted IPv4 text inside 127.0.0.0/8.
  explicit ScriptedProxy(const std::string& address = "127.0.0.1");
  ~ScriptedProxy();
  ScriptedProxy(const ScriptedProxy&) = delete;
  ScriptedProxy& operator=(const ScriptedProxy&) = delete;

  int Port() const { return port; }
  // "host:port".
  std::string HostPort() const;

  // From now on every request is answered with these raw bytes (e.g. a 407)
  // and the connection closed.
  void Refuse(const std::string& response);

  // The requests so far, in arrival order.
  std::vector<Seen> Requests() const;
  // Connections accepted so far.
  size_t Accepted() const;

 private:
  // Starts serving one accepted connection on a worker of its own.
  void accept(int fd);
  void serve(int client);
  // Reads the client's head into *head and any bytes past it into *rest;
  // false when the client closed or stayed silent first.
  bool readHead(int client, std::string* head, std::string* rest);
  // Answers the request whose head (line first) was read, rest after it:
  // connects to its origin and relays, or answers 400 or 502.
  void forward(int client, const std::string& head, const std::string& line,
               const std::string& rest);
  // Connects to target ("a.b.c.d:port" in 127.0.0.0/8): the socket, or -1.
  int connectOrigin(const std::string& target);
  // Moves bytes between a and b until either ends or both stay silent.
  void relay(int a, int b);
  // Sends FIN, then reads and drops what comes until the peer closes (or the
  // timeout), so that unread input does not turn the close into a reset
  // that could cost the peer bytes it has not read yet; then closes fd.
  void closeGracefully(int fd);

  std::string host;
  int port;
  std::atomic<bool> stopping;

  mutable std::mutex mutex;  // guards everything below
  bool refusing;
  std::string refusal;
  std::vector<Seen> seen;
  size_t accepted;
  std::vector<std::thread> workers;

  LoopbackListener listener;  // started last, stopped first
};

#endif  // FERRET_TESTS_SUPPORT_SCRIPTEDPROXY_H_
