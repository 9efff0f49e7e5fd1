// Fast searches for a few byte values, sixteen bytes at a time where the
// processor allows it. Used on the hot paths of line splitting and tokenizing.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The first byte in [p, end) equal to one of the given values, or end.
template <char... Values>
const char* FindFirstOf(const char* p, const char* end) {
#if defined(__SSE2__)
  while (end - p >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_setzero_si128();
    ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(block, _mm_set1_epi8(Values)))), ...);
    int mask = _mm_movemask_epi8(hit);
    if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && ((*p != Values) && ...)) ++p;
  return p;
}

// The first byte in [p, end) from 128 to 255 (not ASCII), or end.
inline const char* FindFirstHighByte(const char* p, const char* end) {
#if defined(__SSE2__)
  while (end - p >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    int mask = _mm_movemask_epi8(block);
    if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && static_cast<unsigned char>(*p) < 0x80) ++p;
  return p;
}

// Whether the sixteen bytes at p hold a line feed or two spaces in a row
// (counting a space right before them); when not, space collapsing can copy
// them as they are.
inline bool NeedsCollapse16(const char* p, bool spaceBefore) {
#if defined(__SSE2__)
  __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  unsigned spaces =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(' '))));
  unsigned feeds =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))));
  unsigned previous = (spaces << 1) | (spaceBefore ? 1u : 0u);
  return feeds != 0 || (spaces & previous) != 0;
#else
  (void)p;
  (void)spaceBefore;
  return true;
#endif
}
