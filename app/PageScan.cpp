#include "app/PageScan.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "app/Download.h"
#include "app/Prefetch.h"
#include "app/Progress.h"
#include "app/Report.h"
#include "app/Request.h"
#include "app/Settings.h"
#include "app/Stop.h"
#include "app/Urls.h"
#include "app/VisitedUrls.h"
#include "net/StreamRead.h"
#include "regex/Regexp.h"

namespace {

// Group 1 is the link: after an optional quote, up to the next quote or '>'.
constexpr char kAnchorPattern[] = "<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";
constexpr char kImagePattern[] = "<img[\t ]+src[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";

// A scanned page whose links are still to be handled. Links are taken from
// the back: the last one found is handled first.
struct PendingPage {
  CStr url;  // the URL that answered, after any redirect
  int depth;
  std::vector<CStr> links;
  bool predicted = false;  // what its links ask for was told the fetcher ahead
};

struct PagePatterns {
  Regexp keyword{runSettings.keyword, 1};
  Regexp file{runSettings.filespec, 1};
  Regexp anchor{kAnchorPattern, 1};
  Regexp image{kImagePattern, 1};
};

// Links kept from one page, and waiting across the whole crawl: neither a
// page that never ends nor many pages of many links can fill memory.
constexpr size_t kMaxLinksPerPage = 10000;
constexpr size_t kMaxPendingLinks = 100000;

// Links waiting on the stack of pending pages.
struct LinkBudget {
  size_t pending = 0;
  bool reported = false;  // the crawl-wide bound has been met and reported
  size_t Room() const {
    size_t left = kMaxPendingLinks - pending;
    return left < kMaxLinksPerPage ? left : kMaxLinksPerPage;
  }
};

// What one crawl keeps from page to page.
struct CrawlState {
  PagePatterns patterns;  // compiled once: the run's patterns do not change
  LinkBudget budget;
  VisitedUrls pages;  // with -once: URLs requested by the scan
  VisitedUrls files;  // with -once: file links saved or printed
  // With -j: the fetcher ahead.
  std::unique_ptr<Prefetcher> prefetch;
};

// Collects, left to right, the links of tag in line. The search of the line
// ends at the first link that the file pattern rejects. False once the page
// has limit links.
bool CollectLinks(Regexp& tag, Regexp& file, const char* line, size_t limit,
                  std::vector<CStr>& links) {
  const char* position = line;
  while (tag.Match(position)) {
    CStr link = tag[1];
    if (!file.Match(link)) return true;
    if (links.size() == limit) return false;
    links.push_back(link);
    position += tag.SubStart(1) + tag.SubLength(1);
  }
  return true;
}

// Reads the body line by line; returns whether a line matched the keyword.
bool ReadPage(const CStr& url, ResponseBody& response, PagePatterns& patterns, LinkBudget& budget,
              std::vector<CStr>& links) {
  const size_t limit = budget.Room();
  std::iostream& body = response.Stream();
  const bool testKeyword = !runSettings.keyword.IsEmpty();
  bool collect = !runSettings.filespec.IsEmpty();
  bool found = false;
  if (body.eof()) return false;
  while (response.Connected()) {
    ProgressBytes(static_cast<size_t>(ReadLine(body, LineBuffer, kLineBufferSize - 1)) + 1);
    if (testKeyword && !found && patterns.keyword.Match(LineBuffer)) {
      found = true;
    }
    if (collect && !(CollectLinks(patterns.anchor, patterns.file, LineBuffer, limit, links) &&
                     CollectLinks(patterns.image, patterns.file, LineBuffer, limit, links))) {
      collect = false;
      if (limit == kMaxLinksPerPage) {
        ++runSettings.errors;
        ReportFailure(nullptr, "Too many links on %s: only the first %zu are kept\n",
                      static_cast<const char*>(url), kMaxLinksPerPage);
      } else if (!budget.reported) {
        budget.reported = true;
        ++runSettings.errors;
        ReportFailure(nullptr,
                      "Too many pending links: past %zu, links are dropped (first on %s)\n",
                      kMaxPendingLinks, static_cast<const char*>(url));
      }
    }
    // A failed stream that is not at its end would deliver empty lines
    // forever.
    if (body.eof() || body.fail()) break;
  }
  return found;
}

void PrintUrl(const CStr& url) {
  ProgressClear();
  std::cout << static_cast<const char*>(url) << std::endl;
  ++runSettings.prints;
}

// Requests and reads one page and acts on it. Returns -1 when the request
// failed, 0 for a page that is not HTML, 1 with page filled in otherwise.
int VisitPage(const CStr& requested, int depth, CrawlState& crawl, PendingPage& page) {
  ProgressDepth(depth);
  bool found;
  CStr url;
  {
    FetchOutcome response =
        RequestPage(requested, runSettings.once ? &crawl.pages : nullptr, false, &page.predicted);
    if (!response.body) return -1;
    if (!response.html) return 0;
    url = response.url;
    page.links.clear();
    found = ReadPage(url, *response.body, crawl.patterns, crawl.budget, page.links);
    if (StopSignal() != 0) return -1;
    // A page that did not arrive whole is neither acted on nor followed.
    if (!ArrivedWhole(*response.body)) return -1;
  }  // the connection is closed before any action
  page.url = url;
  page.depth = depth;
  if (found) {
    if (runSettings.print) PrintUrl(url);
    if (runSettings.download) DownloadUrl(url);
  }
  return 1;
}

// The URL a link found on the page at pageUrl stands for; empty for a link
// that is passed over. A resolution that fails is reported when report is
// set.
CStr LinkTarget(const CStr& pageUrl, const CStr& found, bool report) {
  // Bytes a page may not pass on to a request line or a terminal.
  CStr link = Url::EscapeControls(found);
  // Only web links are followed; mail and other schemes are passed over.
  if (std::strstr(link, "mailto:") != nullptr || Url::HasOtherScheme(link)) return CStr();
  if (report) return ResolveUrl(pageUrl, link);
  CStr resolved;
  UrlProblem ignored;
  Url::Resolve(pageUrl, link, &resolved, &ignored);
  return resolved;
}

// What handling the links of the page at url, scanned at depth, will ask
// for, in the order TakeLink asks (the last link first). Only reads.
std::vector<Prefetcher::Need> NeedsOf(const CStr& url, int depth, const std::vector<CStr>& links) {
  const RunSettings& s = runSettings;
  std::vector<Prefetcher::Need> upcoming;
  for (auto link = links.rbegin(); link != links.rend(); ++link) {
    CStr target = LinkTarget(url, *link, false);
    if (target.IsEmpty()) continue;
    if (s.keyword.IsEmpty() && s.download) upcoming.push_back({target, true, -1});
    if (depth >= 1) upcoming.push_back({target, false, depth - 1});
  }
  return upcoming;
}

// The links of a page body, as ReadPage collects them, for a worker fetching
// ahead: with the worker's own patterns, and no report, count or progress.
std::vector<Prefetcher::Need> ExpandAhead(const CStr& url, int depth, ResponseBody& response) {
  static thread_local PagePatterns patterns;
  std::vector<CStr> links;
  if (runSettings.filespec.IsEmpty()) return {};
  std::iostream& body = response.Stream();
  char line[kLineBufferSize];
  while (response.Connected() && !body.eof()) {
    ReadLine(body, line, kLineBufferSize - 1);
    if (!CollectLinks(patterns.anchor, patterns.file, line, kMaxLinksPerPage, links) ||
        !CollectLinks(patterns.image, patterns.file, line, kMaxLinksPerPage, links) ||
        body.fail()) {
      break;
    }
  }
  return NeedsOf(url, depth, links);
}

// Tells the fetcher ahead, if any, what handling page's links will ask for,
// unless a worker already did.
void PredictLinks(const PendingPage& page, CrawlState& crawl) {
  if (crawl.prefetch && !page.predicted) {
    crawl.prefetch->Predict(NeedsOf(page.url, page.depth, page.links));
  }
}

// Handles one link of page; returns the URL to scan next, or empty.
CStr TakeLink(PendingPage& page, CrawlState& crawl) {
  CStr resolved = LinkTarget(page.url, page.links.back(), true);
  page.links.pop_back();
  if (resolved.IsEmpty()) return resolved;
  // File mode acts on the link itself, once only with -once.
  if (runSettings.keyword.IsEmpty() && (!runSettings.once || crawl.files.Insert(resolved))) {
    if (runSettings.download) DownloadUrl(resolved);
    if (runSettings.print) PrintUrl(resolved);
  }
  return page.depth >= 1 ? resolved : CStr();
}

}  // namespace

int ScanPage(CStr url, int depth) {
  CrawlState crawl;
  if (runSettings.jobs > 1) {
    crawl.prefetch = std::make_unique<Prefetcher>(runSettings.jobs, ConfinementPolicy(),
                                                  ExpandAhead, runSettings.once != 0);
    UsePrefetcher(crawl.prefetch.get());
    if (runSettings.once) crawl.prefetch->ScannedLive(url);
  }
  // No request outlives the crawl's own fetcher ahead.
  struct PrefetcherInUse {
    ~PrefetcherInUse() { UsePrefetcher(nullptr); }
  } inUse;
  std::vector<PendingPage> pending(1);
  int result = VisitPage(url, depth, crawl, pending.back());
  if (result != 1) return result == -1 ? -1 : 0;
  crawl.budget.pending = pending.back().links.size();
  PredictLinks(pending.back(), crawl);
  while (!pending.empty() && StopSignal() == 0) {
    PendingPage& page = pending.back();
    if (page.links.empty()) {
      pending.pop_back();
      continue;
    }
    CStr next = TakeLink(page, crawl);  // empty unless page.depth >= 1
    --crawl.budget.pending;
    if (next.IsEmpty()) continue;
    int childDepth = page.depth - 1;
    pending.emplace_back();  // page may move from here on
    if (VisitPage(next, childDepth, crawl, pending.back()) != 1) {
      pending.pop_back();
    } else {
      crawl.budget.pending += pending.back().links.size();
      PredictLinks(pending.back(), crawl);
    }
  }
  return 0;
}
