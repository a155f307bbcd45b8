// RequestPage: one fetch on the crawler's terms.
//
// Fetches url (net/HttpRequest.h) under the run's host confinement, through
// the context's connector or its fetcher ahead, and tells the reporter what
// happened: the exchange (hits for every response header read, http200 for
// an answer) and the failure, if any. A refusal by confinement is silent and
// counts nothing; so is a request while the run is stopping, or one that the
// stop cut short. A redirect to another shard's host (-shard) is not
// followed: it is an outlink, with the request's depth.
#ifndef FERRET_APP_REQUEST_H_
#define FERRET_APP_REQUEST_H_

#include "app/Confine.h"
#include "app/CrawlContext.h"
#include "app/CrawlPlan.h"
#include "net/HttpRequest.h"
#include "text/CStr.h"

struct FetchedAhead;

// admit, when given, is asked about every URL of the exchange (redirect
// targets included) after the confinement allows it; a URL it refuses is not
// requested, and the outcome is then a silent refusal (-once uses this).
// With a fetcher ahead in use (-j), the request is made by one of its workers
// (it was predicted, or is asked for now) and replayed here; purpose says
// what the body is read for, depth the depth a page is scanned at.
// With -tries above 1, each try is read whole before the caller reads
// any of it, so that a body cut short is tried again like any passing
// failure; the caller reads the try that stands.
// *ahead (when given) tells what else the fetcher ahead did for the page's
// scan: whether it predicted what the scan will ask for, and the page as it
// read it, if it did; never its recordings.
FetchOutcome RequestPage(CrawlContext& crawl, const Url& url, Purpose purpose = Purpose::kScan,
                         int depth = -1, const FetchPolicy& admit = nullptr,
                         FetchedAhead* ahead = nullptr);

// Tells the reporter of outcome's exchange once more, as RequestPage told it
// (its heads, whether it was an answer, its failure): an answer that serves a
// save and a scan stands for two requests in the counters and error lines,
// as when each asked for itself. Nothing once the run is stopping, when no
// second request would have been made.
void ReportExchangeAgain(CrawlContext& crawl, const FetchOutcome& outcome);

// True when body, read as far as its reader went, arrived whole; otherwise
// the failure ("Timed out reading <url>", "Transfer cut short ...") is
// reported.
bool ArrivedWhole(CrawlContext& crawl, const ResponseBody& body);

// Whether -robots lets the crawl ask for url; on the crawl's thread, so a
// server refused for want of its robots.txt is said here, once.
bool RobotsAllow(CrawlContext& crawl, const Url& url);

// Whether the run's scope (-noparent, -accept, -reject) lets the crawl ask
// for url: always for the start URL, which the user asked for.
bool InScope(const CrawlContext& crawl, const Url& url);

// Whether url's host is in the run's shard (-shard); always without -shard.
bool InShard(const CrawlContext& crawl, const Url& url);
// The shard url's host belongs to (with -shard).
int ShardOf(const CrawlContext& crawl, const Url& url);

// The run's host confinement (-confine), shard and scope (InScope), as a policy for
// Fetch, and the confinement as one on host names (null without -confine).
FetchPolicy ConfinementPolicy(const CrawlContext& crawl);
// What the workers fetching ahead may ask for: ConfinementPolicy, and
// -robots (whose notices are the crawl's to write).
FetchPolicy AheadPolicy(const CrawlContext& crawl);
HostPolicy ConfinedHosts(const CrawlContext& crawl);

#endif  // FERRET_APP_REQUEST_H_
