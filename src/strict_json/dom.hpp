// JSON parsing into the library's tree that sees what the library's own parser
// hides: a key that occurs twice in one object (the library keeps the last),
// and nesting deep enough to exhaust memory. Meant for small records; the
// events come from the strict reader, and nothing throws.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "strict_json/reader.hpp"

namespace holvar::strict_json {

enum class StrictJsonFailure : uint8_t {
    syntax,         // not one well-formed JSON text
    duplicate_key,  // a key twice in one object
    too_deep,       // containers nested deeper than allowed
};

// Builds one JSON value from parser events. Containers may nest `max_depth`
// levels (a scalar alone is depth 0, an object of scalars depth 1).
class JsonDomBuilder final : public JsonSink {
  public:
    explicit JsonDomBuilder(size_t max_depth) : max_depth_(max_depth) {}

    bool scalar(nlohmann::json value) override;
    bool start_object() override;
    bool start_array() override;
    bool key(std::string& name) override;
    bool end_container() override;

    bool failed() const { return failure_.has_value(); }
    StrictJsonFailure failure() const { return *failure_; }
    // The finished value, once the outermost container has ended.
    nlohmann::json& value() { return root_; }
    size_t depth() const { return stack_.size(); }

  private:
    nlohmann::json* place(nlohmann::json value);
    bool open(nlohmann::json empty);
    bool fail(StrictJsonFailure f) {
        failure_ = f;
        return false;
    }

    size_t max_depth_;
    nlohmann::json root_;
    std::vector<nlohmann::json*> stack_;
    std::string pending_key_;
    std::optional<StrictJsonFailure> failure_;
};

std::expected<nlohmann::json, StrictJsonFailure> parse_strict_json(std::string_view bytes,
                                                                   size_t max_depth);

}  // namespace holvar::strict_json
