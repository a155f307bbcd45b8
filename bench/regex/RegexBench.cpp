// Throughput of the crawler's regular-expression engine on the crawler's own
// workloads, against glibc regexec, std::regex and PCRE2:
//
//   page-scan          four folded patterns (keyword, file, anchor, image)
//                      searched on every line of generated HTML, with the
//                      crawler's link loop for anchors and images; the
//                      keyword is searched on every line too, where the
//                      crawler stops once a line has matched it
//   url-split          the URL pattern, compiled once, over generated URLs
//   url-split+compile  the same, compiled afresh for each URL as the URL
//                      splitter does
//
// Before anything is timed every engine must pass a small table of known
// answers and agree with the first engine on what it found; a disagreement
// is a fault of the benchmark (or of an engine) and ends the run with status 1.
//
// Usage: ferret_regex_bench [--mb N] [--urls N] [--compile-urls N] [--seed N]
//                           [--reps N] [--budget SECONDS] [--only ENGINE]
//                           [--check]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Corpus.h"
#include "Workload.h"

namespace {

struct Options {
  double megabytes = 4;
  size_t urls = 100000;
  size_t compileUrls = 5000;
  uint64_t seed = 1;
  int reps = 5;
  double budget = 3;  // seconds one engine may spend on one workload
  bool checkOnly = false;
  std::string only;  // measure this engine alone (for profiling)
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--check") {
      o.checkOnly = true;
    } else if (a == "--mb" && (v = value())) {
      o.megabytes = std::atof(v);
    } else if (a == "--urls" && (v = value())) {
      o.urls = std::strtoull(v, nullptr, 10);
    } else if (a == "--compile-urls" && (v = value())) {
      o.compileUrls = std::strtoull(v, nullptr, 10);
    } else if (a == "--seed" && (v = value())) {
      o.seed = std::strtoull(v, nullptr, 10);
    } else if (a == "--reps" && (v = value())) {
      o.reps = std::max(1, std::atoi(v));
    } else if (a == "--budget" && (v = value())) {
      o.budget = std::atof(v);
    } else if (a == "--only" && (v = value())) {
      o.only = v;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--mb N] [--urls N] [--compile-urls N] [--seed N] "
                   "[--reps N] [--budget SECONDS] [--only ENGINE] [--check]\n",
                   argv[0]);
      return false;
    }
  }
  return true;
}

// ---- known answers -------------------------------------------------------

struct LinkCase {
  const char* line;
  std::vector<std::string> links;  // anchors left to right, then images
};

const LinkCase kLinkCases[] = {
    {"<a href=\"a.html\">A</a> and <a href=\"b.html\">B</a>", {"a.html", "b.html"}},
    // an empty link ends the anchor search of its line; images still count
    {"<a href=\"\">x</a> <a href=\"c.html\">c</a><img src=\"d.gif\">", {"d.gif"}},
    {"<a class=\"x\" href=\"d.html\">d</a>", {}},
    {"<A HREF=e.html>E</A>", {"e.html"}},
    {"<a href=y title=z>", {"y title=z"}},
    {"<a href=\"f.html\">no closing bracket after this", {"f.html"}},
    {"<a href=\"f.html\" no closing bracket", {}},
    {"<img src=\"p.gif\"> <IMG\tSRC = 'q.png'>", {"p.gif", "'q.png'"}},
    {"<a\thref\t=\t\"g.html\">", {"g.html"}},
    {"<img alt=\"x\" src=\"h.gif\">", {}},
    {"<a href=\"i.html\"><img src=\"j.gif\"></a> <a href=\"k.html\">",
     {"i.html", "k.html", "j.gif"}},
    {"caf\xc3\xa9 <a href=\"na\xc3\xafve.html\">\r", {"na\xc3\xafve.html"}},
    {"no tags at all", {}},
};

struct UrlCase {
  const char* url;  // as the splitter matches it, its "/" already appended
  const char* host;
  const char* port;
  const char* dir;
  const char* file;
};

const UrlCase kUrlCases[] = {
    {"http://host/", "host", "", "", ""},
    {"host/", "host", "", "", ""},
    {"http://host/index.html", "host", "", "", "index.html"},
    {"http://host/docs", "host", "", "", "docs"},
    {"http://host/docs/", "host", "", "docs", ""},
    {"http://host:81/docs/guide/a.html", "host", "81", "docs/guide", "a.html"},
    {"host:80/docs/a.html", "host", "80", "docs", "a.html"},
    {"HTTP://HOST/x", "HOST", "", "", "x"},
    {"http://host:/x", "host", "", "", "x"},
    {"host:0/", "host", "0", "", ""},
    {"https://host/x", "https", "", "/host", "x"},
    {"/", "", "", "", ""},
};

// Control characters shown as \t, \r or \xNN.
std::string Visible(const std::string& text) {
  std::string s;
  for (unsigned char c : text) {
    char buf[8];
    if (c == '\t') {
      s += "\\t";
    } else if (c == '\r') {
      s += "\\r";
    } else if (c < 32 || c == 127) {
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      s += buf;
    } else {
      s += static_cast<char>(c);
    }
  }
  return s;
}

std::string Quote(const std::vector<std::string>& v) {
  std::string s = "{";
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", \"" : "\"") + Visible(v[i]) + "\"";
  return s + "}";
}

bool SelfCheck(const std::vector<Engine>& engines) {
  bool ok = WithSplitSlash("http://host") == "http://host/" && WithSplitSlash("host") == "host/" &&
            WithSplitSlash("") == "/" && WithSplitSlash("/x") == "/x/" &&
            WithSplitSlash("http://host/a") == "http://host/a";
  if (!ok) std::printf("self-check: the URL generator's \"/\" rule is wrong\n");
  for (const Engine& e : engines) {
    for (const LinkCase& c : kLinkCases) {
      std::vector<std::string> got = e.links(c.line);
      if (got != c.links) {
        std::printf("self-check: %s on '%s': links %s, expected %s\n", e.name.c_str(),
                    Visible(c.line).c_str(), Quote(got).c_str(), Quote(c.links).c_str());
        ok = false;
      }
    }
    for (const UrlCase& c : kUrlCases) {
      Span s[kMaxSpans];
      if (!e.splitOne(c.url, s)) {
        std::printf("self-check: %s does not split '%s'\n", e.name.c_str(), c.url);
        ok = false;
        continue;
      }
      auto group = [&](int g) { return std::string(c.url + s[g].start, s[g].length); };
      if (s[0].start != 0 || group(2) != c.host || group(3) != c.port || group(4) != c.dir ||
          group(5) != c.file) {
        std::printf(
            "self-check: %s splits '%s' at %d into host '%s' port '%s' dir '%s' "
            "file '%s', expected '%s' '%s' '%s' '%s'\n",
            e.name.c_str(), c.url, s[0].start, group(2).c_str(), group(3).c_str(), group(4).c_str(),
            group(5).c_str(), c.host, c.port, c.dir, c.file);
        ok = false;
      }
    }
  }
  return ok;
}

// ---- timing --------------------------------------------------------------

using Clock = std::chrono::steady_clock;

struct Result {
  std::string engine;
  double perSecond = 0;  // items (lines or URLs) per second, best repetition
  double medianPerSecond = 0;
  int reps = 0;
};

// Times one workload on every engine. The repetitions go round the engines
// (first repetition of each, then the second, ...) so that a change in the
// load of the machine falls on all of them alike. An engine does at least
// one and at most reps repetitions, and stops early once it has spent its
// budget. run(engine) does one repetition.
template <class Run>
std::vector<Result> TimeAll(const Options& o, const std::vector<Engine>& engines, size_t items,
                            Run run) {
  std::vector<std::vector<double>> runs(engines.size());
  std::vector<double> spent(engines.size(), 0);
  for (int rep = 0; rep < o.reps; ++rep) {
    for (size_t i = 0; i < engines.size(); ++i) {
      if (rep > 0 && spent[i] >= o.budget) continue;
      Clock::time_point start = Clock::now();
      run(engines[i]);
      double s = std::chrono::duration<double>(Clock::now() - start).count();
      runs[i].push_back(s);
      spent[i] += s;
    }
  }
  std::vector<Result> results;
  for (size_t i = 0; i < engines.size(); ++i) {
    std::vector<double>& r = runs[i];
    std::sort(r.begin(), r.end());
    results.push_back(
        {engines[i].name, items / r.front(), items / r[r.size() / 2], static_cast<int>(r.size())});
  }
  return results;
}

void PrintResults(const char* workload, const char* unit, size_t items, double megabytes,
                  const std::vector<Result>& results) {
  for (const Result& r : results) {
    std::printf("%-18s %-13s %12.0f %s/s  median %12.0f", workload, r.engine.c_str(), r.perSecond,
                unit, r.medianPerSecond);
    if (megabytes > 0) std::printf("  %7.1f MB/s", megabytes * r.perSecond / items);
    std::printf("  (best of %d)\n", r.reps);
  }
}

void PrintRatios(const char* workload, const std::vector<Result>& results) {
  if (results.empty()) return;
  const Result& ours = results.front();
  for (size_t i = 1; i < results.size(); ++i) {
    std::printf("%s: %s/%s = %.2fx\n", workload, ours.engine.c_str(), results[i].engine.c_str(),
                ours.perSecond / results[i].perSecond);
  }
}

// Points at the first line on which two engines' page scans differ.
void ShowFirstDifference(const Corpus& corpus, const Engine& a, const Engine& b) {
  for (size_t i = 0; i < corpus.LineCount(); ++i) {
    PageCounts x = a.scanOneLine(corpus.Line(i));
    PageCounts y = b.scanOneLine(corpus.Line(i));
    if (x != y) {
      std::printf("  first difference on line %zu: '%s'\n", i, Visible(corpus.Line(i)).c_str());
      std::printf("  %s: links %s\n", a.name.c_str(), Quote(a.links(corpus.Line(i))).c_str());
      std::printf("  %s: links %s\n", b.name.c_str(), Quote(b.links(corpus.Line(i))).c_str());
      return;
    }
  }
}

void ShowFirstUrlDifference(const std::vector<std::string>& urls, const Engine& a,
                            const Engine& b) {
  for (const std::string& url : urls) {
    Span x[kMaxSpans], y[kMaxSpans];
    bool mx = a.splitOne(url.c_str(), x), my = b.splitOne(url.c_str(), y);
    bool same = mx == my;
    for (int g : {0, 2, 3, 4, 5}) {
      if (mx && my && (x[g].start != y[g].start || x[g].length != y[g].length)) same = false;
    }
    if (!same) {
      std::printf("  first difference on URL '%s'\n", url.c_str());
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return 2;

  std::vector<Engine> engines;
  AddFerretEngine(engines);  // first: the one the others are compared with
  AddPosixEngine(engines);
  AddStdRegexEngine(engines);
  AddPcre2Engines(engines);
  if (!o.only.empty()) {
    engines.erase(std::remove_if(engines.begin(), engines.end(),
                                 [&](const Engine& e) { return e.name != o.only; }),
                  engines.end());
    if (engines.empty()) {
      std::fprintf(stderr, "no engine named %s\n", o.only.c_str());
      return 2;
    }
  }

  Corpus corpus = Corpus::Generate(o.seed, static_cast<size_t>(o.megabytes * 1048576));
  std::vector<std::string> urls = GenerateUrls(o.seed, o.urls);
  std::vector<std::string> compileUrls(urls.begin(),
                                       urls.begin() + std::min(o.compileUrls, urls.size()));
  const double corpusMb = corpus.Bytes() / 1048576.0;
  std::printf("corpus: %zu lines of HTML, %.2f MB, seed %llu; %zu URLs\n", corpus.LineCount(),
              corpusMb, static_cast<unsigned long long>(o.seed), urls.size());
  double load[1];
  if (getloadavg(load, 1) == 1) {
    std::printf(
        "load average %.2f on %ld cores: other work on the machine blurs the "
        "timings\n",
        load[0], sysconf(_SC_NPROCESSORS_ONLN));
  }

  if (!SelfCheck(engines)) {
    std::printf("self-check failed: nothing timed\n");
    return 1;
  }
  std::printf("self-check: %zu engines give the expected links and URL groups\n", engines.size());

  // Every engine once, untimed: the counts must agree before anything else.
  bool agree = true;
  PageCounts page0;
  UrlCounts url0, compile0;
  for (size_t i = 0; i < engines.size(); ++i) {
    const Engine& e = engines[i];
    PageCounts page;
    UrlCounts url, compile;
    if (!e.pageScan(corpus, page) || !e.urlSplit(urls, url) ||
        !e.urlSplitCompiling(compileUrls, compile)) {
      std::printf("%s: a pattern did not compile\n", e.name.c_str());
      return 1;
    }
    std::printf(
        "%-13s page-scan: %llu keyword lines, %llu file lines, %llu anchors, "
        "%llu images, hash %016llx; url-split: %llu matched, hash %016llx\n",
        e.name.c_str(), static_cast<unsigned long long>(page.keywordLines),
        static_cast<unsigned long long>(page.fileLines),
        static_cast<unsigned long long>(page.anchors), static_cast<unsigned long long>(page.images),
        static_cast<unsigned long long>(page.linkHash),
        static_cast<unsigned long long>(url.matched),
        static_cast<unsigned long long>(url.spanHash));
    if (i == 0) {
      page0 = page;
      url0 = url;
      compile0 = compile;
      continue;
    }
    if (page != page0) {
      std::printf("MISMATCH: %s and %s disagree on the page scan\n", engines[0].name.c_str(),
                  e.name.c_str());
      ShowFirstDifference(corpus, engines[0], e);
      agree = false;
    }
    if (url != url0 || compile != compile0) {
      std::printf("MISMATCH: %s and %s disagree on the URL split\n", engines[0].name.c_str(),
                  e.name.c_str());
      ShowFirstUrlDifference(urls, engines[0], e);
      agree = false;
    }
  }
  if (!agree) return 1;
  std::printf("all engines agree\n");
  if (o.checkOnly) return 0;

  // Every engine compiled its patterns and agreed above, so here the
  // results are not looked at again.
  PageCounts pc;
  UrlCounts uc;
  std::vector<Result> page =
      TimeAll(o, engines, corpus.LineCount(), [&](const Engine& e) { e.pageScan(corpus, pc); });
  std::vector<Result> split =
      TimeAll(o, engines, urls.size(), [&](const Engine& e) { e.urlSplit(urls, uc); });
  std::vector<Result> compile = TimeAll(o, engines, compileUrls.size(), [&](const Engine& e) {
    e.urlSplitCompiling(compileUrls, uc);
  });
  std::printf("\n");
  PrintResults("page-scan", "lines", corpus.LineCount(), corpusMb, page);
  PrintResults("url-split", "URLs", urls.size(), 0, split);
  PrintResults("url-split+compile", "URLs", compileUrls.size(), 0, compile);
  std::printf("\n");
  PrintRatios("page-scan", page);
  PrintRatios("url-split", split);
  PrintRatios("url-split+compile", compile);
  return 0;
}
