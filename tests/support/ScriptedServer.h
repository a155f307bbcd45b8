// ScriptedServer: a TCP server on a loopback address for tests, running on
// threads of the test process.
//
// It listens on 127.0.0.1 (or another 127.x.y.z address; any other address
// ends the process) at an ephemeral port (or a given one), and serves every
// accepted connection on a thread of its own, so any number of clients may
// be in flight at once, in one of four ways, chosen when the connection is
// accepted:
//   1. Scripted: while scripts added with AddScript are waiting, the next
//      connection runs the oldest one, step by step (see ConnectionScript).
//      Every recv call of a receive step is recorded as one chunk, so a test
//      can tell how the peer's bytes arrived; WaitForGo steps hold the script
//      until the test calls Go, which makes the interleaving deterministic.
//   2. Close at once: with SetCloseOnAccept(true), connections are closed as
//      soon as they are accepted.
//   3. Stall: with SetStallOnAccept(true), connections are held open and
//      never answered: whatever the peer sends (a TLS ClientHello too) is
//      read and dropped until the peer closes, the server stops or the
//      server's timeout passes.
//   4. HTTP (otherwise): reads a request up to its empty line ("\n\n" or
//      "\r\n\r\n"), logs its exact bytes, sends the raw response registered
//      for the request path (or the default response, a 404) and closes;
//      with SetRequestsPerConnection(n), it serves up to n requests in turn
//      on the connection before it closes (or until the peer closes).
//      An empty response closes without sending anything. With
//      SetResponseDelay, each response first waits a random time, so the
//      answers to requests in flight at once come back out of order; with
//      HoldResponse, the answers to a path wait until the test releases them.
//
// TLS: after EnableTls, connections accepted from then on that are scripted
// or HTTP first complete the server's TLS handshake, and every byte of the
// mode then travels as TLS application data: the same scripts and
// responses work unchanged, and Receives records one chunk per SSL_read
// (at most one record each). Close sends close_notify before the FIN; Abort
// resets the TCP connection with no alert. Close at once and stall do no
// handshake at all. A handshake that fails (e.g. the client rejects the
// certificate) ends the connection: no request is logged, and a scripted
// connection fails with an error starting "handshake: ".
//
// All state is guarded by one mutex; the accessors may be called at any time
// from the test's thread. Every wait, on either side, is bounded by the
// server's timeout (10 s unless changed), a safety net that a passing test
// never reaches. Destruction stops the server and joins its threads.
#ifndef FERRET_TESTS_SUPPORT_SCRIPTEDSERVER_H_
#define FERRET_TESTS_SUPPORT_SCRIPTEDSERVER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

// RefusedPort is offered with the server: tests of refused connects use both.
#include "tests/support/Loopback.h"
#include "tests/support/LoopbackListener.h"
#include "tests/support/ServerStream.h"
#include "tests/support/TestCertificates.h"

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
    kCloseWithoutNotify,
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
  // Over TLS: the FIN of Close without a close_notify before it, as a peer
  // that truncates the stream sends. Plain TCP: the same as Close.
  ConnectionScript& CloseWithoutNotify();
  // Abortive close: SO_LINGER 0, so the peer receives a reset.
  ConnectionScript& Abort();

  const std::vector<Step>& Steps() const { return steps; }

 private:
  ConnectionScript& add(Op op, std::string bytes = std::string(), size_t count = 0);

  std::vector<Step> steps;
};

class ScriptedServer {
 public:
  // address: dotted IPv4 text inside 127.0.0.0/8; port 0 is an ephemeral
  // one. Ends the process when the port cannot be bound (see CanBindLoopback).
  explicit ScriptedServer(const std::string& address = "127.0.0.1", int port = 0);
  ~ScriptedServer();

  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // --- TLS. Serves connections accepted from now on over TLS with
  // certificate, whose files are read now (ends the process if OpenSSL
  // rejects them). May be called again to change certificate or versions
  // for later connections.
  void EnableTls(const TestCertificate& certificate,
                 TlsVersions versions = TlsVersions::kTls12AndLater);
  bool TlsEnabled() const;
  // Completed TLS handshakes so far.
  size_t Handshakes() const;
  // The reasons of the failed TLS handshakes so far, in order, as OpenSSL
  // words them: a client's refusal arrives as its alert, e.g. "SSL_accept:
  // error:0A000418:SSL routines::tlsv1 alert unknown ca" (self-signed),
  // "...sslv3 alert certificate expired", "...sslv3 alert bad certificate"
  // (wrong name); a timeout is "SSL_accept: timed out".
  std::vector<std::string> HandshakeErrors() const;
  // Waits until count TLS handshakes have ended, completed or failed; false
  // on timeout.
  bool WaitForHandshakes(size_t count);

  int Port() const { return port; }
  const std::string& Host() const { return host; }
  uint32_t Address() const { return address; }  // host byte order
  // "host:port", and "http://host:port" (or "https://" with TLS enabled)
  // followed by path.
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

  // --- Stall (checked after close at once).
  void SetStallOnAccept(bool on);

  // --- HTTP. path is compared exactly with the request line's target.
  void SetResponse(const std::string& path, const std::string& response);
  // Answers path's requests with answers in turn, the last one for every
  // request after it (a server that fails, then recovers).
  void SetResponses(const std::string& path, std::vector<std::string> answers);
  void SetDefaultResponse(const std::string& response);
  // The requests in arrival order: exact bytes up to and including the
  // empty line (or whatever came before the peer closed).
  std::vector<std::string> Requests() const;
  // The request targets (second word of each request line), same order.
  std::vector<std::string> RequestPaths() const;
  // The number of the connection (in accept order, from 0, as Accepted
  // counts) each logged request came on, same order.
  std::vector<size_t> RequestConnections() const;
  // When each logged request came (its empty line read) and was answered
  // (its response written), same order as Requests.
  struct Timing {
    std::chrono::steady_clock::time_point came, answered;
  };
  std::vector<Timing> RequestTimings() const;
  // The most connections that were open at once (accepted, their serving
  // not yet ended), since the start or the last ClearRequests.
  size_t MostOpenAtOnce() const;
  // Forgets the requests logged so far, and the most open at once.
  void ClearRequests();
  // From now on a connection serves up to n requests (at least 1, the
  // default); the responses must then frame their bodies by length or
  // chunks, as a server that keeps connections does.
  void SetRequestsPerConnection(size_t n);
  // From now on each HTTP response waits 0 to maxMs milliseconds (uniformly,
  // drawn from a generator seeded with seed) after its request is logged;
  // maxMs 0, the default, answers at once.
  void SetResponseDelay(int maxMs, uint32_t seed = 1);
  // Every response to path first waits ms more (0: no longer).
  void DelayResponse(const std::string& path, int ms);
  // Waits until count requests have been logged; false on timeout.
  bool WaitForRequests(size_t count);
  // A request for path is logged at once, but its response waits until
  // ReleaseResponse(path) (or the server's timeout).
  void HoldResponse(const std::string& path);
  void ReleaseResponse(const std::string& path);

 private:
  struct Connection;

  // Starts serving one accepted connection on a worker of its own.
  void accept(int fd);
  // Joins the workers that have ended; called with `mutex` not held.
  void reapWorkers();
  void serve(int fd, size_t number);
  // The wait before the next HTTP response, in milliseconds.
  int nextDelayMs();
  // The TLS handshake, when the stream has TLS; false (and recorded) when it
  // failed.
  bool handshake(ServerStream* stream, std::string* error);
  void runScript(ServerStream* stream, Connection* connection);
  bool runStep(ServerStream* stream, Connection* connection, const ConnectionScript::Step& step,
               std::string* error);
  bool receive(ServerStream* stream, Connection* connection, size_t wanted, bool wait,
               std::string* error);
  size_t receivedBytes(Connection* connection) const;
  void serveHttp(ServerStream* stream, size_t number);
  // Waits on `changed` until ready() holds; false on timeout or stopping.
  template <typename Ready>
  bool waitFor(std::unique_lock<std::mutex>& lock, Ready ready);

  std::string host;
  uint32_t address;
  int port;
  LoopbackListener listener;  // started last, stopped first
  std::atomic<bool> stopping;
  std::atomic<int> timeoutMs;

  mutable std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  std::vector<std::unique_ptr<Connection>> scripted;  // indexed by id
  size_t nextScript;                                  // the id the next accepted connection runs
  bool closeOnAccept;
  bool stallOnAccept;
  size_t accepted;
  std::shared_ptr<const ServerTls> tls;  // null: plain TCP
  size_t handshakes;
  std::vector<std::string> handshakeErrors;
  std::map<std::string, std::string> responses;
  std::map<std::string, std::deque<std::string>> answersInTurn;  // front: the next one
  std::string defaultResponse;
  std::vector<std::string> requests;
  std::vector<size_t> requestConnections;  // parallel to requests
  std::vector<Timing> requestTimings;      // parallel to requests
  size_t open = 0;
  size_t mostOpen = 0;
  size_t requestsPerConnection = 1;
  std::set<std::string> heldPaths;
  std::map<std::string, int> pathDelaysMs;
  int delayMaxMs;                         // 0: respond at once
  std::mt19937 delays;                    // draws of the response delays
  std::map<size_t, std::thread> workers;  // by connection number, until reaped
  std::vector<size_t> finishedWorkers;    // numbers of workers whose serve has returned
};

#endif  // FERRET_TESTS_SUPPORT_SCRIPTEDSERVER_H_
