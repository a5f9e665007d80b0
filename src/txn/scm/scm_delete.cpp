// Deleting the service and putting it back. A service that another program
// still holds open is only marked for deletion; the caller must know which.
#include "txn/scm/scm.hpp"
#include "txn/scm/service_handle.hpp"

namespace holvar::txn::scm {

using platform::Result;
using platform::Status;

Result<DeleteResult> scm_delete(platform::Os& os) {
    auto manager = os.services.open_sc_manager(platform::SC_MANAGER_CONNECT);
    if (!manager) return std::unexpected(manager.error());
    {
        auto service = os.services.open_service(*manager, holvar_service_name(), platform::DELETE);
        if (!service) {
            if (service.error().is_win32(platform::win32::service_does_not_exist))
                return DeleteResult::deleted;
            if (service.error().is_win32(platform::win32::service_marked_for_delete))
                return DeleteResult::delete_pending;
            return std::unexpected(service.error());
        }
        auto deleted = os.services.delete_service(*service);
        if (!deleted) {
            if (deleted.error().is_win32(platform::win32::service_marked_for_delete))
                return DeleteResult::delete_pending;
            return std::unexpected(deleted.error());
        }
    }
    // Our handle is closed: the service is gone unless someone else holds it.
    auto again =
        os.services.open_service(*manager, holvar_service_name(), platform::SERVICE_QUERY_STATUS);
    if (!again && again.error().is_win32(platform::win32::service_does_not_exist))
        return DeleteResult::deleted;
    return DeleteResult::delete_pending;
}

Status scm_restore(platform::Os& os, const std::optional<ScmConfig>& config, bool start) {
    if (config) {
        if (auto st = scm_apply(os, *config); !st) return st;
    } else {
        auto deleted = scm_delete(os);
        if (!deleted) return std::unexpected(deleted.error());
        if (*deleted == DeleteResult::delete_pending)
            return platform::win32_error(platform::win32::service_marked_for_delete);
    }
    if (!start) return {};
    if (auto st = scm_start(os); !st) return st;
    return scm_wait_running(os, std::chrono::seconds(30));
}

}  // namespace holvar::txn::scm
