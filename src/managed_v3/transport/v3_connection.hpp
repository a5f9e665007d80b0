// One connection to the service's pipe, owned by one request: the client end
// of the pipe and everything the identity check of its server holds (the
// server process handle and the pinned handles of its image path). Dropping
// it closes them all.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "managed_v3/identity/pipe_server.hpp"
#include "managed_v3/transport/v3_error.hpp"
#include "platform/os.hpp"

namespace holvar::v3 {

inline constexpr char16_t kServicePipe[] = u"\\\\.\\pipe\\holvar-service-v3";
// SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_WRITE_DATA | FILE_READ_DATA.
inline constexpr uint32_t kServicePipeAccess = 0x00100083;
// Overlapped, and the server may identify the installer but not impersonate it.
inline constexpr uint32_t kServicePipeFlags = platform::FILE_FLAG_OVERLAPPED |
                                              platform::SECURITY_SQOS_PRESENT |
                                              platform::SECURITY_IDENTIFICATION;

struct V3Connection {
    platform::Handle pipe;
    PipeServerIdentity server;
};
// Shared, so that a re-check given up on its worker thread still has the
// connection it reads; the handles close when the last holder lets go.
using SharedConnection = std::shared_ptr<const V3Connection>;

// Opens the pipe and verifies its server against the expected service image.
// The open's own failure is a pipe_connect error carrying its Win32 code; a
// server that fails the identity check is "service_identity_rejected".
// Blocking: run it through v3_connect, which bounds it.
V3Result<V3Connection> open_verified_pipe(platform::Os& os, const std::u16string& expected_image);

// Opens a verified connection within a connect window of 2 seconds (cut by
// the deadline), retrying every 50 ms while the pipe is absent or busy. Each
// open, and the re-check that follows it, is given up after 5 seconds
// ("pipe_open_unverified"), or when the deadline comes first
// ("verified_v3_start_timeout"). `probe_node` skips the deadline check
// after a successful open.
V3Result<SharedConnection> v3_connect(platform::Os& os, const std::u16string& expected_image,
                                      std::optional<platform::Instant> deadline, bool probe_node);

// The server re-checked through a bounded blocking step: alive, still the
// pipe's server and still the service's process.
V3Status recheck_connection(platform::Os& os, const SharedConnection& connection,
                            std::optional<platform::Instant> deadline);

}  // namespace holvar::v3
