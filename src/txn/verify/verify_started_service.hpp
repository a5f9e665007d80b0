// Before a transaction commits, the service it started must prove that it is
// the service this transaction installed and that it speaks a compatible
// protocol: within 8 seconds it must run, serve its pipe from its own
// process, describe itself with the capabilities the engine depends on, and
// report a status from the same service instance.
#pragma once

#include <chrono>
#include <string_view>

#include "managed_v3/transport/v3_error.hpp"
#include "platform/os.hpp"

namespace holvar::txn::verify {

inline constexpr std::chrono::seconds kVerificationBudget{8};
inline constexpr std::chrono::milliseconds kStatusPollInterval{100};

// Texts of the service's own state; those ending in ':' carry a number.
inline constexpr std::string_view kScmQueryFailed = "startup_scm_query_failed:";
inline constexpr std::string_view kStoppedWin32 = "startup_service_stopped_win32:";
inline constexpr std::string_view kStoppedSpecific = "startup_service_stopped_specific:";
inline constexpr std::string_view kNotRunning = "startup_service_not_running";
inline constexpr std::string_view kUnexpectedResponse = "unexpected_v3_response";
inline constexpr std::string_view kInstanceChanged = "service_instance_changed_reconcile_status";

// Starts `holvar_service` (one already running counts as started) and
// verifies it; the service is left running whatever the result. The image is
// `<root>\resources\holvar-service.exe` of the install root being committed.
v3::V3Status verify_started_service(platform::Os& os, std::u16string_view expected_image);

}  // namespace holvar::txn::verify
