#include <chrono>

#include "managed_v3/identity/process_identity.hpp"
#include "managed_v3/transport/blocking_step.hpp"
#include "managed_v3/transport/v3_connection.hpp"

namespace holvar::v3 {

namespace p = holvar::platform;
using namespace std::chrono_literals;

namespace {

constexpr p::Duration kConnectWindow = 2s;
constexpr p::Duration kOpenRetry = 50ms;

std::unexpected<V3Error> identity_rejected_error() {
    return v3_fail(identity_rejected().error());
}

// What a blocking step that did not finish becomes.
std::unexpected<V3Error> abandoned(BlockingEnd end) {
    return v3_message(end == BlockingEnd::deadline ? kStartTimeout : kPipeOpenUnverified);
}

}  // namespace

V3Result<V3Connection> open_verified_pipe(p::Os& os, const std::u16string& expected_image) {
    auto pipe = os.files.create_file(kServicePipe, kServicePipeAccess, p::FILE_SHARE_ALL,
                                     p::OPEN_EXISTING, kServicePipeFlags);
    if (!pipe) return pipe_connect_error(pipe.error());
    auto server = verify_pipe_server(os, *pipe, expected_image);
    if (!server) return identity_rejected_error();
    // Overlapped I/O needs nothing more: each read and write waits on its own event.
    return V3Connection{std::move(*pipe), std::move(*server)};
}

V3Status recheck_connection(p::Os& os, const SharedConnection& connection,
                            std::optional<p::Instant> deadline) {
    auto outcome = run_blocking_step<bool>(
        os,
        [&os, c = connection]() {
            return static_cast<bool>(recheck_pipe_server(os, c->pipe, c->server));
        },
        deadline);
    if (outcome.end != BlockingEnd::finished) return abandoned(outcome.end);
    if (!*outcome.value) return identity_rejected_error();
    return {};
}

V3Result<SharedConnection> v3_connect(p::Os& os, const std::u16string& expected_image,
                                      std::optional<p::Instant> deadline, bool probe_node) {
    if (deadline_passed(os, deadline)) return v3_message(kStartTimeout);
    p::Instant window_end = os.clock.now() + kConnectWindow;
    if (deadline && *deadline < window_end) window_end = *deadline;
    for (;;) {
        auto outcome = run_blocking_step<V3Result<V3Connection>>(
            os, [&os, image = expected_image]() { return open_verified_pipe(os, image); },
            deadline);
        if (outcome.end != BlockingEnd::finished) return abandoned(outcome.end);
        V3Result<V3Connection>& opened = *outcome.value;
        if (!opened) {
            if (opened.error().pipe_absent_or_busy() && os.clock.now() + kOpenRetry < window_end) {
                os.clock.sleep_for(kOpenRetry);
                continue;
            }
            return std::unexpected(opened.error());
        }
        if (!probe_node && deadline_passed(os, deadline)) return v3_message(kStartTimeout);
        auto connection = std::make_shared<const V3Connection>(std::move(*opened));
        if (auto checked = recheck_connection(os, connection, deadline); !checked)
            return std::unexpected(checked.error());
        return connection;
    }
}

}  // namespace holvar::v3
