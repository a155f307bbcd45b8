// Reporter: every line a crawl writes, and the counters behind them.
//
// The crawl tells the reporter what happened (a URL printed, a file saved, an
// exchange, a failure, progress); the reporter counts it and writes it. The
// counting is done here, once, for every kind of output, so the counters
// line always agrees with what was written; how an event is written is a
// subclass's choice (TextReporter writes the human lines).
//
// Only the crawl's own thread calls a reporter; workers fetching ahead never
// do.
#ifndef FERRET_APP_REPORTER_H_
#define FERRET_APP_REPORTER_H_

#include <cstddef>
#include <string>
#include <vector>

#include "app/Counters.h"
#include "app/CrawlFailure.h"
#include "app/ShownLine.h"
#include "text/CStr.h"

class Reporter {
 public:
  Reporter() = default;
  virtual ~Reporter() = default;
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  // A page or link qualified and is printed; with -show a page's matching
  // lines (lines) are written after it, in page order.
  void Printed(const CStr& url, const std::vector<ShownLine>& lines = {}) {
    ++counts.prints;
    WritePrinted(url, lines);
  }
  // url was saved whole as path, which is in place. A save that fails is
  // only a failure.
  void Saved(const CStr& url, const CStr& path) {
    ++counts.saves;
    WriteSaved(url, path);
  }
  // One request's exchange: headersRead response headers (redirects
  // included), and whether it ended in an answer whose body is taken.
  void Exchanged(int headersRead, bool answered) {
    counts.hits += headersRead;
    if (answered) ++counts.http200;
  }
  // A failure, counted in the errors.
  void Failed(const CrawlFailure& failure) {
    ++counts.errors;
    WriteFailure(failure);
  }
  // A URL or a request that failed.
  void Failed(const Failure& fetch) {
    CrawlFailure failure;
    failure.kind = CrawlFailure::Kind::kFetch;
    failure.fetch = fetch;
    Failed(failure);
  }

  // Why a URL was passed over without a request.
  enum class Refusal { kConfine, kRobots, kScope, kOnce };
  // url was not asked for, for reason; written only where a program reads
  // the output (-json), counted always.
  void Refused(const CStr& url, Refusal reason) {
    ++counts.refused;
    WriteRefused(url, reason);
  }

  // What the crawl learned of a page it asked for and answered: told once
  // the page is read, before it is printed (when it qualifies).
  struct PageFacts {
    CStr url;       // as asked for
    CStr finalUrl;  // that answered, after any redirects
    CStr referrer;  // the page whose link led here; empty for the start URL
    int status = 0;
    int depth = 0;
    std::string contentType;
    unsigned long long bytes = 0;                   // body bytes the crawl took in
    long long elapsedMs = 0;                        // from the request to the end of the reading
    bool matched = false;                           // the keyword matched a line
    const std::vector<ShownLine>* lines = nullptr;  // with -show
  };
  virtual void PageRead(const PageFacts& page) { (void)page; }
  // File mode: a link qualified (it is printed or saved next); element and
  // attribute are what it was read from, with -html (else empty).
  struct LinkFacts {
    CStr url;
    CStr referrer;
    const char* element = "";
    const char* attribute = "";
  };
  virtual void LinkFound(const LinkFacts& link) { (void)link; }
  // A start of the run's list (-i) begins: url, from line of the list, is
  // crawled to depth.
  virtual void StartBegun(const CStr& url, long line, int depth) {
    (void)url;
    (void)line;
    (void)depth;
  }
  // -shard: url, found on referrer (empty for a start URL), belongs to
  // shard, another one; it is not asked for, and would be scanned at depth.
  virtual void Outlink(const CStr& url, int shard, int depth, const CStr& referrer) {
    (void)url;
    (void)shard;
    (void)depth;
    (void)referrer;
  }
  // The run's exit status, told before Finish.
  virtual void Ending(int exitStatus) { (void)exitStatus; }

  // Something the user should know that is no failure and no result (a
  // limit that ended the crawl early), written once, away from the results.
  virtual void Notice(const CStr& message) { (void)message; }

  // Progress: a request for url begins; pages at depth are scanned; length
  // more body bytes arrived.
  virtual void RequestStarted(const CStr& url) { (void)url; }
  virtual void ScanningDepth(int depth) { (void)depth; }
  virtual void BodyBytes(size_t length) { (void)length; }

  // The run is over: the counters line when asked for, and every line
  // flushed. False when the output could not be written (a message says so
  // where it still can be read).
  virtual bool Finish(bool withCounters) = 0;

  const Counters& Counts() const { return counts; }
  // A resumed crawl (-state) goes on counting from what its state kept.
  void Resume(const Counters& kept) { counts = kept; }

  // With -state, the lines of a step are held until its state is committed:
  // while HoldLines(true) is in force, lines written are kept back (false
  // writes what is held, then every line as it comes); ReleaseLines writes
  // what is held at once, DropLines forgets it (the step is done again later).
  virtual void HoldLines(bool hold) { (void)hold; }
  virtual void ReleaseLines() {}
  virtual void DropLines() {}

 protected:
  virtual void WritePrinted(const CStr& url, const std::vector<ShownLine>& lines) = 0;
  virtual void WriteSaved(const CStr& url, const CStr& path) = 0;
  virtual void WriteFailure(const CrawlFailure& failure) = 0;
  virtual void WriteRefused(const CStr& url, Refusal reason) {
    (void)url;
    (void)reason;
  }

 private:
  Counters counts;
};

#endif  // FERRET_APP_REPORTER_H_
