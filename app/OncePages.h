// OncePages: with -once, every page the scan has met, by canonical key
// (Url::Key), with what the crawl needs to expand it again from a shorter
// path: the depth it was expanded at and the links it had.
//
// Every URL of an exchange (the one asked for and each redirect target)
// belongs to the page that answered it, so a page met again by any of its
// names is known. A page is requested once; met again with more depth left
// than it was expanded with, it is expanded again from what is kept here,
// so the crawl reaches every page within the depth (a page's shortest link
// path counts), whichever path met it first.
//
// Costs the key of every URL met and the link text of every page expanded:
// in memory, or with a CrawlState (-state) in its file, where a page found
// is a copy that Keep writes back.
#ifndef FERRET_APP_ONCEPAGES_H_
#define FERRET_APP_ONCEPAGES_H_

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/CrawlState.h"
#include "app/PageLinks.h"
#include "app/VisitedUrls.h"
#include "net/Url.h"
#include "text/CStr.h"

class OncePages {
 public:
  // Kept in state when there is one (not owned).
  explicit OncePages(CrawlState* state = nullptr) : state(state) {}

  struct Page {
    long long id = 0;   // in the state; 0 until it is met there
    int depth = -1;     // the most depth it was expanded with; -1: never expanded
    Url url;            // the URL that answered
    std::shared_ptr<const PageLinks> links;  // in page order
  };

  // The page url was met as; null when it was never met.
  std::shared_ptr<Page> Find(const Url& url) const;

  // Marks url as met, belonging to page, and adds its key to *keys. False
  // when it was met before; then *prior is the page it belongs to.
  bool Meet(const Url& url, const std::shared_ptr<Page>& page, std::vector<std::string>* keys,
            std::shared_ptr<Page>* prior);

  // Makes the URLs of keys belong to page (an exchange that led to a page
  // met before belongs to that page).
  void Assign(const std::vector<std::string>& keys, const std::shared_ptr<Page>& page);

  // page changed (it was expanded): the state keeps it as it is now.
  void Keep(const Page& page);

 private:
  std::shared_ptr<Page> Load(long long id) const;

  CrawlState* const state;
  std::unordered_map<std::string, std::shared_ptr<Page>> pages;
};

// With -once, what a run met: the pages its scans met, and the links and
// pages it saved or printed. One for the whole run, across the starts of a
// list (-i); the crawl of each start uses it in turn. Kept in state when
// there is one (-state).
struct OnceRecord {
  explicit OnceRecord(CrawlState* state = nullptr) : pages(state), files(state) {}
  OncePages pages;
  VisitedUrls files;
};

#endif  // FERRET_APP_ONCEPAGES_H_
