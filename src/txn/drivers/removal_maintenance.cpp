#include "txn/drivers/removal_maintenance.hpp"

#include "managed_v3/identity/path_walk.hpp"
#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/children/maintenance_child.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

// The client runs with the engine's own token, so it is walked as the
// service's image is: every folder from the volume root and the file itself
// nobody but the system and the administrators may change, no link on the
// way, one name. The walk's handles stay open while the child starts and
// runs: nobody can rename, replace or rewrite it meanwhile, and a process can
// still start from it. None when the walk fails.
outcome::MaintenanceEntry run_command(p::Os& os, std::u16string_view root,
                                      std::u16string_view client, std::string_view command) {
    auto pinned = v3::walk_trusted_path(os, client);
    auto info = pinned ? os.files.get_file_information_by_handle(pinned->last())
                       : p::Result<p::ByHandleFileInformation>(p::foreign_identity());
    if (!info || (info->file_attributes & p::FILE_ATTRIBUTE_DIRECTORY))
        return outcome::MaintenanceEntry{std::string(command), std::nullopt, "skipped"};
    children::ChildOutcome ran = children::run_maintenance_child(
        os, client, {p::ascii_to_utf16(command)}, root, children::kMaintenanceLimit);
    return children::maintenance_entry(command, ran);
}

}  // namespace

std::vector<outcome::MaintenanceEntry> run_maintenance_commands(p::Os& os, std::u16string_view root,
                                                                bool purge) {
    const std::u16string client = p::join_path(root, children::kClientImage);
    std::vector<outcome::MaintenanceEntry> entries;
    entries.push_back(run_command(os, root, client, kRestoreSystemProxy));
    if (purge) entries.push_back(run_command(os, root, client, kPurgeSessionVault));
    return entries;
}

}  // namespace holvar::txn::drivers
