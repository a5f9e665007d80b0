// wine-engine.exe: the engine's real front end and drivers over the Wine
// adapter, for whole transactions under Wine. A test executable: the shipped
// holvar-service-install.exe is built from the same engine with the plain
// Win32 boundary and never links the adapter. Like the engine it prints
// nothing; when HOLVAR_WINE_SHIM_LOG names a file, it appends two lines a run
// there: each boundary method it called and how often ("calls"), and each shim
// and how often it changed an answer ("shims").
#include <cstdlib>
#include <string>
#include <vector>

#include "installer/entry.hpp"
#include "platform/win32/windows_api.hpp"
#include "wine_shims/counting_os.hpp"
#include "wine_shims/wine_shimmed_os.hpp"

extern "C" {
int _dowildcard = 0;
}

namespace {

// Appends a line to the file HOLVAR_WINE_SHIM_LOG names, if it does.
void log_line(std::string line);

// One line of the shims' changed answers, one of the boundary calls made.
void log_run(const holvar::wine_shims::ShimState& state,
             const holvar::platform::counting::CallCounts& calls) {
    std::string counted = "calls";
    for (const auto& [name, n] : calls.counts()) counted += ' ' + name + '=' + std::to_string(n);
    log_line(counted + '\n');
    std::string line = "shims";
    const auto uses = state.uses();
    for (size_t i = 0; i < uses.size(); ++i) {
        line += ' ';
        line += holvar::wine_shims::shim_name(static_cast<holvar::wine_shims::Shim>(i));
        line += '=' + std::to_string(uses[i]);
    }
    line += '\n';
    log_line(std::move(line));
}

void log_line(std::string line) {
    wchar_t path[1024];
    const DWORD n = GetEnvironmentVariableW(L"HOLVAR_WINE_SHIM_LOG", path, 1024);
    if (n == 0 || n >= 1024) return;
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD wrote = 0;
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr);
    CloseHandle(f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    std::vector<std::u16string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(holvar::win32::from_wide(argv[i], wcslen(argv[i])));
    holvar::wine_shims::WineShimmedOs system;
    // HOLVAR_WINE_END_AFTER_RENAMES=N: killed right after the N-th rename by
    // handle, as `holvar-sim run --crash-after` cuts the power on the
    // simulated machine.
    wchar_t limit[32];
    const DWORD n = GetEnvironmentVariableW(L"HOLVAR_WINE_END_AFTER_RENAMES", limit, 32);
    if (n > 0 && n < 32) system.state().end_after_renames(wcstoull(limit, nullptr, 10));
    holvar::platform::counting::CountingOs counted(system.os());
    const int code = holvar::installer::run_engine(counted.os(), args);
    log_run(system.state(), counted.counts());
    std::exit(code);
}
