// Whether a directory may be trusted: a real directory (no reparse point)
// owned by LocalSystem or BUILTIN\Administrators.
#pragma once

#include <string>

#include "platform/os.hpp"

namespace holvar::txn::fs {

// Success, the error "foreign_identity", or the Win32 error of the open or a query.
platform::Status is_trusted_directory(platform::Os& os, const std::u16string& path);

}  // namespace holvar::txn::fs
