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
// With html (-html) the page is read by an HTML tokenizer instead, as it
// arrives, never held whole: its links as a browser finds them (HtmlLinks),
// each resolved against the page and kept as its absolute, normalised URL
// with what it is (PageLinks flags). In keyword mode only pages' links are
// kept, those the file pattern matches; in file mode every page's link is
// kept (to be followed) and marked when the pattern matches it, and a file's
// link only when it matches. The keyword is tested on whole lines
// (KeywordLines): of the HTML source, or with text (-text) of the text a
// reader sees (HtmlText).
//
// With show (-show), the page's first show matching lines are kept too
// (ShownLines), each with its first match: without -html a source line
// numbered among the page's lines, its pieces tested as above (the first
// piece that matches is the one kept, a '\r' before its line end dropped).
//
// With hosts (-confine), a keyword-mode page link to a host it refuses is
// passed over as the crawl would pass it over, unrequested and unreported,
// so that it costs nothing more (and counts against no limit); a link with
// a port is kept for the crawl to judge, since a bad one is reported.
//
// With copy, every byte of the body the reader takes is handed on too, in
// pieces, in order (app/BodyCopy.h): one reading serves the page's save.
//
// A search that fails with an error rather than finding no match (out of
// memory) counts as no match, and the page names the pattern: each of a
// reader's patterns is named so once, on the first page where it failed.
//
// A reader compiles its patterns once and is used by one thread at a time:
// the crawl has one, and each worker fetching ahead has its own.
#ifndef FERRET_APP_PAGEREADER_H_
#define FERRET_APP_PAGEREADER_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "app/BodyCopy.h"
#include "app/Confine.h"
#include "app/PageLinks.h"
#include "app/ShownLine.h"
#include "net/HttpRequest.h"
#include "net/SharedBudget.h"
#include "net/Url.h"
#include "regex/Regexp.h"
#include "text/CStr.h"

constexpr int kLineBufferSize = 1024;

class PageReader {
 public:
  // keyword empty: lines are not tested; filespec empty: no link is
  // collected; show: how many matching lines a page keeps.
  PageReader(const CStr& keyword, const CStr& filespec, bool html = false, bool text = false,
             HostPolicy hosts = nullptr, size_t show = 0);
  ~PageReader();
  PageReader(const PageReader&) = delete;
  PageReader& operator=(const PageReader&) = delete;

  struct Page {
    bool keywordFound = false;
    std::vector<ShownLine> shown;  // with show: the matching lines, at most show
    PageLinks links;          // in page order, at most the limit
    bool linksCut = false;    // the page had more links than the limit
    // With a quota: the links kept, taken from it (the reader's to give
    // back); false when it ran out, and then no link is kept.
    bool quotaMet = true;
    // Patterns whose searches failed with an error here, each with the
    // error's message, each named by at most one page of a reader.
    struct PatternFailure {
      CStr pattern;
      CStr reason;
    };
    std::vector<PatternFailure> patternFailures;
  };

  // Reads body, the page at url, to its end (or until it fails), keeping at
  // most linkLimit links. With testKeyword false, lines are only searched
  // for links. onBytes, when given, hears of every piece read. With quota,
  // each link kept is taken from it as it is found. copy, when given, is
  // handed every byte read (whether it wants more or not).
  Page Read(ResponseBody& body, const Url& url, size_t linkLimit, bool testKeyword,
            const std::function<void(size_t)>& onBytes = nullptr, SharedBudget* quota = nullptr,
            const PieceSink& copy = nullptr);

 private:
  class HtmlReading;
  Page ReadHtml(ResponseBody& body, const Url& url, size_t linkLimit, bool testKeyword,
                const std::function<void(size_t)>& onBytes, SharedBudget* quota,
                const PieceSink& copy);
  // Collects, left to right, the links of tag in line into page's links;
  // false when limit was reached with another link to keep, or quota has no
  // room for it.
  bool CollectLinks(Regexp& tag, const char* line, size_t limit, SharedBudget* quota, Page& page);
  // Keeps the piece of length bytes in line that keyword just matched, at
  // column in its source line; ends: the piece ends its line.
  void KeepPiece(size_t length, size_t column, bool ends);
  // Adds to page the patterns whose searches have failed and that no page
  // has named yet.
  void NameFailedPatterns(Page& page);

  const bool collect;
  const bool fileMode;  // no keyword: links are what is printed or saved
  const bool text;
  ShownLines shown;                   // of the page being read without -html
  std::unique_ptr<HtmlReading> html;  // with -html
  Regexp keyword;
  Regexp file;
  Regexp anchor;
  Regexp image;
  const CStr keywordText, fileText;
  bool named[4] = {};  // keyword, file, anchor, image: a page named it
  char line[kLineBufferSize];
  char link[kLineBufferSize];  // the link being tested
};

#endif  // FERRET_APP_PAGEREADER_H_
