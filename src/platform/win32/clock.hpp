// Monotonic time from the performance counter, and a real sleep.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Clock final : public platform::Clock {
  public:
    Win32Clock();
    platform::Instant now() override;
    void sleep_for(platform::Duration d) override;
    bool run_bounded(std::function<void()> task, platform::Duration limit) override;

  private:
    int64_t frequency_ = 1;  // counts per second, fixed at boot
};

}  // namespace holvar::win32
