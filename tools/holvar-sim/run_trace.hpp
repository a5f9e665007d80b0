// What an engine run did, as `run` reports it beside the exit code: the marks
// its journal reached (read each time the journal is replaced, since a
// finished transaction deletes it), how many objects it moved by handle, and
// how many bytes it wrote into the install root or the payload (the engine
// moves files and never copies them, so that stays 0).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/os.hpp"
#include "platform/sim/machine.hpp"

namespace holvar::simtool {

struct RunTrace {
    std::vector<std::string> marks;  // the journal's marks at its last write
    uint64_t moved = 0;              // successful renames by handle
    uint64_t bytes_copied = 0;       // written into files under the root or the payload
};

// The file calls of a process's Os, passed through and watched.
class TracingFiles final : public platform::Files {
  public:
    TracingFiles(platform::Files& inner, const sim::Machine& machine, std::u16string root,
                 RunTrace& trace);

    platform::Result<platform::Handle> create_file(const std::u16string& path, uint32_t access,
                                                   uint32_t share, uint32_t disposition,
                                                   uint32_t flags,
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
    // The journal's marks as the file at that path holds them now.
    void read_marks(const std::u16string& journal_path);

    platform::Files& inner_;
    const sim::Machine& machine_;
    std::u16string root_;
    RunTrace& trace_;
    std::map<uint64_t, std::u16string> paths_;  // open handles by raw value
};

// The marks, space-separated ("-" when the run wrote no journal).
std::string marks_text(const RunTrace& trace);

}  // namespace holvar::simtool
