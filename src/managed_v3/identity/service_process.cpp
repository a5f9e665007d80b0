#include "managed_v3/identity/service_process.hpp"

#include "managed_v3/identity/process_identity.hpp"

namespace holvar::v3 {

namespace p = holvar::platform;

namespace {
constexpr uint32_t kScManagerConnect = 0x1;
constexpr uint32_t kServiceQueryStatus = 0x4;
constexpr uint32_t kServiceWin32OwnProcess = 0x10;
constexpr uint32_t kServiceRunning = 4;
}  // namespace

p::Result<p::ServiceStatusProcess> query_service_process(p::Os& os, const p::Handle& service) {
    auto status = os.services.query_service_status(service);
    if (!status || status->service_type != kServiceWin32OwnProcess) return identity_rejected();
    return *status;
}

p::Result<uint32_t> service_process_id(p::Os& os) {
    auto scm = os.services.open_sc_manager(kScManagerConnect);
    if (!scm) return identity_rejected();
    auto service = os.services.open_service(*scm, kServiceName, kServiceQueryStatus);
    if (!service) return identity_rejected();
    auto status = query_service_process(os, *service);
    if (!status || status->current_state != kServiceRunning || status->process_id == 0)
        return identity_rejected();
    return status->process_id;
}

}  // namespace holvar::v3
