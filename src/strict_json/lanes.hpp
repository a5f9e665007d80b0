// The runs of plain ASCII that make up most of every path in a journal,
// converted sixteen bytes at a time with SSE2 (part of every x86-64
// processor, and the engine is built for x86-64 only). "Plain" means what a
// JSON string literal holds as it is: printable ASCII other than '"' and '\'.
#pragma once

#include <emmintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

namespace holvar::strict_json::lanes {

// The bytes of `x` that end a plain run: '"', '\', and, compared as signed
// bytes, everything below 0x20, which takes in every byte of 0x80 or more.
inline unsigned special_mask(__m128i x) {
    __m128i quote = _mm_cmpeq_epi8(x, _mm_set1_epi8('"'));
    __m128i backslash = _mm_cmpeq_epi8(x, _mm_set1_epi8('\\'));
    __m128i low = _mm_cmplt_epi8(x, _mm_set1_epi8(0x20));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quote, backslash), low)));
}

inline size_t leading_plain(unsigned mask, size_t lanes) {
    return mask == 0 ? lanes : static_cast<size_t>(std::countr_zero(mask));
}

// How many of the sixteen bytes at `from` lead as plain ASCII.
inline size_t plain_prefix16(const char* from) {
    return leading_plain(special_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from))), 16);
}

// Sixteen bytes of a literal at `from` widened to sixteen UTF-16 units at
// `to` (room for all sixteen is the caller's); returns how many of them lead
// as plain ASCII. The units after those are not text and get overwritten.
inline size_t widen_plain16(const char* from, char16_t* to) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(x, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), _mm_unpackhi_epi8(x, zero));
    return leading_plain(special_mask(x), 16);
}

// Sixteen UTF-16 units at `from` narrowed to sixteen bytes at `to`; returns
// how many lead as plain ASCII. The narrowing saturates: a unit from 0x100 to
// 0x7FFF becomes 0xFF, and one of 0x8000 or more (negative as a signed lane)
// becomes 0, so every unit beyond ASCII lands on a special byte.
inline size_t narrow_plain16(const char16_t* from, char* to) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 8));
    __m128i x = _mm_packus_epi16(a, b);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), x);
    return leading_plain(special_mask(x), 16);
}

// The same for eight units, written as eight bytes.
inline size_t narrow_plain8(const char16_t* from, char* to) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    __m128i x = _mm_packus_epi16(a, a);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), x);
    return leading_plain(special_mask(x) & 0xFFu, 8);
}

}  // namespace holvar::strict_json::lanes
