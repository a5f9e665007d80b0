// Writing the service's configuration: create it when missing, then always
// write every field, so the stored image path is exactly the one asked for
// whatever the creation made of it.
#include "managed_v3/identity/path_walk.hpp"
#include "txn/scm/identity_gate.hpp"
#include "txn/scm/scm.hpp"
#include "txn/scm/scm_text.hpp"
#include "txn/scm/service_handle.hpp"

namespace holvar::txn::scm {

using platform::Status;

namespace {

// Every text of the record, checked before the SCM is opened.
Status check_config_texts(const ScmConfig& c) {
    for (const std::u16string* t : {&c.binary_path, &c.account, &c.display_name})
        if (auto st = check_scm_text(*t); !st) return st;
    for (const auto& d : c.dependencies)
        if (auto st = check_scm_text(d); !st) return st;
    if (c.description)
        if (auto st = check_scm_text(*c.description); !st) return st;
    return {};
}

}  // namespace

Status scm_apply(platform::Os& os, const ScmConfig& config) {
    auto numbers = translate_for_scm(config);
    if (!numbers) return std::unexpected(numbers.error());
    if (auto st = check_config_texts(config); !st) return st;
    // Nothing is configured to run as LocalSystem from an image that anyone
    // but the system and the administrators could change, or reach through a
    // folder they could change: the image path is walked, and stays pinned
    // until the configuration is written.
    auto image = unambiguous_image(config.binary_path);
    if (!image) return platform::fail(platform::ErrorKind::other, "unsafe_installation");
    auto pinned = v3::walk_trusted_path(os, *image);
    if (!pinned) return platform::fail(platform::ErrorKind::other, "unsafe_installation");
    const std::u16string deps = dependency_multi_string(config.dependencies);

    constexpr uint32_t kServiceAccess =
        platform::SERVICE_QUERY_CONFIG | platform::SERVICE_CHANGE_CONFIG;
    auto manager = os.services.open_sc_manager(platform::SC_MANAGER_CONNECT |
                                               platform::SC_MANAGER_CREATE_SERVICE);
    if (!manager) return std::unexpected(manager.error());
    auto service = os.services.open_service(*manager, holvar_service_name(), kServiceAccess);
    if (!service) {
        if (!service.error().is_win32(platform::win32::service_does_not_exist))
            return std::unexpected(service.error());
        service = os.services.create_service(
            *manager, holvar_service_name(), config.display_name, kServiceAccess,
            numbers->service_type, numbers->start_type, numbers->error_control,
            quote_command_line_argument(config.binary_path), deps, config.account);
        if (!service) return std::unexpected(service.error());
    }
    if (auto st = os.services.change_service_config(
            *service, numbers->service_type, numbers->start_type, numbers->error_control,
            &config.binary_path, &deps, &config.account, &config.display_name);
        !st)
        return st;
    // An empty description removes the one the service has.
    const std::u16string description = config.description.value_or(std::u16string());
    return os.services.change_service_description(*service, &description);
}

Status scm_disable(platform::Os& os) {
    auto opened =
        open_holvar_service(os, platform::SC_MANAGER_CONNECT, platform::SERVICE_CHANGE_CONFIG);
    if (!opened) return std::unexpected(opened.error());
    return os.services.change_service_config(
        opened->service, platform::SERVICE_NO_CHANGE, platform::SERVICE_DISABLED,
        platform::SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace holvar::txn::scm
