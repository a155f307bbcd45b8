#include "app/Request.h"

#include "app/Confine.h"
#include "app/Prefetch.h"
#include "app/Stop.h"

FetchPolicy ConfinementPolicy(const CrawlContext& crawl) {
  return [confine = crawl.options.confine != 0, startHost = crawl.startHost](const Url& target) {
    return !confine || SameDomainHost(target.Host(), startHost) != 0;
  };
}

bool ArrivedWhole(CrawlContext& crawl, const ResponseBody& body) {
  Failure failure;
  if (body.Complete(&failure)) return true;
  crawl.reporter.Failed(failure);
  return false;
}

FetchOutcome RequestPage(CrawlContext& crawl, const Url& url, bool save, const FetchPolicy& admit,
                         bool* expanded) {
  FetchOutcome outcome;
  if (StopSignal() != 0) {  // the run is ending: nothing more is asked
    outcome.status = FetchStatus::kRefused;
    return outcome;
  }
  crawl.reporter.RequestStarted(url.Text());
  Prefetcher* prefetcher = crawl.prefetcher;
  std::shared_ptr<const Recordings> recorded;
  if (expanded != nullptr) *expanded = false;
  if (prefetcher != nullptr) {
    Prefetcher::Fetched fetched = prefetcher->Take(url, save);
    recorded = std::move(fetched.recordings);
    if (expanded != nullptr) *expanded = fetched.expanded;
  }
  outcome = Fetch(
      url,
      [&admit, confined = ConfinementPolicy(crawl)](const Url& target) {
        return confined(target) && (!admit || admit(target));
      },
      recorded ? ReplayConnector(recorded) : crawl.connector);
  // A failure caused by the stop is no failure of the site's.
  bool stopped = StopSignal() != 0 && outcome.status != FetchStatus::kAnswered;
  crawl.reporter.Exchanged(outcome.headersRead, !stopped && outcome.status == FetchStatus::kAnswered);
  if (stopped) return outcome;
  if (outcome.status == FetchStatus::kFailed) crawl.reporter.Failed(outcome.failure);
  return outcome;
}
