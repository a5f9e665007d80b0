#include "platform/unicode.hpp"

#include <cstdint>

namespace holvar::platform {

namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0 when ill-formed.
// The second byte's range is narrowed after E0, ED, F0 and F4, which is what
// rules out overlong forms, surrogates and values above U+10FFFF.
size_t utf8_sequence_length(std::string_view text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    uint8_t b0 = byte(i);
    if (b0 < 0x80) return 1;
    size_t len = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (len > text.size() - i) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (size_t k = 2; k < len; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return len;
}

// The code point of a sequence that utf8_sequence_length accepted.
char32_t decode_utf8(std::string_view text, size_t i, size_t len) {
    auto b0 = static_cast<uint8_t>(text[i]);
    if (len == 1) return b0;
    char32_t cp = b0 & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    return cp;
}

}  // namespace

bool is_valid_utf16(std::u16string_view text) {
    for (size_t i = 0; i < text.size();)
        if (!next_utf16_code_point(text, i)) return false;
    return true;
}

bool is_valid_utf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        size_t len = utf8_sequence_length(text, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::optional<std::string> utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto cp = next_utf16_code_point(text, i);
        if (!cp) return std::nullopt;
        append_utf8(out, *cp);
    }
    return out;
}

std::string utf16_to_utf8_lossy(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        // An unpaired high surrogate leaves i on the unit after it, which is
        // then read on its own: one replacement per unpaired surrogate.
        auto cp = next_utf16_code_point(text, i);
        append_utf8(out, cp ? *cp : replacement_character);
    }
    return out;
}

std::optional<std::u16string> utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t len = utf8_sequence_length(text, i);
        if (len == 0) return std::nullopt;
        char32_t cp = decode_utf8(text, i, len);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string sanitize_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t len = utf8_sequence_length(text, i);
        if (len == 0) {
            append_utf8(out, replacement_character);
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::u16string ascii_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<uint8_t>(c);
        out.push_back(b < 0x80 ? static_cast<char16_t>(b)
                               : static_cast<char16_t>(replacement_character));
    }
    return out;
}

}  // namespace holvar::platform
