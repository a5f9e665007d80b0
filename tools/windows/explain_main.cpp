// holvar-explain.exe: the support engineer's reader on the Windows machine
// itself. It explains a journal (txn.json, or the stage directory holding it)
// or an outcome report in plain words, and for a journal asks this machine the
// questions --recover asks, changing nothing: query-only handles, the
// transaction lock looked at and never taken. The words are holvar-sim's.
//   holvar-explain.exe [--json] [--offline] <stage directory | txn.json | report.json>
// Exit code 0 when explained, 2 for bad usage or a file that is missing,
// damaged or not the engine's.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "explain/explanation.hpp"
#include "explain/read_file.hpp"
#include "explain/render.hpp"
#include "platform/unicode.hpp"
#include "platform/win32/win32_os.hpp"
#include "platform/win32/windows_api.hpp"

// The C runtime must hand the arguments over as they were given.
extern "C" {
int _dowildcard = 0;
}

namespace {

constexpr std::string_view kUsage =
    "usage: holvar-explain.exe [--json] [--offline] <stage directory | txn.json | report.json>\n"
    "  explains a journal or an outcome report of holvar-service-install.exe; for a journal,\n"
    "  what --recover would decide on this machine and why, changing nothing on it.\n"
    "  --json     one JSON object instead of text\n"
    "  --offline  do not ask this machine (a file copied from another machine)\n";

// UTF-8 text to a console as UTF-16, so every character shows whatever the
// console's code page; to a file or a pipe as the UTF-8 bytes themselves.
void write_text(DWORD which, std::string_view text) {
    HANDLE out = GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        const std::u16string wide =
            holvar::platform::utf8_to_utf16(holvar::platform::sanitize_utf8(text)).value_or(u"");
        DWORD written = 0;
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    while (!text.empty()) {
        DWORD written = 0;
        if (!WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written == 0)
            return;
        text.remove_prefix(written);
    }
}

int fail(std::string_view message) {
    write_text(STD_ERROR_HANDLE, "holvar-explain: " + std::string(message) + "\n");
    return holvar::explain::kExitUnreadable;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    bool as_json = false;
    bool offline = false;
    std::optional<std::u16string> path;
    for (int i = 1; i < argc; ++i) {
        const std::u16string word = holvar::win32::from_wide(argv[i], wcslen(argv[i]));
        if (word == u"--json") {
            as_json = true;
        } else if (word == u"--offline") {
            offline = true;
        } else if (word == u"--help" || word == u"/?") {
            write_text(STD_OUTPUT_HANDLE, kUsage);
            return 0;
        } else if (word.starts_with(u"--") || path) {
            write_text(STD_ERROR_HANDLE, kUsage);
            return holvar::explain::kExitUnreadable;
        } else {
            path = word;
        }
    }
    if (!path) {
        write_text(STD_ERROR_HANDLE, kUsage);
        return holvar::explain::kExitUnreadable;
    }

    holvar::win32::Win32Os system;
    holvar::platform::Os& os = system.os();
    const std::string shown = holvar::platform::utf16_to_utf8_lossy(*path);
    auto bytes = holvar::explain::read_explained_file(os, *path, shown);
    if (!bytes) return fail(bytes.error().message);
    const auto explained = holvar::explain::explain_bytes(*bytes, shown, offline ? nullptr : &os);
    if (!explained) return fail(explained.error().message);
    write_text(STD_OUTPUT_HANDLE, as_json ? holvar::explain::render_json(*explained)
                                          : holvar::explain::render_text(*explained));
    return holvar::explain::kExitExplained;
}
