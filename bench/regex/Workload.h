// The crawler's regular-expression workloads, written once for every engine.
//
// An engine is a pattern class P with
//   explicit P(const char* pattern)  compiles the pattern with letters folded
//   bool ok() const                  the pattern compiled
//   bool Search(const char* text, size_t length, Span* spans, unsigned wanted)
// Search finds the leftmost match in the NUL-terminated text of the given
// length; on a match it fills spans[i], as offsets from text, for each bit i
// set in wanted (0 the whole match, 1..9 the groups). Every engine is asked
// for exactly the spans the crawler reads, so they all do the same work.
#ifndef FERRET_BENCH_REGEX_WORKLOAD_H_
#define FERRET_BENCH_REGEX_WORKLOAD_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Corpus.h"

struct Span {
  int start;
  int length;
};

// The spans each search reads: the whole match of the keyword and file
// patterns, the link of the link patterns, and host, port, dir and file of
// the URL pattern (the scheme group takes part only in some matches, and
// what a group that took no part reports is each engine's own business).
constexpr unsigned kWholeMatch = 1u << 0;
constexpr unsigned kLinkGroup = 1u << 0 | 1u << 1;
constexpr unsigned kUrlGroups = 1u << 0 | 1u << 2 | 1u << 3 | 1u << 4 | 1u << 5;
constexpr int kMaxSpans = 10;

// The highest span index in wanted, plus one.
inline int SpanCount(unsigned wanted) {
  int n = 0;
  while (wanted >> n) ++n;
  return n;
}

// The four patterns of one page scan. The link patterns hold real tab
// characters; there is no backslash in them.
constexpr const char* kKeywordPattern = "href";
constexpr const char* kFilePattern = ".";
constexpr const char* kAnchorPattern = "<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";
constexpr const char* kImagePattern = "<img[\t ]+src[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";
constexpr const char* kUrlPattern = "(http://)?([^:/]*):?([0-9]*)/?(.*)/(.*)";

// What a page scan found. Two engines that agree on every field found the
// same links in the same order.
struct PageCounts {
  uint64_t keywordLines = 0;  // lines the keyword pattern matched
  uint64_t fileLines = 0;     // lines the file pattern matched
  uint64_t anchors = 0;       // anchor links collected
  uint64_t images = 0;        // image links collected
  uint64_t linkHash = 0;      // every collected link, in order

  bool operator==(const PageCounts& o) const {
    return keywordLines == o.keywordLines && fileLines == o.fileLines && anchors == o.anchors &&
           images == o.images && linkHash == o.linkHash;
  }
  bool operator!=(const PageCounts& o) const { return !(*this == o); }
};

// What splitting a list of URLs found: the spans of the whole match and of
// the groups that take part in every match (host, port, dir, file).
struct UrlCounts {
  uint64_t matched = 0;
  uint64_t spanHash = 0;

  bool operator==(const UrlCounts& o) const {
    return matched == o.matched && spanHash == o.spanHash;
  }
  bool operator!=(const UrlCounts& o) const { return !(*this == o); }
};

inline uint64_t MixHash(uint64_t h, const void* data, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 1099511628211ull;  // FNV-1a
  }
  return h;
}

inline uint64_t MixHash(uint64_t h, int value) { return MixHash(h, &value, sizeof value); }

constexpr uint64_t kHashSeed = 14695981039346656037ull;

// The crawler's link loop over one line: search the link pattern from the
// scan position; take group 1 as the link; stop at the first link the file
// pattern does not match; otherwise keep it and search again from the
// character right after the link text. sink(link, length) gets each link.
template <class P, class Sink>
void CollectLinks(P& linkPattern, P& filePattern, const char* line, size_t length, Sink&& sink) {
  char link[kMaxLineLength + 1];
  Span spans[kMaxSpans];
  Span fileSpan[kMaxSpans];
  const char* pos = line;
  size_t rest = length;
  while (linkPattern.Search(pos, rest, spans, kLinkGroup)) {
    size_t n = static_cast<size_t>(spans[1].length);
    std::memcpy(link, pos + spans[1].start, n);
    link[n] = '\0';
    if (!filePattern.Search(link, n, fileSpan, kWholeMatch)) break;
    sink(link, n);
    size_t advance = static_cast<size_t>(spans[1].start) + n;
    pos += advance;
    rest -= advance;
  }
}

// The four patterns of a page, compiled once and searched on every line.
template <class P>
class PageScanner {
 public:
  template <class Make>
  explicit PageScanner(Make make)
      : keyword(make(kKeywordPattern)),
        file(make(kFilePattern)),
        anchor(make(kAnchorPattern)),
        image(make(kImagePattern)) {}

  bool ok() const { return keyword->ok() && file->ok() && anchor->ok() && image->ok(); }

  void ScanLine(const char* line, size_t length, PageCounts& counts) {
    Span spans[kMaxSpans];
    if (keyword->Search(line, length, spans, kWholeMatch)) ++counts.keywordLines;
    if (file->Search(line, length, spans, kWholeMatch)) ++counts.fileLines;
    uint64_t& hash = counts.linkHash;
    CollectLinks(*anchor, *file, line, length, [&](const char* link, size_t n) {
      ++counts.anchors;
      hash = MixHash(hash, link, n + 1);  // the NUL separates the links
    });
    CollectLinks(*image, *file, line, length, [&](const char* link, size_t n) {
      ++counts.images;
      hash = MixHash(hash, link, n + 1);
    });
  }

  // Anchor links, then image links, of one line, as the crawler collects them.
  std::vector<std::string> Links(const char* line) {
    std::vector<std::string> links;
    size_t length = std::strlen(line);
    auto keep = [&](const char* link, size_t n) { links.emplace_back(link, n); };
    CollectLinks(*anchor, *file, line, length, keep);
    CollectLinks(*image, *file, line, length, keep);
    return links;
  }

 private:
  std::unique_ptr<P> keyword, file, anchor, image;
};

inline void AddUrlSpans(UrlCounts& counts, const Span* spans) {
  ++counts.matched;
  for (int g : {0, 2, 3, 4, 5}) {
    counts.spanHash = MixHash(counts.spanHash, spans[g].start);
    counts.spanHash = MixHash(counts.spanHash, spans[g].length);
  }
}

// NUL-terminated texts searched one by one: the corpus lines, or links.
struct Texts {
  std::vector<const char*> text;
  std::vector<size_t> length;
  size_t bytes = 0;  // of all texts, their NULs not counted
  void Add(const char* t, size_t n) {
    text.push_back(t);
    length.push_back(n);
    bytes += n;
  }
};

// The patterns a user types, each searched alone (folded) on every text:
// the keyword of each line, the file pattern of each link.
struct TypedPattern {
  const char* name;     // the workload's name in the results
  const char* pattern;  // in the syntax every engine shares
  bool onLinks;         // searched on the page scan's links, else on lines
};
constexpr TypedPattern kTypedPatterns[] = {
    {"keywords-10", "download|license|install|release|version|manual|tutorial|source|binary|mirror",
     false},
    {"download|license", "download|license", false},
    {"colou?r", "colou?r", false},
    {"file-extensions", "\\.(pdf|zip|tar\\.gz)$", true},
};

// One engine's entry points, each compiling its own patterns. An engine that
// only counts matches (one without groups) has countMatches alone.
struct Engine {
  std::string name;
  // The page scan of every line of the corpus; false when a pattern did not
  // compile.
  std::function<bool(const Corpus&, PageCounts&)> pageScan;
  // The URL pattern compiled once and matched against every URL.
  std::function<bool(const std::vector<std::string>&, UrlCounts&)> urlSplit;
  // The URL pattern compiled afresh for every URL, as the crawler splits.
  std::function<bool(const std::vector<std::string>&, UrlCounts&)> urlSplitCompiling;
  // The links of one line, for the self-check.
  std::function<std::vector<std::string>(const char*)> links;
  // The page-scan counts of one line, to point at a disagreement.
  std::function<PageCounts(const char*)> scanOneLine;
  // The URL pattern on one URL: the kUrlGroups spans, false when it did not
  // match.
  std::function<bool(const char*, Span*)> splitOne;
  // The texts pattern matches; false when it did not compile.
  std::function<bool(const char* pattern, const Texts&, uint64_t&)> countMatches;
};

template <class P, class Make>
Engine MakeEngine(std::string name, Make make) {
  Engine e;
  e.name = std::move(name);
  e.pageScan = [make](const Corpus& corpus, PageCounts& counts) {
    PageScanner<P> scanner(make);
    if (!scanner.ok()) return false;
    counts = PageCounts();
    counts.linkHash = kHashSeed;
    for (size_t i = 0; i < corpus.LineCount(); ++i) {
      scanner.ScanLine(corpus.Line(i), corpus.LineLength(i), counts);
    }
    return true;
  };
  e.urlSplit = [make](const std::vector<std::string>& urls, UrlCounts& counts) {
    std::unique_ptr<P> pattern = make(kUrlPattern);
    if (!pattern->ok()) return false;
    counts = UrlCounts();
    counts.spanHash = kHashSeed;
    Span spans[kMaxSpans];
    for (const std::string& url : urls) {
      if (pattern->Search(url.c_str(), url.size(), spans, kUrlGroups)) AddUrlSpans(counts, spans);
    }
    return true;
  };
  e.urlSplitCompiling = [make](const std::vector<std::string>& urls, UrlCounts& counts) {
    counts = UrlCounts();
    counts.spanHash = kHashSeed;
    Span spans[kMaxSpans];
    for (const std::string& url : urls) {
      std::unique_ptr<P> pattern = make(kUrlPattern);
      if (!pattern->ok()) return false;
      if (pattern->Search(url.c_str(), url.size(), spans, kUrlGroups)) AddUrlSpans(counts, spans);
    }
    return true;
  };
  e.links = [make](const char* line) {
    PageScanner<P> scanner(make);
    return scanner.Links(line);
  };
  e.scanOneLine = [make](const char* line) {
    PageScanner<P> scanner(make);
    PageCounts counts;
    counts.linkHash = kHashSeed;
    scanner.ScanLine(line, std::strlen(line), counts);
    return counts;
  };
  e.countMatches = [make](const char* pattern, const Texts& texts, uint64_t& count) {
    std::unique_ptr<P> p = make(pattern);
    if (!p->ok()) return false;
    count = 0;
    Span spans[kMaxSpans];
    for (size_t i = 0; i < texts.text.size(); ++i)
      count += p->Search(texts.text[i], texts.length[i], spans, kWholeMatch);
    return true;
  };
  e.splitOne = [make](const char* url, Span* spans) {
    std::unique_ptr<P> pattern = make(kUrlPattern);
    return pattern->ok() && pattern->Search(url, std::strlen(url), spans, kUrlGroups);
  };
  return e;
}

// Engine registration, one function per source file.
void AddFerretEngine(std::vector<Engine>& engines);
void AddPosixEngine(std::vector<Engine>& engines);
void AddStdRegexEngine(std::vector<Engine>& engines);
// Adds nothing, with a note on standard error, when PCRE2 was not found.
void AddPcre2Engines(std::vector<Engine>& engines);
// Hyperscan counts matches only; adds nothing, with a note on standard
// error, when it was not found or this processor cannot run it.
void AddHyperscanEngine(std::vector<Engine>& engines);

#endif  // FERRET_BENCH_REGEX_WORKLOAD_H_
