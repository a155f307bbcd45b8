#include "app/Report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/Progress.h"
#include "app/Settings.h"

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

void ReportCountedFailure(const char* reason, const CStr& line) {
  ++runSettings.errors;
  ReportFailure(reason, "%s\n", static_cast<const char*>(line));
}

const char* SystemErrorText(int systemError) {
  return systemError != 0 ? std::strerror(systemError) : nullptr;
}
