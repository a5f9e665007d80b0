#include "platform/win32/pipes.hpp"

#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {

platform::Result<uint32_t> Win32Pipes::get_named_pipe_server_process_id(
    const platform::Handle& pipe) {
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(to_native(pipe), &pid)) return last_error();
    return static_cast<uint32_t>(pid);
}

}  // namespace holvar::win32
