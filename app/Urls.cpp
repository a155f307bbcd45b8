#include "app/Urls.h"

namespace {

Failure UrlFailure(const UrlProblem& problem) {
  Failure failure;
  failure.kind = FailureKind::kBadUrl;
  failure.detail = problem.message;
  failure.systemError = problem.systemError;
  return failure;
}

}  // namespace

void ReportUrlProblem(Reporter& reporter, const UrlProblem& problem) {
  CrawlFailure failure;
  failure.kind = CrawlFailure::Kind::kFetch;
  failure.fetch = UrlFailure(problem);
  reporter.Failed(failure);
}

int SplitUrl(Reporter& reporter, CStr text, CStr& host, CStr& dir, CStr& file, int& port) {
  Url url;
  UrlProblem problem;
  if (!url.Parse(text, &problem)) {
    ReportUrlProblem(reporter, problem);
    return -1;
  }
  host = url.Host();
  dir = url.Dir();
  file = url.File();
  port = url.Port();
  return 0;
}

CStr ResolveUrl(Reporter& reporter, CStr pageUrl, CStr link) {
  CStr resolved;
  UrlProblem problem;
  if (!Url::Resolve(pageUrl, link, &resolved, &problem)) ReportUrlProblem(reporter, problem);
  return resolved;
}
