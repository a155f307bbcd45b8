// The candidate scan at every instruction level this processor runs, against
// a byte-by-byte reading of the same sets: the engine itself only ever uses
// the widest level, so the narrower ones are checked here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "regex/RegexpScan.h"

namespace {

struct SetCase {
  const char* first;   // members of the first set; "*" = every byte but a few
  const char* second;  // members of the second set; null = width 1
};

// One byte, a letter in both cases (one test), two unrelated bytes (two
// tests), and a first set too large for the vector scan.
const SetCase kSets[] = {
    {"<", "aA"},    {"hH", "rR"},    {"\t ", "x"},   {"az", "<h"},
    {"x", nullptr}, {"gG", nullptr}, {"*", nullptr}, {"*", "y"},
};

void Fill(uint64_t* set, const char* members) {
  std::memset(set, 0, 4 * sizeof(uint64_t));
  if (std::strcmp(members, "*") == 0) {
    for (int c = 1; c < 256; ++c)
      if (c != ' ' && c != 'x') set[c >> 6] |= uint64_t{1} << (c & 63);
    return;
  }
  for (const char* m = members; *m != '\0'; ++m) {
    unsigned char c = static_cast<unsigned char>(*m);
    set[c >> 6] |= uint64_t{1} << (c & 63);
  }
}

bool In(const uint64_t* set, char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return set[b >> 6] >> (b & 63) & 1;
}

// What the scan must find: the first position whose bytes fit the first
// `count` sets, else the NUL.
const char* Expected(const char* at, const uint64_t (*sets)[4], int count) {
  for (; *at != '\0'; ++at)
    if (In(sets[0], at[0]) && (count < 2 || In(sets[1], at[1]))) return at;
  return at;
}

TEST(RegexpScan, EveryLevelFindsTheFirstCandidate) {
  const std::string pieces[] = {"<a", "Hr", "\tx", "z<", "x", "G", "y", "a"};
  alignas(64) char buffer[256];
  int checked = 0;
  for (int level = RegexpScan::kPortable; level <= RegexpScan::Widest(); ++level) {
    for (const SetCase& c : kSets) {
      uint64_t sets[2][4];
      Fill(sets[0], c.first);
      int count = 1;
      if (c.second != nullptr) Fill(sets[count++], c.second);
      RegexpScan scan;
      scan.Build(sets, count, static_cast<RegexpScan::Level>(level));
      // A first set too large for the vector scan leaves the second to the
      // caller; small ones are both checked.
      ASSERT_EQ(std::strcmp(c.first, "*") == 0 ? 1 : count, scan.Checked()) << c.first;
      for (const std::string& piece : pieces) {
        for (size_t length = 0; length <= 150; length += 1 + length / 24) {
          for (size_t at = 0; at <= length; ++at) {
            // Decoys that fit one set alone, then the piece at `at`, cut by
            // the end of the text; placed at every alignment of a chunk.
            std::string text(length, ' ');
            for (size_t i = 0; i < length; i += 5) text[i] = "<hza\t"[i % 5];
            text.replace(at, std::min(piece.size(), length - at), piece, 0, length - at);
            size_t shift = (at * 7 + length) % 64;
            std::memcpy(buffer + shift, text.c_str(), text.size() + 1);
            const char* subject = buffer + shift;
            for (size_t from = 0; from <= length; from += 1 + length / 4) {
              const char* want = Expected(subject + from, sets, scan.Checked());
              const char* got = scan.Find(subject + from);
              ASSERT_EQ(want - subject, got - subject)
                  << "level " << level << ", sets '" << c.first << "' '"
                  << (c.second ? c.second : "") << "', from " << from << " of '" << text << "'";
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
