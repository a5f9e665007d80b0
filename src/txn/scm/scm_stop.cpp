// The identity-gated stop. The stop control goes only to a service proven to
// be this installation's, and the proof is taken again right before the
// control and after the stop, because other programs may change the service
// at any moment in between.
#include <algorithm>

#include "managed_v3/identity/process_identity.hpp"
#include "managed_v3/identity/service_process.hpp"
#include "txn/scm/identity_gate.hpp"
#include "txn/scm/scm.hpp"
#include "txn/scm/service_handle.hpp"

namespace holvar::txn::scm {

using platform::Status;
using v3::identity_rejected;

namespace {

constexpr uint32_t kFinalWaitMs = 2000;

// Immediately before the control: the service still runs the verified
// process, or it has stopped and that process has ended. True when a stop
// control is still to be sent.
platform::Result<bool> still_verified(platform::Os& os, const platform::Handle& service,
                                      const VerifiedService& verified) {
    auto status = v3::query_service_process(os, service);
    if (!status) return identity_rejected();
    const bool stopped = status->current_state == platform::SERVICE_STOPPED;
    if (verified.pid && status->process_id == *verified.pid && !stopped) {
        auto alive = v3::process_is_alive(os, verified.process);
        if (!alive || !*alive) return identity_rejected();
        return true;
    }
    // Stopped, or another process: only a stop of the verified process is fine.
    if (!stopped || status->process_id != 0) return identity_rejected();
    if (verified.pid) {
        auto alive = v3::process_is_alive(os, verified.process);
        if (!alive || *alive) return identity_rejected();
    }
    return false;
}

// A stopped service has no process to stop and none to trust, so its image is
// not walked: a rollback rerun after a crash may already have moved that image
// away, and a stop that insisted on it would fail every later run. True when
// a fresh status shows the service stopped with no process; a service that
// reports stopped with a process id is not one the engine may call stopped.
platform::Result<bool> already_stopped(platform::Os& os) {
    auto opened = open_holvar_service(os, platform::SC_MANAGER_CONNECT,
                                      platform::SERVICE_STOP | platform::SERVICE_QUERY_STATUS);
    if (!opened) return std::unexpected(opened.error());
    auto status = v3::query_service_process(os, opened->service);
    if (!status) return std::unexpected(status.error());
    if (status->current_state != platform::SERVICE_STOPPED) return false;
    if (status->process_id != 0) return identity_rejected();
    return true;
}

}  // namespace

Status scm_stop(platform::Os& os, std::chrono::milliseconds timeout) {
    auto queried = scm_query(os);
    if (!queried) return std::unexpected(queried.error());
    if (!*queried) return platform::win32_error(platform::win32::service_does_not_exist);
    if ((*queried)->state == ServiceRunState::stopped) {
        auto stopped = already_stopped(os);
        if (!stopped) return std::unexpected(stopped.error());
        if (*stopped) return {};
        // Started since the query: it has a process now, so the gate applies.
    }
    auto image = service_image_path((*queried)->config.binary_path);
    if (!image) return std::unexpected(image.error());
    auto walked = v3::walk_trusted_path(os, *image);
    if (!walked) return identity_rejected();

    std::optional<VerifiedService> verified;
    {
        auto gate =
            open_holvar_service(os, platform::SC_MANAGER_CONNECT,
                                platform::SERVICE_QUERY_CONFIG | platform::SERVICE_QUERY_STATUS);
        if (!gate) return identity_rejected();
        auto v = verify_service_identity(os, gate->service, *image, std::move(*walked));
        if (!v) return std::unexpected(v.error());
        verified = std::move(*v);
    }

    auto opened = open_holvar_service(os, platform::SC_MANAGER_CONNECT,
                                      platform::SERVICE_STOP | platform::SERVICE_QUERY_STATUS);
    if (!opened) return std::unexpected(opened.error());
    const platform::Instant deadline = os.clock.now() + timeout;

    auto status = os.services.query_service_status(opened->service);
    if (!status) return std::unexpected(status.error());
    if (status->current_state != platform::SERVICE_STOPPED &&
        status->current_state != platform::SERVICE_STOP_PENDING) {
        auto send = still_verified(os, opened->service, *verified);
        if (!send) return std::unexpected(send.error());
        if (*send) {
            if (auto st =
                    os.services.control_service(opened->service, platform::SERVICE_CONTROL_STOP);
                !st)
                return st;
        }
    }

    for (;;) {
        status = os.services.query_service_status(opened->service);
        if (!status) return std::unexpected(status.error());
        if (status->current_state == platform::SERVICE_STOPPED) break;
        platform::Duration left = deadline - os.clock.now();
        if (left <= platform::Duration::zero())
            return platform::fail(platform::ErrorKind::timed_out, "service stop timeout");
        os.clock.sleep_for(std::min<platform::Duration>(left, std::chrono::milliseconds(100)));
    }

    // The stopped service has no process, and the verified one has ended.
    auto final_status = v3::query_service_process(os, opened->service);
    if (!final_status || final_status->process_id != 0 ||
        final_status->current_state != platform::SERVICE_STOPPED)
        return identity_rejected();
    if (verified->pid) {
        auto waited = os.sync.wait_for_single_object(verified->process, kFinalWaitMs);
        if (!waited || *waited != platform::WAIT_OBJECT_0) return identity_rejected();
    }
    return {};
}

}  // namespace holvar::txn::scm
