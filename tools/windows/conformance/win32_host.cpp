// The Windows side of the conformance suite: the real Win32 implementation of
// the boundary, a work directory per case under the temporary folder, and the
// current directory set to C:\Windows\System32 as on the simulated machine.
#include <atomic>
#include <string>

#include "conformance.hpp"
#include "platform/win32/win32_os.hpp"
#include "platform/win32/windows_api.hpp"

#include <winioctl.h>

#include <cstring>
#include <vector>

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

// conformance-helper.exe, built beside this executable.
std::u16string helper_image() {
    std::vector<wchar_t> buffer(0x8000);
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::u16string self = win32::from_wide(buffer.data(), n);
    return platform::join_path(platform::parent_path(self).value_or(u"."), Host::helper_image_name);
}

std::u16string in_quotes(const std::u16string& text) {
    return u"\"" + text + u"\"";
}

// A mount-point reparse buffer: tag, data length, reserved, then the
// substitute name "\??\<target>" and the print name, each with its NUL.
std::vector<uint8_t> mount_point_buffer(const std::u16string& target) {
    const std::u16string substitute = u"\\??\\" + target;
    const size_t sub_bytes = substitute.size() * 2;
    const size_t print_bytes = target.size() * 2;
    const size_t data_length = 8 + sub_bytes + 2 + print_bytes + 2;
    std::vector<uint8_t> out(8 + data_length, 0);
    auto put16 = [&](size_t at, size_t v) {
        out[at] = static_cast<uint8_t>(v & 0xFF);
        out[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    };
    const uint32_t tag = 0xA0000003u;  // IO_REPARSE_TAG_MOUNT_POINT
    std::memcpy(out.data(), &tag, 4);
    put16(4, data_length);
    put16(8, 0);
    put16(10, sub_bytes);
    put16(12, sub_bytes + 2);
    put16(14, print_bytes);
    std::memcpy(out.data() + 16, substitute.data(), sub_bytes);
    std::memcpy(out.data() + 16 + sub_bytes + 2, target.data(), print_bytes);
    return out;
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

    platform::Result<HelperCommand> helper(const HelperSpec& spec) override {
        using Mode = HelperSpec::Mode;
        HelperCommand out;
        out.image = helper_image();
        std::u16string args;
        switch (spec.mode) {
            case Mode::exit_code:
                args = u"exit " + decimal(spec.exit_code) + u" " + decimal(spec.run_ms);
                break;
            case Mode::environment:
                args = u"environment " + in_quotes(spec.file);
                break;
            case Mode::pipe_echo:
                args = u"pipe-echo " + in_quotes(spec.name) + u" " + decimal(spec.instances) +
                       u" " + decimal(spec.delay_ms);
                break;
            case Mode::pipe_silent:
                args = u"pipe-silent " + in_quotes(spec.name) + u" " + decimal(spec.instances);
                break;
            case Mode::mutex_hold:
                args = u"mutex-hold " + in_quotes(spec.name) + u" " + decimal(spec.delay_ms) +
                       u" " + in_quotes(spec.file);
                break;
            case Mode::mutex_abandon:
                args = u"mutex-abandon " + in_quotes(spec.name) + u" " + in_quotes(spec.file);
                break;
            case Mode::file_holder:
                args = u"hold-file " + in_quotes(spec.file);
                break;
            case Mode::service:
                args = u"service " + in_quotes(spec.name);
                break;
        }
        out.command_line = in_quotes(out.image) + u" " + args;
        return out;
    }

    platform::Status make_junction(const std::u16string& link,
                                   const std::u16string& target) override {
        if (!CreateDirectoryW(win32::wide(link), nullptr)) return win32::last_error();
        HANDLE h = CreateFileW(win32::wide(link), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) return win32::last_error();
        std::vector<uint8_t> buffer = mount_point_buffer(target);
        DWORD returned = 0;
        const BOOL ok =
            DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(),
                            static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
        const DWORD code = GetLastError();
        CloseHandle(h);
        if (!ok) {
            RemoveDirectoryW(win32::wide(link));
            return platform::win32_error(code);
        }
        return {};
    }

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
