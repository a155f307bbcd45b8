// RequestPage: one fetch on the crawler's terms.
//
// Fetches url (net/HttpRequest.h) under the run's host confinement, through
// the context's connector or its fetcher ahead, and tells the reporter what
// happened: the exchange (hits for every response header read, http200 for
// an answer) and the failure, if any. A refusal by confinement is silent and
// counts nothing; so is a request while the run is stopping, or one that the
// stop cut short.
#ifndef FERRET_APP_REQUEST_H_
#define FERRET_APP_REQUEST_H_

#include "app/CrawlContext.h"
#include "net/HttpRequest.h"
#include "text/CStr.h"

// admit, when given, is asked about every URL of the exchange (redirect
// targets included) after the confinement allows it; a URL it refuses is not
// requested, and the outcome is then a silent refusal (-once uses this).
// With a fetcher ahead in use (-j), the request is made by one of its workers
// (it was predicted, or is asked for now) and replayed here; save says the
// whole body will be read, depth the depth a page is scanned at.
// *expanded (when given) tells whether the fetcher ahead also predicted what
// the page's scan will ask for.
FetchOutcome RequestPage(CrawlContext& crawl, const Url& url, bool save = false, int depth = -1,
                         const FetchPolicy& admit = nullptr, bool* expanded = nullptr);

// True when body, read as far as its reader went, arrived whole; otherwise
// the failure ("Timed out reading <url>", "Transfer cut short ...") is
// reported.
bool ArrivedWhole(CrawlContext& crawl, const ResponseBody& body);

// The run's host confinement (-confine), as a policy for Fetch.
FetchPolicy ConfinementPolicy(const CrawlContext& crawl);

#endif  // FERRET_APP_REQUEST_H_
