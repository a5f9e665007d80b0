// The name-based file calls: move, create directory, hard link, listing,
// volume queries and path normalisation.
#include <optional>

#include "platform/win32/descriptor_bytes.hpp"
#include "platform/win32/files.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {
namespace {

// FindClose on scope exit: a find handle is not closed with CloseHandle.
class FindHandle {
  public:
    explicit FindHandle(HANDLE h) : h_(h) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() { FindClose(h_); }
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

platform::FindData to_find_data(const WIN32_FIND_DATAW& data) {
    platform::FindData out;
    out.file_attributes = data.dwFileAttributes;
    out.reserved0 = data.dwReserved0;
    out.file_size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    size_t units = 0;
    while (units < MAX_PATH && data.cFileName[units] != L'\0') ++units;
    out.file_name = from_wide(data.cFileName, units);
    return out;
}

// Buffers grown for calls that report the size they need stop here: no
// Windows path is longer than 32,767 units.
constexpr DWORD max_path_units = 0x10000;

}  // namespace

platform::Status Win32Files::move_file_ex(const std::u16string& from, const std::u16string* to,
                                          uint32_t flags) {
    if (has_embedded_nul(from) || (to != nullptr && has_embedded_nul(*to))) {
        return embedded_nul();
    }
    if (!MoveFileExW(wide(from), to != nullptr ? wide(*to) : nullptr, flags)) return last_error();
    return {};
}

platform::Status Win32Files::create_directory(const std::u16string& path,
                                              const platform::SecurityDescriptor* sd) {
    if (has_embedded_nul(path)) return embedded_nul();
    std::optional<DescriptorBuffer> descriptor;
    if (sd != nullptr) {
        auto buffer = DescriptorBuffer::from(*sd);
        if (!buffer) return std::unexpected(buffer.error());
        descriptor.emplace(std::move(*buffer));
    }
    if (!CreateDirectoryW(wide(path), descriptor ? descriptor->attributes() : nullptr)) {
        return last_error();
    }
    return {};
}

platform::Status Win32Files::create_hard_link(const std::u16string& link,
                                              const std::u16string& existing) {
    if (has_embedded_nul(link) || has_embedded_nul(existing)) return embedded_nul();
    if (!CreateHardLinkW(wide(link), wide(existing), nullptr)) return last_error();
    return {};
}

platform::Result<std::vector<platform::FindData>> Win32Files::find_files(
    const std::u16string& pattern) {
    if (has_embedded_nul(pattern)) return embedded_nul();
    WIN32_FIND_DATAW data{};
    HANDLE h =
        FindFirstFileExW(wide(pattern), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    FindHandle find(h);
    std::vector<platform::FindData> entries;
    entries.push_back(to_find_data(data));
    while (FindNextFileW(find.get(), &data)) entries.push_back(to_find_data(data));
    if (GetLastError() != ERROR_NO_MORE_FILES) return last_error();
    return entries;
}

platform::Result<std::u16string> Win32Files::get_volume_path_name(const std::u16string& path,
                                                                  uint32_t buffer_units) {
    if (has_embedded_nul(path)) return embedded_nul();
    std::u16string buffer(buffer_units, u'\0');
    if (!GetVolumePathNameW(wide(path), reinterpret_cast<wchar_t*>(buffer.data()), buffer_units)) {
        return last_error();
    }
    buffer.resize(buffer.find(u'\0') == std::u16string::npos ? buffer.size() : buffer.find(u'\0'));
    return buffer;
}

platform::Result<uint32_t> Win32Files::get_volume_file_system_flags(const std::u16string& root) {
    if (has_embedded_nul(root)) return embedded_nul();
    DWORD flags = 0;
    if (!GetVolumeInformationW(wide(root), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
        return last_error();
    }
    return flags;
}

platform::Result<std::u16string> Win32Files::get_full_path_name(const std::u16string& path) {
    if (has_embedded_nul(path)) return embedded_nul();
    // The call returns the size it needs (with the NUL) when the buffer is too
    // small, and the length written (without it) when it fitted.
    DWORD size = MAX_PATH;
    while (true) {
        std::u16string buffer(size, u'\0');
        DWORD length =
            GetFullPathNameW(wide(path), size, reinterpret_cast<wchar_t*>(buffer.data()), nullptr);
        if (length == 0) return last_error();
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        if (length > max_path_units) {
            return platform::win32_error(platform::win32::filename_exced_range);
        }
        size = length;
    }
}

}  // namespace holvar::win32
