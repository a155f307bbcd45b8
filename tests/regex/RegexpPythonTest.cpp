// Matcher against Python's re: random patterns over a small alphabet, with
// ']'-first sets, escapes and groups, searched with and without case
// folding; every match span and group span must agree.
//
// Each generated pattern is written out once in Ferret's syntax and once in
// Python's, from the same choices, so the mapping between the two lives in
// this file alone: '^' is \A, '$' is \Z, '.' takes every character (DOTALL),
// set members are taken literally, and with folding a letter outside sets is
// "[Xx]" while sets keep their letters as written.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "regex/Regexp.h"
#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"

namespace {

const std::string kSource = FERRET_SOURCE_DIR;

// splitmix64: the same sequence on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state(seed) {}
  size_t Below(size_t n) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<size_t>((z ^ (z >> 31)) % n);
  }
  char From(const char* alphabet) {
    return alphabet[Below(std::char_traits<char>::length(alphabet))];
  }

 private:
  uint64_t state;
};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// One character taken literally, in Python's syntax.
std::string PythonChar(char c) {
  if (IsLetter(c) || (c >= '0' && c <= '9')) return std::string(1, c);
  return std::string("\\") + c;
}

// A pattern in Ferret's syntax and its Python forms without and with folding.
struct Pattern {
  std::string ferret, plain, folded;
  int groups = 0;

  void Add(const Pattern& other) {
    ferret += other.ferret;
    plain += other.plain;
    folded += other.folded;
    groups += other.groups;
  }
  void Add(const std::string& both, const std::string& python) { Add({both, python, python}); }
  // A character matched literally (written escaped when escape is set).
  void AddLiteral(char c, bool escape) {
    std::string folding =
        IsLetter(c) ? std::string("[") + Upper(c) + Lower(c) + "]" : PythonChar(c);
    Add({(escape ? "\\" : "") + std::string(1, c), PythonChar(c), folding});
  }
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : r(seed) {}

  Pattern Alternation(int depth, int groupsBefore) {
    Pattern out;
    for (size_t branch = 0, branches = 1 + r.Below(3); branch < branches; ++branch) {
      if (branch > 0) out.Add("|", "|");
      for (size_t piece = 0, pieces = r.Below(4) + (depth == 0); piece < pieces; ++piece) {
        out.Add(Piece(depth, groupsBefore + out.groups));
      }
    }
    return out;
  }

 private:
  Pattern Piece(int depth, int groupsBefore) {
    Pattern atom = Atom(depth, groupsBefore);
    if (r.Below(3) == 0) {
      std::string repeat(1, r.From("*+?"));
      atom.Add(repeat, repeat);
    }
    return atom;
  }

  Pattern Atom(int depth, int groupsBefore) {
    Pattern out;
    switch (r.Below(depth < 2 && groupsBefore < 8 ? 6 : 5)) {
      case 0:
      case 1: out.AddLiteral(r.From("abAB-]x"), false); break;
      case 2: out.AddLiteral(r.From("[]*.\\(aB"), true); break;
      case 3: out = Set(); break;
      case 4:
        switch (r.Below(3)) {
          case 0: out.Add("^", "\\A"); break;
          case 1: out.Add("$", "\\Z"); break;
          default: out.Add(".", "."); break;
        }
        break;
      default: {
        Pattern inner = Alternation(depth + 1, groupsBefore + 1);
        out.Add("(", "(");
        out.Add(inner);
        out.Add(")", ")");
        out.groups += 1;
      }
    }
    return out;
  }

  // Members are literal in both syntaxes once Python's are escaped. A ']'
  // comes only first, a '-' only last and a '^' never first, so that each
  // stands for itself in Ferret's syntax.
  Pattern Set() {
    bool negated = r.Below(3) == 0, leadingBracket = r.Below(2) == 0;
    std::string ferret = negated ? "[^" : "[", python = ferret;
    if (leadingBracket) ferret += "]", python += "\\]";
    for (size_t member = 0, members = r.Below(3) + !leadingBracket; member < members; ++member) {
      if (r.Below(4) == 0) {
        static const char* const kRanges[] = {"a-b", "A-b", "[-a", "B-["};
        std::string range = kRanges[r.Below(4)];
        ferret += range;
        python += PythonChar(range[0]) + "-" + PythonChar(range[2]);
        continue;
      }
      char c = r.From("abB[\\^x");
      if (c == '^' && (ferret == "[" || ferret == "[^")) c = 'a';
      ferret += c;
      python += PythonChar(c);
    }
    if (r.Below(4) == 0) ferret += "-", python += "\\-";
    ferret += "]";
    python += "]";
    return {ferret, python, python, 0};
  }

  Random r;
};

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    out += digits;
  }
  return out;
}

// Ferret's answer in the oracle's format.
std::string FerretAnswer(Regexp& re, const std::string& subject, int groups) {
  if (!re.Match(subject.c_str())) return re.GetErrorString().IsEmpty() ? "N" : "error";
  std::string out;
  for (int slot = 0; slot <= groups; ++slot) {
    int start = re.SubStart(static_cast<unsigned>(slot));
    int end = start < 0 ? -1 : start + re.SubLength(static_cast<unsigned>(slot));
    out += (slot > 0 ? " " : "") + std::to_string(start) + " " + std::to_string(end);
  }
  return out;
}

struct Case {
  std::string pattern;
  int fold;
  std::string subject;
  std::string ferret;
};

TEST(RegexpPython, GeneratedPatternsAgreeWithPythonRe) {
  Generator generator(27);
  Random subjects(2027);
  std::vector<Case> cases;
  std::string input;
  int patterns = 0;
  for (int n = 0; n < 3000; ++n) {
    Pattern p = generator.Alternation(0, 0);
    for (int fold = 0; fold <= 1; ++fold) {
      Regexp re(p.ferret.c_str(), fold);
      if (!re.CompiledOK()) continue;
      ++patterns;
      for (int s = 0; s < 4; ++s) {
        std::string subject;
        for (size_t i = 0, length = subjects.Below(11); i < length; ++i)
          subject += subjects.From("abAB]-[\\x*.(");
        cases.push_back({p.ferret, fold, subject, FerretAnswer(re, subject, p.groups)});
        input += Hex(fold ? p.folded : p.plain) + "\t" + Hex(subject) + "\n";
      }
    }
  }
  ASSERT_GT(patterns, 3000);  // most of the 6000 compile

  TempDir dir("ferret-python-re");
  std::string path = dir.Path() + "/cases";
  FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(nullptr, file);
  std::fputs(input.c_str(), file);
  std::fclose(file);
  ProcessResult oracle =
      RunProcess({"/usr/bin/python3", kSource + "/tests/regex/python_re.py", path}, "", 120);
  ASSERT_EQ(0, oracle.exitCode) << oracle.err;
  std::vector<std::string> answers = Lines(oracle.out);
  ASSERT_EQ(cases.size(), answers.size());

  size_t compared = 0, differ = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    if (answers[i] == "E") continue;  // Python refuses what Ferret accepts
    ++compared;
    if (answers[i] == cases[i].ferret) continue;
    if (++differ <= 10)
      ADD_FAILURE() << "pattern " << cases[i].pattern << " fold " << cases[i].fold << " on \""
                    << cases[i].subject << "\": Ferret " << cases[i].ferret << ", Python "
                    << answers[i];
  }
  EXPECT_EQ(0u, differ) << "of " << compared;
  EXPECT_GT(compared, cases.size() * 9 / 10);
}

}  // namespace
