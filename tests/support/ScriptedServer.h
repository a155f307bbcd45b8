// ScriptedServer: a TCP server on a loopback address for tests, running on
// threads of the test process.
//
// It listens on 127.0.0.1 (or another 127.x.y.z address; any other address
// ends the process) at an ephemeral port, and serves every accepted
// connection on a thread of its own, in one of three ways, chosen when the
// connection is accepted:
//   1. Scripted: while scripts added with AddScript are waiting, the next
//      connection runs the oldest one, step by step (see ConnectionScript).
//      Every recv call of a receive step is recorded as one chunk, so a test
//      can tell how the peer's bytes arrived; WaitForGo steps hold the script
//      until the test calls Go, which makes the interleaving deterministic.
//   2. Close at once: with SetCloseOnAccept(true), connections are closed as
//      soon as they are accepted.
//   3. HTTP (otherwise): reads a request up to its empty line ("\n\n" or
//      "\r\n\r\n"), logs its exact bytes, sends the raw response registered
//      for the request path (or the default response, a 404) and closes.
//      An empty response closes without sending anything.
// All state is guarded by one mutex; the accessors may be called at any time
// from the test's thread. Every wait, on either side, is bounded by the
// server's timeout (10 s unless changed), a safety net that a passing test
// never reaches. Destruction stops the server and joins its threads.
#ifndef FERRET_TESTS_SUPPORT_SCRIPTEDSERVER_H_
#define FERRET_TESTS_SUPPORT_SCRIPTEDSERVER_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// RefusedPort is offered with the server: tests of refused connects use both.
#include "tests/support/Loopback.h"

// The steps the server takes on one scripted connection, in order. A script
// that does not end with Close or Abort is closed as by Close.
class ConnectionScript {
 public:
  enum class Op {
    kReceiveOnce,
    kReceive,
    kReceiveAvailable,
    kReceiveUntilClosed,
    kSend,
    kWaitForGo,
    kClose,
    kAbort
  };
  struct Step {
    Op op;
    std::string bytes;  // kSend: what to send
    size_t count;       // kReceive: the total to receive
  };

  // One recv call, waiting for data: its bytes ("" at end of stream).
  ConnectionScript& ReceiveOnce();
  // recv calls until count bytes in all have come; one chunk per call. Fails
  // when the stream ends first.
  ConnectionScript& Receive(size_t count);
  // One recv call that does not wait: whatever has arrived so far, possibly
  // "" (nothing yet, or end of stream).
  ConnectionScript& ReceiveAvailable();
  // recv calls until the end of the stream; the last chunk is "".
  ConnectionScript& ReceiveUntilClosed();
  // Sends all of bytes.
  ConnectionScript& Send(std::string bytes);
  // Waits until the test calls Go for this connection (each Go releases one).
  ConnectionScript& WaitForGo();
  // Orderly close: sends FIN, then waits (unrecorded, bounded) for the peer
  // to close so that no unread input turns the close into a reset.
  ConnectionScript& Close();
  // Abortive close: SO_LINGER 0, so the peer receives a reset.
  ConnectionScript& Abort();

  const std::vector<Step>& Steps() const { return steps; }

 private:
  ConnectionScript& add(Op op, std::string bytes = std::string(), size_t count = 0);

  std::vector<Step> steps;
};

class ScriptedServer {
 public:
  // address: dotted IPv4 text inside 127.0.0.0/8.
  explicit ScriptedServer(const std::string& address = "127.0.0.1");
  ~ScriptedServer();

  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port; }
  const std::string& Host() const { return host; }
  uint32_t Address() const { return address; }  // host byte order
  // "host:port", and "http://host:port" followed by path.
  std::string HostPort() const;
  std::string Url(const std::string& path) const;

  // The safety bound of every wait, in milliseconds.
  void SetTimeoutMs(int milliseconds);

  // --- Scripted connections. Connection ids count from 0 in AddScript order.
  int AddScript(const ConnectionScript& script);
  // Releases one WaitForGo step of the connection (now or when it gets there).
  void Go(int connection);
  // Waits until the connection has completed `steps` steps; false on timeout
  // or when its script failed before.
  bool WaitForSteps(int connection, size_t steps);
  // Waits until the connection's script has ended (completed or failed);
  // false on timeout.
  bool WaitUntilDone(int connection);
  // The bytes of each recv call of the receive steps, in order.
  std::vector<std::string> Receives(int connection) const;
  // All received bytes, concatenated.
  std::string Received(int connection) const;
  // "" while the script is going well; else what failed (step and reason).
  std::string Error(int connection) const;

  // --- Close at once.
  void SetCloseOnAccept(bool on);
  // Connections accepted so far, of every kind.
  size_t Accepted() const;

  // --- HTTP. path is compared exactly with the request line's target.
  void SetResponse(const std::string& path, const std::string& response);
  void SetDefaultResponse(const std::string& response);
  // The requests in arrival order: exact bytes up to and including the
  // empty line (or whatever came before the peer closed).
  std::vector<std::string> Requests() const;
  // The request targets (second word of each request line), same order.
  std::vector<std::string> RequestPaths() const;
  // Waits until count requests have been logged; false on timeout.
  bool WaitForRequests(size_t count);

 private:
  struct Connection;

  void acceptLoop();
  void serve(int fd);
  void runScript(int fd, Connection* connection);
  bool runStep(int fd, Connection* connection, const ConnectionScript::Step& step,
               std::string* error);
  bool receive(int fd, Connection* connection, size_t wanted, bool wait, std::string* error);
  size_t receivedBytes(Connection* connection) const;
  void serveHttp(int fd);
  // Waits until fd is readable; false on timeout or when stopping.
  bool waitReadable(int fd, int timeoutMs);
  // Sends FIN, waits for the peer's close (bounded) and closes fd.
  void closeGracefully(int fd);
  // Waits on `changed` until ready() holds; false on timeout or stopping.
  template <typename Ready>
  bool waitFor(std::unique_lock<std::mutex>& lock, Ready ready);

  std::string host;
  uint32_t address;
  int port;
  int listenFd;
  int wakeFds[2];  // a pipe whose write end wakes the accept loop
  std::atomic<bool> stopping;
  std::atomic<int> timeoutMs;

  mutable std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  std::vector<std::unique_ptr<Connection>> scripted;  // indexed by id
  size_t nextScript;                                  // the id the next accepted connection runs
  bool closeOnAccept;
  size_t accepted;
  std::map<std::string, std::string> responses;
  std::string defaultResponse;
  std::vector<std::string> requests;
  std::vector<std::thread> workers;  // one per accepted connection

  std::thread acceptor;  // started last, joined first
};

#endif  // FERRET_TESTS_SUPPORT_SCRIPTEDSERVER_H_
