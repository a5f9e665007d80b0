// The registry (HKEY_LOCAL_MACHINE) through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Registry final : public platform::Registry {
  public:
    explicit Win32Registry(platform::HandleCloser& closer) : closer_(closer) {}

    platform::Result<platform::Handle> reg_create_key(const std::u16string& path,
                                                      uint32_t access) override;
    platform::Result<platform::Handle> reg_open_key(const std::u16string& path,
                                                    uint32_t access) override;
    platform::Status reg_set_value(const platform::Handle& key, const std::u16string& name,
                                   uint32_t type, std::span<const uint8_t> data) override;
    platform::Result<platform::RegValueInfo> reg_query_value(const platform::Handle& key,
                                                             const std::u16string& name,
                                                             std::span<uint8_t> buffer) override;
    platform::Status reg_delete_tree(const platform::Handle& key,
                                     const std::u16string& subkey) override;
    platform::Status reg_delete_value(const platform::Handle& key,
                                      const std::u16string& name) override;

  private:
    platform::HandleCloser& closer_;
};

}  // namespace holvar::win32
