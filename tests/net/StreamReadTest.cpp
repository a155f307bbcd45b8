// ReadLine over stream buffers that hand out their bytes a few at a time, or
// one by one without a get area, so that a line meets every buffer edge.
#include "net/StreamRead.h"

#include <gtest/gtest.h>

#include <istream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

// Delivers text through a get area of at most `area` bytes; with area 0 it
// has no get area at all and hands out one character per uflow.
class Trickle : public std::streambuf {
 public:
  Trickle(std::string text, size_t area) : text(std::move(text)), area(area) {}

 protected:
  int_type underflow() override {
    if (area == 0) return next < text.size() ? traits_type::to_int_type(text[next]) : traits_type::eof();
    if (next >= text.size()) return traits_type::eof();
    size_t n = std::min(area, text.size() - next);
    window.assign(text, next, n);
    next += n;
    setg(&window[0], &window[0], &window[0] + n);
    return traits_type::to_int_type(window[0]);
  }
  int_type uflow() override {
    if (area != 0) return std::streambuf::uflow();
    return next < text.size() ? traits_type::to_int_type(text[next++]) : traits_type::eof();
  }

 private:
  std::string text;
  size_t area;
  size_t next = 0;
  std::string window;
};

struct Piece {
  std::string text;
  bool eof;
};

std::vector<Piece> Pieces(const std::string& text, size_t area, int limit) {
  Trickle source(text, area);
  std::istream in(&source);
  std::vector<Piece> pieces;
  char buffer[64];
  for (int guard = 0; guard < 100; ++guard) {
    int stored = ReadLine(in, buffer, limit);
    EXPECT_EQ(stored, static_cast<int>(std::string(buffer).size()));
    pieces.push_back({buffer, in.eof()});
    if (in.eof() || in.fail()) break;
  }
  return pieces;
}

}  // namespace

TEST(ReadLine, PiecesAreTheSameWhateverTheBuffering) {
  const struct {
    const char* text;
    int limit;
    std::vector<Piece> expected;
  } cases[] = {
      {"ab\ncd\n", 10, {{"ab", false}, {"cd", false}, {"", true}}},
      {"ab\ncd", 10, {{"ab", false}, {"cd", true}}},
      {"", 10, {{"", true}}},
      {"\n\n", 10, {{"", false}, {"", false}, {"", true}}},
      // limit - 1 characters fill a piece; the LF is left for the next read.
      {"abcd\nx", 5, {{"abcd", false}, {"", false}, {"x", true}}},
      {"abcdefghij\n", 5, {{"abcd", false}, {"efgh", false}, {"ij", false}, {"", true}}},
      {"a\rb\n", 10, {{"a\rb", false}, {"", true}}},
  };
  for (const auto& c : cases) {
    for (size_t area : {0, 1, 2, 3, 7, 64}) {
      std::vector<Piece> got = Pieces(c.text, area, c.limit);
      ASSERT_EQ(got.size(), c.expected.size()) << c.text << " area " << area;
      for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].text, c.expected[i].text) << c.text << " area " << area << " #" << i;
        EXPECT_EQ(got[i].eof, c.expected[i].eof) << c.text << " area " << area << " #" << i;
      }
    }
  }
}
