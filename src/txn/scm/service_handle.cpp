#include "txn/scm/service_handle.hpp"

#include "txn/scm/scm.hpp"

namespace holvar::txn::scm {

const std::u16string& holvar_service_name() {
    static const std::u16string name(kServiceName);
    return name;
}

platform::Result<OpenedService> open_holvar_service(platform::Os& os, uint32_t manager_access,
                                                    uint32_t service_access) {
    auto manager = os.services.open_sc_manager(manager_access);
    if (!manager) return std::unexpected(manager.error());
    auto service = os.services.open_service(*manager, holvar_service_name(), service_access);
    if (!service) return std::unexpected(service.error());
    return OpenedService{std::move(*manager), std::move(*service)};
}

}  // namespace holvar::txn::scm
