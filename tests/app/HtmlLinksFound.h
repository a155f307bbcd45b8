// The links HtmlLinks finds in a whole page of html, read as the page
// http://site.test/docs/page.html, keeping at most limit (*cut: there were
// more). Shared by the link tests.
#ifndef FERRET_TESTS_APP_HTMLLINKSFOUND_H_
#define FERRET_TESTS_APP_HTMLLINKSFOUND_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/HtmlLinks.h"
#include "text/HtmlTokenizer.h"

constexpr char kLinksPage[] = "http://site.test/docs/page.html";

inline std::vector<HtmlLink> LinksFound(const std::string& html, size_t limit, bool* cut) {
  WebUrl page;
  UrlProblem problem;
  EXPECT_TRUE(page.Parse(kLinksPage, &problem));
  HtmlLinkCollector collector(page, limit);
  HtmlTokenizer tokenizer(&collector);
  tokenizer.Feed(html.data(), html.size());
  tokenizer.Finish();
  *cut = collector.Cut();
  return collector.Links();
}

#endif  // FERRET_TESTS_APP_HTMLLINKSFOUND_H_
