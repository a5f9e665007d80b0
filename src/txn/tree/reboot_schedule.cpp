#include "txn/tree/reboot_schedule.hpp"

#include "platform/win_path.hpp"
#include "txn/fs/wide_path.hpp"
#include "txn/tree/directories.hpp"

namespace holvar::txn::tree {

namespace p = platform;

p::Status RebootSchedule::schedule_delete_at_reboot(p::Os& os, std::u16string_view path) {
    auto wide = fs::wide_path(path);
    if (!wide) return std::unexpected(wide.error());
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
