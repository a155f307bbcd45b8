// ScanPage: the crawler. Requests a page, tests its lines against the keyword
// pattern, collects the links of anchors and images that match the file
// pattern, acts on the page (print and/or save) and follows the links
// depth-first, last found first, while depth remains.
//
// The crawl keeps an explicit stack of pages whose links are still pending,
// so neither the call stack nor the number of open connections grows with
// the depth: a connection is open only while one page is being read.
#ifndef FERRET_APP_PAGESCAN_H_
#define FERRET_APP_PAGESCAN_H_

#include "text/CStr.h"

// -1 when the request for url itself failed or was refused; 0 otherwise.
int ScanPage(CStr url, int depth);

#endif  // FERRET_APP_PAGESCAN_H_
