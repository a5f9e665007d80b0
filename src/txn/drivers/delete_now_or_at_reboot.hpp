// The removal's last two items, the uninstaller and the root itself: deleted
// now when nothing holds them, else left to the next restart, and never
// anything but the object that was looked at.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/os.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/tree/delete_tree.hpp"

namespace holvar::txn::drivers {

// What else the object at the path must be, beyond the one just queried.
struct ItemGuard {
    // The journal's record of it (the root): the opened object must carry
    // this volume serial and, when recorded, this file id, so a directory
    // swapped in after the last check is never deleted.
    std::optional<fs::RootIdentity> recorded;
    // A directory that still holds entries is scheduled for the restart only
    // when each of them is one of these names, already scheduled itself:
    // Windows cannot delete a directory at restart that is not empty then.
    std::span<const std::u16string> scheduled_inside;
};

// Queries the path without following a link (absent: deleted), opens it
// for deletion sharing everything, checks that it is the object queried (a
// directory when `must_be_directory`) and deletes it with POSIX semantics.
// A lock, a denied access or a directory not yet empty (5, 32, 33, 145,
// 1224) schedules the path for deletion at the next restart instead, once
// it is seen to still be the queried object; anything else fails.
// The failures of a deletion that a restart gets past: the object is in use,
// or a directory still holds what is itself waiting for the restart.
bool waits_for_restart(const platform::Error& error);

tree::DeletionStatus delete_now_or_at_reboot(platform::Os& os, std::u16string_view path,
                                             bool must_be_directory, const ItemGuard& guard = {});

}  // namespace holvar::txn::drivers
