// Calls to the Service Control Manager, through the real Windows API.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Services final : public platform::Services {
  public:
    explicit Win32Services(platform::HandleCloser& closer) : closer_(closer) {}

  private:
    [[maybe_unused]] platform::HandleCloser& closer_;  // closes the handles these calls open
};

}  // namespace holvar::win32
