// CrawlContext: what every step of one crawl works with, passed explicitly.
//
// The run's options, the reporter that counts and writes every line, the
// connector every live request goes through (the run's ConnectVia, with the
// proxies read for it; ConnectTo; or a test double), fetched ahead or not,
// the pool that keeps connections between requests (none: each request has
// a connection of its own), the scope (-noparent, -accept, -reject,
// -maxpages), the retry policy (-tries), robots.txt (-robots), the archive
// (-warc), -once's record when it outlives one crawl (-i), the crawl's
// state (-state), the start URL
// and host for
// confinement and scope, and, with -j,
// the fetcher ahead while the crawl runs. The context owns none of them: the
// run sets them up before the crawl and outlives it.
#ifndef FERRET_APP_CRAWLCONTEXT_H_
#define FERRET_APP_CRAWLCONTEXT_H_

#include "app/Options.h"
#include "app/Reporter.h"
#include "net/ConnectionPool.h"
#include "net/Connector.h"
#include "text/CStr.h"

class CrawlArchive;
class CrawlState;
class CrawlScope;
struct OnceRecord;
class RetryPolicy;
class RobotsGate;
class Prefetcher;

struct CrawlContext {
  CrawlContext(const Options& options, Reporter& reporter, Connector connector = ConnectTo)
      : options(options), reporter(reporter), connector(std::move(connector)) {}

  const Options& options;
  Reporter& reporter;
  Connector connector;
  ConnectionPool* pool = nullptr;
  CrawlScope* scope = nullptr;       // where the crawl may go; null: anywhere
  const RetryPolicy* retries = nullptr;  // -tries; null: one try each
  RobotsGate* robots = nullptr;          // -robots; null: robots.txt not read
  CrawlArchive* archive = nullptr;       // -warc; null: nothing archived
  OnceRecord* once = nullptr;            // -once's record of the run; null: the crawl's own
  CrawlState* state = nullptr;           // -state; null: the crawl is kept in memory only
  CStr startUrl;                     // the start URL as read, always in scope
  CStr startHost;                    // host of the start URL, for -confine
  Prefetcher* prefetcher = nullptr;  // with -j, set by the crawl while it runs
};

#endif  // FERRET_APP_CRAWLCONTEXT_H_
