// ScanPage: the crawler. Requests a page, reads it (PageReader), acts on it
// (print and/or save when a line matched the keyword), and handles its links
// as the crawl plan says (CrawlPlan), depth-first, last found first, while
// depth remains.
//
// The crawl keeps an explicit stack of pages whose links are still pending,
// so neither the call stack nor the number of open connections grows with
// the depth: the crawl's own connection is open only while one page is being
// read (with -j, the workers fetching ahead hold up to N more).
#ifndef FERRET_APP_PAGESCAN_H_
#define FERRET_APP_PAGESCAN_H_

#include "app/CrawlContext.h"
#include "net/Url.h"

// A run that saves everything (both patterns "." and -download) saves url
// first, apart from its scan. -1 when the request for url itself (or that
// save) failed or was refused; 0 otherwise.
int ScanPage(CrawlContext& crawl, const Url& url, int depth);

#endif  // FERRET_APP_PAGESCAN_H_
