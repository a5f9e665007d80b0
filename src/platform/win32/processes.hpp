// The running process's own facts through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Processes final : public platform::Processes {
  public:
    platform::Result<std::u16string> get_module_file_name() override;
    uint32_t get_current_process_id() override;
};

}  // namespace holvar::win32
