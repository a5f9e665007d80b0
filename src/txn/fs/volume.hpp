// What the volume holding the install root can do, and making it durable.
#pragma once

#include <string_view>

#include "platform/os.hpp"

namespace holvar::txn::fs {

// Whether the volume holding `path` supports both hard links and POSIX
// unlink/rename (placement relies on both). Errors are the Win32 errors of
// GetVolumePathNameW and GetVolumeInformationW.
platform::Result<bool> check_volume_capabilities(platform::Os& os, std::u16string_view path);

// FlushFileBuffers on the device of the volume holding `path` ("\\.\C:").
// The volume must be mounted at the root of a drive letter: a volume mounted
// only into a folder fails with "volume has no drive letter" (its folder's
// drive is another volume, and flushing that one would prove nothing).
platform::Status flush_volume(platform::Os& os, std::u16string_view path);

}  // namespace holvar::txn::fs
