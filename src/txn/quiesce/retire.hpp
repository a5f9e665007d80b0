// Before the runtime's files are replaced or deleted nothing of the runtime
// may still run from the install root: the companion engine is ended if it
// runs from this root, no runtime pipe endpoint may still be served, and no
// other process may run an image from under the root.
#pragma once

#include <string_view>

#include "platform/os.hpp"

namespace holvar::txn::quiesce {

inline constexpr std::string_view kEndpointPresent = "endpoint_present";
inline constexpr std::string_view kProcessUnderRoot = "process_under_root";
inline constexpr char16_t kCompanionImage[] = u"holvar-mihomo.exe";

// Success, or an error whose text is "endpoint_present", "process_under_root",
// "service_identity_rejected", or a Win32 error.
platform::Status retire_runtime_processes(platform::Os& os, std::u16string_view root);

}  // namespace holvar::txn::quiesce
