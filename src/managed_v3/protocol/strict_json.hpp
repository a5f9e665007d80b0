// Strict JSON reading for v3 messages: a parser that refuses a key given twice
// in one object and nesting beyond a bound, and field readers that refuse a
// wrong JSON type, a missing field, an integer out of range or of the wrong
// sign, an unlisted enumeration text and a key that the record does not list.
//
// Every failure is the same for the protocol (the frame is invalid), so the
// readers answer true or false and the public decoders turn false into the
// one error "invalid_frame". Nothing here throws: values are inspected with
// get_ptr, which answers null for another type.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "managed_v3/protocol/enum_names.hpp"
#include "platform/error.hpp"

namespace holvar::v3 {

using Json = nlohmann::json;

inline constexpr std::string_view kInvalidFrame = "invalid_frame";
inline std::unexpected<platform::Error> invalid_frame() {
    return platform::invalid_data(kInvalidFrame);
}

// Parses one JSON text (RFC 8259; surrounding whitespace allowed, nothing
// else after the value, not even a NUL byte). Fails on a syntax error,
// invalid UTF-8, a repeated key in any object, a leading byte order mark, or
// arrays and objects nested more than `max_depth` deep.
platform::Result<Json> parse_strict(std::string_view text, std::size_t max_depth);

// Value readers. Integers must be JSON integers without a sign, fraction or
// exponent, and within the width of the target.
bool decode_value(const Json& value, std::string& out);
bool decode_value(const Json& value, bool& out);
bool decode_value(const Json& value, uint16_t& out);
bool decode_value(const Json& value, uint32_t& out);
bool decode_value(const Json& value, uint64_t& out);

template <class E>
requires requires {
    EnumNames<E>::names;
}
bool decode_value(const Json& value, E& out) {
    const auto* text = value.get_ptr<const std::string*>();
    if (text == nullptr) return false;
    const std::optional<E> parsed = enum_from_name<E>(*text);
    if (!parsed) return false;
    out = *parsed;
    return true;
}

template <class T>
bool decode_value(const Json& value, std::vector<T>& out) {
    if (!value.is_array()) return false;
    out.clear();
    out.reserve(value.size());
    for (const Json& element : value) {
        T item{};
        if (!decode_value(element, item)) return false;
        out.push_back(std::move(item));
    }
    return true;
}

// Reads the fields of one JSON object. Each key is taken at most once; done()
// answers whether the value was an object and every key in it was taken.
class FieldReader {
  public:
    explicit FieldReader(const Json& value) : object_(value.is_object() ? &value : nullptr) {}

    bool is_object() const { return object_ != nullptr; }

    // A field that must be present with a value of T's type.
    template <class T>
    bool required(const char* key, T& out) {
        const Json* value = take(key);
        return value != nullptr && decode_value(*value, out);
    }

    // A field that may be left out or null (both: nullopt).
    template <class T>
    bool optional(const char* key, std::optional<T>& out) {
        out.reset();
        if (object_ == nullptr) return false;
        const Json* value = take(key);
        if (value == nullptr || value->is_null()) return true;
        T item{};
        if (!decode_value(*value, item)) return false;
        out = std::move(item);
        return true;
    }

    // A key that carries nothing: left out or null.
    bool absent_or_null(const char* key) {
        if (object_ == nullptr) return false;
        const Json* value = take(key);
        return value == nullptr || value->is_null();
    }

    bool done() const { return object_ != nullptr && taken_ == object_->size(); }

  private:
    const Json* take(const char* key) {
        if (object_ == nullptr) return nullptr;
        const auto found = object_->find(key);
        if (found == object_->end()) return nullptr;
        ++taken_;
        return &*found;
    }

    const Json* object_;
    std::size_t taken_ = 0;
};

}  // namespace holvar::v3
