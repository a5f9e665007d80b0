#include "txn/scm/identity_gate.hpp"

#include "managed_v3/identity/process_identity.hpp"
#include "managed_v3/identity/service_process.hpp"
#include "platform/win_path.hpp"
#include "txn/scm/scm_config.hpp"

namespace holvar::txn::scm {

using platform::Result;
using v3::identity_rejected;

namespace {

constexpr uint32_t kMinConfigBytes = 64;
constexpr uint32_t kMaxConfigBytes = 65536;

}  // namespace

std::optional<std::u16string> unambiguous_image(const std::u16string& configured) {
    if (configured.size() >= 2 && configured.front() == u'"' && configured.back() == u'"') {
        std::u16string inner = configured.substr(1, configured.size() - 2);
        if (inner.find(u'"') != std::u16string::npos) return std::nullopt;
        return inner;
    }
    if (configured.find_first_of(u"\" \t\n\v\f\r") != std::u16string::npos) return std::nullopt;
    return configured;
}

Result<std::u16string> service_image_path(std::u16string_view binary_path) {
    while (!binary_path.empty() && binary_path.front() == u'"') binary_path.remove_prefix(1);
    while (!binary_path.empty() && binary_path.back() == u'"') binary_path.remove_suffix(1);
    std::u16string path(binary_path);
    auto name = platform::file_name(path);
    auto parent = platform::parent_path(path);
    auto grandparent = parent ? platform::parent_path(*parent) : std::nullopt;
    if (!name || *name != u"holvar-service.exe" || !grandparent)
        return platform::fail(platform::ErrorKind::other, "unsafe_installation");
    return path;
}

Result<VerifiedService> verify_service_identity(platform::Os& os, const platform::Handle& service,
                                                std::u16string_view image, v3::PinnedPath walked) {
    auto sized = os.services.query_service_config(service, 0);
    if (!sized || sized->config || sized->bytes_needed < kMinConfigBytes ||
        sized->bytes_needed > kMaxConfigBytes)
        return identity_rejected();
    auto answer = os.services.query_service_config(service, sized->bytes_needed);
    if (!answer || !answer->config) return identity_rejected();
    const platform::QueryServiceConfig& config = *answer->config;
    if (config.service_type != SERVICE_WIN32_OWN_PROCESS || !config.service_start_name ||
        !platform::ascii_iequal(*config.service_start_name, u"LocalSystem") || !config.binary_path)
        return identity_rejected();
    auto configured = unambiguous_image(*config.binary_path);
    if (!configured || !platform::is_absolute_path(*configured)) return identity_rejected();

    // The configured image and the walked one are the same file, by final path.
    auto opened = os.files.create_file(*configured, v3::kPinAccess, v3::kPinShare,
                                       platform::OPEN_EXISTING, v3::kPinFlags);
    if (!opened) return identity_rejected();
    auto info = os.files.get_file_information_by_handle(walked.last());
    if (!info || (info->file_attributes & platform::FILE_ATTRIBUTE_DIRECTORY))
        return identity_rejected();
    auto configured_final = v3::final_path(os, *opened);
    auto walked_final = v3::final_path(os, walked.last());
    if (!configured_final || !walked_final || *configured_final != *walked_final)
        return identity_rejected();
    auto same = v3::same_file(os, *opened, walked.last());
    if (!same || !*same) return identity_rejected();

    auto status = v3::query_service_process(os, service);
    if (!status) return identity_rejected();
    VerifiedService out;
    if (status->current_state == platform::SERVICE_STOPPED) {
        if (status->process_id != 0) return identity_rejected();
        out.image = std::move(walked);
        return out;
    }
    if (status->process_id == 0) return identity_rejected();
    auto process = v3::open_live_process(os, status->process_id);
    if (!process) return identity_rejected();
    if (!v3::verify_process_is_system(os, *process)) return identity_rejected();
    auto pinned = v3::verify_process_image(os, image, *process);
    if (!pinned) return identity_rejected();
    out.image = std::move(*pinned);
    out.pid = status->process_id;
    out.process = std::move(*process);
    return out;
}

}  // namespace holvar::txn::scm
