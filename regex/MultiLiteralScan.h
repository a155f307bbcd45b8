// MultiLiteralScan: the scan for the positions where a match may begin when
// its first characters are one of several short strings of byte sets (the
// alternatives of "download|license", a folded "[Dd][Oo]..." included).
//
// Each string is a window of the same width (1..kWidthMax) that stands back
// bytes after the start of every match; the scan finds the windows and
// gives their starts. It is a filter: a start it gives may fail to match,
// but every position where one of the windows fits is given, leftmost first.
//
// The strings are spread over kBuckets buckets. The vector scan looks up
// each byte's low and high nibble in a 16-entry table per window position
// and bucket (a bucket takes a byte when both nibbles are in it), so a
// window costs the same whatever its sets hold: a folded letter is as cheap
// as a plain one. The portable scan looks each byte up in a 256-entry table.
//
// A plain value: copies are independent and cost nothing to make.
#ifndef FERRET_REGEX_MULTILITERALSCAN_H_
#define FERRET_REGEX_MULTILITERALSCAN_H_

#include <cstdint>

class MultiLiteralScan {
 public:
  static constexpr int kWidthMax = 3;
  static constexpr int kBuckets = 8;
  // The instructions the scan is written in, narrowest first; kAvx2 runs
  // the SSSE3 scan in the VEX encoding.
  enum Level { kPortable, kSsse3, kAvx2 };
  static Level Widest();

  // windows[j][i]: the 256-bit set of window position i of string j, count
  // strings (1 or more), width positions each; the NUL must be in no set.
  void Build(const uint64_t (*windows)[kWidthMax][4], int count, int width, int back) {
    Build(windows, count, width, back, Widest());
  }
  void Build(const uint64_t (*windows)[kWidthMax][4], int count, int width, int back, Level level);
  // The first start from at on whose window fits, or nullptr when none does
  // before the NUL that ends the subject. at lies in the subject (or on its
  // NUL); a start is never before at.
  const char* Find(const char* at) const { return find(at, tables); }

  struct Tables {
    uint8_t low[kWidthMax][16];     // buckets that take a low nibble at position i
    uint8_t high[kWidthMax][16];    // buckets that take a high nibble at position i
    uint8_t bytes[kWidthMax][256];  // buckets that take a byte at position i
    int width;
    int back;
  };

 private:
  Tables tables = {};
  const char* (*find)(const char* at, const Tables& tables) = nullptr;
};

#endif  // FERRET_REGEX_MULTILITERALSCAN_H_
