#include "app/StartList.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

constexpr const char* kBlanks = " \t\r";

// The next word of line at or after *at, blanks skipped; *at moves past it.
std::string NextWord(const std::string& line, size_t* at) {
  size_t begin = line.find_first_not_of(kBlanks, *at);
  if (begin == std::string::npos) {
    *at = line.size();
    return "";
  }
  size_t end = line.find_first_of(kBlanks, begin);
  if (end == std::string::npos) end = line.size();
  *at = end;
  return line.substr(begin, end - begin);
}

// A depth from 0 to INT_MAX, in decimal and nothing else; -1 otherwise.
int ReadDepthWord(const std::string& word) {
  if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos) return -1;
  errno = 0;
  long value = std::strtol(word.c_str(), nullptr, 10);
  return errno != 0 || value > INT_MAX ? -1 : static_cast<int>(value);
}

}  // namespace

void ReadStartLine(const std::string& line, StartLine* start) {
  start->url.clear();
  start->depth = -1;
  start->problem.clear();
  size_t at = 0;
  std::string url = NextWord(line, &at);
  if (url.empty() || url[0] == '#') return;
  start->url = url;
  std::string depth = NextWord(line, &at);
  if (depth.empty()) return;
  start->depth = depth == "-" ? kMetBefore : ReadDepthWord(depth);
  if (start->depth == -1) {
    start->problem = "the depth '" + depth + "' is no whole number from 0";
  } else if (!NextWord(line, &at).empty()) {
    start->problem = "more than a URL and a depth";
  }
}

StartList::StartList(const std::string& path)
    : in(path == "-" ? stdin : std::fopen(path.c_str(), "re")), owned(path != "-") {}

StartList::~StartList() {
  if (owned && in != nullptr) std::fclose(in);
}

bool StartList::Next(StartLine* start) {
  std::string line;
  int c;
  while ((c = std::getc(in)) != EOF) {
    if (c != '\n') {
      // A line longer than any URL the crawl takes is bad whatever it holds;
      // only its beginning is kept, so that it costs no more.
      if (line.size() <= 70000) line += static_cast<char>(c);
      continue;
    }
    start->number = ++number;
    ReadStartLine(line, start);
    if (!start->url.empty()) return true;
    line.clear();
  }
  if (line.empty()) return false;
  start->number = ++number;
  ReadStartLine(line, start);
  return !start->url.empty();
}
