// The Windows side of the conformance suite: the real Win32 implementation of
// the boundary, a work directory per case under the temporary folder, and the
// current directory set to C:\Windows\System32 as on the simulated machine.
#include <atomic>
#include <string>

#include "conformance.hpp"
#include "platform/win32/win32_os.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::conformance {
namespace {

std::u16string decimal(uint64_t value) {
    std::u16string out;
    for (char c : std::to_string(value)) out.push_back(static_cast<char16_t>(c));
    return out;
}

bool running_on_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The folder all cases of this run work in, named as the system reports its
// final path (the temporary folder may be given in 8.3 form or through a link).
struct RunFolder {
    std::u16string path;
    std::u16string cwd;
    bool wine = false;
};

const RunFolder& run_folder() {
    static const RunFolder folder = [] {
        RunFolder out;
        out.wine = running_on_wine();
        SetCurrentDirectoryW(L"C:\\Windows\\System32");
        wchar_t cwd[MAX_PATH + 1] = {};
        DWORD cwd_length = GetCurrentDirectoryW(MAX_PATH + 1, cwd);
        out.cwd = win32::from_wide(cwd, cwd_length);

        wchar_t temp[MAX_PATH + 1] = {};
        DWORD temp_length = GetTempPathW(MAX_PATH + 1, temp);
        // A folder of this run's own: process ids repeat between runs, so
        // the first free name is taken.
        const std::u16string temp_path = win32::from_wide(temp, temp_length);
        std::u16string base;
        for (uint64_t attempt = 0; attempt < 1000; ++attempt) {
            base = platform::join_path(
                temp_path,
                u"holvar-conformance-" + decimal(GetCurrentProcessId()) + u"-" + decimal(attempt));
            if (CreateDirectoryW(win32::wide(base), nullptr)) break;
        }
        HANDLE h = CreateFileW(win32::wide(base), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        out.path = base;
        if (h != INVALID_HANDLE_VALUE) {
            std::u16string final_path(0x8000, u'\0');
            DWORD n = GetFinalPathNameByHandleW(h, reinterpret_cast<wchar_t*>(final_path.data()),
                                                0x8000, 0);
            if (n > 0 && n < 0x8000) {
                final_path.resize(n);
                out.path = std::u16string(platform::strip_verbatim(final_path));
            }
            CloseHandle(h);
        }
        return out;
    }();
    return folder;
}

class Win32Host final : public Host {
  public:
    Win32Host() {
        static std::atomic<uint64_t> next_case{0};
        const RunFolder& folder = run_folder();
        work_ = platform::join_path(folder.path, u"case-" + decimal(++next_case));
        cwd_ = folder.cwd;
        wine_ = folder.wine;
        if (!CreateDirectoryW(win32::wide(work_), nullptr)) {
            ADD_FAILURE() << "work directory " << narrow(work_) << ": Win32 error "
                          << GetLastError();
        }
    }

    platform::Os& os() override { return system_.os(); }
    const std::u16string& work_directory() const override { return work_; }
    const std::u16string& current_directory() const override { return cwd_; }
    bool on_wine() const override { return wine_; }

  private:
    win32::Win32Os system_;
    std::u16string work_;
    std::u16string cwd_;
    bool wine_ = false;
};

}  // namespace

std::unique_ptr<Host> open_host() {
    return std::make_unique<Win32Host>();
}

}  // namespace holvar::conformance
