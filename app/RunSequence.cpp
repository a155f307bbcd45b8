#include "app/RunSequence.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "app/Download.h"
#include "app/PageScan.h"
#include "app/Progress.h"
#include "app/Settings.h"
#include "app/Stop.h"
#include "app/Urls.h"
#include "net/Sockets.h"
#include "regex/Regexp.h"

namespace {

// False, after the message on standard error, when pattern does not compile.
bool PatternCompiles(const char* what, const CStr& pattern) {
  if (pattern.IsEmpty()) return true;
  Regexp compiled(pattern, 1);
  if (compiled.CompiledOK()) return true;
  std::fprintf(stderr, "Bad %s pattern '%s': %s\n", what, static_cast<const char*>(pattern),
               static_cast<const char*>(compiled.GetErrorString()));
  return false;
}

// False, after a message on standard error, when something written to
// standard output did not arrive (a full disk, a closed pipe).
bool OutputWritten() {
  std::cout.flush();
  errno = 0;
  bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout;
  if (!failed) return true;
  int error = errno;
  std::fprintf(stderr, "ferret: cannot write standard output%s%s\n", error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
  return false;
}

}  // namespace

int RunCrawl(CStr startUrl) {
  RunSettings& s = runSettings;
  if (!PatternCompiles("keyword", s.keyword) || !PatternCompiles("file", s.filespec)) {
    return kExitUsage;
  }
  SocketSetIoTimeout(s.timeout);
  ProgressStart();
  startUrl = Url::EscapeControls(startUrl);
  CStr dir, file;
  int port = 80;
  // A start URL that cannot be read is reported once, and nothing is asked.
  bool startFailed = SplitUrl(startUrl, s.startHost, dir, file, port) != 0;
  if (!startFailed) {
    if (s.keyword == "." && s.filespec == "." && s.download) {
      startFailed = DownloadUrl(startUrl) == -1;
    }
    if (StopSignal() == 0 && ScanPage(startUrl, s.depth) == -1) startFailed = true;
  }
  if (s.stat) PrintCounters();
  ProgressClear();
  if (!OutputWritten()) return kExitOutputFailed;
  if (StopSignal() != 0) return kExitSignalBase + StopSignal();
  if (startFailed) return kExitStartFailed;
  return s.errors > 0 ? kExitSomeFailed : kExitSuccess;
}
