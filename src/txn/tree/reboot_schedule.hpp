// Deletion at the next restart, for what a tree deletion cannot delete now.
// Windows deletes the scheduled names in the order they were registered, so an
// entry scheduled before its directory is gone when the directory's turn comes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"

namespace holvar::txn::tree {

class RebootSchedule {
  public:
    // MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT), only for a name
    // nobody else can redirect before the restart: every folder above it
    // trusted and no link, the item no link, and a folder item trusted too
    // ("foreign_identity" otherwise, and nothing is scheduled). The path is
    // recorded on success; the first failure's Win32 code is remembered.
    platform::Status schedule_delete_at_reboot(platform::Os& os, std::u16string_view path);

    // A directory can only be deleted at restart if it will be empty then:
    // every entry still in it must already be scheduled by this schedule. Then
    // the directory is scheduled too; otherwise nothing is scheduled and the
    // call fails with ERROR_DIR_NOT_EMPTY (or the listing's error).
    platform::Status schedule_directory_at_reboot(platform::Os& os, std::u16string_view directory);

    const std::vector<std::u16string>& scheduled() const { return scheduled_; }
    std::optional<uint32_t> first_error() const { return first_error_; }

  private:
    bool is_scheduled(std::u16string_view path) const;

    std::vector<std::u16string> scheduled_;
    std::optional<uint32_t> first_error_;
};

}  // namespace holvar::txn::tree
