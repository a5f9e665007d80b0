// The desktop client's maintenance commands of a removal, run before the
// runtime's files go: the system proxy given back, and, when asked, the
// session vault purged.
#pragma once

#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::txn::drivers {

inline constexpr std::string_view kRestoreSystemProxy = "--restore-system-proxy";
inline constexpr std::string_view kPurgeSessionVault = "--purge-session-vault";

// One entry per command, in run order: "--restore-system-proxy", then
// "--purge-session-vault" only when `purge`. Each runs <root>\holvar-client.exe
// in its own job for at most 60 seconds, from the root. The client must be a
// plain file, never a link (an elevated child would run whatever a link
// points at), and it is held open without write or delete sharing while its
// child runs, so it cannot be swapped between the check and the start;
// otherwise the entry reads "skipped". No result here ever fails the removal.
std::vector<outcome::MaintenanceEntry> run_maintenance_commands(platform::Os& os,
                                                                std::u16string_view root,
                                                                bool purge);

}  // namespace holvar::txn::drivers
