#include "wtf8.hpp"

#include <cstdint>

namespace holvar::simtool {
namespace {

bool is_high_surrogate(uint32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(uint32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Decodes one sequence at `i`; none when it is malformed. Surrogate code points
// are allowed here (that is what makes it WTF-8 rather than UTF-8).
std::optional<uint32_t> decode_one(std::string_view s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t lead = byte(i);
    size_t length = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (s.size() - i < length) return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF) return std::nullopt;
    i += length;
    return code;
}

}  // namespace

std::optional<std::u16string> wtf8_to_utf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    bool previous_was_high = false;
    for (size_t i = 0; i < bytes.size();) {
        const auto code = decode_one(bytes, i);
        if (!code) return std::nullopt;
        // A high surrogate followed by a low one would read back as a pair:
        // WTF-8 forbids spelling a pair that way.
        if (previous_was_high && is_low_surrogate(*code)) return std::nullopt;
        previous_was_high = is_high_surrogate(*code);
        if (*code >= 0x10000) {
            const uint32_t v = *code - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(*code));
        }
    }
    return out;
}

std::string utf16_to_wtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (is_high_surrogate(code) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace holvar::simtool
