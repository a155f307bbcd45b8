#include "text/HtmlEntities.h"

#include <algorithm>
#include <iterator>

namespace {

const HtmlEntity kEntities[] = {
#include "text/HtmlEntities.inc"
};
constexpr size_t kEntityCount = std::size(kEntities);

// What 0x80-0x9F stand for in windows-1252; 0 where it has no character
// (the value is then kept as it is).
const uint16_t kWindows1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

void HtmlEntityMatcher::Reset() {
  lo_ = 0;
  hi_ = kEntityCount;
  length_ = 0;
  match_ = nullptr;
}

bool HtmlEntityMatcher::Add(char c) {
  // Within [lo_, hi_) every name shares the first length_ characters, so the
  // rows are ordered by the character at length_ (a name that ends there
  // counts as lower than any character and comes first).
  const size_t at = length_;
  auto key = [at](const HtmlEntity& e) {
    return e.nameLength > at ? static_cast<int>(static_cast<unsigned char>(e.name[at])) : -1;
  };
  const int wanted = static_cast<unsigned char>(c);
  const HtmlEntity* first = std::lower_bound(
      kEntities + lo_, kEntities + hi_, wanted,
      [&key](const HtmlEntity& e, int value) { return key(e) < value; });
  const HtmlEntity* last = std::upper_bound(
      first, kEntities + hi_, wanted,
      [&key](int value, const HtmlEntity& e) { return value < key(e); });
  if (first == last) return false;
  lo_ = static_cast<size_t>(first - kEntities);
  hi_ = static_cast<size_t>(last - kEntities);
  ++length_;
  if (first->nameLength == length_) match_ = first;
  return true;
}

size_t EncodeUtf8(uint32_t cp, char out[4]) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

size_t EncodeNumericReference(uint32_t value, char out[4]) {
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    value = 0xFFFD;
  } else if (value >= 0x80 && value <= 0x9F && kWindows1252[value - 0x80] != 0) {
    value = kWindows1252[value - 0x80];
  }
  return EncodeUtf8(value, out);
}
