// Creating the install root with an access-control list of its own.
#pragma once

#include <string_view>

#include "platform/os.hpp"

namespace holvar::txn::fs {

// Owner and group BUILTIN\Administrators; a protected DACL (nothing inherited
// from the parent) giving SYSTEM and Administrators full access and
// BUILTIN\Users read and execute, each entry inherited by files and folders.
inline constexpr std::u16string_view kProtectedDirectorySddl =
    u"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)";

// CreateDirectoryW with that descriptor. Fails with the Win32 error of the
// call when the directory already exists: an existing directory never
// receives this descriptor, whoever made it.
platform::Status create_protected_directory(platform::Os& os, std::u16string_view path);

}  // namespace holvar::txn::fs
