// Classifies 16 bytes at a time for the fast paths of the dump and the CSV
// export: each function reads exactly 16 bytes at `p` and returns a mask
// whose bit i describes byte i. SSE2 (present on every x86-64) does one compare per class; other
// machines get the same answers from a plain loop, which is also kept on
// x86-64 so that tests can hold the two against each other.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace norvale::masks {

namespace portable {

template <typename F>
inline uint32_t Classify(const uint8_t* p, F test) {
  uint32_t mask = 0;
  for (int i = 0; i < 16; ++i) mask |= static_cast<uint32_t>(test(p[i])) << i;
  return mask;
}

inline uint32_t Equal(const uint8_t* p, uint8_t byte) {
  return Classify(p, [byte](uint8_t c) { return c == byte; });
}
// Bytes above ASCII.
inline uint32_t High(const uint8_t* p) {
  return Classify(p, [](uint8_t c) { return c >= 0x80; });
}
// ASCII control bytes and DEL.
inline uint32_t Control(const uint8_t* p) {
  return Classify(p, [](uint8_t c) { return c < 0x20 || c == 0x7F; });
}
inline uint32_t Digit(const uint8_t* p) {
  return Classify(p, [](uint8_t c) { return c >= '0' && c <= '9'; });
}
// Bytes that text cannot be copied through as they stand: control bytes,
// DEL, bytes above ASCII, and `a` and `b`.
inline uint32_t Unusual(const uint8_t* p, uint8_t a, uint8_t b) {
  return Classify(p, [a, b](uint8_t c) { return c < 0x20 || c >= 0x7F || c == a || c == b; });
}

}  // namespace portable

#if defined(__SSE2__)

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline uint32_t Bits(__m128i v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }

inline uint32_t Equal(const uint8_t* p, uint8_t byte) {
  return Bits(_mm_cmpeq_epi8(Load(p), _mm_set1_epi8(static_cast<char>(byte))));
}
inline uint32_t High(const uint8_t* p) { return Bits(Load(p)); }
// As signed bytes, everything above ASCII is below 0x20 too, and is taken
// out again by its sign bit.
inline uint32_t Control(const uint8_t* p) {
  const __m128i v = Load(p);
  const __m128i low = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
  return Bits(_mm_andnot_si128(v, _mm_or_si128(low, _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)))));
}
inline uint32_t Digit(const uint8_t* p) {
  const __m128i v = Load(p);
  return Bits(_mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1))));
}
// One added to each byte moves DEL and everything above ASCII to the
// negative side (0xFF wraps to 0), so one signed compare finds them with
// the control bytes.
inline uint32_t Unusual(const uint8_t* p, uint8_t a, uint8_t b) {
  const __m128i v = Load(p);
  const __m128i outside = _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(1)), _mm_set1_epi8(0x21));
  const __m128i named = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(a))),
                                     _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b))));
  return Bits(_mm_or_si128(outside, named));
}

#else

using portable::Control;
using portable::Digit;
using portable::Equal;
using portable::High;
using portable::Unusual;

#endif

// Copies 16 bytes; callers leave room for the bytes past what they need.
inline void Copy16(char* to, const void* from) { std::memcpy(to, from, 16); }

// Copies n bytes 16 at a time: reads and writes up to 15 bytes past them.
inline char* CopyRun(char* out, const void* text, size_t n) {
  const char* from = static_cast<const char*>(text);
  for (size_t i = 0; i < n; i += 16) Copy16(out + i, from + i);
  return out + n;
}

}  // namespace norvale::masks
