#include "txn/scm/scm_config.hpp"

#include <array>
#include <nlohmann/json.hpp>

#include "strict_json/dom.hpp"
#include "txn/journal/text_codec.hpp"

namespace holvar::txn::scm {

using journal::append_json_string;
using journal::append_json_string_utf8;
using platform::invalid_data;
using platform::invalid_input;

namespace {

constexpr std::array<std::string_view, 5> start_type_texts = {"boot", "system", "auto", "demand",
                                                              "disabled"};
constexpr std::array<std::string_view, 4> error_control_texts = {"ignore", "normal", "severe",
                                                                 "critical"};

template <size_t N>
std::optional<uint32_t> index_of(const std::array<std::string_view, N>& table,
                                 std::string_view text) {
    for (size_t i = 0; i < N; ++i) {
        if (table[i] == text) return static_cast<uint32_t>(i);
    }
    return std::nullopt;
}

constexpr std::array<std::string_view, 8> keys = {"service_type", "start_type",   "error_control",
                                                  "binary_path",  "dependencies", "account",
                                                  "display_name", "description"};

constexpr std::string_view bad_record = "invalid service configuration";

// A JSON string as UTF-16. The parser hands over only well-formed UTF-8.
std::optional<std::u16string> wide_string(const nlohmann::json& v) {
    if (!v.is_string()) return std::nullopt;
    return journal::utf8_to_utf16(v.get_ref<const std::string&>());
}

}  // namespace

ScmConfig desired_scm_config(std::u16string_view root) {
    while (!root.empty() && root.back() == u'\\') root.remove_suffix(1);
    ScmConfig c;
    c.service_type = "own_process";
    c.start_type = "auto";
    c.error_control = "normal";
    c.binary_path = u"\"";
    c.binary_path += root;
    c.binary_path += u"\\resources\\holvar-service.exe\"";
    c.account = u"LocalSystem";
    c.display_name = u"Holvar Service";
    c.description = u"Holvar managed runtime v3";
    return c;
}

platform::Result<ScmNumbers> translate_for_scm(const ScmConfig& config) {
    if (config.service_type != "own_process") return invalid_input("unsupported service type");
    auto start = index_of(start_type_texts, config.start_type);
    if (!start) return invalid_input("start type");
    auto error = index_of(error_control_texts, config.error_control);
    if (!error) return invalid_input("error control");
    return ScmNumbers{SERVICE_WIN32_OWN_PROCESS, *start, *error};
}

platform::Result<std::string> start_type_text(uint32_t start_type) {
    if (start_type >= start_type_texts.size()) return invalid_data("start type");
    return std::string(start_type_texts[start_type]);
}

platform::Result<std::string> error_control_text(uint32_t error_control) {
    if (error_control >= error_control_texts.size()) return invalid_data("error control");
    return std::string(error_control_texts[error_control]);
}

bool append_scm_config_json(std::string& out, const ScmConfig& c) {
    // The three enumerated texts travel as UTF-8 already; they must be valid.
    for (const std::string* t : {&c.service_type, &c.start_type, &c.error_control}) {
        if (!journal::utf8_to_utf16(*t)) return false;
    }
    out += "{\"service_type\":";
    append_json_string_utf8(out, c.service_type);
    out += ",\"start_type\":";
    append_json_string_utf8(out, c.start_type);
    out += ",\"error_control\":";
    append_json_string_utf8(out, c.error_control);
    out += ",\"binary_path\":";
    if (!append_json_string(out, c.binary_path)) return false;
    out += ",\"dependencies\":[";
    for (size_t i = 0; i < c.dependencies.size(); ++i) {
        if (i != 0) out.push_back(',');
        if (!append_json_string(out, c.dependencies[i])) return false;
    }
    out += "],\"account\":";
    if (!append_json_string(out, c.account)) return false;
    out += ",\"display_name\":";
    if (!append_json_string(out, c.display_name)) return false;
    out += ",\"description\":";
    if (c.description) {
        if (!append_json_string(out, *c.description)) return false;
    } else {
        out += "null";
    }
    out.push_back('}');
    return true;
}

platform::Result<ScmConfig> scm_config_from_json(const nlohmann::json& value) {
    if (!value.is_object()) return invalid_data(bad_record);
    for (const auto& [k, v] : value.get_ref<const nlohmann::json::object_t&>()) {
        bool known = false;
        for (auto name : keys) known = known || k == name;
        if (!known) return invalid_data(bad_record);
    }
    auto text = [&](std::string_view key) -> const std::string* {
        auto it = value.find(key);
        if (it == value.end() || !it->is_string()) return nullptr;
        return &it->get_ref<const std::string&>();
    };
    auto wide = [&](std::string_view key) -> std::optional<std::u16string> {
        auto it = value.find(key);
        if (it == value.end()) return std::nullopt;
        return wide_string(*it);
    };

    ScmConfig c;
    const std::string* service_type = text("service_type");
    const std::string* start_type = text("start_type");
    const std::string* error_control = text("error_control");
    if (!service_type || !start_type || !error_control) return invalid_data(bad_record);
    c.service_type = *service_type;
    c.start_type = *start_type;
    c.error_control = *error_control;

    auto binary_path = wide("binary_path");
    if (!binary_path) return invalid_data(bad_record);
    c.binary_path = std::move(*binary_path);

    auto deps = value.find("dependencies");
    if (deps == value.end() || !deps->is_array()) return invalid_data(bad_record);
    for (const auto& d : *deps) {
        auto w = wide_string(d);
        if (!w) return invalid_data(bad_record);
        c.dependencies.push_back(std::move(*w));
    }

    auto account = wide("account");
    auto display_name = wide("display_name");
    if (!account || !display_name) return invalid_data(bad_record);
    c.account = std::move(*account);
    c.display_name = std::move(*display_name);

    auto description = value.find("description");
    if (description != value.end() && !description->is_null()) {
        auto w = wide_string(*description);
        if (!w) return invalid_data(bad_record);
        c.description = std::move(*w);
    }
    return c;
}

platform::Result<std::string> encode_scm_config(const ScmConfig& config) {
    std::string out;
    if (!append_scm_config_json(out, config)) return invalid_input(bad_record);
    return out;
}

platform::Result<ScmConfig> decode_scm_config(std::string_view bytes) {
    // The record nests two levels: the object and its dependency list.
    auto parsed = strict_json::parse_strict_json(bytes, 2);
    if (!parsed) return invalid_data(bad_record);
    return scm_config_from_json(*parsed);
}

}  // namespace holvar::txn::scm
