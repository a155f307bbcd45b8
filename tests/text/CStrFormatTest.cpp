// CStr formatting: literal runs, the directives, their edge cases and the
// fatal directives.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdarg>
#include <functional>
#include <string>
#include <vector>

#include "text/CStr.h"

namespace {

std::string Text(const CStr& s) { return std::string(static_cast<const char*>(s), s.Length()); }

void AppendFormat(CStr& s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  s.AppendFormatV(format, args);
  va_end(args);
}

struct Row {
  std::string format;
  std::function<void(CStr&, const char*)> run;  // calls Format with the values
  const char* expected;
};

TEST(CStrFormat, DirectivesAndEdgeCases) {
  static const CStr xyz("xyz");
  static const CStr none;
  const std::string longFlags(100, '-');
  const std::string longZeros(100, '0');
  const std::vector<Row> rows = {
      // The URL code's formats.
      {"%s:%d%s", [](CStr& s, const char* f) { s.Format(f, "h", 80, "/x"); }, "h:80/x"},
      {"%s:%d/%s%s%s", [](CStr& s, const char* f) { s.Format(f, "h", 81, "dir", "/", "f.html"); },
       "h:81/dir/f.html"},
      // Literal text only.
      {"", [](CStr& s, const char* f) { s.Format(f); }, ""},
      {"plain", [](CStr& s, const char* f) { s.Format(f); }, "plain"},
      // %s ignores width and flags; precision cuts.
      {"%5s|%-5s", [](CStr& s, const char* f) { s.Format(f, "ab", "cd"); }, "ab|cd"},
      {"%.1s", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "a"},
      {"%.9s", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "ab"},
      {"%.2s", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "ab"},
      {"[%.0s]", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "[]"},
      {"%.s", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "ab"},
      {"%.-1s", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "ab"},
      {"%. 1s", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "a"},
      {"%5.1s", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "a"},
      {"%.1s%s", [](CStr& s, const char* f) { s.Format(f, "ab", "cd"); }, "acd"},
      {"%ls%hs", [](CStr& s, const char* f) { s.Format(f, "ab", "cd"); }, "abcd"},
      {"[%s]", [](CStr& s, const char* f) { s.Format(f, ""); }, "[]"},
      {"%" + longFlags + "s|", [](CStr& s, const char* f) { s.Format(f, "ab"); }, "ab|"},
      // Integer, character and floating directives go through the C library.
      {"%5d|%x|%.2f", [](CStr& s, const char* f) { s.Format(f, 42, 255, 1.5); }, "   42|ff|1.50"},
      {"%i %o %X %u", [](CStr& s, const char* f) { s.Format(f, -3, 8, 255, -1); },
       "-3 10 FF 4294967295"},
      {"%+d|% d|%#x|%05d|%-3d|", [](CStr& s, const char* f) { s.Format(f, 5, 5, 255, 42, 7); },
       "+5| 5|0xff|00042|7  |"},
      {"%c%c", [](CStr& s, const char* f) { s.Format(f, 'o', 'k'); }, "ok"},
      {"%hd", [](CStr& s, const char* f) { s.Format(f, 65537); }, "1"},
      {"%ld|%lu|%lx", [](CStr& s, const char* f) { s.Format(f, -7, 8, 9); }, "-7|8|9"},
      {"%e|%E|%g|%G", [](CStr& s, const char* f) { s.Format(f, 1234.5, 1234.5, 0.0001, 1e-10); },
       "1.234500e+03|1.234500E+03|0.0001|1E-10"},
      {"%.1lf|%.1Lf|%f", [](CStr& s, const char* f) { s.Format(f, 2.25, 3.75, 1.0); },
       "2.2|3.8|1.000000"},
      // 2 to the 240th: 73 digits, more than an integer directive's buffer.
      {"%.0f", [](CStr& s, const char* f) { s.Format(f, 0x1p240); },
       "1766847064778384329583297500742918515827483896875618958121606201292619"
       "776"},
      {"%p", [](CStr& s, const char* f) { s.Format(f, reinterpret_cast<void*>(0x1234)); },
       "0x1234"},
      {"%" + longZeros + "d|", [](CStr& s, const char* f) { s.Format(f, 42); }, "42|"},
      // %! inserts another string.
      {"%!", [](CStr& s, const char* f) { s.Format(f, &xyz); }, "xyz"},
      {"<%5.1!>", [](CStr& s, const char* f) { s.Format(f, &xyz); }, "<xyz>"},
      {"<%!>", [](CStr& s, const char* f) { s.Format(f, &none); }, "<>"},
      // Any other letter stands for itself and takes no argument.
      {"100%%", [](CStr& s, const char* f) { s.Format(f); }, "100%"},
      {"%y", [](CStr& s, const char* f) { s.Format(f); }, "y"},
      {"%-5%", [](CStr& s, const char* f) { s.Format(f); }, "%"},
      {"%y%d", [](CStr& s, const char* f) { s.Format(f, 3); }, "y3"},
      // A format that ends inside a directive drops it.
      {"abc%", [](CStr& s, const char* f) { s.Format(f); }, "abc"},
      {"abc%-", [](CStr& s, const char* f) { s.Format(f); }, "abc"},
      {"abc%5.2", [](CStr& s, const char* f) { s.Format(f); }, "abc"},
      {"%d%", [](CStr& s, const char* f) { s.Format(f, 1); }, "1"},
  };
  for (const Row& row : rows) {
    CStr s("previous text that Format must replace");
    row.run(s, row.format.c_str());
    EXPECT_EQ(Text(s), row.expected) << row.format;
    EXPECT_EQ(s.Rep()->text[s.Length()], '\0') << row.format;
  }
}

TEST(CStrFormat, BuildsInTheStringsOwnBuffer) {
  // Format keeps the buffer when the result fits.
  CStr s("0123456789abcdefghij");  // capacity 23
  const char* buffer = s.Rep()->text;
  s.Format("%s:%d", "host", 8080);
  EXPECT_EQ(Text(s), "host:8080");
  EXPECT_EQ(s.Rep()->text, buffer);
  EXPECT_EQ(s.Rep()->capacity, 23);

  // Format on a shared string leaves the other holder alone.
  CStr other(s);
  s.Format("%d", 1);
  EXPECT_EQ(Text(s), "1");
  EXPECT_EQ(Text(other), "host:8080");

  // AppendFormatV appends, growing as needed.
  CStr grown("a");
  const std::string long300(300, 'z');
  AppendFormat(grown, "%s|%d|%!", long300.c_str(), 12, &other);
  EXPECT_EQ(Text(grown), "a" + long300 + "|12|host:8080");
  AppendFormat(grown, "%!", &grown);
  EXPECT_EQ(Text(grown), "a" + long300 + "|12|host:8080a" + long300 + "|12|host:8080");

  // Reaching the maximum length exactly is valid.
  const std::string head(kCStrMaxLength - 5, 'h');
  CStr max;
  max.Format("%s%d%s", head.c_str(), 123, "xy");
  EXPECT_EQ(max.Length(), kCStrMaxLength);
}

TEST(CStrFormatDeathTest, FatalDirectivesAndOverlongResults) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static const std::string max(kCStrMaxLength, 'm');
  static const std::string wraps(65536 + 4, 'w');  // 4 once cut to 16 bits
  static const std::string wrapsFormat = wraps + "%d";
  static const std::string overFormat = max + "x";
  struct Case {
    const char* name;
    std::function<void()> run;
    int code;
  } cases[] = {
      {"%n",
       [] {
         CStr s;
         int n = 0;
         s.Format("ab%n", &n);
       },
       3},
      {"%5n",
       [] {
         CStr s;
         s.Format("%5n", nullptr);
       },
       3},
      {"%S",
       [] {
         CStr s;
         s.Format("ab%S", L"x");
       },
       4},
      {"%lS",
       [] {
         CStr s;
         s.Format("%lS", L"x");
       },
       4},
      {"%s past the limit",
       [] {
         CStr s;
         s.Format("x%s", max.c_str());
       },
       5},
      {"%s past 16 bits",
       [] {
         CStr s;
         s.Format("%s", wraps.c_str());
       },
       5},
      {"%d past the limit",
       [] {
         CStr s;
         s.Format("%s%d", max.c_str(), 1);
       },
       5},
      {"%! past the limit",
       [] {
         CStr s;
         CStr m(max.c_str());
         s.Format("x%!", &m);
       },
       5},
      {"literal past the limit",
       [] {
         CStr s;
         s.Format(overFormat.c_str());
       },
       5},
      {"literal past 16 bits before a directive",
       [] {
         CStr s;
         s.Format(wrapsFormat.c_str(), 1);
       },
       5},
      {"trailing literal past 16 bits",
       [] {
         CStr s;
         s.Format(("%d" + wraps).c_str(), 1);
       },
       5},
  };
  for (const Case& c : cases) {
    const std::string message = "CStr fatal " + std::to_string(c.code) + "\n";
    EXPECT_EXIT(c.run(), testing::KilledBySignal(SIGABRT), message) << c.name;
  }
}

}  // namespace
