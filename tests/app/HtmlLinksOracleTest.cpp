// The links HtmlLinks finds, and the text lines HtmlText gives, equal those
// an independent HTML5 parser finds (html5lib, through tests/html/
// oracle_links.py and oracle_text.py), page by page, on the generated corpus
// (every case of the reading) and the bundled sample site.
// Compared as multisets of "kind element attribute url": the order within
// one element (attribute order) and html5lib's tree order (content moved out
// of tables) may differ from the page's token order.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/HtmlText.h"
#include "tests/app/HtmlLinksFound.h"
#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"

namespace {

const std::string kSource = FERRET_SOURCE_DIR;

// Pages whose difference is known and accepted, with why.
const std::map<std::string, std::string> kAllowed = {
    // The first <base> serves the links before it too in a browser; a
    // streaming reader cannot know of it yet (a base belongs in the head).
    {"base-late.html", "base after links"},
};

// The .html files under dir, at any depth, as paths below it, sorted.
std::vector<std::string> HtmlFiles(const std::string& dir, const std::string& below = "") {
  std::vector<std::string> files;
  if (DIR* d = opendir((dir + "/" + below).c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::string path = below.empty() ? name : below + "/" + name;
      if (e->d_type == DT_DIR) {
        std::vector<std::string> inner = HtmlFiles(dir, path);
        files.insert(files.end(), inner.begin(), inner.end());
      } else if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0) {
        files.push_back(path);
      }
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The trees compared: the generated corpus, the sample site, and Debian's
// reference manual (real DocBook pages, in the test packages) when present.
std::vector<std::string> PageTrees() {
  std::vector<std::string> trees = {kSource + "/tests/html/corpus", kSource + "/examples/site"};
  if (access("/usr/share/debian-reference", R_OK) == 0) {
    trees.push_back("/usr/share/debian-reference");
  }
  return trees;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> FerretLinks(const std::string& path, bool asTheCrawlReads) {
  bool cut = false;
  std::vector<std::string> lines;
  for (const HtmlLink& link : LinksFound(ReadFile(path), 1000000, &cut, asTheCrawlReads)) {
    if (!link.resolved) continue;  // the oracle leaves out what does not parse
    lines.push_back(std::string(link.kind == HtmlLink::Kind::kPage ? "page" : "file") + "\t" +
                    link.element + "\t" + link.attribute + "\t" + link.url);
  }
  return Sorted(lines);
}

// The links as the crawl reads them, which must be those of the full
// tokenization.
std::vector<std::string> FerretLinks(const std::string& path) {
  std::vector<std::string> crawl = FerretLinks(path, true);
  EXPECT_EQ(crawl, FerretLinks(path, false)) << path << ": the crawl's reading differs";
  return crawl;
}

std::vector<std::string> OracleLinks(const std::string& path) {
  ProcessResult r = RunProcess(
      {"/usr/bin/python3", kSource + "/tests/html/oracle_links.py", path, kLinksPage}, "", 120);
  EXPECT_EQ(r.exitCode, 0) << path << ": " << r.err;
  return Sorted(Lines(r.out));
}

using Reading = std::vector<std::string> (*)(const std::string& path);

// Ferret's reading of every page of PageTrees() equals the oracle's, but on
// the pages allowed to differ, which must differ.
void ExpectEveryPageAgrees(Reading ours, Reading oracle,
                           const std::map<std::string, std::string>& allowed) {
  size_t pages = 0;
  for (const std::string& dir : PageTrees()) {
    for (const std::string& name : HtmlFiles(dir)) {
      const std::string path = dir + "/" + name;
      std::vector<std::string> got = ours(path), want = oracle(path);
      ++pages;
      if (allowed.count(name) != 0) {
        EXPECT_NE(got, want) << path << ": allowed to differ, but agrees: drop it from the list";
        continue;
      }
      EXPECT_EQ(got, want) << path;
    }
  }
  EXPECT_GE(pages, 15u);
}

TEST(HtmlLinksOracle, TheLinksAnHtml5ParserFinds) {
  ExpectEveryPageAgrees(FerretLinks, OracleLinks, kAllowed);
}

// Pages whose text is known to differ, with why.
const std::map<std::string, std::string> kTextAllowed = {};

// Lines as HtmlText hands them over.
class LinesKept : public TextLines {
 public:
  void Append(const char* data, size_t length) override { line.append(data, length); }
  void EndLine() override {
    lines.push_back(line);
    line.clear();
  }
  std::vector<std::string> lines;

 private:
  std::string line;
};

// The page's text lines, the page fed in pieces of 7 bytes (the sink sees
// text in pieces, as from a network).
std::vector<std::string> FerretText(const std::string& path) {
  LinesKept kept;
  HtmlText text(&kept);
  HtmlTokenizer tokenizer(&text);
  const std::string html = ReadFile(path);
  for (size_t at = 0; at < html.size(); at += 7) {
    tokenizer.Feed(html.data() + at, std::min<size_t>(7, html.size() - at));
  }
  tokenizer.Finish();
  text.Finish();
  return kept.lines;
}

std::vector<std::string> OracleText(const std::string& path) {
  ProcessResult r =
      RunProcess({"/usr/bin/python3", kSource + "/tests/html/oracle_text.py", path}, "", 120);
  EXPECT_EQ(r.exitCode, 0) << path << ": " << r.err;
  return Lines(r.out);
}

TEST(HtmlTextOracle, TheTextAnHtml5ParserGives) {
  ExpectEveryPageAgrees(FerretText, OracleText, kTextAllowed);
}

}  // namespace
