// VisitedUrls: the URLs a run has met, by their canonical key (Url::Key),
// for -once. One key a distinct URL; it only grows.
#ifndef FERRET_APP_VISITEDURLS_H_
#define FERRET_APP_VISITEDURLS_H_

#include <string>
#include <unordered_set>

#include "net/Url.h"

class VisitedUrls {
 public:
  // True when url was not met before; it is met from now on.
  bool Insert(const Url& url) { return keys.insert(url.Key()).second; }
  // Whether the URL as text was met; text that does not parse never was.
  bool Contains(const CStr& text) const {
    Url url;
    UrlProblem ignored;
    return url.Parse(text, &ignored) && keys.count(url.Key()) != 0;
  }
  // The same for a URL as text; text that does not parse counts as new (the
  // request then reports it).
  bool Insert(const CStr& text) {
    Url url;
    UrlProblem ignored;
    return !url.Parse(text, &ignored) || Insert(url);
  }

 private:
  std::unordered_set<std::string> keys;
};

#endif  // FERRET_APP_VISITEDURLS_H_
