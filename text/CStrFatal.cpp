// Platform layer: Linux has no system-modal message box, so the message goes
// to standard error before the process aborts.
#include "text/CStrFatal.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The reason printed after the code; codes 2 to 5 keep their bare form.
const char* Reason(int code) { return code == kCStrOutOfMemory ? ": out of memory" : ""; }

}  // namespace

void CStrFatal(int code) {
  char message[64];
  int n = std::snprintf(message, sizeof message, "CStr fatal %d%s\n", code, Reason(code));
  // write(2) rather than stdio: nothing buffered can hold the message back.
  if (n > 0) {
    ssize_t ignored = write(STDERR_FILENO, message, static_cast<size_t>(n));
    (void)ignored;
  }
  std::abort();
}
