// PageReader: what one HTML page says to the crawl.
//
// A body goes in, line by line; out come whether a line matched the keyword
// and the links the page offers, in page order. A link is the value of an
// anchor's href (or an image's src) when that attribute comes first in its
// tag and the closing '>' is on the same line; a link the file pattern
// rejects ends the search of its line (anchors first, then images).
//
// Lines are read in pieces of at most kLineBufferSize - 2 bytes; each piece
// is tested on its own. The reader keeps at most a given number of links and
// says when there were more.
//
// A reader compiles its patterns once and is used by one thread at a time:
// the crawl has one, and each worker fetching ahead has its own.
#ifndef FERRET_APP_PAGEREADER_H_
#define FERRET_APP_PAGEREADER_H_

#include <cstddef>
#include <functional>
#include <vector>

#include "app/PageLinks.h"
#include "net/HttpRequest.h"
#include "net/SharedBudget.h"
#include "regex/Regexp.h"
#include "text/CStr.h"

constexpr int kLineBufferSize = 1024;

class PageReader {
 public:
  // keyword empty: lines are not tested; filespec empty: no link is
  // collected.
  PageReader(const CStr& keyword, const CStr& filespec);
  PageReader(const PageReader&) = delete;
  PageReader& operator=(const PageReader&) = delete;

  struct Page {
    bool keywordFound = false;
    PageLinks links;          // in page order, at most the limit
    bool linksCut = false;    // the page had more links than the limit
    // With a quota: the links kept, taken from it (the reader's to give
    // back); false when it ran out, and then no link is kept.
    bool quotaMet = true;
  };

  // Reads body to its end (or until it fails), keeping at most linkLimit
  // links. With testKeyword false, lines are only searched for links.
  // onBytes, when given, hears of every piece read. With quota, each link
  // kept is taken from it as it is found.
  Page Read(ResponseBody& body, size_t linkLimit, bool testKeyword,
            const std::function<void(size_t)>& onBytes = nullptr, SharedBudget* quota = nullptr);

 private:
  // Collects, left to right, the links of tag in line into page's links;
  // false when limit was reached with another link to keep, or quota has no
  // room for it.
  bool CollectLinks(Regexp& tag, const char* line, size_t limit, SharedBudget* quota, Page& page);

  const bool collect;
  Regexp keyword;
  Regexp file;
  Regexp anchor;
  Regexp image;
  char line[kLineBufferSize];
  char link[kLineBufferSize];  // the link being tested
};

#endif  // FERRET_APP_PAGEREADER_H_
