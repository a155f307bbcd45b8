// VisitedUrls: the URLs a run has met, by their canonical key (Url::Key),
// for -once. One key a distinct URL; it only grows. In memory, or with a
// CrawlState (-state) in its file.
#ifndef FERRET_APP_VISITEDURLS_H_
#define FERRET_APP_VISITEDURLS_H_

#include <string>
#include <unordered_set>

#include "app/CrawlState.h"
#include "net/Url.h"

class VisitedUrls {
 public:
  // Kept in state when there is one (not owned).
  explicit VisitedUrls(CrawlState* state = nullptr) : state(state) {}

  // True when url was not met before; it is met from now on.
  bool Insert(const Url& url) {
    return state != nullptr ? state->InsertFile(url.Key()) : keys.insert(url.Key()).second;
  }
  bool Contains(const Url& url) const {
    return state != nullptr ? state->ContainsFile(url.Key()) : keys.count(url.Key()) != 0;
  }

 private:
  CrawlState* const state;
  std::unordered_set<std::string> keys;
};

#endif  // FERRET_APP_VISITEDURLS_H_
