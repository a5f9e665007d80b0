// A compact JSON writer for the outcome report: no whitespace anywhere, keys
// in the order the caller writes them, and one fixed escaping rule, so the
// bytes of a report depend on its content only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace holvar::txn::outcome {

class JsonWriter {
  public:
    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    // The key of the next member (written escaped, followed by ':').
    void key(std::string_view name);

    // Strings: UTF-8 (ill-formed sequences become U+FFFD) or UTF-16 (an
    // unpaired surrogate becomes U+FFFD); the output is always valid UTF-8.
    void string(std::string_view utf8);
    void string(std::u16string_view utf16);
    void unsigned_number(uint64_t value);
    void signed_number(int64_t value);
    void null();

    const std::string& text() const { return out_; }
    std::string take() { return std::move(out_); }

  private:
    void separate();
    void escaped(std::string_view utf8);

    std::string out_;
    // Whether the next value or key in the current container needs a comma.
    bool need_comma_ = false;
};

// Quotation mark and backslash escaped; backspace, form feed, line feed,
// carriage return and tab as their short escapes; other characters below
// U+0020 as \u00XX with lowercase hexadecimal digits; everything else as is.
void append_json_escaped(std::string& out, std::string_view valid_utf8);

}  // namespace holvar::txn::outcome
