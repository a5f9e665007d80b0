// Whole-file replacement that a crash cannot tear: the bytes reach disk under
// "<name>.tmp" first and only then take over the name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/os.hpp"

namespace holvar::txn::fs {

// `flush_before_rename` is false only in the crash explorer's deliberately
// broken engine, which shows what a missing flush costs.
platform::Status write_file_atomically(platform::Os& os, const std::u16string& path,
                                       std::span<const uint8_t> bytes,
                                       bool flush_before_rename = true);

}  // namespace holvar::txn::fs
