// RegexpReach: a "no match can begin here" must be exact, and it must be
// said where a backtracking search would otherwise pay the most.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "regex/RegexpProgram.h"
#include "regex/RegexpReach.h"

namespace {

std::unique_ptr<RegexpReach> ReachOf(const RegexpProgram& program) {
  return RegexpReach::Build(program.Program(), program.ProgramSize());
}

TEST(RegexpReach, TellsWhereNoMatchCanBegin) {
  const struct {
    const char* pattern;
    std::string text;
    bool built;  // false: matches the empty string, or too many states
    bool may;
  } cases[] = {
      {"((a+)+)+b", std::string(5000, 'a'), true, false},
      {"(a|a)*b", std::string(5000, 'a'), true, false},
      {"(.*x)*y", std::string(5000, 'x'), true, false},
      {"(a|ab)*c", std::string(5000, 'a'), true, false},
      {"(x+x+)+y", std::string(5000, 'x'), true, false},
      {"(x+x+)+y", std::string(5000, 'x') + "y", true, true},
      {"(x+x+)+y", "y" + std::string(5000, 'x'), true, false},  // y needs two x before it
      {"(x+x+)+y", "xy", true, false},
      {"^ab$", "xxab", true, true},  // assertions are taken as true: maybe
      {"\\<word\\>", "a sword", true, true},
      {"colou?r", "the color", true, true},
      {"colou?r", "the colour of", true, true},
      {"colou?r", "the colouur", true, false},
      {"[^a]b", "aab", true, false},
      {"a.c", "a\nc", true, true},
      {"a*", "bbb", false, true},
      {"(a|)b?", "ccc", false, true},
  };
  for (const auto& c : cases) {
    RegexpProgram program(c.pattern, 0);
    ASSERT_TRUE(program.CompiledOK()) << c.pattern;
    std::unique_ptr<RegexpReach> reach = ReachOf(program);
    ASSERT_EQ(reach != nullptr, c.built) << c.pattern;
    if (!reach) continue;
    uint64_t steps = 0;
    EXPECT_EQ(reach->MayMatchFrom(c.text.c_str(), &steps), c.may) << c.pattern << " on " << c.text;
    EXPECT_LE(steps, c.text.size()) << c.pattern;
    EXPECT_EQ(program.Search(c.text.c_str()) && c.may, program.Search(c.text.c_str()))
        << c.pattern << ": a match where no match could begin";
  }
  // A program with more states than a word holds has none.
  RegexpProgram wide(std::string(70, 'q').c_str(), 0);
  EXPECT_EQ(ReachOf(wide), nullptr);
  // A damaged program is not the one it was built from.
  RegexpProgram program("(a|b)*c", 0);
  std::unique_ptr<RegexpReach> reach = ReachOf(program);
  ASSERT_NE(reach, nullptr);
  EXPECT_TRUE(reach->Intact(program.Program(), program.ProgramSize()));
  std::string damaged(program.Program(), static_cast<size_t>(program.ProgramSize()));
  damaged[damaged.size() / 2] ^= 0x40;
  EXPECT_FALSE(reach->Intact(damaged.data(), program.ProgramSize()));
}

// Random patterns and texts over a small alphabet: wherever the reach says
// no match can begin from a position on, a search of the rest finds none,
// folded or not.
TEST(RegexpReach, NeverRulesOutAMatch) {
  uint64_t state = 7;
  auto below = [&state](size_t n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<size_t>((state >> 33) % n);
  };
  const char* atoms[] = {"a", "b", "A", ".", "[ab]", "[^a]", "[]a]", "\\[", "^", "$", "\\<", "\\>"};
  const char* repeats[] = {"", "", "*", "+", "?"};
  size_t ruledOut = 0;
  for (int n = 0; n < 3000; ++n) {
    std::string pattern;
    for (size_t pieces = 1 + below(6); pieces > 0; --pieces) {
      std::string piece = below(4) == 0 ? std::string("(") + atoms[below(12)] +
                                              (below(2) ? "|" : "") + atoms[below(12)] + ")"
                                        : atoms[below(12)];
      pattern += piece + repeats[below(5)];
      if (below(6) == 0) pattern += "|";
    }
    for (int fold : {0, 1}) {
      RegexpProgram program(pattern.c_str(), fold);
      if (!program.CompiledOK()) continue;
      std::unique_ptr<RegexpReach> reach = ReachOf(program);
      if (!reach) continue;
      std::string text;
      for (size_t i = below(40); i > 0; --i) text += "abA[] -"[below(7)];
      for (size_t from = 0; from <= text.size(); ++from) {
        uint64_t steps = 0;
        if (reach->MayMatchFrom(text.c_str() + from, &steps)) continue;
        ++ruledOut;
        EXPECT_FALSE(program.Search(text.c_str() + from))
            << pattern << " fold " << fold << " on \"" << text.substr(from) << "\"";
      }
    }
  }
  EXPECT_GT(ruledOut, 10000u);  // the check above is not empty
}

}  // namespace
