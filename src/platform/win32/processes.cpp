#include "platform/win32/processes.hpp"

#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

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

}  // namespace holvar::win32
