#include "tool_error.hpp"

namespace holvar::simtool {

std::string describe(const platform::Error& error) {
    if (error.kind == platform::ErrorKind::win32) {
        return "win32 error " + std::to_string(error.win32);
    }
    return std::string(error.text);
}

}  // namespace holvar::simtool
