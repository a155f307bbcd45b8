#include "app/Request.h"

#include "app/Confine.h"
#include "app/Progress.h"
#include "app/Report.h"
#include "app/Settings.h"
#include "app/Stop.h"

namespace {

Connector connector = ConnectTo;

}  // namespace

void UseConnector(Connector connect) { connector = std::move(connect); }

FetchOutcome RequestPage(const CStr& url, VisitedUrls* visited) {
  RunSettings& s = runSettings;
  FetchOutcome outcome;
  if (StopSignal() != 0) {  // the run is ending: nothing more is asked
    outcome.status = FetchStatus::kRefused;
    return outcome;
  }
  ProgressRequest(url);
  outcome = Fetch(
      url,
      [&s, visited](const Url& target) {
        if (s.confine && SameDomainHost(target.Host(), s.startHost) == 0) return false;
        return visited == nullptr || visited->Insert(target);
      },
      connector);
  s.hits += outcome.headersRead;
  // A failure caused by the stop is no failure of the site's.
  if (StopSignal() != 0 && outcome.status != FetchStatus::kAnswered) return outcome;
  switch (outcome.status) {
    case FetchStatus::kAnswered: ++s.http200; break;
    case FetchStatus::kRefused: break;
    default:
      ++s.errors;
      ReportFailure(outcome.reason, "%s\n", static_cast<const char*>(outcome.report));
  }
  return outcome;
}
