// The error a failed call hands back. A call that failed but left the last
// error at 0 (a probe that unexpectedly succeeded, a call that does not set
// it) must not cross the boundary as code 0, which every caller reads as
// "no error": it fails with a fixed text instead.
#pragma once

#include <cstdint>
#include <expected>

#include "platform/error.hpp"

namespace holvar::win32 {

inline std::unexpected<platform::Error> failure_from(uint32_t last_error) {
    if (last_error == 0)
        return platform::fail(platform::ErrorKind::other, "failed without an error code");
    return platform::win32_error(last_error);
}

}  // namespace holvar::win32
