// How a verb fails: an exit code and one line for standard error. Exit code 2
// is bad usage or a machine file that is missing, unreadable or cannot be
// saved; 1 is an operation the simulated machine refused. Neither collides
// with an exit code of the engine, which `run` passes through.
#pragma once

#include <expected>
#include <string>

#include "platform/error.hpp"

namespace holvar::simtool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
// `run --crash-after N`: the simulated power cut struck; the engine has no exit code.
inline constexpr int kExitCrashed = 3;
// `explore`: some explored state broke the engine's promise.
inline constexpr int kExitViolations = 4;

struct ToolError {
    int exit_code = kExitUsage;
    std::string message;
};

template <class T>
using ToolResult = std::expected<T, ToolError>;

inline std::unexpected<ToolError> usage(std::string message) {
    return std::unexpected(ToolError{kExitUsage, std::move(message)});
}
inline std::unexpected<ToolError> refused(std::string message) {
    return std::unexpected(ToolError{kExitRefused, std::move(message)});
}

// "win32 error 5" or the error's fixed text.
std::string describe(const platform::Error& error);

}  // namespace holvar::simtool
