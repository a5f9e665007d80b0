// CreateProcessW with an extended start-up record whose attribute list puts
// the child into jobs from its first instruction.
#include <vector>

#include "platform/win32/buffer_words.hpp"
#include "platform/win32/processes.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {
namespace {

static_assert(sizeof(STARTUPINFOEXW) == 112);

// InitializeProcThreadAttributeList storage, deleted on every path. Windows
// keeps a pointer to each attribute's value until the list is deleted, so the
// list owns those values: they are destroyed after DeleteProcThreadAttributeList.
class AttributeList {
  public:
    static platform::Result<AttributeList> with_room_for(DWORD count) {
        SIZE_T bytes = 0;
        InitializeProcThreadAttributeList(nullptr, count, 0, &bytes);
        AttributeList list;
        list.storage_.resize(words_for_bytes(bytes));
        if (!InitializeProcThreadAttributeList(list.get(), count, 0, &bytes)) return last_error();
        list.initialized_ = true;
        return list;
    }
    AttributeList(AttributeList&& other) noexcept
        : storage_(std::move(other.storage_)),
          jobs_(std::move(other.jobs_)),
          initialized_(other.initialized_) {
        other.initialized_ = false;
    }
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;
    AttributeList& operator=(AttributeList&&) = delete;
    ~AttributeList() {
        if (initialized_) DeleteProcThreadAttributeList(get());
    }
    LPPROC_THREAD_ATTRIBUTE_LIST get() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    }
    // PROC_THREAD_ATTRIBUTE_JOB_LIST; the handles are kept here for the list's life.
    platform::Status set_job_list(std::vector<HANDLE> jobs) {
        jobs_ = std::move(jobs);
        if (!UpdateProcThreadAttribute(get(), 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, jobs_.data(),
                                       jobs_.size() * sizeof(HANDLE), nullptr, nullptr))
            return last_error();
        return {};
    }

  private:
    AttributeList() = default;
    std::vector<uint64_t> storage_;
    std::vector<HANDLE> jobs_;
    bool initialized_ = false;
};

}  // namespace

platform::Result<platform::CreatedProcess> Win32Processes::create_process(
    const platform::CreateProcessRequest& request) {
    if (has_embedded_nul(request.application_name) || has_embedded_nul(request.command_line) ||
        has_embedded_nul(request.current_directory)) {
        return embedded_nul();
    }
    // The block's entries end with a NUL each; the string's own terminator is
    // the block's final NUL.
    if (!request.environment.empty() && request.environment.back() != u'\0') {
        return platform::invalid_input("invalid environment block");
    }
    auto list = AttributeList::with_room_for(1);
    if (!list) return std::unexpected(list.error());
    std::vector<HANDLE> jobs;
    for (const platform::Handle* job : request.job_list) jobs.push_back(to_native(*job));
    if (!jobs.empty()) {
        if (auto set = list->set_job_list(std::move(jobs)); !set)
            return std::unexpected(set.error());
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = list->get();
    // CreateProcessW may write into the command line.
    std::u16string command_line = request.command_line;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(
            request.application_name.empty() ? nullptr : wide(request.application_name),
            reinterpret_cast<wchar_t*>(command_line.data()), nullptr, nullptr,
            request.inherit_handles ? TRUE : FALSE, request.creation_flags,
            request.environment.empty() ? nullptr
                                        : const_cast<char16_t*>(request.environment.c_str()),
            request.current_directory.empty() ? nullptr : wide(request.current_directory),
            &startup.StartupInfo, &info)) {
        return last_error();
    }
    platform::CreatedProcess out;
    out.process = own(info.hProcess);
    out.thread = own(info.hThread);
    out.process_id = info.dwProcessId;
    out.thread_id = info.dwThreadId;
    return out;
}

}  // namespace holvar::win32
