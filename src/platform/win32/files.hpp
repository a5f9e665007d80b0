// Files and volumes through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Files : public platform::Files {
  public:
    explicit Win32Files(platform::HandleCloser& closer) : closer_(closer) {}

    platform::Result<platform::Handle> create_file(const std::u16string& path, uint32_t access,
                                                   uint32_t share, uint32_t disposition,
                                                   uint32_t flags_and_attributes,
                                                   const platform::SecurityDescriptor* sd) override;
    platform::Result<platform::FileBasicInfo> get_file_basic_info(
        const platform::Handle& h) override;
    platform::Result<platform::FileIdInfo> get_file_id_info(const platform::Handle& h) override;
    platform::Result<platform::ByHandleFileInformation> get_file_information_by_handle(
        const platform::Handle& h) override;
    platform::Result<platform::FinalPathName> get_final_path_name_by_handle(
        const platform::Handle& h, uint32_t buffer_units, uint32_t flags) override;
    platform::Result<uint32_t> write_file(const platform::Handle& h,
                                          std::span<const uint8_t> bytes) override;
    platform::Result<uint32_t> read_file(const platform::Handle& h,
                                         std::span<uint8_t> buffer) override;
    platform::Status flush_file_buffers(const platform::Handle& h) override;
    platform::Status move_file_ex(const std::u16string& from, const std::u16string* to,
                                  uint32_t flags) override;
    platform::Status create_directory(const std::u16string& path,
                                      const platform::SecurityDescriptor* sd) override;
    platform::Status set_file_rename_info_ex(const platform::Handle& h,
                                             const std::u16string& target, uint32_t flags) override;
    platform::Status set_file_disposition_info_ex(const platform::Handle& h,
                                                  uint32_t flags) override;
    platform::Status create_hard_link(const std::u16string& link,
                                      const std::u16string& existing) override;
    platform::Result<std::vector<platform::FindData>> find_files(
        const std::u16string& pattern) override;
    platform::Result<std::u16string> get_volume_path_name(const std::u16string& path,
                                                          uint32_t buffer_units) override;
    platform::Result<uint32_t> get_volume_file_system_flags(const std::u16string& root) override;
    platform::Result<std::u16string> get_full_path_name(const std::u16string& path) override;

  private:
    platform::HandleCloser& closer_;
};

}  // namespace holvar::win32
