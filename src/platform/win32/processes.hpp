// Processes, snapshots and jobs through the real Windows calls.
#pragma once

#include "platform/os.hpp"

namespace holvar::win32 {

class Win32Processes final : public platform::Processes {
  public:
    explicit Win32Processes(platform::HandleCloser& closer) : closer_(closer) {}

    platform::Result<std::u16string> get_module_file_name() override;
    uint32_t get_current_process_id() override;
    platform::Result<platform::Handle> create_toolhelp32_snapshot(uint32_t flags,
                                                                  uint32_t pid) override;
    platform::Result<platform::ProcessEntry32> process32_first(
        const platform::Handle& snapshot) override;
    platform::Result<platform::ProcessEntry32> process32_next(
        const platform::Handle& snapshot) override;
    platform::Result<platform::Handle> open_process(uint32_t access, bool inherit,
                                                    uint32_t pid) override;
    platform::Result<std::u16string> query_full_process_image_name(const platform::Handle& process,
                                                                   uint32_t flags,
                                                                   uint32_t buffer_units) override;
    platform::Status terminate_process(const platform::Handle& process,
                                       uint32_t exit_code) override;
    platform::Result<uint32_t> get_exit_code_process(const platform::Handle& process) override;
    platform::Result<platform::SizedText> get_system_windows_directory(
        uint32_t buffer_units) override;
    platform::Result<platform::Handle> create_job_object() override;
    platform::Status set_job_extended_limit(const platform::Handle& job,
                                            uint32_t limit_flags) override;
    platform::Status terminate_job_object(const platform::Handle& job, uint32_t exit_code) override;
    platform::Result<platform::CreatedProcess> create_process(
        const platform::CreateProcessRequest& request) override;

  private:
    platform::Handle own(void* raw);

    platform::HandleCloser& closer_;
};

}  // namespace holvar::win32
