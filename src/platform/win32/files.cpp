// The handle-based file calls: open, query, read, write, flush, and the
// rename and disposition information classes.
#include "platform/win32/files.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/win32/descriptor_bytes.hpp"
#include "platform/win32/file_info_classes.hpp"
#include "platform/win32/windows_api.hpp"

namespace holvar::win32 {
namespace {

DWORD clamp_length(size_t size) {
    return static_cast<DWORD>(std::min<size_t>(size, MAXDWORD));
}

}  // namespace

platform::Result<platform::Handle> Win32Files::create_file(const std::u16string& path,
                                                           uint32_t access, uint32_t share,
                                                           uint32_t disposition,
                                                           uint32_t flags_and_attributes,
                                                           const platform::SecurityDescriptor* sd) {
    if (has_embedded_nul(path)) return embedded_nul();
    std::optional<DescriptorBuffer> descriptor;
    if (sd != nullptr) {
        auto buffer = DescriptorBuffer::from(*sd);
        if (!buffer) return std::unexpected(buffer.error());
        descriptor.emplace(std::move(*buffer));
    }
    HANDLE h =
        CreateFileW(wide(path), access, share, descriptor ? descriptor->attributes() : nullptr,
                    disposition, flags_and_attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    return platform::Handle(closer_, platform::HandleKind::kernel, to_raw(h));
}

platform::Result<platform::FileBasicInfo> Win32Files::get_file_basic_info(
    const platform::Handle& h) {
    FILE_BASIC_INFO info{};
    if (!GetFileInformationByHandleEx(to_native(h), info_class(file_basic_info_class), &info,
                                      sizeof(info))) {
        return last_error();
    }
    platform::FileBasicInfo out;
    out.creation_time = info.CreationTime.QuadPart;
    out.last_access_time = info.LastAccessTime.QuadPart;
    out.last_write_time = info.LastWriteTime.QuadPart;
    out.change_time = info.ChangeTime.QuadPart;
    out.file_attributes = info.FileAttributes;
    return out;
}

platform::Result<platform::FileIdInfo> Win32Files::get_file_id_info(const platform::Handle& h) {
    FILE_ID_INFO info{};
    if (!GetFileInformationByHandleEx(to_native(h), info_class(file_id_info_class), &info,
                                      sizeof(info))) {
        return last_error();
    }
    platform::FileIdInfo out;
    out.volume_serial_number = info.VolumeSerialNumber;
    static_assert(sizeof(info.FileId.Identifier) == 16);
    std::memcpy(out.file_id.data(), info.FileId.Identifier, 16);
    return out;
}

platform::Result<platform::ByHandleFileInformation> Win32Files::get_file_information_by_handle(
    const platform::Handle& h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(to_native(h), &info)) return last_error();
    platform::ByHandleFileInformation out;
    out.file_attributes = info.dwFileAttributes;
    out.volume_serial_number = info.dwVolumeSerialNumber;
    out.file_size_high = info.nFileSizeHigh;
    out.file_size_low = info.nFileSizeLow;
    out.number_of_links = info.nNumberOfLinks;
    out.file_index_high = info.nFileIndexHigh;
    out.file_index_low = info.nFileIndexLow;
    return out;
}

platform::Result<platform::FinalPathName> Win32Files::get_final_path_name_by_handle(
    const platform::Handle& h, uint32_t buffer_units, uint32_t flags) {
    std::u16string buffer(buffer_units, u'\0');
    auto* data = reinterpret_cast<wchar_t*>(buffer.data());
    DWORD length = GetFinalPathNameByHandleW(to_native(h), data, buffer_units, flags);
    if (length == 0) return last_error();
    platform::FinalPathName out;
    out.length = length;
    // A result below the buffer size is the characters written; otherwise it
    // is the size needed and the buffer holds nothing usable.
    if (length < buffer_units) out.path.assign(buffer, 0, length);
    return out;
}

platform::Result<uint32_t> Win32Files::write_file(const platform::Handle& h,
                                                  std::span<const uint8_t> bytes) {
    DWORD written = 0;
    if (!WriteFile(to_native(h), bytes.data(), clamp_length(bytes.size()), &written, nullptr)) {
        return last_error();
    }
    return written;
}

platform::Result<uint32_t> Win32Files::read_file(const platform::Handle& h,
                                                 std::span<uint8_t> buffer) {
    DWORD read = 0;
    if (!ReadFile(to_native(h), buffer.data(), clamp_length(buffer.size()), &read, nullptr)) {
        return last_error();
    }
    return read;
}

platform::Status Win32Files::flush_file_buffers(const platform::Handle& h) {
    if (!FlushFileBuffers(to_native(h))) return last_error();
    return {};
}

platform::Status Win32Files::set_file_rename_info_ex(const platform::Handle& h,
                                                     const std::u16string& target, uint32_t flags) {
    if (has_embedded_nul(target)) return embedded_nul();
    const size_t name_bytes = target.size() * sizeof(char16_t);
    if (name_bytes > MAXDWORD - rename_header_bytes - sizeof(char16_t)) {
        return platform::win32_error(platform::win32::filename_exced_range);
    }
    RenameRecord record(flags, target);
    if (!SetFileInformationByHandle(to_native(h), info_class(file_rename_info_ex_class),
                                    record.data(), record.bytes())) {
        return last_error();
    }
    return {};
}

platform::Status Win32Files::set_file_disposition_info_ex(const platform::Handle& h,
                                                          uint32_t flags) {
    DWORD value = flags;
    if (!SetFileInformationByHandle(to_native(h), info_class(file_disposition_info_ex_class),
                                    &value, sizeof(value))) {
        return last_error();
    }
    return {};
}

}  // namespace holvar::win32
