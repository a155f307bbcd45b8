// Ferret: a command-line web crawler. See README.md for the options.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <new>

#include "app/CommandLine.h"
#include "app/RunSequence.h"
#include "app/Stop.h"
#include "text/CStr.h"

namespace {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no
// socket or saved file can take its place and receive the run's output.
void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != -1 && opened != fd) close(opened);
  }
}

// An allocation that fails anywhere ends the run with a message, never with an
// uncaught exception (strings end the same way, through their own fatal path).
void OutOfMemory() {
  static const char kMessage[] = "ferret: out of memory\n";
  ssize_t ignored = write(2, kMessage, sizeof kMessage - 1);
  (void)ignored;
  std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  OpenStandardDescriptors();
  std::set_new_handler(OutOfMemory);
  // A closed pipe on standard output is a write error reported at the end,
  // not the silent death of the process.
  std::signal(SIGPIPE, SIG_IGN);
  InstallStopHandlers();
  Options options;
  CStr startUrl;
  int parsed = ParseCommandLine(argc, argv, options, startUrl);
  if (parsed < 0) return kExitUsage;
  if (parsed > 0) return kExitSuccess;  // help or version shown
  return RunCrawl(options, startUrl);
}
