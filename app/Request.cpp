#include "app/Request.h"

#include "app/Confine.h"
#include "app/FailureText.h"
#include "app/Prefetch.h"
#include "app/Progress.h"
#include "app/Report.h"
#include "app/Settings.h"
#include "app/Stop.h"

namespace {

Connector connector = ConnectTo;
Prefetcher* prefetcher = nullptr;

}  // namespace

void UsePrefetcher(Prefetcher* use) { prefetcher = use; }

FetchPolicy ConfinementPolicy() {
  return [](const Url& target) {
    const RunSettings& s = runSettings;
    return !s.confine || SameDomainHost(target.Host(), s.startHost) != 0;
  };
}

void UseConnector(Connector connect) { connector = std::move(connect); }

namespace {

void ReportCounted(const Failure& failure) {
  FailureLine text = FailureText(failure);
  ReportCountedFailure(text.reason, text.line);
}

}  // namespace

bool ArrivedWhole(const ResponseBody& body) {
  Failure failure;
  if (body.Complete(&failure)) return true;
  ReportCounted(failure);
  return false;
}

FetchOutcome RequestPage(const CStr& url, VisitedUrls* visited, bool save, bool* expanded) {
  RunSettings& s = runSettings;
  FetchOutcome outcome;
  if (StopSignal() != 0) {  // the run is ending: nothing more is asked
    outcome.status = FetchStatus::kRefused;
    return outcome;
  }
  ProgressRequest(url);
  std::shared_ptr<const Recordings> recorded;
  if (expanded != nullptr) *expanded = false;
  if (prefetcher != nullptr && visited != nullptr && visited->Contains(url)) {
    prefetcher->Forget(url);  // refused below, without a word
  } else if (prefetcher != nullptr) {
    Prefetcher::Fetched fetched = prefetcher->Take(url, save);
    recorded = std::move(fetched.recordings);
    if (expanded != nullptr) *expanded = fetched.expanded;
  }
  outcome = Fetch(
      url,
      [visited, confined = ConfinementPolicy()](const Url& target) {
        return confined(target) && (visited == nullptr || visited->Insert(target));
      },
      recorded ? ReplayConnector(recorded) : connector);
  s.hits += outcome.headersRead;
  // A failure caused by the stop is no failure of the site's.
  if (StopSignal() != 0 && outcome.status != FetchStatus::kAnswered) return outcome;
  switch (outcome.status) {
    case FetchStatus::kAnswered: ++s.http200; break;
    case FetchStatus::kRefused: break;
    case FetchStatus::kFailed: ReportCounted(outcome.failure); break;
  }
  return outcome;
}
