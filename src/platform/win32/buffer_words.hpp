// Pointer-aligned storage for a buffer whose size a caller gives in bytes:
// records Windows writes there start with pointers, so the bytes live in
// 8-byte words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace holvar::win32 {

// The words that hold `bytes`, counted in 64 bits: in 32 bits the rounding of a
// size near 4 GiB wraps to nothing, and Windows would be handed a buffer far
// smaller than the size it is told.
constexpr size_t words_for_bytes(uint64_t bytes) {
    return static_cast<size_t>((bytes + 7) / 8);
}

}  // namespace holvar::win32
