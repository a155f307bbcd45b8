#include "app/Confine.h"

#include "net/Url.h"
#include "regex/Regexp.h"

int SameDomainHost(const CStr& host, const CStr& startHost) {
  // Case-sensitive. Group 1 is the label between the last two dots, group 2
  // the one after the last dot; the copy keeps the two hosts' submatches apart.
  Regexp urlDomain(".*\\.(.*)\\.(.*)$", 0);
  Regexp startDomain(urlDomain);
  if (!urlDomain.Match(host)) return 0;
  if (!startDomain.Match(startHost)) return 0;
  return urlDomain[1] == startDomain[1] && urlDomain[2] == startDomain[2] ? 1 : 0;
}

int SameDomain(CStr url, CStr startHost) {
  Url parsed;
  UrlProblem problem;
  if (!parsed.Parse(url, &problem)) return 0;
  return SameDomainHost(parsed.Host(), startHost);
}
