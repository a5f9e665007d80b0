// The Service Control Manager through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Services final : public platform::Services {
  public:
    explicit Win32Services(platform::HandleCloser& closer) : closer_(closer) {}

    platform::Result<platform::Handle> open_sc_manager(uint32_t access) override;
    platform::Result<platform::Handle> open_service(const platform::Handle& scm,
                                                    const std::u16string& name,
                                                    uint32_t access) override;
    platform::Result<platform::Handle> create_service(
        const platform::Handle& scm, const std::u16string& name, const std::u16string& display_name,
        uint32_t access, uint32_t service_type, uint32_t start_type, uint32_t error_control,
        const std::u16string& binary_path, const std::u16string& dependencies,
        const std::u16string& start_name) override;
    platform::Status change_service_config(const platform::Handle& h, uint32_t service_type,
                                           uint32_t start_type, uint32_t error_control,
                                           const std::u16string* binary_path,
                                           const std::u16string* dependencies,
                                           const std::u16string* start_name,
                                           const std::u16string* display_name) override;
    platform::Status change_service_description(const platform::Handle& h,
                                                const std::u16string* description) override;
    platform::Result<platform::ServiceConfigAnswer> query_service_config(
        const platform::Handle& h, uint32_t buffer_bytes) override;
    platform::Result<platform::ServiceDescriptionAnswer> query_service_description(
        const platform::Handle& h, uint32_t buffer_bytes) override;
    platform::Result<platform::ServiceStatusProcess> query_service_status(
        const platform::Handle& h) override;
    platform::Status control_service(const platform::Handle& h, uint32_t control) override;
    platform::Status start_service(const platform::Handle& h) override;
    platform::Status delete_service(const platform::Handle& h) override;

  private:
    platform::HandleCloser& closer_;
};

}  // namespace holvar::win32
