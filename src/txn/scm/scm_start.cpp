// Starting the service and waiting until it reports running, on the
// monotonic clock, polling at most every 100 ms.
#include <algorithm>

#include "txn/scm/scm.hpp"
#include "txn/scm/service_handle.hpp"

namespace holvar::txn::scm {

using platform::Status;

Status scm_start(platform::Os& os) {
    auto opened = open_holvar_service(os, platform::SC_MANAGER_CONNECT, platform::SERVICE_START);
    if (!opened) return std::unexpected(opened.error());
    auto started = os.services.start_service(opened->service);
    if (!started && !started.error().is_win32(platform::win32::service_already_running))
        return started;
    return {};
}

Status scm_wait_running(platform::Os& os, std::chrono::milliseconds timeout) {
    auto opened =
        open_holvar_service(os, platform::SC_MANAGER_CONNECT, platform::SERVICE_QUERY_STATUS);
    if (!opened) return std::unexpected(opened.error());
    const platform::Instant deadline = os.clock.now() + timeout;
    for (;;) {
        auto status = os.services.query_service_status(opened->service);
        if (!status) return std::unexpected(status.error());
        if (status->current_state < 1 || status->current_state > 7)
            return platform::invalid_data("service status");
        if (status->current_state == platform::SERVICE_RUNNING) return {};
        // A service that stopped meanwhile is polled to the deadline all the same.
        platform::Duration left = deadline - os.clock.now();
        if (left <= platform::Duration::zero())
            return platform::fail(platform::ErrorKind::timed_out, "service start timeout");
        os.clock.sleep_for(std::min<platform::Duration>(left, std::chrono::milliseconds(100)));
    }
}

}  // namespace holvar::txn::scm
