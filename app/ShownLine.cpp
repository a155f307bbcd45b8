#include "app/ShownLine.h"

#include <utility>

namespace {

bool IsContinuation(char byte) {
  auto value = static_cast<unsigned char>(byte);
  return value >= 0x80 && value <= 0xBF;
}

}  // namespace

void ShownLines::Keep(const char* text, size_t length, size_t column, size_t start, size_t matched,
                      bool more) {
  lineKept = true;
  size_t from = 0;
  size_t to = length;
  if (length > kShowWidth) {
    from = start > kShowBefore ? start - kShowBefore : 0;
    to = from + kShowWidth < length ? from + kShowWidth : length;
    from = to - kShowWidth;
    // A UTF-8 sequence is at most 4 bytes: 3 steps reach its lead byte, or
    // show the bytes are no character. The match is never cut off its start.
    for (int step = 0; step < 3 && from > 0 && from < start && IsContinuation(text[from]); ++step) {
      ++from;
    }
    for (int step = 0; step < 3 && to < length && to > start && IsContinuation(text[to]); ++step) {
      --to;
    }
  }
  ShownLine line;
  line.number = number;
  line.text.assign(text + from, to - from);
  line.column = column + from;
  line.matchStart = start - from;
  line.matchLength = start + matched < to ? matched : to - start;
  line.cutBefore = line.column > 0;
  line.cutAfter = more || to < length;
  kept.push_back(std::move(line));
}

std::vector<ShownLine> ShownLines::Take() {
  number = 1;
  lineKept = false;
  std::vector<ShownLine> lines;
  lines.swap(kept);
  return lines;
}
