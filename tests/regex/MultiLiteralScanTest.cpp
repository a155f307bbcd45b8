// The multi-literal scan at every instruction level this processor runs,
// against a byte-by-byte reading of the same strings, over every text
// length up to a dozen 16-byte blocks, every alignment, and a string placed
// at every offset, cut by the end of the text or broken inside. With no more
// strings than buckets every level must give exactly the first fit: the
// byte tables confirm what the nibble tables admit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "regex/MultiLiteralScan.h"

namespace {

using Window = uint64_t[MultiLiteralScan::kWidthMax][4];

struct ScanCase {
  std::vector<std::string> strings;  // a capital letter stands for both cases
  int width;
  int back;
};

const ScanCase kCases[] = {
    {{"DOW", "LIC"}, 3, 0},
    {{"xy"}, 2, 0},
    {{".PD", ".ZI", ".TA"}, 3, 0},
    {{"A", "B", "<"}, 1, 0},
    {{"COL"}, 3, 2},
    {{"AB", "BC", "CD", "DE", "EF", "FG", "GH", "HI", "IJ", "JK"}, 2, 1},
};

void Add(uint64_t* set, unsigned char c) { set[c >> 6] |= uint64_t{1} << (c & 63); }

bool Fits(const std::string& s, const char* at) {
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i], t = at[i];
    if (t == '\0') return false;
    bool letter = c >= 'A' && c <= 'Z';
    if (!(t == c || (letter && t == c - 'A' + 'a'))) return false;
  }
  return true;
}

// The first start from `from` whose window (back bytes on) fits a string.
const char* Expected(const ScanCase& c, const char* from) {
  for (const char* at = from;; ++at) {
    for (const char* p = at; p < at + c.back; ++p)
      if (*p == '\0') return nullptr;
    for (const std::string& s : c.strings)
      if (Fits(s, at + c.back)) return at;
    if (at[c.back] == '\0') return nullptr;
  }
}

// With ten strings some share a bucket: the scan may then stop at a start
// that fits none, and must never stop after the first one that fits.
bool SharesBuckets(const ScanCase& c) { return c.strings.size() > MultiLiteralScan::kBuckets; }

TEST(MultiLiteralScan, EveryLevelFindsTheFirstFit) {
  alignas(64) char buffer[320];
  int checked = 0;
  for (int level = MultiLiteralScan::kPortable; level <= MultiLiteralScan::Widest(); ++level) {
    for (const ScanCase& c : kCases) {
      Window windows[16] = {};
      for (size_t j = 0; j < c.strings.size(); ++j)
        for (int i = 0; i < c.width; ++i) {
          char ch = c.strings[j][i];
          Add(windows[j][i], static_cast<unsigned char>(ch));
          if (ch >= 'A' && ch <= 'Z') Add(windows[j][i], static_cast<unsigned char>(ch + 32));
        }
      MultiLiteralScan scan;
      scan.Build(windows, static_cast<int>(c.strings.size()), c.width, c.back,
                 static_cast<MultiLiteralScan::Level>(level));
      for (const std::string& piece : c.strings) {
        std::string placed = "zz" + piece;             // the back bytes, then the window
        for (size_t i = 2; i < placed.size(); i += 2)  // in both cases
          if (placed[i] >= 'A' && placed[i] <= 'Z') placed[i] = static_cast<char>(placed[i] + 32);
        for (size_t length = 0; length <= 200; length += 1 + length / 24) {
          for (size_t at = 0; at <= length; ++at) {
            // Decoys that begin a string and break off, then the string.
            std::string text(length, ' ');
            for (size_t i = 0; i + 1 < length; i += 6) text.replace(i, 1, piece, 0, 1);
            text.replace(at, std::min(placed.size(), length - at), placed, 0, length - at);
            size_t shift = (at * 7 + length) % 64;
            std::memcpy(buffer + shift, text.c_str(), text.size() + 1);
            const char* subject = buffer + shift;
            for (size_t from = 0; from <= length; from += 1 + length / 5) {
              const char* want = Expected(c, subject + from);
              const char* got = scan.Find(subject + from);
              std::string where = "level " + std::to_string(level) + ", " + piece + ", from " +
                                  std::to_string(from) + " of '" + text + "'";
              if (SharesBuckets(c)) {
                ASSERT_TRUE(want == nullptr ? true : got != nullptr && got <= want) << where;
                ASSERT_TRUE(got == nullptr || got >= subject + from) << where;
              } else {
                ASSERT_EQ(want == nullptr ? -1 : want - subject,
                          got == nullptr ? -1 : got - subject)
                    << where;
              }
              ++checked;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 100000);
}

}  // namespace
