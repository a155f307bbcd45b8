#include "app/Report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

void ReportFailure(int systemError, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  if (systemError != 0) {
    std::fflush(stdout);  // keep the message ahead of its reason
    errno = systemError;
    std::perror("");
  }
}
