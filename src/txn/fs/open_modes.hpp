// The access masks and share modes of the file-system primitives, by purpose.
// Every open of an object under the root or the stage directory also passes
// OPEN_EXISTING and FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
// so a junction or symbolic link is itself the object opened, never its target.
#pragma once

#include <cstdint>

#include "platform/win_types.hpp"

namespace holvar::txn::fs {

// Probe an object or read its identity.
inline constexpr uint32_t kProbeAccess = platform::FILE_READ_ATTRIBUTES;  // 0x80
// Rename or delete an object through its handle.
inline constexpr uint32_t kRenameDeleteAccess =
    platform::DELETE | platform::FILE_READ_ATTRIBUTES;  // 0x10080
// Pin a directory: list it, and keep everyone else from renaming or deleting
// it while the handle is open (no FILE_SHARE_DELETE).
inline constexpr uint32_t kPinAccess =
    platform::FILE_READ_DATA | platform::FILE_READ_ATTRIBUTES;  // 0x81
inline constexpr uint32_t kPinShare = platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;  // 3
// Open for deletion, retrying.
inline constexpr uint32_t kDeleteRetryAccess =
    platform::SYNCHRONIZE | platform::DELETE | platform::FILE_READ_ATTRIBUTES;  // 0x110080
// Open a directory for emptying and deletion, retrying; held without delete
// sharing so nobody moves it while its entries are deleted.
inline constexpr uint32_t kDirectoryDeleteRetryAccess = platform::SYNCHRONIZE | platform::DELETE |
                                                        platform::FILE_READ_ATTRIBUTES |
                                                        platform::FILE_LIST_DIRECTORY;  // 0x110081
inline constexpr uint32_t kDirectoryDeleteRetryShare = kPinShare;                       // 3
// Open a file to flush it.
inline constexpr uint32_t kFlushFileAccess =
    platform::GENERIC_WRITE | platform::FILE_READ_ATTRIBUTES;

// The share mode of every other open: read | write | delete.
inline constexpr uint32_t kShareAll = platform::FILE_SHARE_ALL;  // 7
// Flags of every open of a managed object.
inline constexpr uint32_t kNoFollowFlags = platform::OPEN_NO_FOLLOW;  // 0x02200000

// SetFileInformationByHandle flags.
inline constexpr uint32_t kRenameFlags =
    platform::FILE_RENAME_FLAG_POSIX_SEMANTICS |
    platform::FILE_RENAME_FLAG_IGNORE_READONLY_ATTRIBUTE;  // 0x42
inline constexpr uint32_t kRenameReplaceFlags =
    kRenameFlags | platform::FILE_RENAME_FLAG_REPLACE_IF_EXISTS;  // 0x43
inline constexpr uint32_t kDispositionFlags =
    platform::FILE_DISPOSITION_FLAG_DELETE | platform::FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
    platform::FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;  // 0x13

// The volume supports what placement relies on: hard links and POSIX rename.
inline constexpr uint32_t kRequiredVolumeFlags =
    platform::FILE_SUPPORTS_HARD_LINKS | platform::FILE_SUPPORTS_POSIX_UNLINK_RENAME;  // 0x400400

}  // namespace holvar::txn::fs
