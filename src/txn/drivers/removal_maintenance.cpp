#include "txn/drivers/removal_maintenance.hpp"

#include <optional>

#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/children/maintenance_child.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"

namespace holvar::txn::drivers {

namespace p = platform;

namespace {

// The client, opened without following a link, for reading (an open for
// attributes alone would bind nobody's sharing) and sharing only reading: a
// process can still start from it, but nobody can rename, replace or
// rewrite it meanwhile. None unless it is a plain file.
std::optional<p::Handle> pin_client(p::Os& os, std::u16string_view client) {
    auto handle = fs::open_object(os, client, fs::kPinAccess, p::FILE_SHARE_READ);
    if (!handle) return std::nullopt;
    auto identity = fs::read_identity(os, *handle);
    if (!identity || identity->kind != fs::ObjectKind::file) return std::nullopt;
    return std::move(*handle);
}

outcome::MaintenanceEntry run_command(p::Os& os, std::u16string_view root,
                                      std::u16string_view client, std::string_view command) {
    std::optional<p::Handle> pinned = pin_client(os, client);
    if (!pinned) return outcome::MaintenanceEntry{std::string(command), std::nullopt, "skipped"};
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
