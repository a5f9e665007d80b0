// Errors crossing the OS boundary: a Win32 code or one of a few fixed texts.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

namespace holvar::platform {

enum class ErrorKind : uint8_t {
    win32,
    invalid_input,
    invalid_data,
    timed_out,
    permission_denied,
    other,
};

// A failed operation. `text` always points at a string literal: error texts are
// fixed, never formatted, so they can be compared and never allocate.
struct Error {
    ErrorKind kind = ErrorKind::other;
    uint32_t win32 = 0;
    std::string_view text;

    bool is_win32(uint32_t code) const { return kind == ErrorKind::win32 && win32 == code; }
    bool has_text(std::string_view t) const { return kind != ErrorKind::win32 && text == t; }
    friend bool operator==(const Error&, const Error&) = default;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

inline std::unexpected<Error> win32_error(uint32_t code) {
    return std::unexpected(Error{ErrorKind::win32, code, "win32"});
}
inline std::unexpected<Error> fail(ErrorKind kind, std::string_view text) {
    return std::unexpected(Error{kind, 0, text});
}
inline std::unexpected<Error> invalid_input(std::string_view text) {
    return fail(ErrorKind::invalid_input, text);
}
inline std::unexpected<Error> invalid_data(std::string_view text) {
    return fail(ErrorKind::invalid_data, text);
}
inline std::unexpected<Error> foreign_identity() {
    return fail(ErrorKind::other, "foreign_identity");
}

// Win32 error codes the engine looks at.
namespace win32 {
inline constexpr uint32_t success = 0;
inline constexpr uint32_t file_not_found = 2;
inline constexpr uint32_t path_not_found = 3;
inline constexpr uint32_t access_denied = 5;
inline constexpr uint32_t invalid_handle = 6;
inline constexpr uint32_t not_enough_memory = 8;
inline constexpr uint32_t invalid_drive = 15;
inline constexpr uint32_t not_same_device = 17;
inline constexpr uint32_t write_fault = 29;
inline constexpr uint32_t sharing_violation = 32;
inline constexpr uint32_t lock_violation = 33;
inline constexpr uint32_t handle_disk_full = 39;
inline constexpr uint32_t not_supported = 50;
inline constexpr uint32_t file_exists = 80;
inline constexpr uint32_t invalid_parameter = 87;
inline constexpr uint32_t broken_pipe = 109;
inline constexpr uint32_t insufficient_buffer = 122;
inline constexpr uint32_t invalid_name = 123;
inline constexpr uint32_t dir_not_empty = 145;
inline constexpr uint32_t already_exists = 183;
inline constexpr uint32_t filename_exced_range = 206;
inline constexpr uint32_t pipe_busy = 231;
inline constexpr uint32_t no_data = 232;
inline constexpr uint32_t more_data = 234;
inline constexpr uint32_t wait_timeout = 258;
inline constexpr uint32_t no_more_items = 259;
inline constexpr uint32_t directory = 267;
inline constexpr uint32_t not_a_reparse_point = 4390;
inline constexpr uint32_t user_mapped_file = 1224;
inline constexpr uint32_t disk_full = 112;
inline constexpr uint32_t no_more_files = 18;
inline constexpr uint32_t operation_aborted = 995;
inline constexpr uint32_t io_pending = 997;
inline constexpr uint32_t service_already_running = 1056;
inline constexpr uint32_t service_does_not_exist = 1060;
inline constexpr uint32_t service_not_active = 1062;
inline constexpr uint32_t service_marked_for_delete = 1072;
inline constexpr uint32_t service_exists = 1073;
inline constexpr uint32_t invalid_sid = 1337;
inline constexpr uint32_t none_mapped = 1332;
inline constexpr uint32_t timeout = 1460;
}  // namespace win32

// A bounded wait that ran out (a pipe read or write given up).
inline std::unexpected<Error> wait_timed_out() {
    return std::unexpected(Error{ErrorKind::timed_out, win32::wait_timeout, "timed out"});
}

}  // namespace holvar::platform
