// The OS boundary on a real Windows machine: every interface answered by the
// Windows calls themselves. The process entry creates one and passes its Os
// down; handles it opens close through it.
#pragma once

#include "platform/os.hpp"
#include "platform/win32/clock.hpp"
#include "platform/win32/files.hpp"
#include "platform/win32/handle_closer.hpp"
#include "platform/win32/pipes.hpp"
#include "platform/win32/processes.hpp"
#include "platform/win32/registry.hpp"
#include "platform/win32/restart_manager.hpp"
#include "platform/win32/security.hpp"
#include "platform/win32/services.hpp"
#include "platform/win32/sync.hpp"

namespace holvar::win32 {

class Win32Os {
  public:
    Win32Os();
    Win32Os(const Win32Os&) = delete;
    Win32Os& operator=(const Win32Os&) = delete;

    platform::Os& os() { return os_; }
    platform::HandleCloser& closer() { return closer_; }

  private:
    Win32HandleCloser closer_;
    Win32Files files_;
    Win32Security security_;
    Win32Sync sync_;
    Win32Clock clock_;
    Win32Processes processes_;
    Win32Services services_;
    Win32Registry registry_;
    Win32RestartManager restart_manager_;
    Win32Pipes pipes_;
    platform::Os os_;
};

}  // namespace holvar::win32
