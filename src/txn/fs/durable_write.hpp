// Whole-file replacement that a crash cannot tear: the bytes reach disk under
// "<name>.tmp" first and only then take over the name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/os.hpp"

namespace holvar::txn::fs {

platform::Status write_file_atomically(platform::Os& os, const std::u16string& path,
                                       std::span<const uint8_t> bytes);

}  // namespace holvar::txn::fs
