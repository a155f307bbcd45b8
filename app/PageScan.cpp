#include "app/PageScan.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/BodyCopy.h"
#include "app/CrawlPlan.h"
#include "app/CrawlScope.h"
#include "app/CrawlState.h"
#include "app/Download.h"
#include "app/HtmlLinks.h"
#include "app/OncePages.h"
#include "app/PageReader.h"
#include "app/Prefetch.h"
#include "app/Request.h"
#include "app/ShownLine.h"
#include "app/Stop.h"
#include "app/VisitedUrls.h"
#include "net/WebUrl.h"

namespace {

// What a scan's answer serves besides the scan: a save, made from the scan's
// one reading of the answer and reported where a request of its own for it
// reported it, before the scan.
enum class AlsoSaved {
  kNo,
  kStart,  // the start URL of a run that saves everything: saved first, whatever it is
  kLink,   // a link in file mode: saved, then printed (-print), then scanned
};

// -state: the most steps that ask for nothing committed at once.
constexpr size_t kStepsPerCommit = 1000;

// A link to scan next.
struct NextVisit {
  Url url;
  AlsoSaved also = AlsoSaved::kNo;
};

// A scanned page whose links are still to be handled. Links are taken from
// the back: the last one found is handled first.
struct PendingPage {
  Url url;  // the URL that answered, after any redirect
  int depth;
  size_t pendingAt = 0;  // links waiting when it was read
  // Its links, shared with the fetcher ahead; the first `left` are pending.
  std::shared_ptr<const PageLinks> links;
  size_t left = 0;
  bool predicted = false;  // what its links ask for was told the fetcher ahead
};

// What the fetcher ahead reads page's links from.
PlannedPage Planned(const PendingPage& page) {
  return {page.url, page.depth, page.pendingAt, page.links};
}

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
class Crawler {
 public:
  explicit Crawler(CrawlContext& context)
      : context(context),
        options(context.options),
        reader(options.keyword, options.filespec, options.html, options.text,
               ConfinedHosts(context), options.LinesShown()),
        plan(options),
        confined(ConfinementPolicy(context)),
        pages(context.once != nullptr ? context.once->pages : own.pages),
        files(context.once != nullptr ? context.once->files : own.files) {}

  int Run(const Url& url, int depth);

 private:
  // Handles the pending links, depth-first, until none is left or the run
  // stops.
  void Follow(std::vector<PendingPage>& pending);
  // -state: the stack and flags as the state kept them.
  std::vector<PendingPage> Resume();
  // -state: ends a step of the crawl (one link handled, or the start page).
  // A step that made a request (or the first, or the last: done) is
  // committed with the stack, and so are those before it that made none:
  // they are redone when they are lost, and ask nothing again. At most
  // kStepsPerCommit steps go into one commit. A step the stop cut short is
  // never committed. The lines of a commit are written just before it.
  // The crawl is marked over only once the run's last line is written
  // (RunCrawl).
  void EndStep(const std::vector<PendingPage>& pending, bool first, bool done);
  int VisitPage(const Url& requested, int depth, PendingPage& page, AlsoSaved also);
  int ExpandAgain(const std::shared_ptr<OncePages::Page>& met, int depth, PendingPage& page);
  int ReadAnswer(FetchOutcome& response, const Url& requested, const PageReadAhead* ahead,
                 AlsoSaved also, PendingPage& page, bool* found, std::vector<ShownLine>* shown,
                 HeldBody* held, bool* holding);
  bool ReadPage(ResponseBody& body, const Url& url, const PageReadAhead* ahead, bool* found,
                std::vector<ShownLine>* shown, PendingPage* page, bool* linksCut,
                const PieceSink& copy);
  // Whether the page read arrived whole, its failure reported if not: as
  // ArrivedWhole tells it of body, or, for a page read ahead, as the reading
  // found it.
  bool PageWhole(const ResponseBody& body, const PageReadAhead* ahead);
  // Whether a page read for its scan may be saved once its keyword is found:
  // then its body is held as it is read.
  bool MaySaveWhenFound(const Url& url, AlsoSaved also) const;
  void SaveApart(const Url& requested, AlsoSaved also);
  void SavedAlong(const Url& requested, AlsoSaved also, bool failed, const Url& saved);
  void ReportLinksCut(const Url& url, size_t limit);
  // Says once that -maxpages ended the crawl's scans.
  void ReportPageLimit();
  // Reports each pattern whose search failed, the first time any reader
  // names it, as met on url.
  void ReportPatternFailures(const Url& url,
                             std::vector<PageReader::Page::PatternFailure> failures);
  // url as printed: with -html in its absolute, normalised form (a redirect's
  // target is read as the design reads a Location).
  CStr Shown(const Url& url) const;
  // Tells the reporter what the answer to requested was, once it is read.
  void TellPage(const Url& requested, const FetchOutcome& response, int depth, bool found,
                const std::vector<ShownLine>& shown);
  void PredictLinks(PendingPage& page);
  // The pages of *stack whose links are still being handled, for the
  // fetcher ahead.
  std::vector<PendingLinks> PendingStack() const;
  // Handles the last pending link of page; true with *next set when that
  // link is to be scanned next.
  bool TakeLink(PendingPage& page, NextVisit* next);

  CrawlContext& context;
  const Options& options;
  PageReader reader;
  const CrawlPlan plan;
  const FetchPolicy confined;  // what -confine lets the crawl ask for
  LinkBudget budget;
  bool pageLimitReported = false;
  std::vector<CStr> failedPatterns;      // reported, whichever reader named them
  OnceRecord own;                        // with -once, when the run keeps no record of its own
  OncePages& pages;                      // with -once: the pages the scan met
  VisitedUrls& files;                    // with -once: links saved or printed, pages saved
  std::unique_ptr<Prefetcher> prefetch;  // with -j
  const std::vector<PendingPage>* stack = nullptr;  // the pending pages, while Run runs
  bool startSaveFailed = false;  // a run that saves everything: the start URL's request failed
  CStr referrer;                 // the page whose link is visited now; empty for the start URL
  // -state: the stack's frames below this level are as last committed, but
  // for the left of the one just below it.
  size_t keptFrames = 0;
  Counters committed;      // -state: the counters as last committed
  size_t uncommitted = 0;  // -state: steps since the last commit
};

void Crawler::ReportPageLimit() {
  if (pageLimitReported) return;
  pageLimitReported = true;
  std::string message = "page limit reached: " + std::to_string(options.maxPages) +
                        " pages requested, no more links followed";
  context.reporter.Notice(CStr(message.c_str()));
}

void Crawler::ReportPatternFailures(const Url& url,
                                    std::vector<PageReader::Page::PatternFailure> failures) {
  // The scope's patterns are searched for every URL asked about, here and
  // by the workers: a failure among them is told with the page read next.
  if (context.scope != nullptr) {
    for (auto& [pattern, reason] : context.scope->NewPatternFailures()) {
      failures.push_back({pattern, reason});
    }
  }
  for (const PageReader::Page::PatternFailure& failed : failures) {
    if (std::find(failedPatterns.begin(), failedPatterns.end(), failed.pattern) !=
        failedPatterns.end())
      continue;
    failedPatterns.push_back(failed.pattern);
    CrawlFailure failure;
    failure.kind = CrawlFailure::Kind::kPattern;
    failure.url = url.Text();
    failure.pattern = failed.pattern;
    failure.reason = failed.reason;
    context.reporter.Failed(failure);
  }
}

void Crawler::ReportLinksCut(const Url& url, size_t limit) {
  CrawlFailure failure;
  failure.url = url.Text();
  if (limit == kMaxLinksPerPage) {
    failure.kind = CrawlFailure::Kind::kTooManyLinks;
    failure.count = kMaxLinksPerPage;
  } else if (!budget.reported) {
    budget.reported = true;
    failure.kind = CrawlFailure::Kind::kTooManyPending;
    failure.count = kMaxPendingLinks;
  } else {
    return;
  }
  context.reporter.Failed(failure);
}

void Crawler::TellPage(const Url& requested, const FetchOutcome& response, int depth, bool found,
                       const std::vector<ShownLine>& shown) {
  Reporter::PageFacts facts;
  facts.url = requested.Text();
  facts.finalUrl = response.url.Text();
  facts.referrer = referrer;
  facts.status = response.httpStatus;
  facts.depth = depth;
  facts.contentType = response.contentType;
  facts.matched = found;
  facts.lines = &shown;
  context.reporter.PageRead(facts);
}

CStr Crawler::Shown(const Url& url) const {
  if (!options.html) return url.Text();
  WebUrl normal;
  UrlProblem ignored;
  if (!normal.Parse(url.Text(), &ignored)) return url.Text();
  return normal.Text().c_str();
}

// With -once, a page met before and expanded with less depth than now is
// expanded again from its remembered links, without a request; otherwise
// there is nothing more to do for it (-1).
int Crawler::ExpandAgain(const std::shared_ptr<OncePages::Page>& met, int depth,
                         PendingPage& page) {
  if (met == nullptr || met->depth < 0 || met->depth >= depth) return -1;
  met->depth = depth;
  pages.Keep(*met);
  page.url = met->url;
  page.depth = depth;
  page.pendingAt = budget.pending;
  page.predicted = false;
  page.links = met->links;
  const size_t limit = budget.Room();
  if (page.links->size() > limit) {
    page.links = std::make_shared<const PageLinks>(page.links->Prefix(limit));
    ReportLinksCut(page.url, limit);
  }
  page.left = page.links->size();
  return 1;
}

// Requests and reads one page, and the save it serves (also), and acts on
// it. Returns -1 when the request failed (or, with -once, there is nothing to
// do), 0 for a page that is not HTML, 1 with page filled in otherwise.
int Crawler::VisitPage(const Url& requested, int depth, PendingPage& page, AlsoSaved also) {
  context.reporter.ScanningDepth(depth);
  std::shared_ptr<OncePages::Page> visit, prior;
  std::vector<std::string> keys;  // of the URLs this exchange met first
  FetchPolicy admit;
  if (options.once) {
    if (std::shared_ptr<OncePages::Page> met = pages.Find(requested)) {
      context.reporter.Refused(requested.Text(), Reporter::Refusal::kOnce);
      SaveApart(requested, also);
      int expanded = ExpandAgain(met, depth, page);
      if (prefetch) prefetch->Forget(requested, false, expanded == 1);
      return expanded;
    }
    visit = std::make_shared<OncePages::Page>();
    admit = [this, &visit, &keys, &prior](const Url& url) {
      return pages.Meet(url, visit, &keys, &prior);
    };
  }
  // Past -maxpages no page is asked for; a save the page was to serve is
  // made on its own. A page robots.txt refuses is no request, and takes
  // nothing of the limit.
  if (context.scope != nullptr && RobotsAllow(context, requested) && !context.scope->TakePage()) {
    ReportPageLimit();
    SaveApart(requested, also);
    return -1;
  }
  bool found = false;
  std::vector<ShownLine> shown;  // with -show: the lines printed with the page
  Url url;
  HeldBody held;  // the body, for a save the keyword decides once the page is read
  bool holding = false;
  {
    FetchedAhead ahead;
    Purpose purpose = also == AlsoSaved::kNo ? Purpose::kScan : Purpose::kScanAndSave;
    FetchOutcome response = RequestPage(context, requested, purpose, depth, admit, &ahead);
    page.predicted = ahead.expanded;
    if (prior != nullptr) {  // a redirect led to a page met before, unread
      SaveApart(requested, also);
      pages.Assign(keys, prior);
      return ExpandAgain(prior, depth, page);
    }
    if (!response.body) {
      if (also != AlsoSaved::kNo) {
        SavedAlong(requested, also, true, response.url);
        ReportExchangeAgain(context, response);
      }
      return -1;
    }
    int read = ReadAnswer(response, requested, ahead.read.get(), also, page, &found, &shown, &held,
                          &holding);
    if (read >= 0) TellPage(requested, response, depth, found, shown);
    if (read != 1) return read;
    url = response.url;
  }  // the connection is closed before any action
  page.url = url;
  page.depth = depth;
  if (visit != nullptr) {
    visit->url = url;
    visit->depth = depth;
    visit->links = page.links;
    pages.Keep(*visit);
  }
  if (found) {
    if (options.print) context.reporter.Printed(Shown(url), shown);
    // With -once a page is saved once, the start page saved first included.
    if (options.download && (!options.once || files.Insert(url))) {
      if (holding) {
        SaveHeld(context, url, held);
      } else {
        DownloadUrl(context, url);
      }
    }
  }
  return 1;
}

// Reads the answer to the scan of requested, and for the save it serves
// (also), into page, *found, *shown and, when the page may be saved once its
// keyword is found (*holding), *held. The save is told where a request of its
// own told it, and then the scan's exchange once more. Returns as VisitPage.
int Crawler::ReadAnswer(FetchOutcome& response, const Url& requested, const PageReadAhead* ahead,
                        AlsoSaved also, PendingPage& page, bool* found,
                        std::vector<ShownLine>* shown, HeldBody* held, bool* holding) {
  if (also == AlsoSaved::kNo && !response.html) return 0;
  const Url& url = response.url;
  ResponseBody& body = *response.body;
  std::unique_ptr<BodySave> save;
  if (also != AlsoSaved::kNo) save = std::make_unique<BodySave>(context, url);
  *holding = response.html && MaySaveWhenFound(url, also);
  PieceSink copy;
  if (save != nullptr || *holding) {
    copy = [&save, held, holding](std::string_view piece) {
      bool more = save != nullptr && save->Write(piece);
      if (*holding) more = held->Append(piece) || more;
      return more;
    };
  }
  const size_t limit = budget.Room();
  bool linksCut = false;
  bool readAhead =
      response.html && ReadPage(body, url, ahead, found, shown, &page, &linksCut, copy);
  // The saves see the whole body, however much of it the scan read: a
  // worker's reading leaves it unread, and an answer that is no page is not
  // read for its scan (its bytes are counted here).
  if ((save != nullptr && save->Writing()) || (*holding && *found)) {
    CopyRest(body, copy, [this, &response](size_t n) {
      if (!response.html) context.reporter.BodyBytes(n);
    });
    Failure unread;
    // A replay that did not end as the reading ahead did: the save asks again.
    if (readAhead && !body.Complete(&unread)) *holding = false;
  }
  if (save != nullptr) {
    bool stopped = save->Finish(&body) == -1;
    save.reset();
    SavedAlong(requested, also, stopped, url);
    if (StopReason() != 0) return -1;
    ReportExchangeAgain(context, response);
    if (!response.html) return 0;
  }
  if (linksCut) ReportLinksCut(url, limit);
  if (StopReason() != 0) return -1;
  // A page that did not arrive whole is neither acted on nor followed.
  return PageWhole(body, readAhead ? ahead : nullptr) ? 1 : -1;
}

bool Crawler::PageWhole(const ResponseBody& body, const PageReadAhead* ahead) {
  if (ahead == nullptr) return ArrivedWhole(context, body);
  if (!ahead->arrivedWhole) context.reporter.Failed(ahead->failure);
  return ahead->arrivedWhole;
}

bool Crawler::MaySaveWhenFound(const Url& url, AlsoSaved also) const {
  if (!options.download || options.keyword.IsEmpty()) return false;
  // With -once a page is saved once: the start page's own save was that once.
  return !options.once || (also == AlsoSaved::kNo && !files.Contains(url));
}

// The save a visit serves when its scan reads no answer (with -once, the
// page was met before): it asks for itself.
void Crawler::SaveApart(const Url& requested, AlsoSaved also) {
  if (also == AlsoSaved::kNo) return;
  Url saved;
  bool failed = DownloadUrl(context, requested, &saved) == -1;
  SavedAlong(requested, also, failed, saved);
}

// What follows the save of requested: failed when its request failed or the
// stop cut it short, saved the URL that answered.
void Crawler::SavedAlong(const Url& requested, AlsoSaved also, bool failed, const Url& saved) {
  if (also == AlsoSaved::kStart) {
    startSaveFailed = failed;
    if (options.once && !failed) files.Insert(saved);
  } else if (also == AlsoSaved::kLink && options.print) {
    context.reporter.Printed(requested.Text());
  }
}

// Reads the page at url from body into page's links, *found, *shown and
// *linksCut, handing what it reads to copy. When a worker read it with this
// crawl's reader, from the very exchanges the body replays, what it found is
// taken instead and the body is left unread: its replay would read the same
// (the first links of a reading that kept more are the ones a lower limit
// keeps; one that kept fewer and was cut is read again). True in that case.
bool Crawler::ReadPage(ResponseBody& body, const Url& url, const PageReadAhead* ahead, bool* found,
                       std::vector<ShownLine>* shown, PendingPage* page, bool* linksCut,
                       const PieceSink& copy) {
  page->pendingAt = budget.pending;
  const size_t limit = budget.Room();
  if (ahead != nullptr && ahead->page.url.Text() == url.Text() &&
      (limit <= ahead->linkLimit || !ahead->linksCut)) {
    context.reporter.BodyBytes(ahead->bytesRead);
    *found = ahead->keywordFound;
    *shown = ahead->shown;
    const PageLinks& links = *ahead->page.links;
    *linksCut = ahead->linksCut || links.size() > limit;
    ReportPatternFailures(url, ahead->patternFailures);
    page->links = links.size() > limit ? std::make_shared<const PageLinks>(links.Prefix(limit))
                                       : ahead->page.links;
    page->left = page->links->size();
    return true;
  }
  PageReader::Page read = reader.Read(
      body, url, limit, !options.keyword.IsEmpty(),
      [this](size_t n) { context.reporter.BodyBytes(n); }, nullptr, copy);
  ReportPatternFailures(url, read.patternFailures);
  *found = read.keywordFound;
  *shown = std::move(read.shown);
  *linksCut = read.linksCut;
  page->left = read.links.size();
  page->links = std::make_shared<const PageLinks>(std::move(read.links));
  return false;
}

// Tells the fetcher ahead, if any, what handling page's links will ask for,
// unless a worker already did.
void Crawler::PredictLinks(PendingPage& page) {
  if (prefetch && !page.predicted) {
    page.predicted = true;  // first: the call may read the stack
    prefetch->Predict(Planned(page));
  }
}

std::vector<PendingLinks> Crawler::PendingStack() const {
  std::vector<PendingLinks> pending;
  if (stack == nullptr) return pending;
  // A page not told yet, being read, is told once read (Predict).
  for (const PendingPage& page : *stack) {
    if (!page.predicted || page.left == 0) continue;
    pending.push_back({Planned(page), page.left});
  }
  return pending;
}

bool Crawler::TakeLink(PendingPage& page, NextVisit* next) {
  LinkStep step;
  UrlProblem problem;
  --page.left;
  bool taken = plan.Step(page.url, page.depth, (*page.links)[page.left],
                         page.links->Flags(page.left), &step, &problem);
  if (!taken) {
    if (problem.kind != FailureKind::kNone) context.reporter.Failed(problem);
    return false;
  }
  // Out of scope, a link is neither asked for, printed nor saved.
  if (!InScope(context, step.target)) {
    context.reporter.Refused(step.target.Text(), Reporter::Refusal::kScope);
    return false;
  }
  // A link to another shard's host is handed on, never asked for here.
  if (!InShard(context, step.target)) {
    context.reporter.Outlink(step.target.Text(), ShardOf(context, step.target), step.depth,
                             page.url.Text());
    return false;
  }
  // File mode acts on the link itself, once only with -once.
  bool act = step.fileAction && (!options.once || files.Insert(step.target));
  if (step.fileAction && !act)
    context.reporter.Refused(step.target.Text(), Reporter::Refusal::kOnce);
  if (act) {
    Reporter::LinkFacts link;
    link.url = step.target.Text();
    link.referrer = page.url.Text();
    HtmlLinkSourceNames(page.links->Source(page.left), &link.element, &link.attribute);
    context.reporter.LinkFound(link);
  }
  if (step.fileAction && !act && options.download && prefetch) {
    prefetch->Forget(step.target, true);
  }
  // A scan the confinement refuses is passed over here, as its request
  // would be (silently), before any work is begun for it.
  bool scan = step.scan && (!options.confine || confined(step.target));
  if (step.scan && !scan) context.reporter.Refused(step.target.Text(), Reporter::Refusal::kConfine);
  // A link saved and scanned is asked for once: the scan's answer is saved.
  next->also = act && options.download && scan ? AlsoSaved::kLink : AlsoSaved::kNo;
  if (act && next->also == AlsoSaved::kNo) {
    if (options.download) DownloadUrl(context, step.target);
    if (options.print) context.reporter.Printed(step.target.Text());
  }
  if (!scan) return false;
  next->url = std::move(step.target);
  return true;
}

int Crawler::Run(const Url& url, int depth) {
  if (options.jobs > 1) {
    prefetch = std::make_unique<Prefetcher>(
        options.jobs, context.connector, AheadPolicy(context), ConfinedHosts(context), options,
        plan, [this] { return PendingStack(); }, context.pool,
        options.maxPages > 0 ? context.scope : nullptr);
    if (options.once) prefetch->ScannedLive(url, depth);
  }
  // No request outlives the crawl's own fetcher ahead.
  context.prefetcher = prefetch.get();
  struct PrefetcherInUse {
    CrawlContext& context;
    const std::vector<PendingPage>*& stack;
    ~PrefetcherInUse() {
      context.prefetcher = nullptr;
      stack = nullptr;
    }
  } inUse{context, stack};
  if (context.state != nullptr) {
    context.reporter.HoldLines(true);
    committed = context.reporter.Counts();
    if (context.state->Saved().started) {
      std::vector<PendingPage> pending = Resume();
      Follow(pending);
      return startSaveFailed ? -1 : 0;
    }
  }
  // A run that saves everything saves the start URL first, whatever it is.
  bool savesAll = options.keyword == "." && options.filespec == "." && options.download;
  std::vector<PendingPage> pending(1);
  stack = &pending;
  int result =
      VisitPage(url, depth, pending.back(), savesAll ? AlsoSaved::kStart : AlsoSaved::kNo);
  if (result != 1) {
    pending.clear();
    EndStep(pending, true, true);
    return result == -1 || startSaveFailed ? -1 : 0;
  }
  budget.pending = pending.back().left;
  PredictLinks(pending.back());
  EndStep(pending, true, false);
  Follow(pending);
  return startSaveFailed ? -1 : 0;
}

void Crawler::Follow(std::vector<PendingPage>& pending) {
  stack = &pending;
  while (!pending.empty() && StopReason() == 0) {
    PendingPage& page = pending.back();
    if (page.left == 0) {
      pending.pop_back();
      if (pending.size() < keptFrames) keptFrames = pending.size();
      continue;
    }
    NextVisit next;
    bool scan = TakeLink(page, &next);
    --budget.pending;
    if (scan) {
      int childDepth = page.depth - 1;
      referrer = page.url.Text();
      pending.emplace_back();  // page may move from here on
      if (VisitPage(next.url, childDepth, pending.back(), next.also) != 1) {
        pending.pop_back();
        if (prefetch) prefetch->ListsNothing();
      } else {
        budget.pending += pending.back().left;
        PredictLinks(pending.back());
      }
    }
    EndStep(pending, false, false);
  }
  EndStep(pending, false, true);
}

std::vector<PendingPage> Crawler::Resume() {
  const CrawlState::Scalars& kept = context.state->Saved();
  pageLimitReported = kept.pageLimitReported;
  budget.reported = kept.pendingLimitReported;
  startSaveFailed = kept.startSaveFailed;
  if (context.scope != nullptr) context.scope->Resume(kept.pagesTaken);
  std::vector<PendingPage> pending;
  for (CrawlState::Frame& frame : context.state->LoadStack()) {
    PendingPage page;
    UrlProblem ignored;
    page.url.Parse(CStr(frame.url.c_str()), &ignored);
    page.depth = frame.depth;
    page.pendingAt = frame.pendingAt;
    page.links = std::move(frame.links);
    page.left = frame.left;
    budget.pending += page.left;
    pending.push_back(std::move(page));
  }
  keptFrames = pending.size();
  return pending;
}

void Crawler::EndStep(const std::vector<PendingPage>& pending, bool first, bool done) {
  CrawlState* state = context.state;
  if (state == nullptr || StopReason() != 0) return;
  const Counters& now = context.reporter.Counts();
  bool asked =
      now.saves != committed.saves || now.hits != committed.hits || now.errors != committed.errors;
  if (!asked && !first && !done && ++uncommitted < kStepsPerCommit) return;
  std::vector<CrawlState::Frame> above;
  for (size_t level = keptFrames; level < pending.size(); ++level) {
    const PendingPage& page = pending[level];
    CrawlState::Frame frame;
    frame.url = static_cast<const char*>(page.url.Text());
    frame.depth = page.depth;
    frame.pendingAt = page.pendingAt;
    frame.left = page.left;
    frame.links = page.links;
    above.push_back(std::move(frame));
  }
  state->SaveStack(keptFrames, keptFrames > 0 ? pending[keptFrames - 1].left : 0, above);
  CrawlState::Scalars scalars;
  scalars.counts = now;
  scalars.started = true;
  scalars.pageLimitReported = pageLimitReported;
  scalars.pendingLimitReported = budget.reported;
  scalars.startSaveFailed = startSaveFailed;
  scalars.pagesTaken = context.scope != nullptr ? context.scope->PagesTaken() : 0;
  scalars.startLine = state->Saved().startLine;
  // The lines go out just before the commit: a kill between the two (while
  // SQLite writes its log, microseconds) writes them again when the step is
  // done again; the commit's own wait for the disk comes after both.
  context.reporter.ReleaseLines();
  std::string error;
  if (!state->Commit(scalars, &error)) {
    std::fprintf(stderr, "ferret: cannot write %s: %s\n", options.state.c_str(), error.c_str());
    RequestStop(kStopOutputFailed);
    return;
  }
  keptFrames = pending.size();
  committed = now;
  uncommitted = 0;
}

}  // namespace

int ScanPage(CrawlContext& context, const Url& url, int depth) {
  Crawler crawler(context);
  return crawler.Run(url, depth);
}
