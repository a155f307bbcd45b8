#include "app/Urls.h"

#include "app/Report.h"
#include "app/Settings.h"

void ReportUrlProblem(const UrlProblem& problem) {
  ReportCountedFailure(SystemErrorText(problem.systemError), problem.message);
}

int SplitUrl(CStr text, CStr& host, CStr& dir, CStr& file, int& port) {
  Url url;
  UrlProblem problem;
  if (!url.Parse(text, &problem)) {
    ReportUrlProblem(problem);
    return -1;
  }
  host = url.Host();
  dir = url.Dir();
  file = url.File();
  port = url.Port();
  return 0;
}

CStr ResolveUrl(CStr pageUrl, CStr link) {
  CStr resolved;
  UrlProblem problem;
  if (!Url::Resolve(pageUrl, link, &resolved, &problem)) ReportUrlProblem(problem);
  return resolved;
}
