// The links HtmlLinks finds in a whole page of html, read as the page
// http://site.test/docs/page.html, keeping at most limit (*cut: there were
// more). With asTheCrawlReads the tokenizer is set as the crawl's -html
// reading sets it (no text, only the tags and attributes that hold links)
// and fed in pieces as from a network. Shared by the link tests.
#ifndef FERRET_TESTS_APP_HTMLLINKSFOUND_H_
#define FERRET_TESTS_APP_HTMLLINKSFOUND_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/HtmlLinks.h"
#include "text/HtmlTokenizer.h"

constexpr char kLinksPage[] = "http://site.test/docs/page.html";

inline std::vector<HtmlLink> LinksFound(const std::string& html, size_t limit, bool* cut,
                                        bool asTheCrawlReads = false) {
  WebUrl page;
  UrlProblem problem;
  EXPECT_TRUE(page.Parse(kLinksPage, &problem));
  HtmlLinkCollector collector(page, limit);
  HtmlTokenizer tokenizer(&collector);
  size_t piece = html.size() + 1;
  if (asTheCrawlReads) {
    tokenizer.SkipText(true);
    tokenizer.KeepAttributesOf(&HtmlLinkCollector::ReadsAttributesOf);
    tokenizer.KeepAttributesNamed(&HtmlLinkCollector::ReadsAttribute);
    tokenizer.HandOverKeptTagsOnly(true);
    piece = 1400;
  }
  for (size_t at = 0; at < html.size(); at += piece) {
    tokenizer.Feed(html.data() + at, std::min(piece, html.size() - at));
  }
  tokenizer.Finish();
  *cut = collector.Cut();
  return collector.Links();
}

#endif  // FERRET_TESTS_APP_HTMLLINKSFOUND_H_
