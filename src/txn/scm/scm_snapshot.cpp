// The service as a transaction records it. Only a settled state is recorded:
// a rollback puts back exactly what the snapshot says, and "starting" is not
// a state it can put back.
#include <algorithm>

#include "txn/scm/scm.hpp"

namespace holvar::txn::scm {

using platform::Result;

namespace {

constexpr std::chrono::milliseconds kPollInterval{100};

std::unexpected<platform::Error> state_is_changing() {
    return platform::fail(platform::ErrorKind::other, "service state is changing");
}

ScmSnapshot snapshot_of(std::optional<QueriedService>& queried) {
    if (!queried) return ScmSnapshot{};
    return ScmSnapshot{std::move(queried->config), queried->state == ServiceRunState::running};
}

}  // namespace

Result<ScmSnapshot> scm_snapshot(platform::Os& os) {
    auto q = scm_query(os);
    if (!q) return std::unexpected(q.error());
    if (*q && (*q)->state == ServiceRunState::changing) return state_is_changing();
    return snapshot_of(*q);
}

Result<ScmSnapshot> scm_snapshot_settled(platform::Os& os, std::chrono::milliseconds timeout) {
    const platform::Instant deadline = os.clock.now() + timeout;
    for (;;) {
        auto q = scm_query(os);
        if (!q) return std::unexpected(q.error());
        if (!*q || (*q)->state != ServiceRunState::changing) return snapshot_of(*q);
        const platform::Duration left = deadline - os.clock.now();
        if (left <= platform::Duration::zero()) return state_is_changing();
        os.clock.sleep_for(std::min<platform::Duration>(left, kPollInterval));
    }
}

}  // namespace holvar::txn::scm
