// A strict, single-pass JSON reader over bytes held in memory (RFC 8259): the
// caller pulls one token at a time, so a record is decoded straight into its
// fields without a tree in between. Strings are checked to be well-formed
// UTF-8, escapes are decoded (a \u surrogate must be half of a pair), numbers
// follow the JSON grammar exactly. It never reads past the end of its input
// and never recurses: nesting is followed with an explicit stack.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace holvar::strict_json {

// A number token: its kind decides where it is accepted.
struct JsonNumber {
    enum class Kind : uint8_t {
        unsigned_integer,  // no sign, no fraction, no exponent, fits 64 bits
        signed_integer,    // a minus sign (also "-0"), no fraction or exponent, fits 64 bits
        floating,          // anything else: a fraction, an exponent, or too large
                           // (but within a double's range: beyond it is refused)
    };
    Kind kind = Kind::unsigned_integer;
    uint64_t magnitude = 0;  // the absolute value of an integer
    std::string_view text;   // the token as written

    // The value as the JSON library holds it (unsigned, signed or floating).
    nlohmann::json to_json() const;
};

class JsonReader {
  public:
    // A UTF-8 byte order mark at the very start is skipped; a partial one is
    // a syntax error, like any other stray byte.
    explicit JsonReader(std::string_view bytes);

    // Skips whitespace and tells the next byte, or '\0' at the end (a NUL in
    // the input is never valid JSON anyway; `at_end` tells them apart).
    char peek() {
        skip_whitespace();
        return pos_ < end_ ? *pos_ : '\0';
    }
    bool at_end() {
        skip_whitespace();
        return pos_ == end_;
    }
    // Skips whitespace and consumes `c` when it comes next.
    bool consume(char c) {
        if (peek() != c || pos_ == end_) return false;
        ++pos_;
        return true;
    }

    // The string token that comes next (after whitespace). The view points
    // into the input when the token has no escapes, otherwise into `scratch`;
    // it stays valid until the next call that uses the same scratch. False on
    // a syntax error (no string here, a bad escape, invalid UTF-8, a raw
    // control character, a missing closing quote).
    bool read_string(std::string_view& text, std::string& scratch);
    // The same, decoded to UTF-16 into `out` (replacing its contents).
    bool read_string_utf16(std::u16string& out);
    // The number token that comes next.
    bool read_number(JsonNumber& number);
    // One of true, false, null, spelled exactly.
    bool read_literal(std::string_view word);

    // Raw access, for a reader that first tries the exact layout its writer
    // produces and falls back to the general reads from a saved position:
    // `take` consumes `bytes` only when exactly they come next (whitespace is
    // not skipped); `upcoming` shows the next `n` bytes (fewer at the end).
    bool take(std::string_view bytes) {
        if (static_cast<size_t>(end_ - pos_) < bytes.size() ||
            std::string_view(pos_, bytes.size()) != bytes) {
            return false;
        }
        pos_ += bytes.size();
        return true;
    }
    std::string_view upcoming(size_t n) const {
        return {pos_, std::min(n, static_cast<size_t>(end_ - pos_))};
    }
    void skip(size_t n) { pos_ += std::min(n, static_cast<size_t>(end_ - pos_)); }
    const char* position() const { return pos_; }
    void rewind(const char* to) { pos_ = to; }

  private:
    void skip_whitespace() {
        const char* p = pos_;
        while (p < end_ && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
        pos_ = p;
    }
    // From just after an opening quote; appends the decoded text.
    bool decode_string_tail(std::string& out);
    bool read_escape(char32_t& cp);
    bool read_hex4(uint32_t& value);
    bool read_utf8_sequence(char32_t& cp);

    const char* pos_;
    const char* end_;
    std::u16string wide_;  // read_string_utf16's working room
};

// Receives the events of one JSON value, in document order. Every callback
// returns false to refuse the value; the walk then goes on without events to
// the end of the value (its syntax is still checked) or stops, as asked.
class JsonSink {
  public:
    virtual ~JsonSink() = default;
    virtual bool scalar(nlohmann::json value) = 0;
    virtual bool start_object() = 0;
    virtual bool start_array() = 0;
    virtual bool key(std::string& name) = 0;
    virtual bool end_container() = 0;
};

enum class WalkResult : uint8_t {
    ok,       // one well-formed value, every event accepted
    refused,  // well-formed as far as it was read, but the sink refused it
    syntax,   // not a well-formed JSON value
};

// Reads the value that comes next. Without a sink the value is only checked
// and skipped. With one, each event goes to it; when the sink refuses, the
// walk either stops at once (`stop_on_refusal`) or skips what is left of the
// value and reports `refused` only if the rest is well-formed.
WalkResult walk_json_value(JsonReader& reader, JsonSink* sink, bool stop_on_refusal);

}  // namespace holvar::strict_json
