// ScanPage: the crawler. Requests a page, reads it (PageReader), acts on it
// (print and/or save when a line matched the keyword), and handles its links
// as the crawl plan says (CrawlPlan), depth-first, last found first, while
// depth remains. Under -shard a link to another shard's host is handed on
// (an outlink, with the depth it would be scanned at) and nothing more.
//
// A page that is scanned and also saved is requested once: its body goes to
// the save as the scan reads it (app/BodyCopy.h), straight into the file when
// the save is known before (a link file mode saves, the start of a run that
// saves everything), held otherwise until the keyword decides. Each use of
// the answer is reported, counted and failed where a request of its own for
// it was, so the lines and counters are those of a crawl that asks twice.
// Only where the scan reads no answer (with -once, a page met before, or a
// redirect to one) does a save ask for itself.
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
// first, whatever it is, from the answer its scan reads. -1 when the request
// for url itself (or that save) failed or was refused; 0 otherwise.
int ScanPage(CrawlContext& crawl, const Url& url, int depth);

#endif  // FERRET_APP_PAGESCAN_H_
