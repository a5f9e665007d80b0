// Reading the service as the SCM holds it. Every text is checked before it is
// used: the snapshot goes into the journal and decides what a rollback writes
// back, so nothing half-read may reach it.
#include <cstring>

#include "txn/journal/text_codec.hpp"
#include "txn/scm/scm.hpp"
#include "txn/scm/scm_text.hpp"
#include "txn/scm/service_handle.hpp"

namespace holvar::txn::scm {

using platform::Result;

namespace {

constexpr uint32_t kConfigBufferBytes = 8192;
constexpr uint32_t kMaxDescriptionBytes = 65536;

// The description: sized first, then read; null when there is none.
Result<std::optional<std::u16string>> read_description(platform::Os& os,
                                                       const platform::Handle& service) {
    auto sized = os.services.query_service_description(service, 0);
    if (!sized) return std::unexpected(sized.error());
    uint32_t needed = sized->bytes_needed;
    if (!sized->fitted && (needed == 0 || needed > kMaxDescriptionBytes))
        return platform::win32_error(platform::win32::insufficient_buffer);
    if (!sized->fitted) {
        uint32_t size = (needed + 7) / 8 * 8;
        sized = os.services.query_service_description(service, size);
        if (!sized) return std::unexpected(sized.error());
        if (!sized->fitted) return platform::win32_error(platform::win32::insufficient_buffer);
    }
    const auto& buffer = sized->buffer;
    if (!sized->description_offset) return std::optional<std::u16string>{};
    int64_t offset = *sized->description_offset;
    if (offset < 0 || static_cast<uint64_t>(offset) >= buffer.size())
        return platform::invalid_data("invalid SCM description");
    std::u16string text;
    bool terminated = false;
    for (size_t at = static_cast<size_t>(offset); at + 1 < buffer.size(); at += 2) {
        char16_t c = static_cast<char16_t>(buffer[at] | (buffer[at + 1] << 8));
        if (c == u'\0') {
            terminated = true;
            break;
        }
        text.push_back(c);
    }
    if (!terminated) return platform::invalid_data("unterminated SCM description");
    if (!journal::is_valid_utf16(text)) return platform::invalid_data("invalid SCM description");
    if (text.empty()) return std::optional<std::u16string>{};
    return std::optional<std::u16string>{std::move(text)};
}

// A required text of the configuration; a NULL pointer reads as empty.
Result<std::u16string> required_text(const std::optional<std::u16string>& raw) {
    return scm_text(raw.value_or(std::u16string()));
}

}  // namespace

Result<std::optional<QueriedService>> scm_query(platform::Os& os) {
    using Absent = std::optional<QueriedService>;
    auto opened =
        open_holvar_service(os, platform::SC_MANAGER_CONNECT,
                            platform::SERVICE_QUERY_CONFIG | platform::SERVICE_QUERY_STATUS);
    if (!opened) {
        if (opened.error().is_win32(platform::win32::service_does_not_exist)) return Absent{};
        return std::unexpected(opened.error());
    }
    auto answer = os.services.query_service_config(opened->service, kConfigBufferBytes);
    if (!answer) return std::unexpected(answer.error());
    if (!answer->config) return platform::win32_error(platform::win32::insufficient_buffer);
    const platform::QueryServiceConfig& raw = *answer->config;

    if (raw.service_type != SERVICE_WIN32_OWN_PROCESS)
        return platform::invalid_data("unsupported service type");
    QueriedService out;
    ScmConfig& c = out.config;
    c.service_type = "own_process";
    auto start = start_type_text(raw.start_type);
    if (!start) return std::unexpected(start.error());
    c.start_type = *start;
    auto error = error_control_text(raw.error_control);
    if (!error) return std::unexpected(error.error());
    c.error_control = *error;

    auto binary_path = required_text(raw.binary_path);
    if (!binary_path) return std::unexpected(binary_path.error());
    c.binary_path = std::move(*binary_path);
    auto deps = scm_multi_string(raw.dependencies.value_or(std::u16string()));
    if (!deps) return std::unexpected(deps.error());
    c.dependencies = std::move(*deps);
    if (!raw.service_start_name) return platform::invalid_data("missing service account");
    auto account = scm_text(*raw.service_start_name);
    if (!account) return std::unexpected(account.error());
    c.account = std::move(*account);
    auto display = required_text(raw.display_name);
    if (!display) return std::unexpected(display.error());
    c.display_name = std::move(*display);

    auto description = read_description(os, opened->service);
    if (!description) return std::unexpected(description.error());
    c.description = std::move(*description);

    auto status = os.services.query_service_status(opened->service);
    if (!status) return std::unexpected(status.error());
    switch (status->current_state) {
        case platform::SERVICE_STOPPED:
            out.state = ServiceRunState::stopped;
            break;
        case platform::SERVICE_RUNNING:
            out.state = ServiceRunState::running;
            break;
        case 2:
        case 3:
        case 5:
        case 6:
        case 7:
            out.state = ServiceRunState::changing;
            break;
        default:
            return platform::invalid_data("service status");
    }
    return Absent{std::move(out)};
}

}  // namespace holvar::txn::scm
