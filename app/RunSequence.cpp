#include "app/RunSequence.h"

#include <cstdio>
#include <cstdlib>

#include "app/CrawlContext.h"
#include "app/PageScan.h"
#include "app/RequestIdentity.h"
#include "app/Stop.h"
#include "app/TextReporter.h"
#include "net/Sockets.h"
#include "net/WebUrl.h"
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
  SocketSetIoTimeout(options.timeout);
  TextReporter reporter;
  // The proxies are read once for the run; every request, fetched ahead or
  // not, goes through this connector.
  CrawlContext crawl(options, reporter, ConnectVia(ProxySettings::FromEnvironment(std::getenv)));
  ConnectionPool connections;  // outlives the crawl and every thread of it
  crawl.pool = &connections;
  // The start URL is read once, here; a URL that cannot be read is reported
  // once, and nothing is asked.
  Url start;
  UrlProblem problem;
  bool startFailed;
  if (options.html) {
    // Read as a browser reads what is typed into its address bar.
    WebUrl typed;
    startFailed = !typed.Parse(startUrl, &problem) || !typed.ToUrl(&start, &problem);
  } else {
    startFailed = !start.Parse(Url::EscapeControls(startUrl), &problem);
  }
  if (startFailed) {
    reporter.Failed(problem);
  } else {
    crawl.startHost = start.Host();
    crawl.connector = IdentifyingConnector(std::move(crawl.connector), options, start);
    startFailed = ScanPage(crawl, start, options.depth) == -1;
  }
  bool written = reporter.Finish(options.stat != 0);
  if (!written) return kExitOutputFailed;
  if (StopSignal() != 0) return kExitSignalBase + StopSignal();
  if (startFailed) return kExitStartFailed;
  return reporter.Counts().errors > 0 ? kExitSomeFailed : kExitSuccess;
}
