// RegexpReach: whether any match can begin at or after a position, told in
// one pass over the rest of the subject at a few nanoseconds a character,
// whatever the pattern's nesting. A search that has spent many steps on
// failed attempts asks it once: where the answer is no, the search ends
// there, and the failed attempts that would have followed (each costing the
// matcher up to a step per program row) are never made.
//
// It runs the program as a set of states in a 64-bit word (a bit-parallel
// simulation of every path at once): a state is a place where a path tests
// one character (a one-character node, one byte of a literal, a repeat's
// operand), and each state's successors (the states a path reaches after
// its character, through alternatives, groups and repeats) are found once,
// when it is built. Assertions (^, $, \<, \>) are taken as always true, so
// the simulation accepts every text a match exists in, and maybe more: a
// "no" is exact, a "yes" leaves the answer to the matcher. Groups and
// priorities play no part.
//
// Built from a program of at most 63 states whose every path takes a
// character before it accepts (a pattern that matches the empty string
// matches everywhere: there is nothing to rule out); Build returns null for
// any other, and for a program it cannot read. It keeps a copy of the bytes
// it was built from: Intact tells whether a program still holds them, and a
// damaged program is left to the matcher, which reports the damage.
#ifndef FERRET_REGEX_REGEXPREACH_H_
#define FERRET_REGEX_REGEXPREACH_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class RegexpReach {
 public:
  // program: programSize bytes of the node format (RegexpNode.h).
  static std::unique_ptr<RegexpReach> Build(const char* program, int programSize);

  bool Intact(const char* program, int programSize) const;
  // Whether a match may begin at from or after it, in the NUL-terminated
  // subject; *steps grows by the characters read.
  bool MayMatchFrom(const char* from, uint64_t* steps) const;

 private:
  RegexpReach() = default;
  uint64_t Successors(uint64_t taken) const;

  static constexpr int kMaxStates = 63;
  static constexpr uint64_t kAccept = uint64_t{1} << 63;
  uint64_t takes[256] = {};     // by byte: the states that take it
  uint64_t initial = 0;         // the states a path starts in
  uint64_t after[8][256] = {};  // by byte k of a state set: the successors of its states
  std::string copy;             // the program as built from
};

#endif  // FERRET_REGEX_REGEXPREACH_H_
