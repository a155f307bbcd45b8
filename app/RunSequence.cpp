#include "app/RunSequence.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "app/Archive.h"
#include "app/CrawlContext.h"
#include "app/CrawlScope.h"
#include "app/CrawlState.h"
#include "app/JsonReporter.h"
#include "app/PageScan.h"
#include "app/RequestIdentity.h"
#include "app/RobotsGate.h"
#include "app/Stop.h"
#include "app/TextReporter.h"
#include "net/HostPacer.h"
#include "net/RetryPolicy.h"
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

// False, after the message on standard error, when one of patterns (those
// of the option named what) does not compile.
bool PatternsCompile(const char* what, const std::vector<CStr>& patterns) {
  for (const CStr& pattern : patterns) {
    if (!PatternCompiles(what, pattern)) return false;
  }
  return true;
}

ScopeOptions ScopeOf(const Options& options) {
  ScopeOptions scope;
  scope.noParent = options.noparent != 0;
  scope.accept = options.accept;
  scope.reject = options.reject;
  scope.maxPages = options.maxPages;
  return scope;
}

// The state of -state's file, or null after the message on standard error
// (*status then the exit status) when the run cannot go on from it.
std::unique_ptr<CrawlState> OpenState(const Options& options, int* status) {
  *status = kExitUsage;
  if (options.jobs > 1 || !options.warc.empty()) {
    std::fprintf(stderr, "ferret: -state works with -j 1 only, and without -warc\n");
    return nullptr;
  }
  std::string error;
  std::unique_ptr<CrawlState> state =
      CrawlState::Open(options.state, options.stateIdentity, &error);
  if (state == nullptr) {
    std::fprintf(stderr, "ferret: cannot use %s as the crawl's state: %s\n", options.state.c_str(),
                 error.c_str());
    *status = kExitOutputFailed;
    if (error.find("another command line") != std::string::npos) *status = kExitUsage;
    return nullptr;
  }
  if (state->Saved().finished) {
    std::fprintf(stderr, "ferret: the crawl kept in %s is over; remove it to crawl again\n",
                 options.state.c_str());
    return nullptr;
  }
  return state;
}

}  // namespace

int RunCrawl(const Options& options, CStr startUrl) {
  if (!PatternCompiles("keyword", options.keyword) || !PatternCompiles("file", options.filespec) ||
      !PatternsCompile("accept", options.accept) || !PatternsCompile("reject", options.reject)) {
    return kExitUsage;
  }
  SocketSetIoTimeout(options.timeout);
  // The archive's writer is forked before the run has any other thread.
  std::unique_ptr<CrawlArchive> archive;
  if (!options.warc.empty()) {
    std::string error;
    archive = CrawlArchive::Open(options, &error);
    if (!archive) {
      if (!error.empty()) {
        std::fprintf(stderr, "ferret: cannot write %s: %s\n", options.warc.c_str(), error.c_str());
      }
      return kExitOutputFailed;
    }
  }
  std::unique_ptr<CrawlState> state;
  if (!options.state.empty()) {
    int refused = 0;
    state = OpenState(options, &refused);
    if (state == nullptr) return refused;
  }
  std::unique_ptr<TextReporter> output =
      options.json ? std::make_unique<JsonReporter>() : std::make_unique<TextReporter>();
  TextReporter& reporter = *output;
  if (state != nullptr) reporter.Resume(state->Saved().counts);
  // The proxies are read once for the run; every request, fetched ahead or
  // not, goes through this connector.
  CrawlContext crawl(options, reporter, ConnectVia(ProxySettings::FromEnvironment(std::getenv)));
  ConnectionPool connections;  // outlives the crawl and every thread of it
  std::unique_ptr<CrawlScope> scope;  // made for the start URL
  std::unique_ptr<HostPacer> pacer;  // outlives every connection's slot
  std::unique_ptr<RobotsGate> robots;
  // The jitter of the waits between tries: drawn on the crawl's thread only.
  std::mt19937 draws{std::random_device{}()};
  RetryPolicy retries(options.tries, [&draws] {
    return std::uniform_real_distribution<double>(0.0, 1.0)(draws);
  });
  if (options.tries > 1) crawl.retries = &retries;
  crawl.pool = &connections;
  crawl.archive = archive.get();
  crawl.state = state.get();
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
    crawl.startUrl = start.Text();
    // Every request says who asks, robots.txt's included.
    crawl.connector = IdentifyingConnector(std::move(crawl.connector), options, start);
    scope = std::make_unique<CrawlScope>(start, ScopeOf(options));
    if (scope->Limited()) crawl.scope = scope.get();
    // With -robots a Crawl-delay may ask for a pause of its own.
    if (options.wait > 0 || options.perHost > 0 || options.robots) {
      pacer = std::make_unique<HostPacer>(options.perHost > 0 ? options.perHost : options.jobs,
                                          options.wait);
      crawl.connector = PacedConnector(std::move(crawl.connector), pacer.get());
      connections.SetPacer(pacer.get());
    }
    if (options.robots) {
      robots = std::make_unique<RobotsGate>(crawl.connector, crawl.pool, pacer.get(),
                                            archive != nullptr);
      crawl.robots = robots.get();
    }
    startFailed = ScanPage(crawl, start, options.depth) == -1;
  }
  bool archived = archive == nullptr || archive->Close();
  int status = !archived                      ? kExitOutputFailed
               : StopSignal() != 0            ? kExitSignalBase + StopSignal()
               : startFailed                  ? kExitStartFailed
               : reporter.Counts().errors > 0 ? kExitSomeFailed
                                              : kExitSuccess;
  reporter.Ending(status);
  // A crawl kept in a state that did not end here writes nothing it did not
  // commit, its counters neither: the run that ends the crawl writes them,
  // and only then marks the crawl over (a kill before that mark writes them
  // again when the command is run again).
  bool resumable = state != nullptr && StopReason() != 0;
  if (resumable) {
    reporter.DropLines();
    std::fprintf(stderr, "ferret: the crawl is kept in %s: run the same command to go on\n",
                 options.state.c_str());
  } else {
    reporter.HoldLines(false);
  }
  if (!reporter.Finish(options.stat != 0)) return kExitOutputFailed;
  if (resumable) reporter.DropLines();
  std::string error;
  if (state != nullptr && !resumable && !state->Finish(&error)) {
    std::fprintf(stderr, "ferret: cannot write %s: %s\n", options.state.c_str(), error.c_str());
    return kExitOutputFailed;
  }
  return status;
}
