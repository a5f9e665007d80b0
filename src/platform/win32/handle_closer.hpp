// Closes a raw handle with the call its kind needs.
#pragma once

#include "platform/handle.hpp"

namespace holvar::win32 {

class Win32HandleCloser final : public platform::HandleCloser {
  public:
    void close_handle(platform::HandleKind kind, uint64_t raw) noexcept override;
};

}  // namespace holvar::win32
