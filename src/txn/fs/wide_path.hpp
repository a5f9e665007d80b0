// The one gate every path passes before it is handed to the operating system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace holvar::txn::fs {

// The longest path, in UTF-16 units including the terminating NUL, that a
// Windows call can take (a UNICODE_STRING holds at most 0x7FFF units).
inline constexpr size_t kMaxPathUnits = 0x8000;

// The path as the NUL-terminated UTF-16 text a Windows call takes (the
// returned string's c_str()). A NUL inside the path would silently cut it
// short at the OS, so it is refused ("embedded NUL"); so is a path the OS
// could not hold ("path too long"). Unpaired surrogates pass: Windows names
// may hold them.
platform::Result<std::u16string> wide_path(std::u16string_view path);

}  // namespace holvar::txn::fs
