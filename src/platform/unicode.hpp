// UTF-16 as Windows hands it over (names may hold unpaired surrogates) and
// UTF-8 as every byte that leaves the process is written: the one place that
// knows both encodings.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace holvar::platform {

inline constexpr char32_t replacement_character = 0xFFFD;

// Valid UTF-16: every surrogate is part of a high-low pair. Windows names may
// hold unpaired surrogates; text that must become UTF-8 may not.
bool is_valid_utf16(std::u16string_view text);

// Well-formed UTF-8 (RFC 3629): false for overlong forms, encoded surrogates,
// code points above U+10FFFF and truncated or stray continuation bytes.
bool is_valid_utf8(std::string_view text);

// UTF-16 to UTF-8; none when the text holds an unpaired surrogate (it has no
// UTF-8 form, and a JSON file must never carry invalid UTF-8).
std::optional<std::string> utf16_to_utf8(std::u16string_view text);

// UTF-16 to UTF-8 where an unpaired surrogate becomes U+FFFD, so the result is
// always valid UTF-8 whatever the input held (text meant for people to read).
std::string utf16_to_utf8_lossy(std::u16string_view text);

// UTF-8 to UTF-16; none for bytes that are not well-formed UTF-8.
std::optional<std::u16string> utf8_to_utf16(std::string_view text);

// `text` with every byte sequence that is not well-formed UTF-8 replaced by
// U+FFFD (one replacement per maximal ill-formed subpart is not promised; the
// result is valid UTF-8 and equal to the input when the input was valid).
std::string sanitize_utf8(std::string_view text);

// The ASCII text as UTF-16 (every byte above 0x7F becomes U+FFFD).
std::u16string ascii_to_utf16(std::string_view text);

// The code point starting at text[i], advancing i past it; none (i advanced
// past the offending unit) on an unpaired surrogate. Inline: the journal's
// JSON writer runs it once per non-ASCII unit of every path.
inline std::optional<char32_t> next_utf16_code_point(std::u16string_view text, size_t& i) {
    char16_t c = text[i++];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (i >= text.size() || text[i] < 0xDC00 || text[i] > 0xDFFF) return std::nullopt;
        char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                      (static_cast<char32_t>(text[i]) - 0xDC00);
        ++i;
        return cp;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return std::nullopt;
    return c;
}

// Appends one code point (at most U+10FFFF, not a surrogate) as UTF-8.
inline void append_utf8(std::string& out, char32_t cp) {
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

}  // namespace holvar::platform
