// RegexpMatcher: the context of one search, a recursive backtracking
// interpreter of the node program of a RegexpProgram.
//
// Alternatives are tried in pattern order and the first that completes wins
// (leftmost-first); * and + are greedy and give characters back one at a
// time. Submatch slots are written only on the way back from a match that has
// already reached Accept, and only while still unset, so a group inside a
// loop records its last repetition on the successful path.
//
// The recursion depth grows with the groups, choices and loop passes on the
// path, roughly linearly in the length of the subject; the subjects the
// crawler gives it are lines of at most 1023 characters and URLs.
#ifndef FERRET_REGEX_REGEXPMATCHER_H_
#define FERRET_REGEX_REGEXPMATCHER_H_

#include <cstddef>

#include "regex/RegexpNode.h"
#include "regex/RegexpProgram.h"
#include "regex/RegexpStatus.h"

class RegexpMatcher {
 public:
  // subject and program must outlive the matcher; the program's slots are
  // written in place.
  RegexpMatcher(RegexpProgram& program, const char* subject);

  // A match that begins exactly at position; on success slot 0 spans it.
  bool TryAt(const char* position);
  // Runs the program from node at the current position; on success the
  // current position is the end of the match.
  bool MatchFrom(const char* node);
  // How many characters from the current position the single-character
  // operand would match in a row. Does not move the current position.
  size_t CountRepeat(const char* operand);

  RegexpStatus status;

 private:
  bool MatchChoice(const char* alt);
  bool MatchRepeat(const char* node, const char* next);
  bool MatchGroupOpen(int group, const char* next);
  bool MatchGroupClose(int group, const char* next);
  bool AtWordStart() const;
  bool OverBudget();

  const char* position;      // where the next node must match
  const char* subjectStart;  // for LineStart and WordStart
  const char** subStart;     // the program's slots
  const char** subEnd;
  RegexpProgram& program;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  // Fuzzing only: bounds the work of one search, so that a pattern with
  // exponential backtracking shows up as a failed search instead of a hang.
  size_t steps = 0;
#endif
};

#endif  // FERRET_REGEX_REGEXPMATCHER_H_
