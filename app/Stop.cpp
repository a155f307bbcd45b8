#include "app/Stop.h"

#include <csignal>

#include "net/Sockets.h"

namespace {

void OnStop(int signal) { SocketsRequestStop(signal); }

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

void RequestStop(int reason) { SocketsRequestStop(reason); }

int StopReason() { return SocketsStopReason(); }

int StopSignal() {
  int reason = SocketsStopReason();
  return reason == SIGINT || reason == SIGTERM ? reason : 0;
}
