// The one record of the managed service's configuration as the Service Control
// Manager holds it: what the journal keeps as the state before a transaction,
// what the SCM operations read and write, and what an install asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/error.hpp"

namespace holvar::txn::scm {

struct ScmConfig {
    // Enumerated texts ("own_process"; "boot".."disabled"; "ignore".."critical"),
    // held as read: they are checked only when the record is applied, so a
    // journal may carry any text here.
    std::string service_type;
    std::string start_type;
    std::string error_control;
    std::u16string binary_path;                // exactly as the SCM holds it, quotes included
    std::vector<std::u16string> dependencies;  // "+name" is a load-order group
    std::u16string account;
    std::u16string display_name;
    std::optional<std::u16string> description;

    friend bool operator==(const ScmConfig&, const ScmConfig&) = default;
};

inline constexpr uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;

// The configuration an install writes for the install root `root`.
ScmConfig desired_scm_config(std::u16string_view root);

// The numbers an SCM call takes for a record.
struct ScmNumbers {
    uint32_t service_type = SERVICE_WIN32_OWN_PROCESS;
    uint32_t start_type = 0;
    uint32_t error_control = 0;
    friend bool operator==(const ScmNumbers&, const ScmNumbers&) = default;
};

// Checked in this order: invalid input "unsupported service type", "start type",
// "error control". The texts are compared exactly (case-sensitive).
platform::Result<ScmNumbers> translate_for_scm(const ScmConfig& config);

// The record texts of numbers queried from the SCM; invalid data "start type" or
// "error control" for a number outside the tables.
platform::Result<std::string> start_type_text(uint32_t start_type);
platform::Result<std::string> error_control_text(uint32_t error_control);

// JSON form: keys in declaration order, compact. False when a text is not valid
// Unicode (an unpaired surrogate has no UTF-8 form); `out` is then unspecified.
bool append_scm_config_json(std::string& out, const ScmConfig& config);
// From a parsed JSON value: every key but "description" required, unknown keys
// refused, strings only where strings belong. Invalid data "invalid service
// configuration" otherwise.
platform::Result<ScmConfig> scm_config_from_json(const nlohmann::json& value);

// The record on its own, as bytes: encode fails with invalid input "invalid
// service configuration" for a text that is not valid Unicode; decode also
// refuses a key that occurs twice.
platform::Result<std::string> encode_scm_config(const ScmConfig& config);
platform::Result<ScmConfig> decode_scm_config(std::string_view bytes);

}  // namespace holvar::txn::scm
