// Named mutexes and waits through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Sync final : public platform::Sync {
  public:
    explicit Win32Sync(platform::HandleCloser& closer) : closer_(closer) {}

    platform::Result<platform::CreatedMutex> create_mutex(const std::u16string& name,
                                                          bool initial_owner) override;
    platform::Result<uint32_t> wait_for_single_object(const platform::Handle& h,
                                                      uint32_t timeout_ms) override;

  private:
    platform::HandleCloser& closer_;
};

}  // namespace holvar::win32
