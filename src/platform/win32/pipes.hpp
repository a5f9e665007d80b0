// Named pipes beyond opening them with CreateFileW, through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Pipes final : public platform::Pipes {
  public:
    explicit Win32Pipes(platform::HandleCloser&) {}

    platform::Result<uint32_t> get_named_pipe_server_process_id(
        const platform::Handle& pipe) override;
};

}  // namespace holvar::win32
