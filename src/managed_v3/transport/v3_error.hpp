// The failures of a v3 request and of the verification built on it. Most are
// a plain error value; three are distinct so that a caller can recognise
// them: a pipe that could not be opened (with the open's Win32 code), a
// service speaking an incompatible protocol, and a service that refused to
// describe its capabilities.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "managed_v3/protocol/service_error.hpp"
#include "platform/error.hpp"

namespace holvar::v3 {

// Texts of the transport and of the request as a whole.
inline constexpr std::string_view kStartTimeout = "verified_v3_start_timeout";
inline constexpr std::string_view kRequestIdExhausted = "request_id_exhausted";
inline constexpr std::string_view kPipeOpenUnverified = "pipe_open_unverified";
inline constexpr std::string_view kRequestDeadlineExceeded =
    "request_deadline_exceeded_reconcile_status";
inline constexpr std::string_view kPipeWriteFailed = "pipe_write_failed_reconcile_status";

enum class V3ErrorType : uint8_t {
    plain,
    pipe_connect,        // the pipe's CreateFileW failed: `error` is its Win32 code
    incompatible,        // the service's protocol or capabilities do not fit
    capability_refusal,  // "capabilities" answered with an "error" reply
};

struct V3Error {
    V3ErrorType type = V3ErrorType::plain;
    platform::Error error;
    // Texts that end in ':' are followed by this number when they are shown.
    std::optional<uint32_t> number;

    // The text as it is shown: the error's text, or the Win32 code of a
    // system error ("win32:<code>"), followed by the number when there is one.
    std::string display() const;
    // The Win32 code the failure carries, when it carries one: that of a
    // system error, or one kept beside a text (a failed status query, a
    // service that stopped with a Win32 exit code).
    std::optional<uint32_t> win32_code() const {
        if (error.kind == platform::ErrorKind::win32 || error.win32 != 0) return error.win32;
        return std::nullopt;
    }
    bool is(std::string_view text) const { return error.has_text(text); }
    // The pipe's open found no instance (2) or only busy ones (231): the one
    // failure worth trying again, since a starting service opens it soon.
    bool pipe_absent_or_busy() const {
        return type == V3ErrorType::pipe_connect &&
               (error.is_win32(platform::win32::file_not_found) ||
                error.is_win32(platform::win32::pipe_busy));
    }
    friend bool operator==(const V3Error&, const V3Error&) = default;
};

template <class T>
using V3Result = std::expected<T, V3Error>;
using V3Status = std::expected<void, V3Error>;

inline std::unexpected<V3Error> v3_fail(platform::Error error) {
    return std::unexpected(V3Error{V3ErrorType::plain, error, std::nullopt});
}
inline std::unexpected<V3Error> v3_fail(platform::ErrorKind kind, std::string_view text) {
    return v3_fail(platform::Error{kind, 0, text});
}
// A failure that carries only its text.
inline std::unexpected<V3Error> v3_message(std::string_view text) {
    return v3_fail(platform::ErrorKind::other, text);
}
inline std::unexpected<V3Error> pipe_connect_error(platform::Error system) {
    return std::unexpected(V3Error{V3ErrorType::pipe_connect, system, std::nullopt});
}
inline std::unexpected<V3Error> incompatible_error(std::string_view text) {
    return std::unexpected(V3Error{V3ErrorType::incompatible,
                                   platform::Error{platform::ErrorKind::other, 0, text},
                                   std::nullopt});
}
inline std::unexpected<V3Error> capability_refusal(CapabilityRefusal refusal) {
    return std::unexpected(V3Error{V3ErrorType::capability_refusal, refusal.error(), std::nullopt});
}

}  // namespace holvar::v3
