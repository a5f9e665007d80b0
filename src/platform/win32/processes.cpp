// The running process's own facts, other processes, snapshots and jobs.
#include "platform/win32/processes.hpp"

#include <algorithm>

#include "platform/win32/windows_api.hpp"
// After the Windows headers it needs.
#include <tlhelp32.h>

namespace holvar::win32 {
namespace {

static_assert(sizeof(PROCESSENTRY32W) == platform::PROCESSENTRY32W_SIZE);
static_assert(sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == 144);

platform::ProcessEntry32 to_entry(const PROCESSENTRY32W& entry) {
    platform::ProcessEntry32 out;
    out.process_id = entry.th32ProcessID;
    out.parent_process_id = entry.th32ParentProcessID;
    size_t units = 0;
    while (units < MAX_PATH && entry.szExeFile[units] != L'\0') ++units;
    out.exe_file = from_wide(entry.szExeFile, units);
    return out;
}

// One step through a snapshot: Process32FirstW or Process32NextW; the end is
// ERROR_NO_MORE_FILES.
platform::Result<platform::ProcessEntry32> snapshot_step(const platform::Handle& snapshot,
                                                         BOOL(WINAPI* step)(HANDLE,
                                                                            LPPROCESSENTRY32W)) {
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!step(to_native(snapshot), &entry)) return last_error();
    return to_entry(entry);
}

}  // namespace

platform::Handle Win32Processes::own(void* raw) {
    return platform::Handle(closer_, platform::HandleKind::kernel, to_raw(raw));
}

platform::Result<std::u16string> Win32Processes::get_module_file_name() {
    // A result that fills the buffer may be cut short (the call truncates and
    // reports ERROR_INSUFFICIENT_BUFFER), so the buffer grows until it does not.
    constexpr DWORD max_units = 0x10000;
    for (DWORD size = MAX_PATH; size <= max_units; size *= 2) {
        std::u16string buffer(size, u'\0');
        DWORD length = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer.data()), size);
        if (length == 0) return last_error();
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
    }
    return platform::win32_error(platform::win32::insufficient_buffer);
}

uint32_t Win32Processes::get_current_process_id() {
    return GetCurrentProcessId();
}

platform::Result<platform::Handle> Win32Processes::create_toolhelp32_snapshot(uint32_t flags,
                                                                              uint32_t pid) {
    HANDLE h = CreateToolhelp32Snapshot(flags, pid);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    return own(h);
}

platform::Result<platform::ProcessEntry32> Win32Processes::process32_first(
    const platform::Handle& snapshot) {
    return snapshot_step(snapshot, Process32FirstW);
}

platform::Result<platform::ProcessEntry32> Win32Processes::process32_next(
    const platform::Handle& snapshot) {
    return snapshot_step(snapshot, Process32NextW);
}

platform::Result<platform::Handle> Win32Processes::open_process(uint32_t access, bool inherit,
                                                                uint32_t pid) {
    HANDLE h = OpenProcess(access, inherit ? TRUE : FALSE, pid);
    if (h == nullptr) return last_error();
    return own(h);
}

platform::Result<std::u16string> Win32Processes::query_full_process_image_name(
    const platform::Handle& process, uint32_t flags, uint32_t buffer_units) {
    std::u16string buffer(buffer_units, u'\0');
    DWORD size = buffer_units;
    if (!QueryFullProcessImageNameW(to_native(process), flags,
                                    reinterpret_cast<wchar_t*>(buffer.data()), &size)) {
        return last_error();
    }
    buffer.resize(std::min<DWORD>(size, buffer_units));
    return buffer;
}

platform::Status Win32Processes::terminate_process(const platform::Handle& process,
                                                   uint32_t exit_code) {
    if (!TerminateProcess(to_native(process), exit_code)) return last_error();
    return {};
}

platform::Result<uint32_t> Win32Processes::get_exit_code_process(const platform::Handle& process) {
    DWORD code = 0;
    if (!GetExitCodeProcess(to_native(process), &code)) return last_error();
    return code;
}

platform::Result<platform::SizedText> Win32Processes::get_system_windows_directory(
    uint32_t buffer_units) {
    std::u16string buffer(buffer_units, u'\0');
    UINT length =
        GetSystemWindowsDirectoryW(reinterpret_cast<wchar_t*>(buffer.data()), buffer_units);
    if (length == 0) return last_error();
    platform::SizedText out;
    out.length = length;
    // Below the buffer size: the units written; otherwise the size needed.
    if (length < buffer_units) out.text.assign(buffer, 0, length);
    return out;
}

platform::Result<platform::Handle> Win32Processes::create_job_object() {
    HANDLE h = CreateJobObjectW(nullptr, nullptr);
    if (h == nullptr) return last_error();
    return own(h);
}

platform::Status Win32Processes::set_job_extended_limit(const platform::Handle& job,
                                                        uint32_t limit_flags) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = limit_flags;
    if (!SetInformationJobObject(to_native(job), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        return last_error();
    }
    return {};
}

platform::Status Win32Processes::terminate_job_object(const platform::Handle& job,
                                                      uint32_t exit_code) {
    if (!TerminateJobObject(to_native(job), exit_code)) return last_error();
    return {};
}

}  // namespace holvar::win32
