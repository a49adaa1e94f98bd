// The 16-byte vector pieces that the PNG row filters of the reader and the writer share. Only
// built where SSE2 is (every x86-64); the callers keep a plain loop for everything else.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

namespace velorin::simd {

inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Four bytes at p in the low lanes: a whole 4-byte pixel, or a 3-byte one and a byte beyond it
// that the lane arithmetic never mixes in (the row buffers have spare bytes at their end). One
// plain load, so that no narrow store before it stalls it.
inline __m128i loadPixel(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(static_cast<int>(v));
}
inline void storePixel(uint8_t* p, __m128i v, int bytes) {
  const auto x = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
  std::memcpy(p, &x, static_cast<size_t>(bytes));
}

inline __m128i select16(__m128i mask, __m128i ifSet, __m128i ifClear) {
  return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}
inline __m128i abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// The Paeth predictor with its tie order (left, above, upper left) on eight 16-bit lanes.
inline __m128i paethPredictor16(__m128i a, __m128i b, __m128i c) {
  const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
  const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(bc, ac));
  const __m128i nearer = select16(_mm_cmplt_epi16(pb, pa), b, a);
  return select16(_mm_cmplt_epi16(pc, _mm_min_epi16(pa, pb)), c, nearer);
}

}  // namespace velorin::simd

#endif
