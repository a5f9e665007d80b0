// Whether the engine may trust an object: its owner is LocalSystem,
// BUILTIN\Administrators or TrustedInstaller, and its DACL grants no right to
// change it to anyone else. An owner alone proves nothing: a folder an
// administrator makes directly under a drive root inherits a grant of modify
// rights to every authenticated user.
#pragma once

#include <string>

#include "platform/os.hpp"

namespace holvar::txn::fs {

// The rule on an open handle (opened with READ_CONTROL): success, the error
// "foreign_identity" when the owner or a grant fails it, or the Win32 error of
// the security query.
platform::Status is_trusted_object(platform::Os& os, const platform::Handle& handle);

// A real directory (no reparse point) that passes the rule. Success, the error
// "foreign_identity", or the Win32 error of the open or a query.
platform::Status is_trusted_directory(platform::Os& os, const std::u16string& path);

// The same check on a handle that stays open as the proof: the directory is
// opened to be listed, sharing reading and writing but not deletion, so while
// the handle lives nobody can rename or delete it or put a link in its place,
// and files can still be made and moved in it.
platform::Result<platform::Handle> pin_trusted_directory(platform::Os& os,
                                                         const std::u16string& path);

}  // namespace holvar::txn::fs
