#include "app/CrawlScope.h"

#include <string>
#include <string_view>

namespace {

// Patterns compile as every other pattern of a run does: letters in either
// case.
constexpr int kFoldCase = 1;

std::vector<Regexp> Compiled(const std::vector<CStr>& patterns) {
  std::vector<Regexp> compiled;
  compiled.reserve(patterns.size());
  for (const CStr& pattern : patterns) compiled.emplace_back(pattern, kFoldCase);
  return compiled;
}

std::vector<CStr> Joined(const std::vector<CStr>& first, const std::vector<CStr>& second) {
  std::vector<CStr> joined(first);
  joined.insert(joined.end(), second.begin(), second.end());
  return joined;
}

// url's normalised form as the Url whose parts the crawl requests; false
// for what cannot be requested.
bool PartsOf(const WebUrl& url, Url* parts) {
  UrlProblem problem;
  return url.ToUrl(parts, &problem);
}

// The path up to and including its last '/'.
std::string DirOf(const CStr& path) {
  std::string_view whole(path, path.Length());
  return std::string(whole.substr(0, whole.rfind('/') + 1));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

CrawlScope::CrawlScope(const Url& start, const ScopeOptions& options)
    : noParent(options.noParent),
      accept(Compiled(options.accept)),
      reject(Compiled(options.reject)),
      patternTexts(Joined(options.accept, options.reject)),
      failureTold(patternTexts.size(), false),
      maxPages(options.maxPages) {
  WebUrl normalised;
  UrlProblem problem;
  Url parts;
  if (!normalised.Parse(start.Text(), &problem) || !PartsOf(normalised, &parts)) return;
  startKnown = true;
  startSecure = parts.Secure();
  startHost = std::string(parts.HostView());
  startPort = parts.Port();
  startDir = DirOf(parts.Path());
}

bool CrawlScope::CompilesAll(const std::vector<CStr>& patterns, CStr* badPattern, CStr* message) {
  for (const CStr& pattern : patterns) {
    Regexp compiled(pattern, kFoldCase);
    if (compiled.CompiledOK()) continue;
    *badPattern = pattern;
    *message = compiled.GetErrorString();
    return false;
  }
  return true;
}

bool CrawlScope::Allows(const WebUrl& url) const {
  if (url.Text().empty()) return false;
  if (noParent && !InsideStartDir(url)) return false;
  return PatternsAllow(url.Text());
}

bool CrawlScope::Allows(const Url& url) const { return Allows(url.Text()); }

bool CrawlScope::Allows(const CStr& text) const {
  WebUrl normalised;
  UrlProblem problem;
  return normalised.Parse(text, &problem) && Allows(normalised);
}

bool CrawlScope::InsideStartDir(const WebUrl& url) const {
  Url parts;
  if (!startKnown || !PartsOf(url, &parts)) return false;
  if (parts.Secure() != startSecure || parts.Port() != startPort) return false;
  if (parts.HostView() != startHost) return false;
  const CStr path = parts.Path();
  std::string_view view(path, path.Length());
  if (StartsWith(view, startDir)) return true;
  // The directory named without its slash.
  return startDir.size() > 1 && view.size() + 1 == startDir.size() && StartsWith(startDir, view);
}

bool CrawlScope::PatternsAllow(const std::string& text) const {
  if (accept.empty() && reject.empty()) return true;
  std::lock_guard<std::mutex> hold(patternLock);
  if (!accept.empty() && !AnyMatches(accept, text.c_str())) return false;
  return !AnyMatches(reject, text.c_str());
}

std::vector<std::pair<CStr, CStr>> CrawlScope::NewPatternFailures() const {
  std::vector<std::pair<CStr, CStr>> failures;
  std::lock_guard<std::mutex> hold(patternLock);
  for (size_t i = 0; i < patternTexts.size(); ++i) {
    const Regexp& pattern = i < accept.size() ? accept[i] : reject[i - accept.size()];
    if (failureTold[i] || pattern.SearchFailure().IsEmpty()) continue;
    failureTold[i] = true;
    failures.emplace_back(patternTexts[i], pattern.SearchFailure());
  }
  return failures;
}

bool CrawlScope::AnyMatches(std::vector<Regexp>& patterns, const char* text) {
  for (Regexp& pattern : patterns) {
    if (pattern.Match(text)) return true;
  }
  return false;
}

bool CrawlScope::TakePage() {
  if (maxPages <= 0) return true;
  long before = taken.load(std::memory_order_relaxed);
  while (before < maxPages) {
    if (taken.compare_exchange_weak(before, before + 1, std::memory_order_relaxed)) return true;
  }
  refused.store(true, std::memory_order_relaxed);
  return false;
}

CStr CrawlScope::LimitMessage() const {
  // CStr's formatting takes every integer as an int; a long is written here.
  return CStr(("Page limit " + std::to_string(maxPages) + " reached").c_str());
}
