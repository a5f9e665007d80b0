// Calls to the registry (HKEY_LOCAL_MACHINE, 64-bit view), through the real Windows API.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Registry final : public platform::Registry {
  public:
    explicit Win32Registry(platform::HandleCloser& closer) : closer_(closer) {}

  private:
    [[maybe_unused]] platform::HandleCloser& closer_;  // closes the handles these calls open
};

}  // namespace holvar::win32
