// Search: the start positions of one search. The search data computed at
// compile time rule out texts and positions where no match can begin, so
// the matcher is tried only where it might succeed, leftmost first.
#include <cstdint>
#include <cstring>

#include "regex/RegexpLinear.h"
#include "regex/RegexpMatcher.h"
#include "regex/RegexpProgram.h"
#include "regex/RegexpReach.h"

namespace {

bool InSet(const uint64_t* set, char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return set[byte >> 6] >> (byte & 63) & 1;
}

// A word at a time: guards are short and a call to memcmp would cost more
// than the comparison. length is above 0.
inline bool SameBytes(const char* a, const char* b, int length) {
  auto word = [](const char* at) {
    uint64_t w;
    std::memcpy(&w, at, sizeof w);
    return w;
  };
  if (length < 8) {
    for (int i = 0; i < length; ++i)
      if (a[i] != b[i]) return false;
    return true;
  }
  for (int i = 0; i + 8 < length; i += 8)
    if (word(a + i) != word(b + i)) return false;
  return word(a + length - 8) == word(b + length - 8);
}

}  // namespace

inline const char* RegexpProgram::NextCandidate(const char* at) const {
  at = scan.Find(at);
  return *at != '\0' ? at : nullptr;
}

inline bool RegexpProgram::GuardIntact() const {
  return guardLength > 0 && SameBytes(program, guard, guardLength);
}

inline bool RegexpProgram::LiteralsIntact() const {
  // Often a few hundred bytes, where memcmp is the faster.
  return literalExtent > 0 && std::memcmp(program, literalGuard, literalExtent) == 0;
}

inline bool RegexpProgram::PrefixFits(const char* at) const {
  // The NUL is in no set, so the walk stops at the end of the subject.
  for (int i = scan.Checked(); i < prefixLength; ++i)
    if (!InSet(prefix[i], at[i])) return false;
  return true;
}

bool RegexpProgram::Search(const char* subject) {
  if (subject == nullptr) {
    status.SetError(1);
    return false;
  }
  if (program == nullptr || static_cast<unsigned char>(program[0]) != kRegexpMagic) {
    status.SetError(2);
    return false;
  }
  searchSteps = 0;
  if (requiredLiteral != nullptr && std::strstr(subject, requiredLiteral) == nullptr) {
    Unmatch();
    return false;
  }
  if (LiteralsIntact()) {
    const char* first = literalScan->Find(subject);
    if (first == nullptr) {
      Unmatch();
      return false;
    }
    return SearchLiterals(first, subject);
  }
  // Most searches of a crawl find no candidate at all: they end here, before
  // a matcher is set up.
  const char* first = subject;
  if (!anchored && prefixLength > 0 && (first = NextCandidate(subject)) == nullptr) {
    Unmatch();
    return false;
  }
  return SearchFrom(first, subject);
}

// The rest of a search from its first candidate: kept out of Search so that
// the searches that end early pay for none of it.
__attribute__((noinline)) bool RegexpProgram::SearchFrom(const char* first, const char* subject) {
  if (!anchored && prefixLength > 0) {
    while (first != nullptr && !PrefixFits(first)) first = NextCandidate(first + 1);
  }
  bool intact = first != nullptr && GuardIntact();
  startNode = intact ? skipNode : 1;
  startSkip = intact ? skipLength : 0;
  if (intact && prefixIsProgram) {
    // The fit is the match: the matcher would take the same span.
    subStart[0] = first;
    subEnd[0] = first + prefixLength;
    return true;
  }
  bool found = first != nullptr && Run(first, subject);
  if (!found) Unmatch();
  return found;
}

__attribute__((noinline)) bool RegexpProgram::SearchLiterals(const char* first,
                                                             const char* subject) {
  startNode = 1;
  startSkip = 0;
  bool found = Run(first, subject, true);
  if (!found) Unmatch();
  return found;
}

bool RegexpProgram::NoMatchFrom(const char* from, uint64_t* steps) {
  if (from == reachMaybeFrom) return false;  // asked already in this search
  if (!reachBuilt) {
    reach = RegexpReach::Build(program, programSize);
    reachBuilt = true;
  }
  if (reach == nullptr || !reach->Intact(program, programSize)) return false;
  if (!reach->MayMatchFrom(from, steps)) return true;
  reachMaybeFrom = from;
  return false;
}

// Tries the candidates from first on, leftmost first.
bool RegexpProgram::Run(const char* first, const char* subject, bool literals) {
  searchSteps = 0;
  reachMaybeFrom = nullptr;
  // On a long subject one pass first tells whether a match can begin at
  // all: the matcher's first attempt alone may walk the whole subject at a
  // step or more a character before it fails (the pass stops where the
  // earliest match may end).
  if (strnlen(first, kLongSubject) == kLongSubject && NoMatchFrom(first, &searchSteps))
    return false;
  RegexpMatcher matcher(*this, subject);
  bool found = false;
  if (anchored) {
    found = matcher.TryAt(subject);
  } else if (literals) {
    for (const char* at = first; at != nullptr; at = literalScan->Find(at + 1)) {
      if ((found = matcher.TryAt(at)) || matcher.Stopped()) break;
    }
  } else if (prefixLength > 0) {
    for (const char* at = first; at != nullptr; at = NextCandidate(at + 1)) {
      if (!PrefixFits(at)) continue;
      if ((found = matcher.TryAt(at)) || matcher.Stopped()) break;
    }
  } else {
    for (const char* at = subject;; ++at) {
      if ((found = matcher.TryAt(at)) || matcher.Stopped() || *at == '\0') break;
    }
  }
  searchSteps += matcher.Steps();
  int error = matcher.Error();
  if (matcher.WantsLinear()) {
    RegexpLinear linear(*this, subject);
    found = linear.Search(matcher.AttemptStart(), matcher.MemoryLeft());
    searchSteps += linear.Steps();
    error = linear.Error();
  }
  if (error == 0) return found;
  status.SetError(error);
  lastSearchError = error;
  return false;
}
