#include "txn/journal/text_codec.hpp"

#include <array>
#include <bit>
#include <cstring>

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

static_assert(std::endian::native == std::endian::little,
              "the word-wide hex reader takes the first digit from the lowest byte");

// Eight lowercase hexadecimal digits read as one word: their value, or
// `not_eight_digits` when any of them is not 0-9 or a-f. A byte b lies in
// [lo, hi] when b + 0x80 - lo has its high bit set and b + 0x7F - hi has not;
// with every byte below 0x80 neither sum carries into the next byte. (A plain
// number rather than an optional: it stays in a register.)
constexpr uint64_t not_eight_digits = uint64_t{1} << 32;
uint64_t parse_hex8(const char* p) {
    constexpr uint64_t ones = 0x0101010101010101u;
    constexpr uint64_t highs = 0x8080808080808080u;
    uint64_t w;
    std::memcpy(&w, p, 8);
    auto at_least = [w](uint64_t lo) { return (w + ones * (0x80 - lo)) & highs; };
    auto above = [w](uint64_t hi) { return (w + ones * (0x7F - hi)) & highs; };
    uint64_t digit = at_least('0') & ~above('9');
    uint64_t letter = at_least('a') & ~above('f');
    if ((w & highs) != 0 || (digit | letter) != highs) return not_eight_digits;
    // '0'-'9' carry their value in the low nibble, 'a'-'f' theirs less nine.
    uint64_t x = (w & (ones * 0x0F)) + (letter >> 7) * 9;
    // Nibbles to bytes, bytes to 16-bit and 16-bit to 32-bit values, the
    // first digit ending up the most significant.
    x = ((x << 4) | (x >> 8)) & 0x00FF00FF00FF00FFu;
    x = ((x << 8) | (x >> 16)) & 0x0000FFFF0000FFFFu;
    x = ((x << 16) | (x >> 32)) & 0xFFFFFFFFu;
    return x;
}

// The end of the run of units at `p` that go into a literal as they are,
// four units at a time while they last (the word-wide tests of the reader, on
// 16-bit lanes: a unit of 0x80 or more, below 0x20, a quote or a backslash).
const char16_t* plain_run_end(const char16_t* p, const char16_t* end) {
    constexpr uint64_t ones = 0x0001000100010001u;
    constexpr uint64_t highs = 0x8000800080008000u;
    auto zero_lanes = [](uint64_t v) { return (v - ones) & ~v & highs; };
    while (end - p >= 4) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if ((w & (ones * 0xFF80)) != 0) break;
        uint64_t hits = ((w - ones * 0x20) & ~w & highs) | zero_lanes(w ^ (ones * u'"')) |
                        zero_lanes(w ^ (ones * u'\\'));
        if (hits != 0) return p + std::countr_zero(hits) / 16;
        p += 4;
    }
    while (p < end && is_plain(*p)) ++p;
    return p;
}

}  // namespace

char* write_json_string(char* to, std::u16string_view text) {
    *to++ = '"';
    const char16_t* p = text.data();
    const char16_t* end = p + text.size();
    while (p < end) {
        // Runs of printable ASCII, the bulk of every path, are copied at once.
        const char16_t* run_end = plain_run_end(p, end);
        size_t n = static_cast<size_t>(run_end - p);
        for (size_t i = 0; i < n; ++i) to[i] = static_cast<char>(p[i]);
        to += n;
        p = run_end;
        if (p == end) break;
        if (*p < 0x80) {
            to = write_escaped_ascii(to, static_cast<unsigned char>(*p++));
            continue;
        }
        size_t i = static_cast<size_t>(p - text.data());
        auto cp = platform::next_utf16_code_point(text, i);
        if (!cp) return nullptr;
        to = write_utf8(to, *cp);
        p = text.data() + i;
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

char* write_hex16(char* to, uint64_t value) {
    // Each half spread to one nibble a byte, the first digit in the lowest
    // byte, then turned into digits all at once: '0' plus the nibble, and 39
    // more ('a' - '0' - 10) where the nibble is ten or more.
    constexpr uint64_t ones = 0x0101010101010101u;
    for (uint64_t half : {value >> 32, value & 0xFFFFFFFFu}) {
        uint64_t x = half;
        x = (x | (x << 16)) & 0x0000FFFF0000FFFFu;
        x = (x | (x << 8)) & 0x00FF00FF00FF00FFu;
        x = (x | (x << 4)) & 0x0F0F0F0F0F0F0F0Fu;
        x = std::byteswap(x);
        uint64_t letters = ((x + ones * 6) >> 4) & ones;
        x += ones * '0' + letters * 39;
        std::memcpy(to, &x, 8);
        to += 8;
    }
    return to;
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
        uint64_t high = parse_hex8(text.data());
        uint64_t low = parse_hex8(text.data() + 8);
        if ((high | low) & not_eight_digits) return std::nullopt;
        return (high << 32) | low;
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
