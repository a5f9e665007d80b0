#include "txn/journal/text_codec.hpp"

#include <array>
#include <cstring>

#include "strict_json/lanes.hpp"

namespace holvar::txn::journal {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// The value of each lowercase hexadecimal digit; every other byte, uppercase
// digits included, is marked invalid.
constexpr uint8_t not_hex = 0x80;
constexpr std::array<uint8_t, 256> make_hex_value() {
    std::array<uint8_t, 256> table{};
    for (auto& v : table) v = not_hex;
    for (uint8_t d = 0; d < 10; ++d) table['0' + d] = d;
    for (uint8_t d = 0; d < 6; ++d) table['a' + d] = static_cast<uint8_t>(10 + d);
    return table;
}
constexpr std::array<uint8_t, 256> hex_value = make_hex_value();

// Printable ASCII that goes into a literal as it is.
bool is_plain(char16_t c) {
    return c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\';
}

// '"', '\\' or a C0 control character: its escape.
char* write_escaped_ascii(char* to, unsigned char c) {
    char short_form = 0;
    switch (c) {
        case '"':
            short_form = '"';
            break;
        case '\\':
            short_form = '\\';
            break;
        case '\b':
            short_form = 'b';
            break;
        case '\f':
            short_form = 'f';
            break;
        case '\n':
            short_form = 'n';
            break;
        case '\r':
            short_form = 'r';
            break;
        case '\t':
            short_form = 't';
            break;
        default:
            break;
    }
    *to++ = '\\';
    if (short_form != 0) {
        *to++ = short_form;
        return to;
    }
    std::memcpy(to, "u00", 3);
    to[3] = hex_digits[c >> 4];
    to[4] = hex_digits[c & 0xF];
    return to + 5;
}

char* write_utf8(char* to, char32_t cp) {
    if (cp < 0x80) {
        *to++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *to++ = static_cast<char>(0xC0 | (cp >> 6));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *to++ = static_cast<char>(0xE0 | (cp >> 12));
        *to++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *to++ = static_cast<char>(0xF0 | (cp >> 18));
        *to++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *to++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return to;
}

}  // namespace

char* write_json_string(char* to, std::u16string_view text) {
    *to++ = '"';
    const char16_t* p = text.data();
    const char16_t* end = p + text.size();
    while (p < end) {
        // Runs of printable ASCII, the bulk of every path, sixteen or eight
        // units at a time while the text lasts. Each store is whole; what
        // follows the plain units in it is overwritten next. (Every unit
        // read so far has room for six bytes, so the store always fits.)
        size_t plain;
        if (end - p >= 16) {
            plain = strict_json::lanes::narrow_plain16(p, to);
        } else if (end - p >= 8) {
            plain = strict_json::lanes::narrow_plain8(p, to);
        } else {
            plain = 0;
            while (p + plain < end && is_plain(p[plain])) {
                to[plain] = static_cast<char>(p[plain]);
                ++plain;
            }
        }
        to += plain;
        p += plain;
        if (p == end) break;
        if (is_plain(*p)) continue;  // every lane was plain, and more follow
        if (*p == u'\\') {
            // The separator of every path.
            to[0] = '\\';
            to[1] = '\\';
            to += 2;
            ++p;
        } else if (*p < 0x80) {
            to = write_escaped_ascii(to, static_cast<unsigned char>(*p++));
        } else {
            size_t i = static_cast<size_t>(p - text.data());
            auto cp = platform::next_utf16_code_point(text, i);
            if (!cp) return nullptr;
            to = write_utf8(to, *cp);
            p = text.data() + i;
        }
    }
    *to++ = '"';
    return to;
}

char* write_json_string_utf8(char* to, std::string_view text) {
    *to++ = '"';
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || is_plain(u)) {
            *to++ = c;
        } else {
            to = write_escaped_ascii(to, u);
        }
    }
    *to++ = '"';
    return to;
}

bool append_json_string(std::string& out, std::u16string_view text) {
    size_t used = out.size();
    out.resize(used + json_string_bound(text.size()));
    char* end = write_json_string(out.data() + used, text);
    if (end == nullptr) return false;
    out.resize(static_cast<size_t>(end - out.data()));
    return true;
}

void append_json_string_utf8(std::string& out, std::string_view text) {
    size_t used = out.size();
    out.resize(used + json_string_bound(text.size()));
    char* end = write_json_string_utf8(out.data() + used, text);
    out.resize(static_cast<size_t>(end - out.data()));
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
    if (digits == 16) {
        // Every file id and volume serial: two words of eight digits.
        uint64_t value;
        if (!read_hex16(text.data(), value)) return std::nullopt;
        return value;
    }
    uint64_t value = 0;
    uint8_t seen = 0;  // collects the invalid marker of any refused character
    for (char c : text) {
        uint8_t v = hex_value[static_cast<unsigned char>(c)];
        seen |= v;
        value = (value << 4) | (v & 0xF);
    }
    if (seen & not_hex) return std::nullopt;
    return value;
}

}  // namespace holvar::txn::journal
