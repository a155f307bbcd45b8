// RegexpReference: the engine's first matcher, a plain recursive
// backtracking interpreter of the node program, kept as the reference the
// production matcher is checked against. It reads a compiled RegexpProgram
// (its node program and search data) and never writes it.
//
// Its recursion grows with the subject and its time can be exponential, so
// every search carries a step budget: a search that exceeds it reports
// kOverBudget instead of an answer, and callers compare only the searches
// that finished.
#ifndef FERRET_TESTS_REGEX_REGEXPREFERENCE_H_
#define FERRET_TESTS_REGEX_REGEXPREFERENCE_H_

#include <cstddef>
#include <string>

#include "regex/RegexpProgram.h"

struct ReferenceResult {
  enum Outcome { kMatch, kNoMatch, kError, kOverBudget };
  Outcome outcome = kNoMatch;
  int error = 0;  // the error code when outcome is kError
  // Offsets into the subject of each slot on a match; -1 = unset.
  int start[kRegexpSlots];
  int end[kRegexpSlots];
};

// The leftmost match of program in subject, as RegexpProgram::Search finds
// it, within at most budget interpreter steps.
ReferenceResult ReferenceSearch(const RegexpProgram& program, const char* subject, size_t budget);

// Compiles pattern and searches text with both RegexpProgram::Search and
// the reference. Returns "" when they agree on match or no match, every
// slot and any error, or when the pattern does not compile or the reference
// did not finish within budget; otherwise what differs. *compared, when
// given, tells whether the two were compared.
std::string CompareWithReference(const char* pattern, int fold, const char* text, size_t budget,
                                 bool* compared = nullptr);

#endif  // FERRET_TESTS_REGEX_REGEXPREFERENCE_H_
