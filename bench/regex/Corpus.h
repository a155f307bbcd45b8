// Input for the regex benchmark: lines of HTML as the crawler reads them
// from a page, either generated from a seed or taken from the HTML
// documentation installed on the machine, and URLs as the crawler splits
// them, generated. Every engine sees the same text.
#ifndef FERRET_BENCH_REGEX_CORPUS_H_
#define FERRET_BENCH_REGEX_CORPUS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The crawler reads a page line by line with a limit of 1023: at most 1022
// characters a read, the LF consumed; a longer line comes in pieces.
constexpr size_t kMaxLineLength = 1022;

class Corpus {
 public:
  // Pages of HTML, about `bytes` characters in all, cut into lines the way
  // the crawler reads them.
  static Corpus Generate(uint64_t seed, size_t bytes);
  // About `bytes` characters of the *.html and *.htm files below root
  // (/usr/share/doc: one folder per Debian package), taken file by file in
  // name order, one package after another in turn so that every package
  // contributes. *used gets each package folder with the bytes taken from it.
  // Empty when root holds no HTML.
  static Corpus FromDocs(const std::string& root, size_t bytes,
                         std::vector<std::pair<std::string, size_t>>* used);

  size_t LineCount() const { return offsets_.size(); }
  const char* Line(size_t i) const { return text_.data() + offsets_[i]; }
  size_t LineLength(size_t i) const { return lengths_[i]; }
  // Characters in all lines, the line ends not counted.
  size_t Bytes() const { return bytes_; }

 private:
  void AddPage(const std::string& page);

  std::string text_;  // every line followed by its NUL
  std::vector<size_t> offsets_;
  std::vector<size_t> lengths_;
  size_t bytes_ = 0;
};

// URLs as the crawler hands them to the URL pattern: the "http://" form and
// the scheme-less host:port/path form, with a "/" appended where the
// splitter appends one (no "/" at all, "/" only at the start, or a last "/"
// right after another "/").
std::vector<std::string> GenerateUrls(uint64_t seed, size_t count);

// The splitter's "/" rule on one URL, exposed for the self-check.
std::string WithSplitSlash(std::string url);

#endif  // FERRET_BENCH_REGEX_CORPUS_H_
