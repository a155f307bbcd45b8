// CrawlFailure: one failure the crawl reports, as data.
//
// The crawl says what failed and with which values; only a reporter turns
// that into words.
#ifndef FERRET_APP_CRAWLFAILURE_H_
#define FERRET_APP_CRAWLFAILURE_H_

#include <cstddef>

#include "text/CStr.h"

struct CrawlFailure {
  enum class Kind {
    kFetch,           // a request failed: line and reason as the HTTP client gave them
    kSave,            // a file could not be saved at path: reason
    kTooManyLinks,    // url had more than count links
    kTooManyPending,  // count links waited across the crawl, first met on url
  };
  Kind kind = Kind::kFetch;
  CStr url;
  CStr path;
  CStr line;                      // kFetch
  const char* reason = nullptr;   // kFetch: the system's reason, or null
  CStr saveReason;                // kSave
  size_t count = 0;
};

#endif  // FERRET_APP_CRAWLFAILURE_H_
