#include "regex/RegexpScan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__x86_64__) && defined(__GNUC__) && !defined(FERRET_REGEX_NO_AVX2)
#include <immintrin.h>
#define FERRET_REGEX_AVX2 1
#endif
#endif

namespace {

using Sets = RegexpScan::Sets;

// The scan reads the subject a 64-byte chunk at a time: one bit per
// position of the chunk in each mask. Chunks are aligned, so a read never
// crosses a page; the first chunk may begin before the subject, and those
// positions are dropped. The address and thread sanitizers would take
// those reads for overruns (of the allocation, never of the page), so the
// vector functions are exempt from them.
struct ChunkMasks {
  uint64_t nul;     // the NUL bytes
  uint64_t first;   // bytes of set 0
  uint64_t second;  // bytes of set 1 (with width 2)
};

// The candidate of a chunk, or nullptr to go on to the next chunk. keep
// drops the positions before the scan's start. Most chunks hold neither a
// candidate nor the NUL, and they cost one test. A first byte at the chunk's
// last position needs the next chunk's first byte; it is read only when the
// chunk holds no NUL from the start on, so the subject goes on past it.
inline const char* ChunkResult(const char* chunk, uint64_t keep, const ChunkMasks& m, int width,
                               const Sets& s) {
  uint64_t nul = m.nul & keep;
  uint64_t first = m.first & keep;
  uint64_t found = width == 2 ? first & m.second >> 1 : first;
  uint64_t edge = width == 2 ? first >> 63 : 0;
  if ((found | nul | edge) == 0) return nullptr;
  if (edge != 0 && nul == 0 && s.In(static_cast<unsigned char>(chunk[64]), 1))
    found |= uint64_t{1} << 63;
  if (nul != 0) {
    found &= (nul & (0 - nul)) - 1;  // the positions before the NUL
    return chunk + __builtin_ctzll(found != 0 ? found : nul);
  }
  return found != 0 ? chunk + __builtin_ctzll(found) : nullptr;
}

uintptr_t Address(const char* at) { return reinterpret_cast<uintptr_t>(at); }
const char* ChunkOf(const char* at) {
  return reinterpret_cast<const char*>(Address(at) & ~uintptr_t{63});
}
uint64_t KeepFrom(const char* at) { return ~uint64_t{0} << (Address(at) & 63); }

#if defined(__SSE2__)
template <int kWidth>
__attribute__((no_sanitize("address", "thread"))) const char* FindSse2(const char* at,
                                                                       const Sets& s) {
  const __m128i zero = _mm_setzero_si128();
  __m128i fold[2], byte[2], other[2];
  for (int i = 0; i < 2; ++i) {
    fold[i] = _mm_set1_epi8(static_cast<char>(s.fold[i]));
    byte[i] = _mm_set1_epi8(static_cast<char>(s.byte[i]));
    other[i] = _mm_set1_epi8(static_cast<char>(s.other[i]));
  }
  auto bits = [](__m128i m) { return static_cast<uint64_t>(_mm_movemask_epi8(m) & 0xFFFF); };
  auto in = [&](__m128i x, int i) {
    return bits(_mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(x, fold[i]), byte[i]),
                             _mm_cmpeq_epi8(x, other[i])));
  };
  uint64_t keep = KeepFrom(at);
  for (const char* chunk = ChunkOf(at);; chunk += 64, keep = ~uint64_t{0}) {
    ChunkMasks m = {0, 0, 0};
    for (int q = 0; q < 4; ++q) {
      __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(chunk + 16 * q));
      m.nul |= bits(_mm_cmpeq_epi8(x, zero)) << (16 * q);
      m.first |= in(x, 0) << (16 * q);
      if (kWidth == 2) m.second |= in(x, 1) << (16 * q);
    }
    if (const char* hit = ChunkResult(chunk, keep, m, kWidth, s)) return hit;
  }
}
#endif

#ifdef FERRET_REGEX_AVX2
// Two 32-byte halves a chunk. kOneTest: every set is one byte or a pair one
// bit apart, so a single comparison a position decides membership.
template <int kWidth, bool kOneTest>
__attribute__((target("avx2"), no_sanitize("address", "thread"))) const char* FindAvx2(
    const char* at, const Sets& s) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i fold[2], byte[2], other[2];
  for (int i = 0; i < kWidth; ++i) {
    fold[i] = _mm256_set1_epi8(static_cast<char>(s.fold[i]));
    byte[i] = _mm256_set1_epi8(static_cast<char>(s.byte[i]));
    other[i] = _mm256_set1_epi8(static_cast<char>(s.other[i]));
  }
  auto bits = [](__m256i m) __attribute__((target("avx2"))) {
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(m)));
  };
  auto in = [&](__m256i x, int i) __attribute__((target("avx2"))) {
    __m256i m = _mm256_cmpeq_epi8(_mm256_or_si256(x, fold[i]), byte[i]);
    if (!kOneTest) m = _mm256_or_si256(m, _mm256_cmpeq_epi8(x, other[i]));
    return bits(m);
  };
  uint64_t keep = KeepFrom(at);
  for (const char* chunk = ChunkOf(at);; chunk += 64, keep = ~uint64_t{0}) {
    __m256i lo = _mm256_load_si256(reinterpret_cast<const __m256i*>(chunk));
    __m256i hi = _mm256_load_si256(reinterpret_cast<const __m256i*>(chunk + 32));
    ChunkMasks m;
    m.nul = bits(_mm256_cmpeq_epi8(lo, zero)) | bits(_mm256_cmpeq_epi8(hi, zero)) << 32;
    m.first = in(lo, 0) | in(hi, 0) << 32;
    m.second = kWidth == 2 ? in(lo, 1) | in(hi, 1) << 32 : 0;
    if (const char* hit = ChunkResult(chunk, keep, m, kWidth, s)) return hit;
  }
}

// A whole chunk in one register, compared straight into bit masks.
template <int kWidth, bool kOneTest>
__attribute__((target("avx512bw"), no_sanitize("address", "thread"))) const char* FindAvx512(
    const char* at, const Sets& s) {
  __m512i fold[2], byte[2], other[2];
  for (int i = 0; i < kWidth; ++i) {
    fold[i] = _mm512_set1_epi8(static_cast<char>(s.fold[i]));
    byte[i] = _mm512_set1_epi8(static_cast<char>(s.byte[i]));
    other[i] = _mm512_set1_epi8(static_cast<char>(s.other[i]));
  }
  auto in = [&](__m512i x, int i) __attribute__((target("avx512bw"))) {
    uint64_t m = _mm512_cmpeq_epi8_mask(_mm512_or_si512(x, fold[i]), byte[i]);
    if (!kOneTest) m |= _mm512_cmpeq_epi8_mask(x, other[i]);
    return m;
  };
  uint64_t keep = KeepFrom(at);
  for (const char* chunk = ChunkOf(at);; chunk += 64, keep = ~uint64_t{0}) {
    __m512i x = _mm512_load_si512(reinterpret_cast<const void*>(chunk));
    ChunkMasks m;
    m.nul = _mm512_testn_epi8_mask(x, x);
    m.first = in(x, 0);
    m.second = kWidth == 2 ? in(x, 1) : 0;
    if (const char* hit = ChunkResult(chunk, keep, m, kWidth, s)) return hit;
  }
}
#endif

template <int kWidth>
const char* FindBytes(const char* at, const Sets& s) {
  for (; *at != '\0'; ++at) {
    if (s.In(static_cast<unsigned char>(at[0]), 0) &&
        (kWidth < 2 || s.In(static_cast<unsigned char>(at[1]), 1)))
      return at;
  }
  return at;
}

using FindFunction = const char* (*)(const char*, const Sets&);

// A first set too large for the vector scan: usually every byte but a few,
// so the first byte is mostly the candidate.
const char* FindInSet(const char* at, const Sets& s) {
  for (;; ++at) {
    unsigned char c = static_cast<unsigned char>(*at);
    if (c == '\0' || (s.first[c >> 6] >> (c & 63) & 1)) return at;
  }
}

// The functions of each level, indexed by (width - 1) * 2 + oneTest; the
// levels without a one-test form take their two-test one for both.
constexpr FindFunction kPortable[4] = {FindBytes<1>, FindBytes<1>, FindBytes<2>, FindBytes<2>};
#if defined(__SSE2__)
constexpr FindFunction kSse2[4] = {FindSse2<1>, FindSse2<1>, FindSse2<2>, FindSse2<2>};
#endif
#ifdef FERRET_REGEX_AVX2
constexpr FindFunction kAvx2[4] = {FindAvx2<1, false>, FindAvx2<1, true>, FindAvx2<2, false>,
                                   FindAvx2<2, true>};
constexpr FindFunction kAvx512[4] = {FindAvx512<1, false>, FindAvx512<1, true>,
                                     FindAvx512<2, false>, FindAvx512<2, true>};
#endif

FindFunction ChooseFind(int width, bool oneTest, RegexpScan::Level level) {
  if (width == 0) return FindInSet;
  int kind = (width - 1) * 2 + (oneTest ? 1 : 0);
  switch (level) {
#ifdef FERRET_REGEX_AVX2
    case RegexpScan::kAvx512: return kAvx512[kind];
    case RegexpScan::kAvx2: return kAvx2[kind];
#endif
#if defined(__SSE2__)
    case RegexpScan::kSse2: return kSse2[kind];
#endif
    default: return kPortable[kind];
  }
}

}  // namespace

RegexpScan::Level RegexpScan::Widest() {
#ifdef FERRET_REGEX_AVX2
  // Asked when a pattern is compiled, never per search.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw")) return kAvx512;
  if (__builtin_cpu_supports("avx2")) return kAvx2;
#endif
#if defined(__SSE2__)
  return kSse2;
#else
  return kPortable;
#endif
}

void RegexpScan::Build(const uint64_t (*leading)[4], int count, Level level) {
  width = 0;
  bool oneTest = true;
  for (; width < 2 && width < count; ++width) {
    unsigned char members[2] = {};
    int found = 0;
    for (int c = 1; c < 256 && found <= 2; ++c) {
      if (!(leading[width][c >> 6] >> (c & 63) & 1)) continue;
      if (found < 2) members[found] = static_cast<unsigned char>(c);
      ++found;
    }
    if (found == 0 || found > 2) break;
    unsigned char a = members[0];
    unsigned char b = found == 2 ? members[1] : a;
    unsigned char differ = a ^ b;
    if ((differ & (differ - 1)) == 0) {  // one byte, or two one bit apart
      sets.fold[width] = differ;
      sets.byte[width] = a | differ;
      sets.other[width] = sets.byte[width];
    } else {
      sets.fold[width] = 0;
      sets.byte[width] = a;
      sets.other[width] = b;
      oneTest = false;
    }
  }
  for (int i = 0; i < 4; ++i) sets.first[i] = count > 0 ? leading[0][i] : 0;
  Level widest = Widest();
  find = ChooseFind(width, oneTest, level < widest ? level : widest);
}
