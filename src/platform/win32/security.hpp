// Security identifiers and descriptors through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Security final : public platform::Security {
  public:
    platform::Result<platform::SecurityDescriptor> get_security_info(
        const platform::Handle& h, uint32_t object_type, uint32_t security_info) override;
    platform::Result<platform::Sid> create_well_known_sid(uint32_t type) override;
    platform::Result<platform::Sid> convert_string_sid_to_sid(const std::u16string& text) override;
    bool equal_sid(const platform::Sid& a, const platform::Sid& b) override;
    platform::Result<platform::SecurityDescriptor> convert_sddl_to_security_descriptor(
        const std::u16string& sddl, uint32_t revision) override;
};

}  // namespace holvar::win32
