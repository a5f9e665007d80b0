// Named pipes beyond opening them with CreateFileW, through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Pipes final : public platform::Pipes {
  public:
    explicit Win32Pipes(platform::HandleCloser&) {}

    platform::Result<uint32_t> get_named_pipe_server_process_id(
        const platform::Handle& pipe) override;
    platform::Result<uint32_t> read_pipe(const platform::Handle& pipe, std::span<uint8_t> buffer,
                                         platform::Duration timeout) override;
    platform::Result<uint32_t> write_pipe(const platform::Handle& pipe,
                                          std::span<const uint8_t> bytes,
                                          platform::Duration timeout) override;
};

}  // namespace holvar::win32
