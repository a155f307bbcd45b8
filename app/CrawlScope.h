// CrawlScope: which URLs a crawl may request, and how many pages it may
// request, from the start URL and -noparent, -accept, -reject, -maxpages.
//
// Every URL is judged in its normalised absolute form, the text WebUrl gives
// (what -html prints): scheme and host in lower case, default port dropped,
// "." and ".." segments resolved, percent-encoding as WebUrl leaves it, no
// fragment. So "./a.html", "/x/../a.html" and "HTTP://HOST/a.html" are
// judged as the one URL they stand for. A URL that WebUrl cannot read is
// never allowed.
//
// -noparent, as wget -np: the start's directory D is its normalised path up
// to and including its last '/' ("http://h/a/b.html" gives "/a/", and
// "http://h/a/" gives "/a/"). A URL is inside when its scheme, host and port
// are the start's and its path begins with D, or is D without its final '/'
// ("http://h/a", which a server answers with a redirect into D). Paths are
// compared byte for byte: letter case counts, "%61" is not "a", and "/ab/"
// is not below "/a/". The query and any userinfo play no part, so the start
// URL itself is always inside.
//
// -accept and -reject: patterns of Ferret's engine (regex/Regexp.h), letters
// in either case, searched anywhere in the normalised text. A URL passes when
// it matches at least one accept pattern (when any is given) and no reject
// pattern. They apply to every URL asked about, the start URL included.
//
// -maxpages N: TakePage hands out N page requests, then refuses; N of 0 (or
// less) means no limit.
//
// Threads: Allows and TakePage may be called from several threads at once
// (the compiled patterns, which keep their last match, are used under a
// lock; the page count is atomic). Hence a scope is neither copied nor moved.
#ifndef FERRET_APP_CRAWLSCOPE_H_
#define FERRET_APP_CRAWLSCOPE_H_

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/Url.h"
#include "net/WebUrl.h"
#include "regex/Regexp.h"
#include "text/CStr.h"

// What the command line asked of the scope.
struct ScopeOptions {
  bool noParent = false;
  std::vector<CStr> accept;  // patterns; none: every URL is accepted
  std::vector<CStr> reject;  // patterns; none: no URL is rejected
  long maxPages = 0;         // page requests allowed; 0 or less: no limit
};

class CrawlScope {
 public:
  // Every pattern of options is to have passed CompilesAll: one that does not
  // compile matches nothing. A start that WebUrl cannot read puts every URL
  // outside -noparent.
  CrawlScope(const Url& start, const ScopeOptions& options);
  CrawlScope(const CrawlScope&) = delete;
  CrawlScope& operator=(const CrawlScope&) = delete;

  // True when every pattern compiles as the scope compiles it. Otherwise
  // false with *badPattern the first that does not and *message the engine's
  // reason, for the caller's usage error.
  static bool CompilesAll(const std::vector<CStr>& patterns, CStr* badPattern, CStr* message);

  // Any option was given; when not, the crawl may skip every check.
  bool Limited() const { return Filters() || maxPages > 0; }
  // -noparent, -accept or -reject was given: Allows can refuse a URL.
  bool Filters() const { return noParent || !accept.empty() || !reject.empty(); }

  // The crawl may request url. The Url and text forms are normalised first.
  bool Allows(const WebUrl& url) const;
  bool Allows(const Url& url) const;
  bool Allows(const CStr& text) const;
  // The -accept and -reject patterns whose searches ended in an error (out
  // of memory) and were not told before, each as its text and the error's
  // message: a search that fails counts as no match, and the crawl reports
  // each such pattern once.
  std::vector<std::pair<CStr, CStr>> NewPatternFailures() const;

  // Asked before each page request: true while fewer than maxPages were
  // taken (and counts this one), always true without a limit.
  bool TakePage();
  // Page requests taken so far (none without a limit).
  long PagesTaken() const { return taken.load(std::memory_order_relaxed); }
  // A resumed crawl (-state) goes on from the page requests its state kept.
  void Resume(long pagesTaken) { taken.store(pagesTaken, std::memory_order_relaxed); }
  // A TakePage was refused: the limit cut the crawl short. The crawl prints
  // LimitMessage() once when it holds.
  bool LimitMet() const { return refused.load(std::memory_order_relaxed); }
  // "Page limit N reached", without a newline.
  CStr LimitMessage() const;

 private:
  // url's scheme, host and port are the start's and its path is at or below
  // the start's directory.
  bool InsideStartDir(const WebUrl& url) const;
  bool PatternsAllow(const std::string& text) const;
  static bool AnyMatches(std::vector<Regexp>& patterns, const char* text);

  const bool noParent;
  bool startKnown = false;  // the start was read; the fields below hold it
  bool startSecure = false;
  std::string startHost;
  int startPort = 0;
  std::string startDir;  // begins and ends with '/'

  // Regexp::Match records its submatches, so matching writes to them.
  mutable std::mutex patternLock;
  mutable std::vector<Regexp> accept;  // guarded by patternLock
  mutable std::vector<Regexp> reject;  // guarded by patternLock
  const std::vector<CStr> patternTexts;   // accept's, then reject's
  mutable std::vector<bool> failureTold;  // by pattern text; guarded by patternLock

  const long maxPages;
  std::atomic<long> taken{0};
  std::atomic<bool> refused{false};
};

#endif  // FERRET_APP_CRAWLSCOPE_H_
