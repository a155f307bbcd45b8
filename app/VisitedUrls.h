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
  bool Contains(const Url& url) const { return keys.count(url.Key()) != 0; }

 private:
  std::unordered_set<std::string> keys;
};

#endif  // FERRET_APP_VISITEDURLS_H_
