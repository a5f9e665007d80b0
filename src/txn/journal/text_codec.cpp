#include "txn/journal/text_codec.hpp"

namespace holvar::txn::journal {

namespace {

bool is_high_surrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Appends one code point as UTF-8.
void append_utf8(std::string& out, uint32_t cp) {
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

// Reads the code point starting at text[i]; advances i. False on an unpaired surrogate.
bool next_code_point(std::u16string_view text, size_t& i, uint32_t& cp) {
    char16_t c = text[i++];
    if (is_high_surrogate(c)) {
        if (i >= text.size() || !is_low_surrogate(text[i])) return false;
        cp = 0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) +
             (static_cast<uint32_t>(text[i]) - 0xDC00);
        ++i;
        return true;
    }
    if (is_low_surrogate(c)) return false;
    cp = c;
    return true;
}

constexpr char hex_digits[] = "0123456789abcdef";

void append_escaped_ascii(std::string& out, char c) {
    switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\b':
            out += "\\b";
            return;
        case '\f':
            out += "\\f";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20) {
        out += "\\u00";
        out.push_back(hex_digits[u >> 4]);
        out.push_back(hex_digits[u & 0xF]);
        return;
    }
    out.push_back(c);
}

}  // namespace

bool is_valid_utf16(std::u16string_view text) {
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        if (!next_code_point(text, i, cp)) return false;
    }
    return true;
}

std::optional<std::string> utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        if (!next_code_point(text, i, cp)) return std::nullopt;
        append_utf8(out, cp);
    }
    return out;
}

std::optional<std::u16string> utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto b0 = static_cast<unsigned char>(text[i]);
        uint32_t cp;
        size_t len;
        uint32_t min;
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        } else if ((b0 & 0xE0) == 0xC0) {
            cp = b0 & 0x1F;
            len = 2;
            min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            cp = b0 & 0x0F;
            len = 3;
            min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            cp = b0 & 0x07;
            len = 4;
            min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (text.size() - i < len) return std::nullopt;
        for (size_t k = 1; k < len; ++k) {
            auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
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

bool append_json_string(std::string& out, std::u16string_view text) {
    out.push_back('"');
    for (size_t i = 0; i < text.size();) {
        // Runs of printable ASCII, the bulk of every path, are copied at once.
        size_t run = i;
        while (run < text.size() && text[run] >= 0x20 && text[run] < 0x80 && text[run] != u'"' &&
               text[run] != u'\\') {
            ++run;
        }
        if (run != i) {
            size_t used = out.size();
            out.resize(used + (run - i));
            for (size_t k = i; k < run; ++k) out[used + (k - i)] = static_cast<char>(text[k]);
            i = run;
            continue;
        }
        char16_t c = text[i];
        if (c < 0x80) {
            append_escaped_ascii(out, static_cast<char>(c));
            ++i;
            continue;
        }
        uint32_t cp;
        if (!next_code_point(text, i, cp)) return false;
        append_utf8(out, cp);
    }
    out.push_back('"');
    return true;
}

void append_json_string_utf8(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char c : text) append_escaped_ascii(out, c);
    out.push_back('"');
}

void append_hex(std::string& out, uint64_t value, int digits) {
    char buf[64];
    for (int i = 0; i < digits; ++i) {
        int shift = 4 * (digits - 1 - i);
        buf[i] = shift >= 64 ? '0' : hex_digits[(value >> shift) & 0xF];
    }
    out.append(buf, static_cast<size_t>(digits));
}

std::optional<uint64_t> parse_lower_hex(std::string_view text, size_t digits) {
    if (text.size() != digits || digits > 16) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        uint64_t v;
        if (c >= '0' && c <= '9') {
            v = static_cast<uint64_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            v = static_cast<uint64_t>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
        value = (value << 4) | v;
    }
    return value;
}

}  // namespace holvar::txn::journal
