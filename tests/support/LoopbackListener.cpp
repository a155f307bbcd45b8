#include "tests/support/LoopbackListener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "net/Sockets.h"  // RetryOnEintr
#include "tests/support/Loopback.h"

LoopbackListener::LoopbackListener(uint32_t address, int* port, int backlog, const char* what) {
  listenFd = BindLoopback(address, port);
  if (listen(listenFd, backlog) == -1 || pipe2(wakeFds, O_CLOEXEC) == -1) {
    std::fprintf(stderr, "%s: ", what);
    std::perror("listen");
    std::abort();
  }
}

void LoopbackListener::Start(std::function<void(int fd)> accepted) {
  acceptor = std::thread([this, accepted = std::move(accepted)] {
    pollfd entries[2] = {{listenFd, POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
    for (;;) {
      if (RetryOnEintr([&] { return poll(entries, 2, -1); }) == -1) return;
      if (entries[1].revents != 0) return;
      if ((entries[0].revents & POLLIN) == 0) continue;
      int fd = RetryOnEintr([&] { return accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC); });
      if (fd != -1) accepted(fd);
    }
  });
}

void LoopbackListener::Stop() {
  if (listenFd == -1) return;
  char wake = 0;
  RetryOnEintr([&] { return write(wakeFds[1], &wake, 1); });
  if (acceptor.joinable()) acceptor.join();
  close(listenFd);
  close(wakeFds[0]);
  close(wakeFds[1]);
  listenFd = -1;
}
