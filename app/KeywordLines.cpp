#include "app/KeywordLines.h"

#include <cstring>
#include <utility>

void KeywordLines::Feed(const char* data, size_t length) {
  while (length > 0 && !Done()) {
    const void* end = std::memchr(data, '\n', length);
    if (end == nullptr) {
      Append(data, length);
      return;
    }
    size_t piece = static_cast<size_t>(static_cast<const char*>(end) - data);
    Append(data, piece);
    if (!window.empty() && window.back() == '\r') window.pop_back();
    EndLine();
    data += piece + 1;
    length -= piece + 1;
  }
}

void KeywordLines::Append(const char* data, size_t length) {
  while (length > 0 && Testing()) {
    size_t room = kMaxWholeLine - window.size();
    size_t taken = length < room ? length : room;
    // Grown by doubling, but never past the bound.
    if (window.size() + taken > window.capacity()) {
      size_t wanted = 2 * window.capacity() > window.size() + taken ? 2 * window.capacity()
                                                                     : window.size() + taken;
      window.reserve(wanted < kMaxWholeLine ? wanted : kMaxWholeLine);
    }
    window.append(data, taken);
    data += taken;
    length -= taken;
    if (window.size() == kMaxWholeLine) Test(false);
  }
}

void KeywordLines::EndLine() {
  if (Testing() && !window.empty()) Test(true);
  window.clear();
  windowColumn = 0;
  shown.EndLine();
}

bool KeywordLines::Finish(std::vector<ShownLine>* lines) {
  EndLine();
  bool matched = found;
  found = false;
  std::vector<ShownLine> kept = shown.Take();
  if (lines != nullptr) *lines = std::move(kept);
  // A page of one huge line leaves no window of that size behind.
  if (window.capacity() > kWindowOverlap * 4) std::string().swap(window);
  return matched;
}

void KeywordLines::Test(bool lineEnds) {
  // A NUL inside the line ends what the pattern sees of it, as it ends a
  // C string: the text after it is tested on its own.
  size_t start = 0;
  bool matched = false;
  do {
    const char* text = window.c_str() + start;
    matched = keyword->Match(text);
    if (!matched) start += std::strlen(text) + 1;
  } while (!matched && start < window.size());
  if (matched) {
    found = true;
    if (shown.Wants()) {
      shown.Keep(window.data(), window.size(), windowColumn,
                 start + static_cast<size_t>(keyword->SubStart(0)),
                 static_cast<size_t>(keyword->SubLength(0)), !lineEnds);
    }
    return;
  }
  if (lineEnds) return;
  windowColumn += window.size() - kWindowOverlap;
  window.erase(0, window.size() - kWindowOverlap);
}
