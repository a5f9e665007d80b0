#include "txn/tree/reboot_schedule.hpp"

#include "managed_v3/identity/path_walk.hpp"
#include "platform/win_path.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/fs/wide_path.hpp"
#include "txn/test_seam.hpp"
#include "txn/tree/directories.hpp"

namespace holvar::txn::tree {

namespace p = platform;

namespace {

// The restart deletes whatever is at the path by then, following no handle
// the engine held: only a name that nobody else can redirect is scheduled.
// Every folder from the volume root to the item's parent passes the trust
// rule and is no link (a folder someone else may write could be emptied and
// replaced with a junction to a system folder before the restart); the item
// itself is no link, and a folder passes the rule too (what was scheduled
// inside it must still be there at the restart).
p::Status check_schedulable(p::Os& os, std::u16string_view path) {
    if (seam::broken(seam::Breakage::schedule_through_any_folder)) return {};
    auto parent = p::parent_path(path);
    if (!parent) return p::foreign_identity();
    if (!v3::walk_trusted_path(os, *parent, v3::WalkHold::check_only)) return p::foreign_identity();
    auto item = fs::open_object(os, path, p::READ_CONTROL | p::FILE_READ_ATTRIBUTES);
    if (!item) return std::unexpected(item.error());
    auto identity = fs::read_identity(os, *item);
    if (!identity) return std::unexpected(identity.error());
    if (identity->kind == fs::ObjectKind::directory) return fs::is_trusted_object(os, *item);
    if (identity->kind != fs::ObjectKind::file) return p::foreign_identity();
    return {};
}

}  // namespace

p::Status RebootSchedule::schedule_delete_at_reboot(p::Os& os, std::u16string_view path) {
    auto wide = fs::wide_path(path);
    if (!wide) return std::unexpected(wide.error());
    if (auto safe = check_schedulable(os, path); !safe) {
        if (!first_error_ && safe.error().kind == p::ErrorKind::win32)
            first_error_ = safe.error().win32;
        return safe;
    }
    auto scheduled = os.files.move_file_ex(*wide, nullptr, p::MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!scheduled) {
        if (!first_error_ && scheduled.error().kind == p::ErrorKind::win32)
            first_error_ = scheduled.error().win32;
        return scheduled;
    }
    scheduled_.emplace_back(path);
    return {};
}

p::Status RebootSchedule::schedule_directory_at_reboot(p::Os& os, std::u16string_view directory) {
    auto names = list_directory(os, directory);
    if (!names) return std::unexpected(names.error());
    for (const std::u16string& name : *names) {
        if (!is_scheduled(p::join_path(directory, name)))
            return p::win32_error(p::win32::dir_not_empty);
    }
    return schedule_delete_at_reboot(os, directory);
}

bool RebootSchedule::is_scheduled(std::u16string_view path) const {
    for (const std::u16string& s : scheduled_)
        if (p::paths_equal(s, path)) return true;
    return false;
}

}  // namespace holvar::txn::tree
