// The process entry of holvar-service-install.exe on Windows. It prints
// nothing: the results are the exit code and the outcome report the engine
// writes.
#include <cstdlib>
#include <string>
#include <vector>

#include "installer/entry.hpp"
#include "platform/win32/win32_os.hpp"
#include "platform/win32/windows_api.hpp"

// The C runtime must hand the arguments over as they were given: no wildcard
// expansion of a root such as "C:\Program Files\Holvar*".
extern "C" {
int _dowildcard = 0;
}

int wmain(int argc, wchar_t** argv) {
    // A non-interactive run never waits on a "no disk in drive" or similar
    // system dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Any library loaded at run time comes from System32 only, never from the
    // stage directory the executable was started from.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    std::vector<std::u16string> args;
    args.reserve(static_cast<size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) {
        args.push_back(holvar::win32::from_wide(argv[i], wcslen(argv[i])));
    }
    holvar::win32::Win32Os system;
    const int code = holvar::installer::run_engine(system.os(), args);
    // Ends through the C runtime; the transaction mutex is released by the
    // process ending, after the report has been written.
    std::exit(code);
}
