#include "managed_v3/identity/pipe_server.hpp"

#include "managed_v3/identity/process_identity.hpp"
#include "managed_v3/identity/service_process.hpp"

namespace holvar::v3 {

namespace p = holvar::platform;

namespace {
constexpr uint32_t kProbeAccess = 0x00100083;  // SYNCHRONIZE | FILE_READ_ATTRIBUTES | read | write
constexpr uint32_t kProbeFlags = p::SECURITY_SQOS_PRESENT | p::SECURITY_IDENTIFICATION;

EndpointProbe probe_one(p::Os& os, const char16_t* name) {
    auto h =
        os.files.create_file(name, kProbeAccess, p::FILE_SHARE_ALL, p::OPEN_EXISTING, kProbeFlags);
    if (h) return EndpointProbe::present;  // the handle closes here
    const p::Error& e = h.error();
    if (e.is_win32(p::win32::access_denied) || e.is_win32(p::win32::pipe_busy))
        return EndpointProbe::present;
    if (e.is_win32(p::win32::file_not_found)) return EndpointProbe::absent;
    return EndpointProbe::failed;
}
}  // namespace

p::Status recheck_pipe_server(p::Os& os, const p::Handle& pipe, const PipeServerIdentity& server) {
    auto alive = process_is_alive(os, server.process);
    if (!alive || !*alive) return identity_rejected();
    auto again = os.pipes.get_named_pipe_server_process_id(pipe);
    if (!again || *again != server.pid) return identity_rejected();
    auto service = service_process_id(os);
    if (!service || *service != server.pid) return identity_rejected();
    return {};
}

p::Result<PipeServerIdentity> verify_pipe_server(p::Os& os, const p::Handle& pipe,
                                                 std::u16string_view expected_image) {
    auto pid = os.pipes.get_named_pipe_server_process_id(pipe);
    if (!pid || *pid == 0) return identity_rejected();
    auto service = service_process_id(os);
    if (!service || *service != *pid) return identity_rejected();
    auto process = open_live_process(os, *pid);
    if (!process) return identity_rejected();
    if (!verify_process_is_system(os, *process)) return identity_rejected();
    auto pinned = verify_process_image(os, expected_image, *process);
    if (!pinned) return identity_rejected();
    PipeServerIdentity server{*pid, std::move(*process), std::move(*pinned)};
    if (!recheck_pipe_server(os, pipe, server)) return identity_rejected();
    return server;
}

EndpointProbe probe_legacy_endpoints(p::Os& os) {
    EndpointProbe first = probe_one(os, kLegacyServicePipe);
    if (first == EndpointProbe::present) return first;
    EndpointProbe second = probe_one(os, kLegacyCompanionPipe);
    if (second == EndpointProbe::present) return second;
    if (first == EndpointProbe::absent && second == EndpointProbe::absent)
        return EndpointProbe::absent;
    return EndpointProbe::failed;
}

}  // namespace holvar::v3
