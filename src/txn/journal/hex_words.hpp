// Sixteen lowercase hexadecimal digits written or read in one SSE2 register
// (part of every x86-64 processor, the only kind the engine is built for).
// Every file id in a journal is two of these, several per operation, so they
// are inline: a call per id would cost as much as the work.
#pragma once

#include <emmintrin.h>

#include <bit>
#include <cstdint>

namespace holvar::txn::journal {

// The 16 lowercase hexadecimal digits of `value`, zero-padded, at `to`.
inline char* write_hex16(char* to, uint64_t value) {
    // The bytes most significant first, each split into its two nibbles in
    // order, and every nibble turned into '0' plus itself, with 39 more
    // ('a' - '0' - 10) where it is ten or more.
    __m128i bytes = _mm_cvtsi64_si128(static_cast<long long>(std::byteswap(value)));
    __m128i low_nibbles = _mm_set1_epi8(0x0F);
    __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibbles);
    __m128i low = _mm_and_si128(bytes, low_nibbles);
    __m128i nibbles = _mm_unpacklo_epi8(high, low);
    __m128i letters = _mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9));
    __m128i digits = _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')),
                                  _mm_and_si128(letters, _mm_set1_epi8(39)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), digits);
    return to + 16;
}

// Sixteen digits 0-9 or a-f at `p` into `value`; false (and `value` left as
// it was) when any of them is anything else, uppercase included.
inline bool read_hex16(const char* p, uint64_t& value) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Compared as signed bytes, so a byte of 0x80 or more is in neither range.
    auto in_range = [x](char lo, char hi) {
        return _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(static_cast<char>(lo - 1))),
                             _mm_cmplt_epi8(x, _mm_set1_epi8(static_cast<char>(hi + 1))));
    };
    __m128i letter = in_range('a', 'f');
    if (_mm_movemask_epi8(_mm_or_si128(in_range('0', '9'), letter)) != 0xFFFF) return false;
    // Each digit's value: its low nibble, plus nine for a letter.
    __m128i nibbles = _mm_add_epi8(_mm_and_si128(x, _mm_set1_epi8(0x0F)),
                                   _mm_and_si128(letter, _mm_set1_epi8(9)));
    // Each pair of digits (a 16-bit lane, the first digit low) into one byte,
    // the first digit its high nibble; then the eight bytes, most significant
    // first, into a number.
    __m128i pairs = _mm_or_si128(_mm_slli_epi16(nibbles, 4), _mm_srli_epi16(nibbles, 8));
    pairs = _mm_and_si128(pairs, _mm_set1_epi16(0x00FF));
    __m128i bytes = _mm_packus_epi16(pairs, pairs);
    value = std::byteswap(static_cast<uint64_t>(_mm_cvtsi128_si64(bytes)));
    return true;
}

}  // namespace holvar::txn::journal
