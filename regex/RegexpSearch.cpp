// Search: the start positions of one search. The search data computed at
// compile time rule out texts and positions where no match can begin, so
// the matcher is tried only where it might succeed, leftmost first.
#include <cstdint>
#include <cstring>

#include "regex/RegexpMatcher.h"
#include "regex/RegexpProgram.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__x86_64__) && defined(__GNUC__) && !defined(FERRET_REGEX_NO_AVX2)
#include <immintrin.h>
#endif
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
// A block of positions at a time. It loads whole aligned blocks,
// which never cross a page, so it may read bytes before at within the first
// block; the address and thread sanitizers would take those reads for
// overruns (of the allocation, never of the page). The
// bytes after each position come from an unaligned load of the next block's
// worth only when the block holds no NUL (the subject goes on past it); in
// the block of the NUL the last position cannot be a candidate, and the
// others take their next byte from the block itself.
__attribute__((no_sanitize("address", "thread"))) const char* ScanSse2(const char* at,
                                                                       const char* bytes,
                                                                       int width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i a0 = _mm_set1_epi8(bytes[0]), a1 = _mm_set1_epi8(bytes[1]);
  const __m128i b0 = _mm_set1_epi8(bytes[2]), b1 = _mm_set1_epi8(bytes[3]);
  auto either = [](__m128i x, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_cmpeq_epi8(x, a), _mm_cmpeq_epi8(x, b));
  };
  uintptr_t address = reinterpret_cast<uintptr_t>(at);
  unsigned keep = ~0u << (address & 15);  // drops the bytes before at
  const char* block = reinterpret_cast<const char*>(address & ~uintptr_t{15});
  for (;; block += 16, keep = ~0u) {
    __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    unsigned nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, zero))) & keep;
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(either(x, a0, a1))) & keep;
    if (nul != 0) {
      if (width == 2) mask &= static_cast<unsigned>(_mm_movemask_epi8(either(x, b0, b1))) >> 1;
      unsigned end = static_cast<unsigned>(__builtin_ctz(nul));
      mask &= (1u << end) - 1;
      return block + (mask != 0 ? static_cast<unsigned>(__builtin_ctz(mask)) : end);
    }
    if (mask != 0 && width == 2) {
      __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 1));
      mask &= static_cast<unsigned>(_mm_movemask_epi8(either(next, b0, b1)));
    }
    if (mask != 0) return block + __builtin_ctz(mask);
  }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(FERRET_REGEX_NO_AVX2)
#define FERRET_REGEX_AVX2 1
// ScanSse2 over 32 positions at a time, for processors that have AVX2.
__attribute__((target("avx2"), no_sanitize("address", "thread"))) const char* ScanAvx2(
    const char* at, const char* bytes, int width) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i a0 = _mm256_set1_epi8(bytes[0]), a1 = _mm256_set1_epi8(bytes[1]);
  const __m256i b0 = _mm256_set1_epi8(bytes[2]), b1 = _mm256_set1_epi8(bytes[3]);
  auto bits = [](__m256i x, __m256i a, __m256i b) __attribute__((target("avx2"))) {
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(_mm256_cmpeq_epi8(x, a), _mm256_cmpeq_epi8(x, b))));
  };
  uintptr_t address = reinterpret_cast<uintptr_t>(at);
  uint32_t keep = ~uint32_t{0} << (address & 31);
  const char* block = reinterpret_cast<const char*>(address & ~uintptr_t{31});
  for (;; block += 32, keep = ~uint32_t{0}) {
    __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(block));
    uint32_t nul = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, zero))) & keep;
    uint32_t mask = bits(x, a0, a1) & keep;
    if (nul != 0) {
      if (width == 2) mask &= bits(x, b0, b1) >> 1;
      mask &= (nul & (0 - nul)) - 1;  // the positions before the NUL
      return block + __builtin_ctz(mask != 0 ? mask : nul);
    }
    if (mask != 0 && width == 2)
      mask &= bits(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 1)), b0, b1);
    if (mask != 0) return block + __builtin_ctz(mask);
  }
}

// Decided once, before main: a test per search would cost as much as the
// scan of a short line saves.
const bool kHaveAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#endif

inline const char* Scan(const char* at, const char* bytes, int width) {
#ifdef FERRET_REGEX_AVX2
  if (kHaveAvx2) return ScanAvx2(at, bytes, width);
#endif
  return ScanSse2(at, bytes, width);
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

inline const char* RegexpProgram::NextCandidate(const char* at) const {
  if (scanWidth > 0)
    at = Scan(at, scanBytes, scanWidth);
  else if (firstChar != '\0')
    at = std::strchr(at, firstChar);
  else
    while (*at != '\0' && !InSet(prefix[0], *at)) ++at;  // a wide first set
  return at != nullptr && *at != '\0' ? at : nullptr;
}

inline bool RegexpProgram::PrefixFits(const char* at) const {
  // The NUL is in no set, so the walk stops at the end of the subject.
  for (int i = 1; i < prefixLength; ++i)
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
    ClearSlots();
    return false;
  }
  // Most searches of a crawl find no candidate at all: they end here, before
  // a matcher is set up.
  const char* first = subject;
  if (!anchored && prefixLength > 0 && (first = NextCandidate(subject)) == nullptr) {
    if (subStart[0] != nullptr) ClearSlots();
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
  bool intact = first != nullptr && guardLength > 0 &&
                std::memcmp(program, guard, static_cast<size_t>(guardLength)) == 0;
  startNode = intact ? skipNode : 1;
  startSkip = intact ? skipLength : 0;
  if (intact && prefixIsProgram) {
    // The fit is the match: the matcher would take the same span.
    subStart[0] = first;
    subEnd[0] = first + prefixLength;
    return true;
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
