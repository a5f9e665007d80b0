#include "txn/verify/verify_started_service.hpp"

#include <algorithm>
#include <string>

#include "managed_v3/protocol/capabilities_check.hpp"
#include "managed_v3/transport/v3_client.hpp"
#include "txn/scm/scm.hpp"
#include "txn/scm/service_handle.hpp"

namespace holvar::txn::verify {

namespace p = holvar::platform;
using v3::V3Error;
using v3::V3Result;
using v3::V3Status;

namespace {

constexpr uint32_t kServiceSpecificError = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
constexpr uint64_t kMaxResponseSize = 65536;

std::unexpected<V3Error> with_number(std::string_view text, uint32_t number, bool is_win32) {
    V3Error e;
    e.error = p::Error{p::ErrorKind::other, is_win32 ? number : 0, text};
    e.number = number;
    return std::unexpected(e);
}
std::unexpected<V3Error> scm_query_failed(const p::Error& e) {
    return with_number(kScmQueryFailed, e.kind == p::ErrorKind::win32 ? e.win32 : 0, true);
}

enum class ServicePhase : uint8_t { starting, running };

// One status query, read as the verification needs it.
V3Result<ServicePhase> query_phase(p::Os& os, const p::Handle& service) {
    auto status = os.services.query_service_status(service);
    if (!status) return scm_query_failed(status.error());
    switch (status->current_state) {
        case p::SERVICE_START_PENDING:
            return ServicePhase::starting;
        case p::SERVICE_RUNNING:
            return ServicePhase::running;
        case p::SERVICE_STOPPED:
            if (status->win32_exit_code == kServiceSpecificError)
                return with_number(kStoppedSpecific, status->service_specific_exit_code, false);
            return with_number(kStoppedWin32, status->win32_exit_code, true);
        case 3:  // stop pending
        case 5:  // continue pending
        case 6:  // pause pending
        case 7:  // paused
            return v3::v3_message(kNotRunning);
        default:
            return with_number(kScmQueryFailed, 0, true);
    }
}

// Sleeps a poll interval, cut short by the deadline.
void pause_until_next_poll(p::Os& os, p::Instant deadline) {
    const p::Duration left = deadline - os.clock.now();
    const p::Duration step = std::min<p::Duration>(kStatusPollInterval, left);
    if (step > p::Duration::zero()) os.clock.sleep_for(step);
}

v3::V3Request request_of(v3::RequestOp op, p::Instant deadline) {
    v3::V3Request r;
    r.operation = std::move(op);
    r.request_timeout = std::chrono::seconds(2);
    r.overall_deadline = deadline;
    r.max_response_size = kMaxResponseSize;
    return r;
}

// Capabilities, then status from the same service instance.
V3Status run_attempt(p::Os& os, v3::V3Client& client, p::Instant deadline) {
    auto described = v3::v3_request(os, client, request_of(v3::CapabilitiesOp{}, deadline));
    if (!described) return std::unexpected(described.error());
    const v3::Reply& reply = described->result;
    if (const auto* refused = reply.get<v3::ServiceErrorCode>())
        return v3::capability_refusal(v3::CapabilityRefusal{*refused});
    const v3::Capabilities* capabilities = reply.get<v3::Capabilities>();
    if (reply.kind != v3::ReplyKind::capabilities || capabilities == nullptr)
        return v3::v3_message(kUnexpectedResponse);
    if (auto fits = v3::check_capabilities(*capabilities); !fits) {
        if (fits.error().has_text(v3::kCapabilitiesRequired))
            return v3::incompatible_error(v3::kCapabilitiesRequired);
        return v3::v3_fail(fits.error());
    }
    const std::string instance = described->token.service_instance;

    auto reported = v3::v3_request(os, client, request_of(v3::StatusOp{}, deadline));
    if (!reported) return std::unexpected(reported.error());
    if (reported->token.service_instance != instance) return v3::v3_message(kInstanceChanged);
    if (const auto* refused = reported->result.get<v3::ServiceErrorCode>())
        return v3::v3_fail(v3::service_rejected(*refused));
    if (reported->result.kind != v3::ReplyKind::status ||
        reported->result.get<v3::Status>() == nullptr)
        return v3::v3_message(kUnexpectedResponse);
    return {};
}

}  // namespace

V3Status verify_started_service(p::Os& os, std::u16string_view expected_image) {
    if (auto started = scm::scm_start(os); !started) return v3::v3_fail(started.error());

    const p::Instant deadline = os.clock.now() + kVerificationBudget;
    auto opened = scm::open_holvar_service(os, p::SC_MANAGER_CONNECT, p::SERVICE_QUERY_STATUS);
    if (!opened) return scm_query_failed(opened.error());
    v3::V3Client client{std::u16string(expected_image)};

    for (;;) {
        if (os.clock.now() >= deadline) return v3::v3_message(v3::kStartTimeout);
        auto phase = query_phase(os, opened->service);
        if (!phase) return std::unexpected(phase.error());
        if (os.clock.now() >= deadline) return v3::v3_message(v3::kStartTimeout);
        if (*phase == ServicePhase::starting) {
            pause_until_next_poll(os, deadline);
            continue;
        }
        // The attempt's every wait is bounded by the deadline as well.
        V3Status attempt = run_attempt(os, client, deadline);
        if (os.clock.now() >= deadline) return v3::v3_message(v3::kStartTimeout);
        if (attempt) return {};
        if (!attempt.error().pipe_absent_or_busy()) return attempt;
        // The service runs but its pipe is not up yet: look at it again.
        auto again = query_phase(os, opened->service);
        if (!again) return std::unexpected(again.error());
        pause_until_next_poll(os, deadline);
    }
}

}  // namespace holvar::txn::verify
