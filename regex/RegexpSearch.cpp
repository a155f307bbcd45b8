// Search: the start positions of one search. The search data computed at
// compile time rule out texts and positions where no match can begin, so
// the matcher is tried only where it might succeed, leftmost first.
#include <cstdint>
#include <cstring>

#include "regex/RegexpMatcher.h"
#include "regex/RegexpProgram.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool InSet(const uint64_t* set, char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return set[byte >> 6] >> (byte & 63) & 1;
}

#if defined(__SSE2__)
// Candidates for the scan: positions whose byte is one of bytes[0..1] and,
// with width 2, whose next byte is one of bytes[2..3]. Scan returns the first
// from at on, or the terminating NUL.
//
// Sixteen positions at a time. It loads whole aligned blocks,
// which never cross a page, so it may read bytes before at within the first
// block; the address sanitizer would take those reads for overruns. The
// bytes after each position come from an unaligned load of the next sixteen
// only when the block holds no NUL (the subject goes on past it); in the
// block of the NUL they are the block itself, shifted.
__attribute__((no_sanitize("address"))) const char* Scan(const char* at, const char* bytes,
                                                         int width) {
  const __m128i zero = _mm_setzero_si128();
  auto either = [](__m128i x, char a, char b) {
    return _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(a)), _mm_cmpeq_epi8(x, _mm_set1_epi8(b)));
  };
  uintptr_t address = reinterpret_cast<uintptr_t>(at);
  unsigned keep = ~0u << (address & 15);  // drops the bytes before at
  const char* block = reinterpret_cast<const char*>(address & ~uintptr_t{15});
  for (;; block += 16, keep = ~0u) {
    __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    unsigned nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, zero))) & keep;
    __m128i hit = either(x, bytes[0], bytes[1]);
    if (width == 2) {
      __m128i next = nul != 0 ? _mm_srli_si128(x, 1)
                              : _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 1));
      hit = _mm_and_si128(hit, either(next, bytes[2], bytes[3]));
    }
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)) & keep;
    if (nul != 0) {
      unsigned end = static_cast<unsigned>(__builtin_ctz(nul));
      mask &= (1u << end) - 1;
      return block + (mask != 0 ? static_cast<unsigned>(__builtin_ctz(mask)) : end);
    }
    if (mask != 0) return block + __builtin_ctz(mask);
  }
}
#else
bool Fits(const char* at, const char* bytes, int width) {
  if (*at != bytes[0] && *at != bytes[1]) return false;
  return width < 2 || at[1] == bytes[2] || at[1] == bytes[3];
}

const char* Scan(const char* at, const char* bytes, int width) {
  while (*at != '\0' && !Fits(at, bytes, width)) ++at;
  return at;
}
#endif

}  // namespace

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
  // Most searches of a crawl find no candidate at all: they end before a
  // matcher is set up.
  const char* first = subject;
  if (!anchored && prefixLength > 0) {
    first = NextCandidate(subject);
    while (first != nullptr && !PrefixFits(first)) first = NextCandidate(first + 1);
  }
  bool found = first != nullptr && Run(first, subject);
  if (!found && subStart[0] != nullptr) ClearSlots();
  return found;
}

// Tries the candidates from first on, leftmost first.
bool RegexpProgram::Run(const char* first, const char* subject) {
  RegexpMatcher matcher(*this, subject);
  bool found = false;
  if (anchored) {
    found = matcher.TryAt(subject);
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
  searchSteps = matcher.Steps();
  if (matcher.Error() == 0) return found;
  status.SetError(matcher.Error());
  return false;
}

const char* RegexpProgram::NextCandidate(const char* at) const {
  if (scanWidth > 0)
    at = Scan(at, scanBytes, scanWidth);
  else if (firstChar != '\0')
    at = std::strchr(at, firstChar);
  else
    while (*at != '\0' && !InSet(prefix[0], *at)) ++at;  // a wide first set
  return at != nullptr && *at != '\0' ? at : nullptr;
}

bool RegexpProgram::PrefixFits(const char* at) const {
  // The NUL is in no set, so the walk stops at the end of the subject.
  for (int i = 1; i < prefixLength; ++i)
    if (!InSet(prefix[i], at[i])) return false;
  return true;
}
