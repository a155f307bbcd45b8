// CrawlFailure: one failure the crawl reports, as data.
//
// The crawl says what failed and with which values; only a reporter turns
// that into words.
#ifndef FERRET_APP_CRAWLFAILURE_H_
#define FERRET_APP_CRAWLFAILURE_H_

#include <cstddef>

#include "net/Failure.h"
#include "text/CStr.h"

struct CrawlFailure {
  enum class Kind {
    kFetch,           // a URL or a request failed: fetch says how
    kSave,            // a file could not be saved at path: reason
    kTooManyLinks,    // url had more than count links
    kTooManyPending,  // count links waited across the crawl, first met on url
    kStartLine,       // line count of the start list (-i), holding url, is bad: saveReason
    kPattern,         // a search with pattern failed with reason, first on url
  };
  Kind kind = Kind::kFetch;
  CStr url;
  CStr path;
  Failure fetch;    // kFetch
  CStr saveReason;  // kSave; kStartLine: what is wrong with the line
  CStr pattern;     // kPattern
  CStr reason;      // kPattern
  size_t count = 0;
};

#endif  // FERRET_APP_CRAWLFAILURE_H_
