#include "app/RunSequence.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "app/Archive.h"
#include "app/CrawlContext.h"
#include "app/CrawlScope.h"
#include "app/CrawlState.h"
#include "app/FailureText.h"
#include "app/JsonReporter.h"
#include "app/OncePages.h"
#include "app/PageScan.h"
#include "app/RequestIdentity.h"
#include "app/RobotsGate.h"
#include "app/Shard.h"
#include "app/StartList.h"
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
  bool foreign = false;
  std::unique_ptr<CrawlState> state =
      CrawlState::Open(options.state, options.stateIdentity, &error, &foreign);
  if (state == nullptr) {
    std::fprintf(stderr, "ferret: cannot use %s as the crawl's state: %s\n", options.state.c_str(),
                 error.c_str());
    *status = foreign ? kExitUsage : kExitOutputFailed;
    return nullptr;
  }
  // A list's crawl that is over is a round before: the new list's starts
  // are crawled with what that one met.
  if (state->Saved().finished && !options.startList.empty() && !state->NewRound(&error)) {
    std::fprintf(stderr, "ferret: cannot write %s: %s\n", options.state.c_str(), error.c_str());
    *status = kExitOutputFailed;
    return nullptr;
  }
  if (state->Saved().finished) {
    std::fprintf(stderr, "ferret: the crawl kept in %s is over; remove it to crawl again\n",
                 options.state.c_str());
    return nullptr;
  }
  return state;
}

// What every start of a run shares: the output, the archive, the tries'
// policy, the pacing of hosts and -once's record of what was met.
struct RunShared {
  const Options& options;
  TextReporter& reporter;
  CrawlArchive* archive;
  const RetryPolicy* retries;
  HostPacer* pacer;
  OnceRecord* once;
  ProxySettings proxies;
  CrawlState* state;  // -state; null: none
};

// Reads text as a start URL is read; false with *problem filled in when it
// cannot be.
bool ReadStart(const Options& options, const CStr& text, Url* start, UrlProblem* problem) {
  if (!options.html) return start->Parse(Url::EscapeControls(text), problem);
  // Read as a browser reads what is typed into its address bar.
  WebUrl typed;
  return typed.Parse(text, problem) && typed.ToUrl(start, problem);
}

// Crawls from start to depth, as a run given start alone does, with what
// the run shares. True when the request for start itself failed.
bool CrawlFrom(const RunShared& run, const Url& start, int depth) {
  const Options& options = run.options;
  int shard = options.shards != 0 ? ShardOfHost(start.HostView(), options.shards) : 0;
  if (shard != options.shard) {
    run.reporter.Outlink(start.Text(), shard, depth, CStr());
    return false;
  }
  // The proxies are read once for the run; every request, fetched ahead or
  // not, goes through this connector.
  CrawlContext crawl(options, run.reporter, ConnectVia(run.proxies));
  // Connections are kept for one start: each start's identity (-header goes
  // to its own domain) marks the connections made for it.
  ConnectionPool connections;
  crawl.retries = run.retries;
  crawl.pool = &connections;
  crawl.archive = run.archive;
  crawl.once = run.once;
  crawl.state = run.state;
  crawl.startHost = start.Host();
  crawl.startUrl = start.Text();
  // Every request says who asks, robots.txt's included.
  crawl.connector = IdentifyingConnector(std::move(crawl.connector), options, start);
  CrawlScope scope(start, ScopeOf(options));
  if (scope.Limited()) crawl.scope = &scope;
  if (run.pacer != nullptr) {
    crawl.connector = PacedConnector(std::move(crawl.connector), run.pacer);
    connections.SetPacer(run.pacer);
  }
  std::unique_ptr<RobotsGate> robots;
  if (options.robots) {
    robots = std::make_unique<RobotsGate>(crawl.connector, crawl.pool, run.pacer,
                                          run.archive != nullptr);
    crawl.robots = robots.get();
  }
  return ScanPage(crawl, start, depth) == -1;
}

// -state: the list's line number is handled whole; false, after the
// message, when that could not be kept.
bool CommitLine(const RunShared& run, long number) {
  CrawlState::Scalars scalars;
  scalars.counts = run.reporter.Counts();
  scalars.startLine = number;
  run.reporter.ReleaseLines();
  std::string error;
  if (run.state->Commit(scalars, &error)) return true;
  std::fprintf(stderr, "ferret: cannot write %s: %s\n", run.options.state.c_str(), error.c_str());
  RequestStop(kStopOutputFailed);
  return false;
}

// One line of the list: its start crawled, or its problem reported.
void HandleLine(const RunShared& run, StartLine& line, bool* anyWent, bool* anyFailed) {
  Url start;
  UrlProblem problem;
  CStr text(line.url.c_str());
  if (line.problem.empty() && !ReadStart(run.options, text, &start, &problem)) {
    line.problem = static_cast<const char*>(FailureText(problem).line);
  }
  if (!line.problem.empty()) {
    CrawlFailure failure;
    failure.kind = CrawlFailure::Kind::kStartLine;
    failure.url = text;
    failure.count = static_cast<size_t>(line.number);
    failure.saveReason = line.problem.c_str();
    run.reporter.Failed(failure);
    *anyFailed = true;
    return;
  }
  if (line.depth == kMetBefore) {
    // Another run asked for it: with -once, this one does not.
    std::vector<std::string> keys;
    std::shared_ptr<OncePages::Page> prior;
    if (run.options.once)
      run.once->pages.Meet(start, std::make_shared<OncePages::Page>(), &keys, &prior);
    return;
  }
  int depth = line.depth >= 0 ? line.depth : run.options.depth;
  // A start resumed was begun, and told, by a run before.
  if (run.state == nullptr || !run.state->Saved().started) {
    run.reporter.StartBegun(start.Text(), line.number, depth);
  }
  bool failed = CrawlFrom(run, start, depth);
  *anyFailed = *anyFailed || failed;
  *anyWent = *anyWent || !failed;
}

// Crawls every start of the list options name, in turn. *allFailed when no
// start's request succeeded (bad lines count as failed starts). False when
// the list cannot be read at all (the message written).
bool CrawlList(const RunShared& run, bool* allFailed) {
  StartList list(run.options.startList);
  if (list.file() == nullptr) {
    std::fprintf(stderr, "ferret: cannot read %s: %s\n", run.options.startList.c_str(),
                 std::strerror(errno));
    return false;
  }
  *allFailed = false;
  bool anyWent = false, anyFailed = false;
  StartLine line;
  while (StopSignal() == 0 && list.Next(&line)) {
    // -state: the lines a run before handled whole are passed over, their
    // lines written and counted then.
    if (run.state != nullptr && line.number <= run.state->Saved().startLine) continue;
    HandleLine(run, line, &anyWent, &anyFailed);
    if (run.state != nullptr && StopReason() == 0 && !CommitLine(run, line.number)) break;
  }
  *allFailed = anyFailed && !anyWent;
  return true;
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
  // The jitter of the waits between tries: drawn on the crawl's thread only.
  std::mt19937 draws{std::random_device{}()};
  RetryPolicy retries(options.tries, [&draws] {
    return std::uniform_real_distribution<double>(0.0, 1.0)(draws);
  });
  // With -robots a Crawl-delay may ask for a pause of its own. The pacer
  // outlives every connection's slot, of every start.
  std::unique_ptr<HostPacer> pacer;
  if (options.wait > 0 || options.perHost > 0 || options.robots) {
    pacer = std::make_unique<HostPacer>(options.perHost > 0 ? options.perHost : options.jobs,
                                        options.wait);
  }
  // -once's record spans the run: a page met from one start of a list is not
  // asked for again from another.
  OnceRecord once(state.get());
  RunShared run{options,
                reporter,
                archive.get(),
                options.tries > 1 ? &retries : nullptr,
                pacer.get(),
                &once,
                ProxySettings::FromEnvironment(std::getenv),
                state.get()};
  bool startFailed;
  if (!options.startList.empty()) {
    if (!CrawlList(run, &startFailed)) return kExitUsage;
  } else {
    // The start URL is read once, here; a URL that cannot be read is
    // reported once, and nothing is asked.
    Url start;
    UrlProblem problem;
    startFailed = !ReadStart(options, startUrl, &start, &problem);
    if (startFailed) {
      reporter.Failed(problem);
    } else {
      startFailed = CrawlFrom(run, start, options.depth);
    }
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
