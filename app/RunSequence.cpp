#include "app/RunSequence.h"

#include <cstdio>

#include "app/CrawlContext.h"
#include "app/PageScan.h"
#include "app/Stop.h"
#include "app/TextReporter.h"
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

}  // namespace

int RunCrawl(const Options& options, CStr startUrl) {
  if (!PatternCompiles("keyword", options.keyword) || !PatternCompiles("file", options.filespec)) {
    return kExitUsage;
  }
  SocketsStartup();
  SocketSetIoTimeout(options.timeout);
  TextReporter reporter;
  CrawlContext crawl(options, reporter);
  startUrl = Url::EscapeControls(startUrl);
  CStr dir, file;
  int port = 80;
  // A start URL that cannot be read is reported once, and nothing is asked.
  bool startFailed = SplitUrl(reporter, startUrl, crawl.startHost, dir, file, port) != 0;
  if (!startFailed) startFailed = ScanPage(crawl, startUrl, options.depth) == -1;
  bool written = reporter.Finish(options.stat != 0);
  SocketsCleanup();
  if (!written) return kExitOutputFailed;
  if (StopSignal() != 0) return kExitSignalBase + StopSignal();
  if (startFailed) return kExitStartFailed;
  return reporter.Counts().errors > 0 ? kExitSomeFailed : kExitSuccess;
}
