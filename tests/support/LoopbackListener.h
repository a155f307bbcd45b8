// LoopbackListener: the listening side of a test server on a loopback
// address: the socket, and a thread that accepts connections on it and hands
// each to the server until Stop.
//
// The listener owns its socket, its wake pipe and its accept thread; Stop
// (or destruction) wakes the thread and joins it, so that no connection is
// handed over after it returns. Connections handed over belong to the server.
#ifndef FERRET_TESTS_SUPPORT_LOOPBACKLISTENER_H_
#define FERRET_TESTS_SUPPORT_LOOPBACKLISTENER_H_

#include <cstdint>
#include <functional>
#include <thread>

class LoopbackListener {
 public:
  // Listens on address (host byte order, inside 127.0.0.0/8) at *port (0:
  // an ephemeral one, written back) with room for backlog connections not
  // yet accepted; ends the process when it cannot (what names the server).
  LoopbackListener(uint32_t address, int* port, int backlog, const char* what);
  ~LoopbackListener() { Stop(); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // Hands each accepted connection's descriptor to accepted, on the accept
  // thread, from now until Stop.
  void Start(std::function<void(int fd)> accepted);
  // Ends the accept thread and closes the socket; safe to call twice.
  void Stop();

 private:
  int listenFd = -1;
  int wakeFds[2] = {-1, -1};  // a pipe whose write end wakes the accept thread
  std::thread acceptor;
};

#endif  // FERRET_TESTS_SUPPORT_LOOPBACKLISTENER_H_
