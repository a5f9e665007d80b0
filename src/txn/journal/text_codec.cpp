#include "txn/journal/text_codec.hpp"

namespace holvar::txn::journal {

namespace {

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
        auto cp = platform::next_utf16_code_point(text, i);
        if (!cp) return false;
        platform::append_utf8(out, *cp);
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
