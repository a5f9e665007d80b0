// The Restart Manager through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32RestartManager final : public platform::RestartManager {
  public:
    explicit Win32RestartManager(platform::HandleCloser&) {}

    platform::Result<uint32_t> rm_start_session() override;
    platform::Status rm_register_resources(uint32_t session,
                                           const std::vector<std::u16string>& files) override;
    platform::RmList rm_get_list(uint32_t session, uint32_t capacity) override;
    platform::Status rm_end_session(uint32_t session) override;
};

}  // namespace holvar::win32
