#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/CrawlScope.h"

namespace {

Url Parsed(const char* text) {
  Url url;
  UrlProblem problem;
  EXPECT_TRUE(url.Parse(text, &problem)) << text;
  return url;
}

using P = std::vector<CStr>;

TEST(CrawlScope, NoParentKeepsToTheStartDirectory) {
  const struct {
    const char *start, *url;
    bool allowed;
  } cases[] = {
      {"http://h/a/b.html", "http://h/a/b.html?x=1", true},  // the start itself
      {"http://h/a/b.html", "http://h/a/sub/c.html", true},
      {"http://h/a/b.html", "http://h/a", true},  // its directory without the slash
      {"http://h/a/b.html", "http://h/a?page=2", true},
      {"http://h/a/b.html", "http://h/", false},
      {"http://h/a/b.html", "http://h/ab", false},
      {"http://h/a/b.html", "http://h/ab/c.html", false},
      {"http://h/a/b.html", "http://h/b.html?/a/", false},
      {"http://h/a/b.html", "http://h/a/../b/x.html", false},
      {"http://h/a/b.html", "http://h/a/%2e%2e/x.html", false},
      {"http://h/a/b.html", "http://h/x/../a/c.html", true},
      {"http://h/a/b.html", "http://h/A/c.html", false},
      {"http://h/a/b.html", "http://h/%61/c.html", false},
      {"http://h/a/b.html", "http://h/a%2Fc.html", false},
      {"http://h/a%20b/", "http://h/a b/c.html", true},
      {"http://h/a/b.html", "h:80/a/c.html", true},
      {"http://h/a/b.html", "http://user:pw@H/a/c.html", true},
      {"http://h/a/b.html", "http://h:8080/a/c.html", false},
      {"http://h/a/b.html", "https://h/a/c.html", false},
      {"http://h/a/b.html", "http://h.example/a/c.html", false},
      {"https://h:8443/d/", "https://h/d/x", false},
      {"http://h:8443/d/", "https://h:8443/d/x", false},
      {"http://h/a/", "http://h/a", true},
      {"http://h/a/", "http://h/", false},
      {"http://h/a", "http://h/anything", true},
      {"HTTP://H:80/x/../a/b?q=/z/", "http://h/a/c", true},
      {"HTTP://H:80/x/../a/b?q=/z/", "http://h/z/c", false},
      {"http://[::1]:81/a/", "http://[0:0::1]:81/a/c", true},
  };
  ScopeOptions options;
  options.noParent = true;
  for (const auto& c : cases) {
    CrawlScope scope(Parsed(c.start), options);
    EXPECT_EQ(scope.Allows(CStr(c.url)), c.allowed) << c.start << " asked " << c.url;
  }
}

TEST(CrawlScope, AcceptAndRejectPatterns) {
  const struct {
    P accept, reject;
    const char* url;
    bool allowed;
  } cases[] = {
      {{"\\.html$"}, {}, "http://h/a.HTML", true},
      {{"\\.html$"}, {}, "http://h/a.html?x", false},
      {{"\\.html$", "\\.pdf$"}, {}, "http://h/a.pdf", true},
      {{"\\.html$", "\\.pdf$"}, {}, "http://h/a.png", false},
      {{}, {"/private/", "\\?"}, "http://h/x?y", false},
      {{}, {"/private/", "\\?"}, "http://h/x", true},
      {{}, {"index"}, "http://h/INDEX.html", false},
      {{"a", "b"}, {"x", "y"}, "http://h/ay", false},
      {{"a", "b"}, {"x", "y"}, "http://h/b", true},
      {{"^http://h/$"}, {}, "http://h", true},
      {{"^h/"}, {}, "h/x", false},
      {{"^https://h:8443/"}, {}, "HTTPS://H:8443/x", true},
      {{"/a/b$"}, {"\\.\\."}, "http://h/a/c/../b", true},
      {{}, {"#"}, "http://h/a#top", true},
      {{}, {"%20"}, "http://h/a b", false},
      {{}, {"zzz"}, "http://h:99999/", false},  // not a URL
  };
  for (const auto& c : cases) {
    CrawlScope scope(Parsed("http://h/"), ScopeOptions{false, c.accept, c.reject, 0});
    EXPECT_EQ(scope.Allows(CStr(c.url)), c.allowed) << c.url;
  }
}

TEST(CrawlScope, PatternsThatDoNotCompileAreNamed) {
  const struct {
    P patterns;
    const char* bad;  // nullptr: all compile
  } cases[] = {
      {{}, nullptr},
      {{"\\.html$", "^https?://", "a|b"}, nullptr},
      {{"ok", "(open", "[also"}, "(open"},
  };
  for (const auto& c : cases) {
    CStr bad("untouched"), message;
    EXPECT_EQ(CrawlScope::CompilesAll(c.patterns, &bad, &message), c.bad == nullptr);
    EXPECT_STREQ(bad, c.bad != nullptr ? c.bad : "untouched");
    EXPECT_EQ(message.IsEmpty(), c.bad == nullptr);
  }
}

TEST(CrawlScope, MaxPagesCountsPageRequests) {
  const struct {
    long maxPages;
    int asked, granted;
    bool limitMet;
  } cases[] = {{0, 50, 50, false}, {-1, 5, 5, false}, {3, 3, 3, false}, {3, 5, 3, true}};
  for (const auto& c : cases) {
    CrawlScope scope(Parsed("http://h/"), ScopeOptions{false, {}, {}, c.maxPages});
    int granted = 0;
    for (int i = 0; i < c.asked; ++i) granted += scope.TakePage() ? 1 : 0;
    EXPECT_EQ(granted, c.granted) << c.maxPages;
    EXPECT_EQ(scope.LimitMet(), c.limitMet) << c.maxPages;
  }
  // Takes from several threads; a race shows reliably under ThreadSanitizer.
  CrawlScope shared(Parsed("http://h/"), ScopeOptions{false, {}, {}, 30000});
  std::atomic<int> granted{0}, ready{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      // All start together, so the takes overlap.
      for (ready.fetch_add(1); ready.load() < 4;) std::this_thread::yield();
      for (int i = 0; i < 20000; ++i) granted += shared.TakePage() ? 1 : 0;
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(granted.load(), 30000);
  EXPECT_STREQ(shared.LimitMessage(), "Page limit 30000 reached");
}

TEST(CrawlScope, LimitedWhenAnyOptionIsGiven) {
  const struct {
    ScopeOptions options;
    bool limited, filters;
  } cases[] = {
      {{false, {}, {}, 0}, false, false},  {{true, {}, {}, 0}, true, true},
      {{false, {"x"}, {}, 0}, true, true}, {{false, {}, {"z"}, 0}, true, true},
      {{false, {}, {}, 7}, true, false},
  };
  for (const auto& c : cases) {
    CrawlScope scope(Parsed("http://h/a/"), c.options);
    EXPECT_EQ(scope.Limited(), c.limited);
    EXPECT_EQ(scope.Filters(), c.filters);
    EXPECT_EQ(scope.Allows(CStr("https://other:9/z")), !c.filters);
  }
}

// A link is judged as the URL it resolves to, by either reading of links.
TEST(CrawlScope, LinksAreJudgedNormalised) {
  const struct {
    const char *page, *link;
    bool allowed;
  } cases[] = {
      {"http://H/a/b.html", "./c.html", true},
      {"http://h/a/b.html", "../c.html", false},
      {"http://h/a/sub/b.html", "../c.html", true},
      {"http://h/a/b.html", "HTTP://H:80/a/c.html", true},
      {"http://h/a/b.html", "//H/a/c.html#part", true},
      {"http://h/a/b.html", "/a/c.zip", false},
  };
  CrawlScope scope(Parsed("http://h/a/"), ScopeOptions{true, {"^http://h/a/"}, {"\\.zip$"}, 0});
  for (const auto& c : cases) {
    Url page = Parsed(c.page), target;
    WebUrl webPage, webTarget;
    UrlProblem problem;
    ASSERT_TRUE(page.Resolve(c.link, &target, &problem) && webPage.Parse(c.page, &problem));
    ASSERT_EQ(webPage.Resolve(c.link, &webTarget, &problem), WebUrlOutcome::kResolved);
    EXPECT_EQ(scope.Allows(target), c.allowed) << "Url " << c.page << " + " << c.link;
    EXPECT_EQ(scope.Allows(webTarget), c.allowed) << "WebUrl " << c.page << " + " << c.link;
  }
}

}  // namespace
