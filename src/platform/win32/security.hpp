// Security identifiers and descriptors through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Security : public platform::Security {
  public:
    explicit Win32Security(platform::HandleCloser& closer) : closer_(closer) {}

    platform::Result<platform::SecurityDescriptor> get_security_info(
        const platform::Handle& h, uint32_t object_type, uint32_t security_info) override;
    platform::Result<platform::Sid> create_well_known_sid(uint32_t type) override;
    platform::Result<platform::Sid> convert_string_sid_to_sid(const std::u16string& text) override;
    bool equal_sid(const platform::Sid& a, const platform::Sid& b) override;
    platform::Result<platform::SecurityDescriptor> convert_sddl_to_security_descriptor(
        const std::u16string& sddl, uint32_t revision) override;
    platform::Result<platform::Handle> open_process_token(const platform::Handle* process,
                                                          uint32_t access) override;
    platform::Result<platform::TokenInformation> get_token_information(
        const platform::Handle& token, uint32_t info_class, uint32_t buffer_bytes) override;
    platform::Result<uint64_t> lookup_privilege_value(const std::u16string& name) override;
    platform::Result<uint32_t> adjust_token_privileges(const platform::Handle& token, uint64_t luid,
                                                       uint32_t attributes) override;

  private:
    platform::HandleCloser& closer_;
};

}  // namespace holvar::win32
