#include "strict_json/reader.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/unicode.hpp"
#include "strict_json/lanes.hpp"

namespace holvar::strict_json {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Bytes that end a run of plain string text: the closing quote, an escape, a
// control character (never allowed raw) and the first byte of a multi-byte
// sequence (checked on its own).
bool is_plain_string_byte(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x80 && c != '"' && c != '\\';
}

// The end of the run of plain string bytes that starts at `p`.
const char* scan_plain(const char* p, const char* end) {
    while (end - p >= 16) {
        size_t plain = lanes::plain_prefix16(p);
        p += plain;
        if (plain < 16) return p;
    }
    while (p < end && is_plain_string_byte(*p)) ++p;
    return p;
}

}  // namespace

nlohmann::json JsonNumber::to_json() const {
    switch (kind) {
        case Kind::unsigned_integer:
            return nlohmann::json(static_cast<nlohmann::json::number_unsigned_t>(magnitude));
        case Kind::signed_integer:
            // Two's complement: a magnitude of 2^63 is the smallest 64-bit number.
            return nlohmann::json(static_cast<nlohmann::json::number_integer_t>(0 - magnitude));
        case Kind::floating:
            break;
    }
    // The token is valid JSON, which strtod reads in the C locale the engine
    // runs in (beyond a double's range it gives an infinity, which the reader
    // refuses).
    std::string copy(text);
    return nlohmann::json(
        static_cast<nlohmann::json::number_float_t>(std::strtod(copy.c_str(), nullptr)));
}

JsonReader::JsonReader(std::string_view bytes)
    : pos_(bytes.data()), end_(bytes.data() + bytes.size()) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") pos_ += 3;
}

bool JsonReader::read_hex4(uint32_t& value) {
    if (end_ - pos_ < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
        char c = *pos_++;
        uint32_t v;
        if (c >= '0' && c <= '9') {
            v = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            v = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            v = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return false;
        }
        value = (value << 4) | v;
    }
    return true;
}

// After the backslash. A \u escape of a high surrogate must be followed at once
// by the \u escape of a low one; a low surrogate on its own is refused.
bool JsonReader::read_escape(char32_t& cp) {
    if (pos_ == end_) return false;
    switch (*pos_++) {
        case '"':
            cp = '"';
            return true;
        case '\\':
            cp = '\\';
            return true;
        case '/':
            cp = '/';
            return true;
        case 'b':
            cp = '\b';
            return true;
        case 'f':
            cp = '\f';
            return true;
        case 'n':
            cp = '\n';
            return true;
        case 'r':
            cp = '\r';
            return true;
        case 't':
            cp = '\t';
            return true;
        case 'u':
            break;
        default:
            return false;
    }
    uint32_t first;
    if (!read_hex4(first)) return false;
    if (first >= 0xDC00 && first <= 0xDFFF) return false;
    if (first < 0xD800 || first > 0xDBFF) {
        cp = first;
        return true;
    }
    if (end_ - pos_ < 2 || pos_[0] != '\\' || pos_[1] != 'u') return false;
    pos_ += 2;
    uint32_t second;
    if (!read_hex4(second) || second < 0xDC00 || second > 0xDFFF) return false;
    cp = 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
    return true;
}

// A multi-byte UTF-8 sequence at pos_, well-formed as RFC 3629 has it: no
// overlong forms, no encoded surrogates, nothing above U+10FFFF.
bool JsonReader::read_utf8_sequence(char32_t& cp) {
    auto lead = static_cast<unsigned char>(*pos_);
    size_t tail;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        tail = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        tail = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        tail = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return false;
    }
    if (static_cast<size_t>(end_ - pos_) <= tail) return false;
    for (size_t i = 1; i <= tail; ++i) {
        auto b = static_cast<unsigned char>(pos_[i]);
        if (i == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    pos_ += tail + 1;
    return true;
}

bool JsonReader::decode_string_tail(std::string& out) {
    while (pos_ < end_) {
        const char* run = pos_;
        pos_ = scan_plain(pos_, end_);
        out.append(run, pos_);
        if (pos_ == end_) return false;
        char c = *pos_;
        if (c == '"') {
            ++pos_;
            return true;
        }
        char32_t cp;
        if (c == '\\') {
            ++pos_;
            if (!read_escape(cp)) return false;
            platform::append_utf8(out, cp);
        } else if (static_cast<unsigned char>(c) < 0x20) {
            return false;
        } else {
            const char* start = pos_;
            if (!read_utf8_sequence(cp)) return false;
            out.append(start, pos_);
        }
    }
    return false;
}

bool JsonReader::read_string(std::string_view& text, std::string& scratch) {
    if (peek() != '"' || pos_ == end_) return false;
    const char* start = pos_ + 1;
    const char* run_end = scan_plain(start, end_);
    if (run_end < end_ && *run_end == '"') {
        text = std::string_view(start, static_cast<size_t>(run_end - start));
        pos_ = run_end + 1;
        return true;
    }
    pos_ = run_end;
    scratch.assign(start, pos_);
    if (!decode_string_tail(scratch)) return false;
    text = scratch;
    return true;
}

bool JsonReader::read_string_utf16(std::u16string& out) {
    if (peek() != '"' || pos_ == end_) return false;
    ++pos_;
    // Decoded into the reader's own buffer, which has room for a whole step
    // of sixteen units past what is decoded, and then copied once into a
    // string of exactly its length: a journal holds one per operation.
    size_t n = 0;
    for (;;) {
        if (wide_.size() < n + 16) wide_.resize(std::max(2 * wide_.size(), n + 256));
        char16_t* to = wide_.data();
        // Plain ASCII, each byte its own unit, sixteen at a time while the
        // input lasts. A load may see past the closing quote, but the quote
        // ends the run, so nothing after it is taken.
        if (end_ - pos_ >= 16) {
            size_t plain = lanes::widen_plain16(pos_, to + n);
            n += plain;
            pos_ += plain;
            if (plain == 16) continue;
        } else {
            while (pos_ < end_ && is_plain_string_byte(*pos_)) {
                to[n++] = static_cast<char16_t>(*pos_++);
            }
            if (pos_ == end_) return false;
        }
        char c = *pos_;
        if (c == '"') {
            ++pos_;
            break;
        }
        char32_t cp;
        if (c == '\\') {
            // An escaped backslash, the separator of every path, first.
            if (end_ - pos_ >= 2 && pos_[1] == '\\') {
                to[n++] = u'\\';
                pos_ += 2;
                continue;
            }
            ++pos_;
            if (!read_escape(cp)) return false;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            return false;  // a raw control character
        } else if (!read_utf8_sequence(cp)) {
            return false;
        }
        if (cp < 0x10000) {
            to[n++] = static_cast<char16_t>(cp);
        } else {
            cp -= 0x10000;
            to[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            to[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
    }
    out.assign(wide_.data(), n);
    return true;
}

bool JsonReader::read_number(JsonNumber& number) {
    skip_whitespace();
    const char* start = pos_;
    const char* p = pos_;
    const char* end = end_;
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    if (p == end || !is_digit(*p)) return false;
    bool fits = true;
    uint64_t magnitude = 0;
    if (*p == '0') {
        ++p;
    } else {
        // Nineteen digits always fit 64 bits; only a longer number is checked.
        const char* digits = p;
        while (p < end && is_digit(*p)) ++p;
        if (p - digits <= 19) {
            for (const char* d = digits; d < p; ++d) {
                magnitude = magnitude * 10 + static_cast<uint64_t>(*d - '0');
            }
        } else {
            for (const char* d = digits; d < p && fits; ++d) {
                fits =
                    !__builtin_mul_overflow(magnitude, 10u, &magnitude) &&
                    !__builtin_add_overflow(magnitude, static_cast<uint64_t>(*d - '0'), &magnitude);
            }
        }
    }
    bool integer = true;
    if (p < end && *p == '.') {
        ++p;
        if (p == end || !is_digit(*p)) return false;
        while (p < end && is_digit(*p)) ++p;
        integer = false;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-')) ++p;
        if (p == end || !is_digit(*p)) return false;
        while (p < end && is_digit(*p)) ++p;
        integer = false;
    }
    number.text = std::string_view(start, static_cast<size_t>(p - start));
    number.magnitude = magnitude;
    constexpr uint64_t signed_limit = uint64_t{1} << 63;  // the magnitude of INT64_MIN
    if (!integer || !fits || (negative && magnitude > signed_limit)) {
        number.kind = JsonNumber::Kind::floating;
        // A number too large for a double is refused like a syntax error.
        if (!std::isfinite(number.to_json().get<double>())) return false;
    } else {
        number.kind =
            negative ? JsonNumber::Kind::signed_integer : JsonNumber::Kind::unsigned_integer;
    }
    pos_ = p;
    return true;
}

bool JsonReader::read_literal(std::string_view word) {
    skip_whitespace();
    if (static_cast<size_t>(end_ - pos_) < word.size()) return false;
    if (std::string_view(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
}

namespace {

// One walk over one value: a stack of the containers still open ('{' or '['),
// and whether the sink still wants events.
class Walk {
  public:
    Walk(JsonReader& reader, JsonSink* sink, bool stop_on_refusal)
        : reader_(reader), sink_(sink), stop_on_refusal_(stop_on_refusal) {}

    WalkResult run() {
        for (;;) {
            // A value comes next.
            bool complete = false;
            switch (char opening = reader_.peek()) {
                case '{':
                case '[': {
                    bool object = opening == '{';
                    reader_.consume(opening);
                    if (!deliver([object](JsonSink& s) {
                            return object ? s.start_object() : s.start_array();
                        })) {
                        return stopped();
                    }
                    if (reader_.consume(object ? '}' : ']')) {
                        if (!deliver([](JsonSink& s) { return s.end_container(); }))
                            return stopped();
                        complete = true;
                        break;
                    }
                    open_.push_back(opening);
                    if (object) {
                        if (auto r = member_key(); r != WalkResult::ok) return r;
                    }
                    break;
                }
                default:
                    if (auto r = scalar(); r != WalkResult::ok) return r;
                    complete = true;
                    break;
            }
            if (!complete) continue;
            // After a complete value: a separator, or the end of containers.
            for (;;) {
                if (open_.empty()) return refused_ ? WalkResult::refused : WalkResult::ok;
                if (reader_.consume(',')) {
                    if (open_.back() == '{') {
                        if (auto r = member_key(); r != WalkResult::ok) return r;
                    }
                    break;
                }
                if (!reader_.consume(open_.back() == '{' ? '}' : ']')) return WalkResult::syntax;
                open_.pop_back();
                if (!deliver([](JsonSink& s) { return s.end_container(); })) return stopped();
            }
        }
    }

  private:
    // False when the walk has to stop: the sink refused and stopping was asked.
    template <class F>
    bool deliver(F&& event) {
        if (sink_ == nullptr || refused_) return true;
        if (event(*sink_)) return true;
        refused_ = true;
        return !stop_on_refusal_;
    }
    WalkResult stopped() const { return WalkResult::refused; }

    // A member's key and its colon; the key is told before the colon is
    // checked, as it is read.
    WalkResult member_key() {
        std::string_view key;
        if (!reader_.read_string(key, scratch_)) return WalkResult::syntax;
        if (sink_ != nullptr && !refused_) {
            std::string name(key);
            if (!deliver([&](JsonSink& s) { return s.key(name); })) return stopped();
        }
        if (!reader_.consume(':')) return WalkResult::syntax;
        return WalkResult::ok;
    }

    WalkResult scalar() {
        nlohmann::json value;
        switch (reader_.peek()) {
            case '"': {
                std::string_view text;
                if (!reader_.read_string(text, scratch_)) return WalkResult::syntax;
                if (wants_events()) value = std::string(text);
                break;
            }
            case 't':
                if (!reader_.read_literal("true")) return WalkResult::syntax;
                value = true;
                break;
            case 'f':
                if (!reader_.read_literal("false")) return WalkResult::syntax;
                value = false;
                break;
            case 'n':
                if (!reader_.read_literal("null")) return WalkResult::syntax;
                break;
            default: {
                JsonNumber number;
                if (!reader_.read_number(number)) return WalkResult::syntax;
                if (wants_events()) value = number.to_json();
                break;
            }
        }
        if (!deliver([&](JsonSink& s) { return s.scalar(std::move(value)); })) return stopped();
        return WalkResult::ok;
    }

    bool wants_events() const { return sink_ != nullptr && !refused_; }

    JsonReader& reader_;
    JsonSink* sink_;
    bool stop_on_refusal_;
    bool refused_ = false;
    std::string open_;
    std::string scratch_;
};

}  // namespace

WalkResult walk_json_value(JsonReader& reader, JsonSink* sink, bool stop_on_refusal) {
    return Walk(reader, sink, stop_on_refusal).run();
}

}  // namespace holvar::strict_json
