// The texts behind the pointers of a record Windows wrote into the caller's
// buffer (QUERY_SERVICE_CONFIGW and its kind). A NULL pointer is no text; a
// pointer outside the buffer, or a text whose end is not inside it, is a
// malformed answer. Read as absent, such a text would become an empty binary
// path or account in the snapshot that a rollback writes back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/error.hpp"

namespace holvar::win32 {

// `offset`: where the pointer points, counted from the buffer's start (none
// for NULL). A text ends at its NUL; a multi-string at its first empty entry,
// keeping the NUL of every entry before it.
inline platform::Result<std::optional<std::u16string>> text_in_buffer(
    std::span<const uint8_t> buffer, std::optional<int64_t> offset, bool multi) {
    if (!offset) return std::optional<std::u16string>{};
    if (*offset < 0 || static_cast<uint64_t>(*offset) >= buffer.size())
        return platform::invalid_data("text outside the returned buffer");
    std::u16string out;
    for (size_t at = static_cast<size_t>(*offset); at + 1 < buffer.size(); at += 2) {
        const auto c = static_cast<char16_t>(buffer[at] | (buffer[at + 1] << 8));
        if (c == u'\0' && (!multi || out.empty() || out.back() == u'\0'))
            return std::optional<std::u16string>{std::move(out)};
        out.push_back(c);
    }
    return platform::invalid_data("unterminated text in the returned buffer");
}

}  // namespace holvar::win32
