#include "app/Stop.h"

#include <csignal>

#include "app/SaveFile.h"
#include "net/Sockets.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnStop(int signal) {
  stopSignal = signal;
  SocketsRequestStop();
  SaveFile::RemovePendingOnSignal();
}

}  // namespace

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking receive must return to notice the stop.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int StopSignal() { return stopSignal; }
