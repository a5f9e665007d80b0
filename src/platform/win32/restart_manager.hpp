// Calls to the Restart Manager, through the real Windows API.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32RestartManager final : public platform::RestartManager {
  public:
    explicit Win32RestartManager(platform::HandleCloser& closer) : closer_(closer) {}

  private:
    [[maybe_unused]] platform::HandleCloser& closer_;  // closes the handles these calls open
};

}  // namespace holvar::win32
