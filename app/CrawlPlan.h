// CrawlPlan: what the crawl asks for because of a page's links.
//
// Given a link found on a page and the depth the page was scanned at, the
// plan says what the link stands for and what handling it asks for: in file
// mode the link itself is saved (-download) and/or printed (-print); while
// depth remains it is scanned one level down. A link both saved and scanned
// is one request, whose answer serves both. Links with another scheme, or
// holding "mailto:", and links to the page itself (a fragment of it) are
// passed over.
//
// The depth-first crawl handles a page's links last found first, and the
// fetcher ahead (-j) predicts its requests from the same plan, so what is
// fetched ahead is exactly what the crawl's handling of those links asks
// for. The plan only reads the options; -once's record of what was met is
// the caller's (the crawl keeps what it handled, the fetcher ahead what it
// predicted).
#ifndef FERRET_APP_CRAWLPLAN_H_
#define FERRET_APP_CRAWLPLAN_H_

#include <cstddef>
#include <cstdint>

#include "app/Options.h"
#include "net/Url.h"
#include "text/CStr.h"

// Links kept from one page, and waiting across the whole crawl: neither a
// page that never ends nor many pages of many links can fill memory.
constexpr size_t kMaxLinksPerPage = 10000;
constexpr size_t kMaxPendingLinks = 100000;

// What the crawl reads an answer for.
enum class Purpose : uint8_t {
  kScan,         // to scan the page at a depth: its body is read when it is HTML
  kSave,         // to save it: its whole body is read
  kScanAndSave,  // both, from one answer: its whole body is read, and scanned when HTML
};
constexpr bool Saves(Purpose purpose) { return purpose != Purpose::kScan; }
constexpr bool Scans(Purpose purpose) { return purpose != Purpose::kSave; }

// One request the crawl will make.
struct PlannedRequest {
  Url url;
  Purpose purpose = Purpose::kScan;
  int depth = -1;  // for a scan: the depth the page is scanned at; -1 for a save alone
};

// How one link is handled.
struct LinkStep {
  Url target;               // the URL the link stands for
  bool fileAction = false;  // file mode: the link itself is saved and/or printed
  bool scan = false;        // the target is scanned, at depth
  int depth = 0;
};

class CrawlPlan {
 public:
  explicit CrawlPlan(const Options& options) : options(options) {}

  // How the link found on the page at page, scanned at depth, is handled.
  // False when it is passed over; *problem is then filled in when the link
  // failed to resolve (the crawl reports that), and left kNone otherwise.
  // When no link of such a page asks for anything (LinksAct), only that
  // problem is looked for, building no URL.
  //
  // A link of the HTML reading (flags, PageLinks) is already resolved (or
  // failed to): a file's link is never scanned, and in file mode only a
  // link the file pattern matched is printed or saved.
  bool Step(const Url& page, int depth, const char* link, uint8_t flags, LinkStep* step,
            UrlProblem* problem) const;

  // Whether a link of a page scanned at depth can ask for anything: a file
  // action, or a scan.
  bool LinksAct(int depth) const { return options.FileMode() || depth >= 1; }
  // Whether the links of a page scanned at depth can ask for a request.
  bool LinksRequest(int depth) const {
    return depth >= 1 || (options.FileMode() && options.download);
  }

  // The request that handling link (found on the page at page, scanned at
  // depth) will make, into *request: for its save, its scan, or both (a link
  // in file mode that is saved and scanned is asked for once). False when it
  // makes none.
  bool Request(const Url& page, int depth, const char* link, uint8_t flags,
               PlannedRequest* request) const;

 private:
  // Whether found is a link to follow at all: false for a fragment of the
  // page, mail and other schemes; *link is then found with its control bytes
  // escaped.
  static bool Followed(const char* found, CStr* link);
  // Step for a link of the HTML reading.
  bool HtmlStep(const Url& page, int depth, const char* link, uint8_t flags, LinkStep* step,
                UrlProblem* problem) const;

  const Options& options;
};

#endif  // FERRET_APP_CRAWLPLAN_H_
