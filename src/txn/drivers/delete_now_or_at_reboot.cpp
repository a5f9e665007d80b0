#include "txn/drivers/delete_now_or_at_reboot.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/retrying.hpp"
#include "txn/tree/directories.hpp"
#include "txn/tree/reboot_schedule.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using fs::ObjectKind;
using tree::DeletionStatus;

bool waits_for_restart(const p::Error& error) {
    return fs::is_retryable(error) || error.is_win32(p::win32::dir_not_empty);
}

namespace {

// The object found is the one queried, of the kind asked for, and the one
// the journal recorded.
bool is_expected(const fs::ObjectIdentity& found, const fs::ObjectProbe& queried,
                 bool must_be_directory, const ItemGuard& guard) {
    if (found.probe() != queried) return false;
    if (must_be_directory && found.kind != ObjectKind::directory) return false;
    if (!guard.recorded) return true;
    if (found.volume_serial != guard.recorded->volume_serial) return false;
    return !guard.recorded->file_id || found.id == *guard.recorded->file_id;
}

// Still the queried object, read again without holding it.
bool still_expected(p::Os& os, std::u16string_view path, const fs::ObjectProbe& queried,
                    bool must_be_directory, const ItemGuard& guard) {
    auto handle = fs::open_object(os, path, fs::kProbeAccess);
    if (!handle) return false;
    auto identity = fs::read_identity(os, *handle);
    return identity && is_expected(*identity, queried, must_be_directory, guard);
}

// A directory goes at restart only if it will be empty by then.
bool holds_only_scheduled(p::Os& os, std::u16string_view directory, const ItemGuard& guard) {
    auto names = tree::list_directory(os, directory);
    if (!names) return false;
    for (const std::u16string& name : *names) {
        bool scheduled = false;
        for (const std::u16string& s : guard.scheduled_inside)
            scheduled = scheduled || p::ascii_iequal(name, s);
        if (!scheduled) return false;
    }
    return true;
}

DeletionStatus schedule_at_reboot(p::Os& os, std::u16string_view path,
                                  const fs::ObjectProbe& queried, bool must_be_directory,
                                  const ItemGuard& guard) {
    if (!still_expected(os, path, queried, must_be_directory, guard)) return DeletionStatus::failed;
    if (queried.kind == ObjectKind::directory && !holds_only_scheduled(os, path, guard))
        return DeletionStatus::failed;
    tree::RebootSchedule schedule;
    if (!schedule.schedule_delete_at_reboot(os, path)) return DeletionStatus::failed;
    return DeletionStatus::scheduled;
}

}  // namespace

DeletionStatus delete_now_or_at_reboot(p::Os& os, std::u16string_view path, bool must_be_directory,
                                       const ItemGuard& guard) {
    auto queried = fs::probe_path(os, path);
    if (!queried) return DeletionStatus::failed;
    if (queried->kind == ObjectKind::absent) return DeletionStatus::deleted;

    p::Error failure;
    {
        auto handle = fs::open_object(os, path, fs::kRenameDeleteAccess, fs::kShareAll);
        if (!handle) {
            failure = handle.error();
        } else {
            auto identity = fs::read_identity(os, *handle);
            if (!identity || !is_expected(*identity, *queried, must_be_directory, guard))
                return DeletionStatus::failed;
            auto deleted = fs::delete_by_handle(os, *handle);
            if (deleted) return DeletionStatus::deleted;
            failure = deleted.error();
        }
    }  // the handle is closed before the path is scheduled
    if (!waits_for_restart(failure)) return DeletionStatus::failed;
    return schedule_at_reboot(os, path, *queried, must_be_directory, guard);
}

}  // namespace holvar::txn::drivers
