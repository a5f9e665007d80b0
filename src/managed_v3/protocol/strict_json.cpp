#include "managed_v3/protocol/strict_json.hpp"

#include <utility>

#include "strict_json/dom.hpp"

namespace holvar::v3 {
namespace {

template <class T>
bool decode_unsigned(const Json& value, T& out) {
    const auto* number = value.get_ptr<const Json::number_unsigned_t*>();
    if (number == nullptr || *number > std::numeric_limits<T>::max()) return false;
    out = static_cast<T>(*number);
    return true;
}

}  // namespace

platform::Result<Json> parse_strict(std::string_view text, std::size_t max_depth) {
    // The reader skips a leading byte order mark, as a file may have one;
    // JSON on the wire has none, and only whitespace may come before the value.
    if (text.starts_with("\xEF\xBB\xBF")) return invalid_frame();
    auto parsed = strict_json::parse_strict_json(text, max_depth);
    if (!parsed) return invalid_frame();
    return std::move(*parsed);
}

bool decode_value(const Json& value, std::string& out) {
    const auto* text = value.get_ptr<const std::string*>();
    if (text == nullptr) return false;
    out = *text;
    return true;
}

bool decode_value(const Json& value, bool& out) {
    const auto* flag = value.get_ptr<const bool*>();
    if (flag == nullptr) return false;
    out = *flag;
    return true;
}

bool decode_value(const Json& value, uint16_t& out) {
    return decode_unsigned(value, out);
}
bool decode_value(const Json& value, uint32_t& out) {
    return decode_unsigned(value, out);
}
bool decode_value(const Json& value, uint64_t& out) {
    return decode_unsigned(value, out);
}

}  // namespace holvar::v3
