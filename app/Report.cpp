#include "app/Report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/Progress.h"

void ReportFailure(const char* reason, const char* format, ...) {
  ProgressClear();
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  if (reason != nullptr) {
    std::fflush(stdout);  // keep the message ahead of its reason
    std::fprintf(stderr, "%s\n", reason);
  }
}

const char* SystemErrorText(int systemError) {
  return systemError != 0 ? std::strerror(systemError) : nullptr;
}
