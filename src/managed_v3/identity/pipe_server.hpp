// Who is at the other end of a pipe: the server must be the running
// holvar_service process, alive, LocalSystem, running the expected image.
// Also the presence probe of the runtime's older endpoints.
#pragma once

#include <cstdint>
#include <string_view>

#include "managed_v3/identity/path_walk.hpp"
#include "platform/os.hpp"

namespace holvar::v3 {

struct PipeServerIdentity {
    uint32_t pid = 0;
    platform::Handle process;
    PinnedPath pinned;
};

platform::Result<PipeServerIdentity> verify_pipe_server(platform::Os& os,
                                                        const platform::Handle& pipe,
                                                        std::u16string_view expected_image);
// The checks repeated after every exchange: the server is alive, still the
// pipe's server, and still the service's process.
platform::Status recheck_pipe_server(platform::Os& os, const platform::Handle& pipe,
                                     const PipeServerIdentity& server);

enum class EndpointProbe : uint8_t { present, absent, failed };

inline constexpr char16_t kLegacyServicePipe[] = u"\\\\.\\pipe\\holvar-service";
inline constexpr char16_t kLegacyCompanionPipe[] = u"\\\\.\\pipe\\holvar-mihomo";

EndpointProbe probe_legacy_endpoints(platform::Os& os);

}  // namespace holvar::v3
