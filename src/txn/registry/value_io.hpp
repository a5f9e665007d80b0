// The two halves every registry operation is built from: reading a whole
// value (size first, then the bytes) and the text checks made before a call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os.hpp"

namespace holvar::txn::registry {

struct ValueBytes {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// RegQueryValueExW once for type and size, then into a buffer of that size.
platform::Result<ValueBytes> read_value(platform::Os& os, const platform::Handle& key,
                                        const std::u16string& name);

// A text holding a NUL would name another key or value than the one meant.
inline bool has_nul(std::u16string_view text) {
    return text.find(u'\0') != std::u16string_view::npos;
}

// A missing key or value (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND).
inline bool is_not_found(const platform::Error& e) {
    return e.is_win32(platform::win32::file_not_found) ||
           e.is_win32(platform::win32::path_not_found);
}

// The units of REG_SZ data without the terminating NUL: "not a text" for
// another type or an odd length, "unterminated" when the last unit is no NUL.
platform::Result<std::u16string> sz_text(const ValueBytes& value);

// The root without its trailing backslashes (R'), or "non-Unicode path".
platform::Result<std::u16string> trimmed_root(std::u16string_view root);

// The client's command for the URL protocol: "<R'>\holvar-client.exe" "%1".
std::u16string protocol_command(std::u16string_view trimmed_root);

}  // namespace holvar::txn::registry
