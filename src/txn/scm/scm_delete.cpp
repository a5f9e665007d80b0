// Deleting the service and putting it back. A service that another program
// still holds open is only marked for deletion; the caller must know which.
#include "txn/scm/scm.hpp"
#include "txn/scm/service_handle.hpp"
#include "txn/test_seam.hpp"

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
    // A service an administrator disabled while it ran was running and
    // disabled. Windows starts no disabled service, so writing "disabled"
    // first would make the start fail at every attempt, and the rollback with
    // it, for ever. It is written to start on demand, started, and disabled
    // again once it runs. Cut short in between, it is left on demand, which
    // nothing starts on its own, and the rollback run again restores it all.
    const bool disabled_running = config && start && config->start_type == "disabled" &&
                                  !seam::broken(seam::Breakage::restore_disabled_as_written);
    if (config) {
        ScmConfig written = *config;
        if (disabled_running) written.start_type = "demand";
        if (auto st = scm_apply(os, written); !st) return st;
    } else {
        auto deleted = scm_delete(os);
        if (!deleted) return std::unexpected(deleted.error());
        if (*deleted == DeleteResult::delete_pending)
            return platform::win32_error(platform::win32::service_marked_for_delete);
    }
    if (!start) return {};
    if (auto st = scm_start(os); !st) return st;
    if (auto st = scm_wait_running(os, std::chrono::seconds(30)); !st) return st;
    return disabled_running ? scm_disable(os) : Status{};
}

}  // namespace holvar::txn::scm
