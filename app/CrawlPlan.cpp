#include "app/CrawlPlan.h"

#include <cstring>

#include "app/PageLinks.h"

bool CrawlPlan::Followed(const char* found, CStr* link) {
  // A link that is only a fragment names the page itself (see Step).
  if (found[0] == '#') return false;
  // Bytes a page may not pass on to a request line or a terminal.
  *link = Url::EscapeControls(found);
  // Only web links are followed; mail and other schemes are passed over.
  return std::strstr(*link, "mailto:") == nullptr && !Url::HasOtherScheme(*link);
}

bool CrawlPlan::HtmlStep(const Url& page, int depth, const char* link, uint8_t flags,
                         LinkStep* step, UrlProblem* problem) const {
  if (flags & (PageLinks::kBadUrl | PageLinks::kTooLong)) {
    *problem = UrlProblem();
    problem->kind = flags & PageLinks::kTooLong ? FailureKind::kUrlTooLong : FailureKind::kBadUrl;
    problem->url = link;
    return false;
  }
  step->fileAction = options.FileMode() && (flags & PageLinks::kWanted);
  step->scan = depth >= 1 && !(flags & PageLinks::kFile);
  if (!step->fileAction && !step->scan) return false;
  // What a browser keeps but no request can ask for (port 0) is a bad URL.
  if (!step->target.Parse(link, problem)) return false;
  if (step->target.SameKey(page)) return false;
  step->depth = depth - 1;
  return true;
}

bool CrawlPlan::Step(const Url& page, int depth, const char* found, uint8_t flags,
                     LinkStep* step, UrlProblem* problem) const {
  if (flags & PageLinks::kHtml) return HtmlStep(page, depth, found, flags, step, problem);
  CStr link;
  if (!Followed(found, &link)) return false;
  if (!LinksAct(depth)) {
    page.CanResolve(link, problem);
    return false;
  }
  if (!page.Resolve(link, &step->target, problem)) return false;
  // A link within the page itself ("#notes", or the page's own URL with a
  // fragment) names no other resource: a browser does not load it again.
  if (step->target.SameKey(page)) return false;
  step->fileAction = options.FileMode();
  step->scan = depth >= 1;
  step->depth = depth - 1;
  return true;
}

bool CrawlPlan::Request(const Url& page, int depth, const char* link, uint8_t flags,
                        PlannedRequest* request) const {
  LinkStep step;
  UrlProblem ignored;
  if (!Step(page, depth, link, flags, &step, &ignored)) return false;
  bool save = step.fileAction && options.download;
  if (save && step.scan) {
    *request = {step.target, Purpose::kScanAndSave, step.depth};
  } else if (save) {
    *request = {step.target, Purpose::kSave, -1};
  } else if (step.scan) {
    *request = {step.target, Purpose::kScan, step.depth};
  } else {
    return false;
  }
  return true;
}
