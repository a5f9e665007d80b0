// Security descriptors crossing the boundary as self-relative bytes: copied
// out of what Windows allocated, and handed back to Windows as a buffer it may
// read.
#pragma once

#include <utility>
#include <vector>

#include "platform/security_types.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

inline constexpr uint32_t error_invalid_security_descr = 1338;

// LocalFree on scope exit for what GetSecurityInfo and the Convert* calls return.
class LocalMemory {
  public:
    LocalMemory() = default;
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    ~LocalMemory() {
        if (p_ != nullptr) LocalFree(p_);
    }
    void** out() { return &p_; }
    void* get() const { return p_; }

  private:
    void* p_ = nullptr;
};

// The descriptor at `sd` as self-relative bytes (made self-relative first when
// Windows handed back an absolute one).
platform::Result<platform::SecurityDescriptor> copy_self_relative(PSECURITY_DESCRIPTOR sd);

// A writable copy of a descriptor that has been checked to be a well-formed
// self-relative descriptor, for SECURITY_ATTRIBUTES. Windows walks the offsets
// inside it, so malformed bytes are refused before they reach a call.
class DescriptorBuffer {
  public:
    static platform::Result<DescriptorBuffer> from(const platform::SecurityDescriptor& sd);
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

    DescriptorBuffer(DescriptorBuffer&& other) noexcept;
    DescriptorBuffer(const DescriptorBuffer&) = delete;
    DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;
    DescriptorBuffer& operator=(DescriptorBuffer&&) = delete;
    ~DescriptorBuffer() = default;

  private:
    DescriptorBuffer() = default;
    std::vector<uint8_t> bytes_;
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace holvar::win32
