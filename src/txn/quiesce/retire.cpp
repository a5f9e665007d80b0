#include "txn/quiesce/retire.hpp"

#include "txn/quiesce/holders.hpp"

#include <algorithm>
#include <chrono>
#include <vector>

#include "managed_v3/identity/path_walk.hpp"
#include "managed_v3/identity/pipe_server.hpp"
#include "managed_v3/identity/process_identity.hpp"
#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"

namespace holvar::txn::quiesce {

namespace p = holvar::platform;
using namespace std::chrono_literals;

namespace {

constexpr p::Duration kRetireDeadline = 10s;
constexpr size_t kMaxSnapshotEntries = 65536;
constexpr size_t kMaxKillList = 64;
constexpr uint32_t kMaxWaitMs = 5000;
constexpr uint32_t kTerminateCode = 1;
constexpr uint32_t kKillAccess =
    p::PROCESS_TERMINATE | p::PROCESS_QUERY_LIMITED_INFORMATION | p::SYNCHRONIZE;
constexpr uint32_t kNotAllAssigned = 1300;  // ERROR_NOT_ALL_ASSIGNED

std::unexpected<p::Error> rejected() {
    return v3::identity_rejected();
}

struct Doomed {
    p::Handle process;
    uint32_t pid = 0;
};

// The engine must run elevated; SeDebugPrivilege is then enabled so that a
// companion started by the service can be opened for termination. The
// adjustment succeeds even for a privilege the token does not hold (an
// administrators group stripped of "Debug programs" by policy) and says so only
// through ERROR_NOT_ALL_ASSIGNED: the answer is true then, so that a companion
// that cannot be opened is reported as that, not as a foreign identity.
p::Result<bool> prepare_own_token(p::Os& os) {
    auto token = os.security.open_process_token(nullptr, p::TOKEN_QUERY);
    if (!token) return rejected();
    auto elevation = os.security.get_token_information(*token, p::TokenElevation, 4);
    if (!elevation || elevation->last_error != 0 || elevation->bytes.size() < 4) return rejected();
    if (std::all_of(elevation->bytes.begin(), elevation->bytes.begin() + 4,
                    [](uint8_t b) { return b == 0; }))
        return rejected();
    bool not_assigned = false;
    if (auto adjust =
            os.security.open_process_token(nullptr, p::TOKEN_ADJUST_PRIVILEGES | p::TOKEN_QUERY)) {
        if (auto luid = os.security.lookup_privilege_value(u"SeDebugPrivilege")) {
            auto adjusted =
                os.security.adjust_token_privileges(*adjust, *luid, p::SE_PRIVILEGE_ENABLED);
            not_assigned = adjusted && *adjusted == kNotAllAssigned;
        }
    }
    return not_assigned;
}

// One snapshot entry named like the companion: kept when it runs that very
// file; skipped when it has gone or runs another file.
p::Status examine(p::Os& os, const p::ProcessEntry32& entry, std::u16string_view companion,
                  const p::Handle& walked_image, bool debug_not_assigned,
                  std::vector<Doomed>& kill) {
    auto process = os.processes.open_process(kKillAccess, false, entry.process_id);
    if (!process) {
        if (process.error().is_win32(p::win32::invalid_parameter)) return {};  // gone
        // Refused for want of the privilege the token does not hold.
        if (debug_not_assigned && process.error().is_win32(p::win32::access_denied))
            return p::win32_error(kNotAllAssigned);
        return rejected();
    }
    auto alive = v3::process_is_alive(os, *process);
    if (!alive) return rejected();
    if (!*alive) return {};
    auto image = os.processes.query_full_process_image_name(*process, 0, kImageUnits);
    if (!image) return rejected();
    auto opened = fs::open_object(os, *image, p::FILE_READ_ATTRIBUTES);
    if (!opened) return rejected();
    auto same = v3::same_file(os, walked_image, *opened);
    if (!same) return rejected();
    if (!*same) return {};
    auto walked_path = v3::final_path(os, walked_image);
    auto image_path = v3::final_path(os, *opened);
    if (!walked_path || !image_path) return rejected();
    if (*walked_path != *image_path) return {};
    if (!v3::verify_process_image(os, companion, *process)) return rejected();
    if (kill.size() >= kMaxKillList) return rejected();
    kill.push_back(Doomed{std::move(*process), entry.process_id});
    return {};
}

p::Status find_companions(p::Os& os, std::u16string_view companion, const p::Handle& walked_image,
                          p::Instant deadline, bool debug_not_assigned, std::vector<Doomed>& kill) {
    const std::u16string name = *p::file_name(companion);
    auto snapshot = os.processes.create_toolhelp32_snapshot(p::TH32CS_SNAPPROCESS, 0);
    if (!snapshot) return rejected();
    auto entry = os.processes.process32_first(*snapshot);
    for (size_t examined = 0; entry; entry = os.processes.process32_next(*snapshot)) {
        if (++examined >= kMaxSnapshotEntries || os.clock.now() >= deadline) return rejected();
        if (!p::is_valid_utf16(entry->exe_file)) return rejected();
        if (!p::ascii_iequal(entry->exe_file, name)) continue;
        if (auto st = examine(os, *entry, companion, walked_image, debug_not_assigned, kill); !st)
            return st;
    }
    if (!entry.error().is_win32(p::win32::no_more_files)) return rejected();
    return {};
}

uint32_t wait_budget_ms(p::Duration left) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
    return static_cast<uint32_t>(std::clamp<int64_t>(ms, 1, kMaxWaitMs));
}

p::Status end_companions(p::Os& os, std::vector<Doomed>& kill, p::Instant deadline) {
    for (Doomed& d : kill) {
        const p::Duration left = deadline - os.clock.now();
        if (left <= p::Duration::zero()) return rejected();
        auto alive = v3::process_is_alive(os, d.process);
        bool ended = alive && !*alive;
        if (!ended && !os.processes.terminate_process(d.process, kTerminateCode)) {
            auto again = v3::process_is_alive(os, d.process);
            if (!again || *again) return rejected();
        }
        auto waited = os.sync.wait_for_single_object(d.process, wait_budget_ms(left));
        if (!waited || *waited != p::WAIT_OBJECT_0) return rejected();
    }
    return {};
}

// Any process whose image lies under the root.
p::Status scan_under_root(p::Os& os, std::u16string_view root) {
    auto snapshot = os.processes.create_toolhelp32_snapshot(p::TH32CS_SNAPPROCESS, 0);
    if (!snapshot) return std::unexpected(snapshot.error());
    auto entry = os.processes.process32_first(*snapshot);
    if (!entry && entry.error().is_win32(p::win32::no_more_files)) return {};
    bool found = false;
    for (; entry; entry = os.processes.process32_next(*snapshot)) {
        auto process = os.processes.open_process(p::PROCESS_QUERY_LIMITED_INFORMATION, false,
                                                 entry->process_id);
        if (!process) continue;
        auto image = os.processes.query_full_process_image_name(*process, 0, kImageUnits);
        if (!image) continue;
        if (p::path_lies_under(*image, root)) found = true;
    }
    if (!entry.error().is_win32(p::win32::no_more_files)) return std::unexpected(entry.error());
    if (found) return p::fail(p::ErrorKind::other, kProcessUnderRoot);
    return {};
}

}  // namespace

p::Status retire_runtime_processes(p::Os& os, std::u16string_view root) {
    const std::u16string companion = p::join_path(root, kCompanionImage);
    auto probe = fs::probe_path(os, companion);
    if (!probe) return std::unexpected(probe.error());
    if (probe->kind != fs::ObjectKind::absent) {
        const p::Instant deadline = os.clock.now() + kRetireDeadline;
        auto debug_not_assigned = prepare_own_token(os);
        if (!debug_not_assigned) return std::unexpected(debug_not_assigned.error());
        auto walk = v3::walk_trusted_path(os, companion);
        if (!walk) return rejected();
        auto info = os.files.get_file_information_by_handle(walk->last());
        if (!info || (info->file_attributes & p::FILE_ATTRIBUTE_DIRECTORY)) return rejected();
        auto name = p::file_name(companion);
        if (!name || !p::is_valid_utf16(*name)) return rejected();
        std::vector<Doomed> kill;
        if (auto st =
                find_companions(os, companion, walk->last(), deadline, *debug_not_assigned, kill);
            !st)
            return st;
        if (auto st = end_companions(os, kill, deadline); !st) return st;
    }
    if (v3::probe_legacy_endpoints(os) != v3::EndpointProbe::absent)
        return p::fail(p::ErrorKind::other, kEndpointPresent);
    return scan_under_root(os, root);
}

}  // namespace holvar::txn::quiesce
