// Search: the start positions of one search. The search data computed at
// compile time rule out texts and positions where no match can begin, so
// the matcher is tried only where it might succeed, leftmost first.
#include <cstring>

#include "regex/RegexpMatcher.h"
#include "regex/RegexpProgram.h"

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
    ClearSlots();
    return false;
  }
  RegexpMatcher matcher(*this, subject);
  bool found = false;
  if (anchored) {
    found = matcher.TryAt(subject);
  } else if (firstChar != '\0') {
    // The start itself is always tried; then only where firstChar stands.
    for (const char* at = subject; at != nullptr; at = std::strchr(at + 1, firstChar)) {
      if ((found = matcher.TryAt(at)) || matcher.Stopped() || *at == '\0') break;
    }
  } else if (firstSet != nullptr) {
    // The set never holds the terminating NUL.
    for (const char* at = NextInFirstSet(subject); *at != '\0'; at = NextInFirstSet(at + 1)) {
      if ((found = matcher.TryAt(at)) || matcher.Stopped()) break;
    }
  } else {
    for (const char* at = subject;; ++at) {
      if ((found = matcher.TryAt(at)) || matcher.Stopped() || *at == '\0') break;
    }
  }
  searchSteps = matcher.Steps();
  if (matcher.status.Failed()) {
    status = matcher.status;
    found = false;
  }
  if (!found) ClearSlots();
  return found;
}

const char* RegexpProgram::NextInFirstSet(const char* at) const {
  for (;; ++at) {
    unsigned char c = static_cast<unsigned char>(*at);
    if (c == 0 || (firstSetBits[c >> 6] >> (c & 63) & 1)) return at;
  }
}
