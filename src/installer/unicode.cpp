#include "installer/unicode.hpp"

#include <cstdint>

namespace holvar::installer {

namespace {

constexpr char32_t replacement = 0xFFFD;

bool is_high_surrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void append_code_point(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Length of the well-formed UTF-8 sequence at `text[i]`, or 0 when ill-formed
// (overlong forms, surrogates and values above U+10FFFF included).
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
    if (i + len > text.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (size_t k = 2; k < len; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return len;
}

}  // namespace

bool is_valid_unicode(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (is_high_surrogate(text[i])) {
            if (i + 1 >= text.size() || !is_low_surrogate(text[i + 1])) return false;
            ++i;
        } else if (is_low_surrogate(text[i])) {
            return false;
        }
    }
    return true;
}

std::string to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (is_high_surrogate(c) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            append_code_point(out, cp);
            ++i;
        } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
            append_code_point(out, replacement);
        } else {
            append_code_point(out, c);
        }
    }
    return out;
}

std::string sanitize_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t len = utf8_sequence_length(text, i);
        if (len == 0) {
            append_code_point(out, replacement);
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
        out.push_back(b < 0x80 ? static_cast<char16_t>(b) : static_cast<char16_t>(replacement));
    }
    return out;
}

}  // namespace holvar::installer
