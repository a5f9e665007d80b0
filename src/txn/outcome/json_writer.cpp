#include "txn/outcome/json_writer.hpp"

#include "platform/unicode.hpp"

namespace holvar::txn::outcome {

void append_json_escaped(std::string& out, std::string_view valid_utf8) {
    static constexpr char hex[] = "0123456789abcdef";
    for (char ch : valid_utf8) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 0xF]);
                } else {
                    out.push_back(ch);
                }
        }
    }
}

void JsonWriter::separate() {
    if (need_comma_) out_.push_back(',');
    need_comma_ = true;
}

void JsonWriter::begin_object() {
    separate();
    out_.push_back('{');
    need_comma_ = false;
}

void JsonWriter::end_object() {
    out_.push_back('}');
    need_comma_ = true;
}

void JsonWriter::begin_array() {
    separate();
    out_.push_back('[');
    need_comma_ = false;
}

void JsonWriter::end_array() {
    out_.push_back(']');
    need_comma_ = true;
}

void JsonWriter::key(std::string_view name) {
    separate();
    escaped(platform::sanitize_utf8(name));
    out_.push_back(':');
    // The member's value follows the colon directly.
    need_comma_ = false;
}

void JsonWriter::escaped(std::string_view utf8) {
    out_.push_back('"');
    append_json_escaped(out_, utf8);
    out_.push_back('"');
}

void JsonWriter::string(std::string_view utf8) {
    separate();
    escaped(platform::sanitize_utf8(utf8));
}

void JsonWriter::string(std::u16string_view utf16) {
    separate();
    escaped(platform::utf16_to_utf8_lossy(utf16));
}

void JsonWriter::unsigned_number(uint64_t value) {
    separate();
    out_ += std::to_string(value);
}

void JsonWriter::signed_number(int64_t value) {
    separate();
    out_ += std::to_string(value);
}

void JsonWriter::null() {
    separate();
    out_ += "null";
}

}  // namespace holvar::txn::outcome
