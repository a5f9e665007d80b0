// The simulated machine's file calls with a hook after each directory listing,
// so a test can change the tree in the window between listing an entry and
// opening it, as another process could.
#pragma once

#include <functional>
#include <string>

#include "platform/os.hpp"

namespace holvar::txn::plan::testing {

class InterposedFiles : public platform::Files {
  public:
    // Runs after each listing, with the listing as it will be returned.
    using Hook = std::function<void(const std::u16string& pattern,
                                    std::vector<platform::FindData>& listing)>;

    InterposedFiles(platform::Files& inner, Hook after_listing)
        : inner_(inner), after_listing_(std::move(after_listing)) {}

    platform::Result<std::vector<platform::FindData>> find_files(
        const std::u16string& pattern) override {
        auto listing = inner_.find_files(pattern);
        if (listing) after_listing_(pattern, *listing);
        return listing;
    }

    platform::Result<platform::Handle> create_file(
        const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition,
        uint32_t flags, const platform::SecurityDescriptor* sd) override {
        return inner_.create_file(path, access, share, disposition, flags, sd);
    }
    platform::Result<platform::FileBasicInfo> get_file_basic_info(
        const platform::Handle& h) override {
        return inner_.get_file_basic_info(h);
    }
    platform::Result<platform::FileIdInfo> get_file_id_info(const platform::Handle& h) override {
        return inner_.get_file_id_info(h);
    }
    platform::Result<platform::ByHandleFileInformation> get_file_information_by_handle(
        const platform::Handle& h) override {
        return inner_.get_file_information_by_handle(h);
    }
    platform::Result<platform::FinalPathName> get_final_path_name_by_handle(
        const platform::Handle& h, uint32_t units, uint32_t flags) override {
        return inner_.get_final_path_name_by_handle(h, units, flags);
    }
    platform::Result<uint32_t> write_file(const platform::Handle& h,
                                          std::span<const uint8_t> bytes) override {
        return inner_.write_file(h, bytes);
    }
    platform::Result<uint32_t> read_file(const platform::Handle& h,
                                         std::span<uint8_t> buffer) override {
        return inner_.read_file(h, buffer);
    }
    platform::Status flush_file_buffers(const platform::Handle& h) override {
        return inner_.flush_file_buffers(h);
    }
    platform::Status move_file_ex(const std::u16string& from, const std::u16string* to,
                                  uint32_t flags) override {
        return inner_.move_file_ex(from, to, flags);
    }
    platform::Status create_directory(const std::u16string& path,
                                      const platform::SecurityDescriptor* sd) override {
        return inner_.create_directory(path, sd);
    }
    platform::Status set_file_rename_info_ex(const platform::Handle& h,
                                             const std::u16string& target,
                                             uint32_t flags) override {
        return inner_.set_file_rename_info_ex(h, target, flags);
    }
    platform::Status set_file_disposition_info_ex(const platform::Handle& h,
                                                  uint32_t flags) override {
        return inner_.set_file_disposition_info_ex(h, flags);
    }
    platform::Status create_hard_link(const std::u16string& link,
                                      const std::u16string& existing) override {
        return inner_.create_hard_link(link, existing);
    }
    platform::Result<std::u16string> get_volume_path_name(const std::u16string& path,
                                                          uint32_t units) override {
        return inner_.get_volume_path_name(path, units);
    }
    platform::Result<uint32_t> get_volume_file_system_flags(const std::u16string& root) override {
        return inner_.get_volume_file_system_flags(root);
    }
    platform::Result<std::u16string> get_full_path_name(const std::u16string& path) override {
        return inner_.get_full_path_name(path);
    }

  private:
    platform::Files& inner_;
    Hook after_listing_;
};

}  // namespace holvar::txn::plan::testing
