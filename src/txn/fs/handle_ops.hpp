// Renaming and deleting an object through a handle that was already verified,
// with POSIX semantics: the name changes or disappears at once, even while
// other processes keep the object open.
#pragma once

#include <string_view>

#include "platform/os.hpp"

namespace holvar::txn::fs {

// SetFileInformationByHandle(FileRenameInfoEx) with flags 0x42, or 0x43 when
// `replace` is set. A target the OS could not hold is refused with "path too
// long" before any call.
platform::Status rename_by_handle(platform::Os& os, const platform::Handle& handle,
                                  std::u16string_view target, bool replace);

// SetFileInformationByHandle(FileDispositionInfoEx) with 0x13: delete, POSIX
// semantics, ignoring the read-only attribute.
platform::Status delete_by_handle(platform::Os& os, const platform::Handle& handle);

}  // namespace holvar::txn::fs
