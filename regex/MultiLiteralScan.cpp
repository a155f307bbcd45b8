#include "regex/MultiLiteralScan.h"

#include <cstring>

#include "regex/RegexpScan.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <immintrin.h>
#define FERRET_REGEX_SSSE3 1
#endif

namespace {

using Tables = MultiLiteralScan::Tables;

uintptr_t Address(const char* at) { return reinterpret_cast<uintptr_t>(at); }

// The byte tables tell exactly which buckets a window's bytes are in, where
// the nibble tables admit every pairing of a bucket's nibbles. The window's
// bytes are all in the subject.
inline bool WindowFits(const char* start, const Tables& t) {
  const unsigned char* window = reinterpret_cast<const unsigned char*>(start) + t.back;
  unsigned fit = t.bytes[0][window[0]];
  for (int i = 1; i < t.width && fit != 0; ++i) fit &= t.bytes[i][window[i]];
  return fit != 0;
}

// Byte by byte. Every byte up to lead has been seen and is not the NUL; a
// window is tested only once all its bytes have been.
const char* FindPortable(const char* at, const Tables& t) {
  const unsigned char* lead = reinterpret_cast<const unsigned char*>(at);
  for (const unsigned char* s = lead;; ++s) {
    const unsigned char* window = s + t.back;
    for (; lead < window + t.width; ++lead)
      if (*lead == '\0') return nullptr;
    if (WindowFits(reinterpret_cast<const char*>(s), t)) return reinterpret_cast<const char*>(s);
  }
}

#ifdef FERRET_REGEX_SSSE3
// A 16-byte block at a time, each an aligned read, so that no read crosses
// a page; the first block may begin before at, and what those bytes give is
// dropped. Blocks this short keep the cost of the short texts (links, most
// lines) low. The sanitizers would take the reads before at and past the
// NUL for overruns (of the allocation, never of the page), so the scan is
// exempt from them.
//
// Bit p of a block's hit mask: a window ends at position p of the block.
// Position i of the window is looked up in the vector of its own byte and
// shifted by width - 1 - i bytes towards the end, the bytes shifted in
// coming from the block before (zero before the first: no window that
// begins before the block of at can give a start at or after at).
//
// The same code runs as SSSE3 and, where the processor has AVX2, in VEX
// form: three-operand instructions need no register copies.
template <int kWidth>
__attribute__((target("ssse3"), always_inline, no_sanitize("address", "thread"))) inline const char*
FindBlocks(const char* at, const Tables& t) {
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i zero = _mm_setzero_si128();
  __m128i low[kWidth], high[kWidth], previous[kWidth];
  for (int i = 0; i < kWidth; ++i) {
    low[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.low[i]));
    high[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.high[i]));
    previous[i] = zero;
  }
  const uintptr_t end = kWidth - 1 + static_cast<uintptr_t>(t.back);  // window end - start
  const uintptr_t firstEnd = Address(at) + end;                       // no window may end before it
  const char* block = reinterpret_cast<const char*>(Address(at) & ~uintptr_t{15});
  unsigned keepNul = 0xFFFFu << (Address(at) & 15);
  for (;; block += 16, keepNul = 0xFFFF) {
    __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    __m128i lo = _mm_and_si128(x, nibble);
    __m128i hi = _mm_and_si128(_mm_srli_epi16(x, 4), nibble);
    __m128i fit = _mm_set1_epi8(-1);
    for (int i = 0; i < kWidth; ++i) {
      __m128i in = _mm_and_si128(_mm_shuffle_epi8(low[i], lo), _mm_shuffle_epi8(high[i], hi));
      __m128i shifted = in;
      // Shift counts must be constants: kWidth - 1 - i is 0, 1 or 2.
      if (kWidth - 1 - i == 1) shifted = _mm_alignr_epi8(in, previous[i], 15);
      if (kWidth - 1 - i == 2) shifted = _mm_alignr_epi8(in, previous[i], 14);
      previous[i] = in;
      fit = _mm_and_si128(fit, shifted);
    }
    unsigned hits = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(fit, zero))) & 0xFFFF;
    unsigned nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, zero))) & keepNul;
    if ((hits | nul) == 0) continue;
    if (Address(block) + 16 <= firstEnd) {
      hits = 0;
    } else if (Address(block) < firstEnd) {
      hits &= ~0u << (firstEnd - Address(block));
    }
    if (nul != 0) hits &= (nul & (0 - nul)) - 1;  // windows that end before the NUL
    for (; hits != 0; hits &= hits - 1) {
      const char* start = block + __builtin_ctz(hits) - end;
      if (WindowFits(start, t)) return start;
    }
    if (nul != 0) return nullptr;
  }
}

template <int kWidth>
__attribute__((target("ssse3"), no_sanitize("address", "thread"))) const char* FindSsse3(
    const char* at, const Tables& t) {
  return FindBlocks<kWidth>(at, t);
}

template <int kWidth>
__attribute__((target("avx2"), no_sanitize("address", "thread"))) const char* FindAvx2(
    const char* at, const Tables& t) {
  return FindBlocks<kWidth>(at, t);
}
#endif

using FindFunction = const char* (*)(const char*, const Tables&);

FindFunction ChooseFind(int width, MultiLiteralScan::Level level) {
#ifdef FERRET_REGEX_SSSE3
  if (level == MultiLiteralScan::kAvx2) {
    if (width == 1) return FindAvx2<1>;
    if (width == 2) return FindAvx2<2>;
    return FindAvx2<3>;
  }
  if (level == MultiLiteralScan::kSsse3) {
    if (width == 1) return FindSsse3<1>;
    if (width == 2) return FindSsse3<2>;
    return FindSsse3<3>;
  }
#else
  (void)width;
  (void)level;
#endif
  return FindPortable;
}

}  // namespace

MultiLiteralScan::Level MultiLiteralScan::Widest() {
#ifdef FERRET_REGEX_SSSE3
  // Asked when a pattern is compiled, never per search. A build without the
  // wide prefix scans goes without the VEX form too.
  if (RegexpScan::Widest() >= RegexpScan::kAvx2) return kAvx2;
  __builtin_cpu_init();
  if (__builtin_cpu_supports("ssse3")) return kSsse3;
#endif
  return kPortable;
}

// Strings share buckets in pattern order, count / kBuckets (rounded up) a
// bucket, so that a few strings have a bucket each.
void MultiLiteralScan::Build(const uint64_t (*windows)[kWidthMax][4], int count, int width,
                             int back, Level level) {
  std::memset(&tables, 0, sizeof tables);
  tables.width = width;
  tables.back = back;
  int share = (count + kBuckets - 1) / kBuckets;
  for (int j = 0; j < count; ++j) {
    uint8_t bucket = static_cast<uint8_t>(1u << (j / share));
    for (int i = 0; i < width; ++i) {
      for (int c = 1; c < 256; ++c) {
        if (!(windows[j][i][c >> 6] >> (c & 63) & 1)) continue;
        tables.bytes[i][c] |= bucket;
        tables.low[i][c & 15] |= bucket;
        tables.high[i][c >> 4] |= bucket;
      }
    }
  }
  Level widest = Widest();
  find = ChooseFind(width, level < widest ? level : widest);
}
