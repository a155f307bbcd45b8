#include "app/CrawlPlan.h"

#include <cstring>

namespace {

bool SamePage(const CStr& pageText, const CStr& targetText) {
  Url page, target;
  UrlProblem ignored;
  return page.Parse(pageText, &ignored) && target.Parse(targetText, &ignored) &&
         page.Key() == target.Key();
}

}  // namespace

bool CrawlPlan::Step(const CStr& pageUrl, int depth, const CStr& found, LinkStep* step,
                     UrlProblem* problem) const {
  // Bytes a page may not pass on to a request line or a terminal.
  CStr link = Url::EscapeControls(found);
  // Only web links are followed; mail and other schemes are passed over.
  if (std::strstr(link, "mailto:") != nullptr || Url::HasOtherScheme(link)) return false;
  if (!Url::Resolve(pageUrl, link, &step->target, problem)) return false;
  // A link within the page itself ("#notes", or the page's own URL with a
  // fragment) names no other resource: a browser does not load it again.
  if (SamePage(pageUrl, step->target)) return false;
  step->fileAction = options.FileMode();
  step->scan = depth >= 1;
  step->depth = depth - 1;
  return true;
}

std::vector<PlannedRequest> CrawlPlan::Requests(const CStr& pageUrl, int depth,
                                                const std::vector<CStr>& links) const {
  std::vector<PlannedRequest> requests;
  for (auto link = links.rbegin(); link != links.rend(); ++link) {
    LinkStep step;
    UrlProblem ignored;
    if (!Step(pageUrl, depth, *link, &step, &ignored)) continue;
    if (step.fileAction && options.download) requests.push_back({step.target, true, -1});
    if (step.scan) requests.push_back({step.target, false, step.depth});
  }
  return requests;
}
