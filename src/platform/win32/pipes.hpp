// Calls to named pipes beyond opening them with CreateFileW, through the real Windows API.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Pipes final : public platform::Pipes {
  public:
    explicit Win32Pipes(platform::HandleCloser& closer) : closer_(closer) {}

  private:
    [[maybe_unused]] platform::HandleCloser& closer_;  // closes the handles these calls open
};

}  // namespace holvar::win32
