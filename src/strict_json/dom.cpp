#include "strict_json/dom.hpp"

#include <utility>

namespace holvar::strict_json {

nlohmann::json* JsonDomBuilder::place(nlohmann::json value) {
    if (stack_.empty()) {
        root_ = std::move(value);
        return &root_;
    }
    nlohmann::json& parent = *stack_.back();
    if (parent.is_array()) {
        parent.get_ref<nlohmann::json::array_t&>().push_back(std::move(value));
        return &parent.get_ref<nlohmann::json::array_t&>().back();
    }
    auto& object = parent.get_ref<nlohmann::json::object_t&>();
    auto [it, inserted] = object.emplace(std::move(pending_key_), std::move(value));
    if (!inserted) return nullptr;
    return &it->second;
}

bool JsonDomBuilder::scalar(nlohmann::json value) {
    if (failure_) return false;
    if (place(std::move(value)) == nullptr) return fail(StrictJsonFailure::duplicate_key);
    return true;
}

bool JsonDomBuilder::open(nlohmann::json empty) {
    if (failure_) return false;
    if (stack_.size() >= max_depth_) return fail(StrictJsonFailure::too_deep);
    nlohmann::json* slot = place(std::move(empty));
    if (slot == nullptr) return fail(StrictJsonFailure::duplicate_key);
    stack_.push_back(slot);
    return true;
}

bool JsonDomBuilder::start_object() {
    return open(nlohmann::json::object());
}
bool JsonDomBuilder::start_array() {
    return open(nlohmann::json::array());
}

bool JsonDomBuilder::key(std::string& name) {
    if (failure_) return false;
    // A key already present is refused when its value arrives; checking here
    // as well keeps the error at the key that repeats.
    const auto& object = stack_.back()->get_ref<const nlohmann::json::object_t&>();
    if (object.find(name) != object.end()) return fail(StrictJsonFailure::duplicate_key);
    pending_key_ = std::move(name);
    return true;
}

bool JsonDomBuilder::end_container() {
    if (failure_) return false;
    stack_.pop_back();
    return true;
}

std::expected<nlohmann::json, StrictJsonFailure> parse_strict_json(std::string_view bytes,
                                                                   size_t max_depth) {
    JsonReader reader(bytes);
    JsonDomBuilder dom(max_depth);
    // The first refusal ends the parse, like the first syntax error: whichever
    // comes first in the text decides.
    WalkResult walked = walk_json_value(reader, &dom, true);
    if (walked == WalkResult::refused) return std::unexpected(dom.failure());
    if (walked == WalkResult::syntax || !reader.at_end()) {
        return std::unexpected(StrictJsonFailure::syntax);
    }
    return std::move(dom.value());
}

}  // namespace holvar::strict_json
