// The service manager's view of the managed service's process.
#pragma once

#include <cstdint>

#include "platform/os.hpp"

namespace holvar::v3 {

inline constexpr char16_t kServiceName[] = u"holvar_service";

// QueryServiceStatusEx; the service must be a Win32 service of its own process.
platform::Result<platform::ServiceStatusProcess> query_service_process(
    platform::Os& os, const platform::Handle& service);
// The PID of the running holvar_service.
platform::Result<uint32_t> service_process_id(platform::Os& os);

}  // namespace holvar::v3
