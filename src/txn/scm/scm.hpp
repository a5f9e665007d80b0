// Everything the engine does with the Service Control Manager, for the one
// service it manages, `holvar_service`. Each operation opens its own handles
// and closes them before it returns, on every path.
#pragma once

#include <chrono>
#include <optional>

#include "platform/os.hpp"
#include "txn/scm/scm_config.hpp"

namespace holvar::txn::scm {

inline constexpr std::u16string_view kServiceName = u"holvar_service";

// The run state of a queried service.
enum class ServiceRunState : uint8_t { stopped, running, changing };

struct QueriedService {
    ScmConfig config;
    ServiceRunState state = ServiceRunState::stopped;
};

// The service as a transaction records it before changing it.
struct ScmSnapshot {
    std::optional<ScmConfig> config;  // none = no service
    bool running = false;
    friend bool operator==(const ScmSnapshot&, const ScmSnapshot&) = default;
};

enum class DeleteResult : uint8_t { deleted, delete_pending };

// The configuration and run state, or none when the service does not exist.
platform::Result<std::optional<QueriedService>> scm_query(platform::Os& os);
// As scm_query; a service in transition is the error "service state is changing".
platform::Result<ScmSnapshot> scm_snapshot(platform::Os& os);
// As scm_snapshot, but a service in transition is queried again, at most every
// 100 ms, until it settles; still in transition once `timeout` has passed, it
// is the error "service state is changing".
platform::Result<ScmSnapshot> scm_snapshot_settled(platform::Os& os,
                                                   std::chrono::milliseconds timeout);
// Creates or reconfigures the service to `config` (image path, dependencies
// and description included).
platform::Status scm_apply(platform::Os& os, const ScmConfig& config);
// Sets the start type to disabled, nothing else.
platform::Status scm_disable(platform::Os& os);
// Starts the service; one already running counts as started.
platform::Status scm_start(platform::Os& os);
// Polls at most every 100 ms until the service runs or `timeout` has passed.
platform::Status scm_wait_running(platform::Os& os, std::chrono::milliseconds timeout);
// Stops the service after proving it is this installation's service running
// as LocalSystem from its image; never sends the stop to anything else. A
// service already stopped has no process to prove: nothing is sent, its image
// is not looked at, and the stop succeeds.
platform::Status scm_stop(platform::Os& os, std::chrono::milliseconds timeout);
platform::Result<DeleteResult> scm_delete(platform::Os& os);
// Puts the service back as it was: `config` applied, or the service deleted
// when there was none; then started when `start` is set.
platform::Status scm_restore(platform::Os& os, const std::optional<ScmConfig>& config, bool start);

}  // namespace holvar::txn::scm
