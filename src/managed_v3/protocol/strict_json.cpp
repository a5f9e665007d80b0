#include "managed_v3/protocol/strict_json.hpp"

#include <utility>

namespace holvar::v3 {
namespace {

// Builds the document like the library's own DOM builder, but stops the parse
// at a key that its object already holds (the library keeps the last one
// silently) and at a container that would open deeper than the bound. The
// parser itself is iterative, so the bound is about what the protocol
// allows, not about the stack.
class StrictDomBuilder {
  public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    StrictDomBuilder(Json& root, std::size_t max_depth) : root_(root), max_depth_(max_depth) {}

    bool null() { return put(Json(nullptr)) != nullptr; }
    bool boolean(bool value) { return put(Json(value)) != nullptr; }
    bool number_integer(number_integer_t value) { return put(Json(value)) != nullptr; }
    bool number_unsigned(number_unsigned_t value) { return put(Json(value)) != nullptr; }
    bool number_float(number_float_t value, const string_t&) { return put(Json(value)) != nullptr; }
    bool string(string_t& value) { return put(Json(std::move(value))) != nullptr; }
    bool binary(binary_t&) { return false; }  // JSON text has no binary values

    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(string_t& name) {
        Json& object = *open_.back();
        if (object.contains(name)) return false;
        slot_ = &object[name];
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

  private:
    // Stores a value where the parser stands: the root, the next array
    // element, or the object slot of the last key. Answers where it went.
    Json* put(Json&& value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        if (slot_ == nullptr) return nullptr;
        *slot_ = std::move(value);
        Json* stored = slot_;
        slot_ = nullptr;
        return stored;
    }

    bool open(Json&& container) {
        if (open_.size() >= max_depth_) return false;
        Json* stored = put(std::move(container));
        if (stored == nullptr) return false;
        open_.push_back(stored);
        return true;
    }

    bool close() {
        if (open_.empty()) return false;
        open_.pop_back();
        return true;
    }

    Json& root_;
    std::size_t max_depth_;
    std::vector<Json*> open_;
    Json* slot_ = nullptr;
};

template <class T>
bool decode_unsigned(const Json& value, T& out) {
    const auto* number = value.get_ptr<const Json::number_unsigned_t*>();
    if (number == nullptr || *number > std::numeric_limits<T>::max()) return false;
    out = static_cast<T>(*number);
    return true;
}

}  // namespace

platform::Result<Json> parse_strict(std::string_view text, std::size_t max_depth) {
    // The library skips a leading byte order mark; JSON on the wire has none,
    // and only whitespace may come before the value.
    if (text.starts_with("\xEF\xBB\xBF")) return invalid_frame();
    Json root;
    StrictDomBuilder builder(root, max_depth);
    if (!Json::sax_parse(text.begin(), text.end(), &builder)) return invalid_frame();
    return root;
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
