#include "managed_v3/transport/v3_error.hpp"

namespace holvar::v3 {

std::string V3Error::display() const {
    std::string text = error.kind == platform::ErrorKind::win32
                           ? "win32:" + std::to_string(error.win32)
                           : std::string(error.text);
    if (number) text += std::to_string(*number);
    return text;
}

}  // namespace holvar::v3
