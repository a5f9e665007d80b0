// Windows constants and the plain records that boundary calls return.
// Values are the ones in the Windows headers; both sides of the boundary use them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace holvar::platform {

// Access rights.
inline constexpr uint32_t FILE_READ_DATA = 0x1;
inline constexpr uint32_t FILE_LIST_DIRECTORY = 0x1;
inline constexpr uint32_t FILE_WRITE_DATA = 0x2;
inline constexpr uint32_t FILE_ADD_FILE = 0x2;
inline constexpr uint32_t FILE_APPEND_DATA = 0x4;
inline constexpr uint32_t FILE_ADD_SUBDIRECTORY = 0x4;
inline constexpr uint32_t FILE_READ_EA = 0x8;
inline constexpr uint32_t FILE_WRITE_EA = 0x10;
inline constexpr uint32_t FILE_EXECUTE = 0x20;
inline constexpr uint32_t FILE_TRAVERSE = 0x20;
inline constexpr uint32_t FILE_DELETE_CHILD = 0x40;
inline constexpr uint32_t FILE_READ_ATTRIBUTES = 0x80;
inline constexpr uint32_t FILE_WRITE_ATTRIBUTES = 0x100;
inline constexpr uint32_t DELETE = 0x10000;
inline constexpr uint32_t READ_CONTROL = 0x20000;
inline constexpr uint32_t WRITE_DAC = 0x40000;
inline constexpr uint32_t WRITE_OWNER = 0x80000;
inline constexpr uint32_t SYNCHRONIZE = 0x100000;
inline constexpr uint32_t FILE_ALL_ACCESS = 0x1F01FF;
inline constexpr uint32_t GENERIC_ALL = 0x10000000;
inline constexpr uint32_t GENERIC_EXECUTE = 0x20000000;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000;
inline constexpr uint32_t GENERIC_READ = 0x80000000;

// Share modes.
inline constexpr uint32_t FILE_SHARE_READ = 0x1;
inline constexpr uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr uint32_t FILE_SHARE_DELETE = 0x4;
inline constexpr uint32_t FILE_SHARE_ALL = 0x7;

// Creation dispositions.
inline constexpr uint32_t CREATE_NEW = 1;
inline constexpr uint32_t CREATE_ALWAYS = 2;
inline constexpr uint32_t OPEN_EXISTING = 3;
inline constexpr uint32_t OPEN_ALWAYS = 4;
inline constexpr uint32_t TRUNCATE_EXISTING = 5;

// Flags and attributes.
inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr uint32_t FILE_FLAG_WRITE_THROUGH = 0x80000000;
inline constexpr uint32_t FILE_FLAG_OVERLAPPED = 0x40000000;
inline constexpr uint32_t FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
inline constexpr uint32_t FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
inline constexpr uint32_t SECURITY_SQOS_PRESENT = 0x00100000;
inline constexpr uint32_t SECURITY_IDENTIFICATION = 0x00010000;
inline constexpr uint32_t OPEN_NO_FOLLOW =
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// SetFileInformationByHandle flags.
inline constexpr uint32_t FILE_RENAME_FLAG_REPLACE_IF_EXISTS = 0x1;
inline constexpr uint32_t FILE_RENAME_FLAG_POSIX_SEMANTICS = 0x2;
inline constexpr uint32_t FILE_RENAME_FLAG_IGNORE_READONLY_ATTRIBUTE = 0x40;
inline constexpr uint32_t FILE_DISPOSITION_FLAG_DELETE = 0x1;
inline constexpr uint32_t FILE_DISPOSITION_FLAG_POSIX_SEMANTICS = 0x2;
inline constexpr uint32_t FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE = 0x10;

// MoveFileExW flags.
inline constexpr uint32_t MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr uint32_t MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr uint32_t MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;
inline constexpr uint32_t MOVEFILE_WRITE_THROUGH = 0x8;

// Volume flags (GetVolumeInformationW).
inline constexpr uint32_t FILE_SUPPORTS_POSIX_UNLINK_RENAME = 0x400;
inline constexpr uint32_t FILE_SUPPORTS_HARD_LINKS = 0x400000;
inline constexpr uint32_t FILE_PERSISTENT_ACLS = 0x8;
inline constexpr uint32_t FILE_SUPPORTS_REPARSE_POINTS = 0x80;

// Reparse tags.
inline constexpr uint32_t IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003;
inline constexpr uint32_t IO_REPARSE_TAG_SYMLINK = 0xA000000C;

// Waits.
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_ABANDONED = 0x80;
inline constexpr uint32_t WAIT_TIMEOUT = 0x102;
inline constexpr uint32_t INFINITE = 0xFFFFFFFF;

// Security information and object types (GetSecurityInfo).
inline constexpr uint32_t SE_FILE_OBJECT = 1;
inline constexpr uint32_t SE_SERVICE = 2;
inline constexpr uint32_t SE_REGISTRY_KEY = 4;
inline constexpr uint32_t OWNER_SECURITY_INFORMATION = 0x1;
inline constexpr uint32_t GROUP_SECURITY_INFORMATION = 0x2;
inline constexpr uint32_t DACL_SECURITY_INFORMATION = 0x4;
inline constexpr uint32_t SDDL_REVISION_1 = 1;

// Well-known SID types (CreateWellKnownSid).
inline constexpr uint32_t WinWorldSid = 1;
inline constexpr uint32_t WinAuthenticatedUserSid = 17;
inline constexpr uint32_t WinLocalSystemSid = 22;
inline constexpr uint32_t WinBuiltinAdministratorsSid = 26;
inline constexpr uint32_t WinBuiltinUsersSid = 27;
inline constexpr uint32_t SECURITY_MAX_SID_SIZE = 68;

// GetFinalPathNameByHandleW buffer (units) used throughout.
inline constexpr uint32_t PATH_BUFFER_UNITS = 0x8000;

// FILE_BASIC_INFO (GetFileInformationByHandleEx, FileBasicInfo).
struct FileBasicInfo {
    int64_t creation_time = 0;
    int64_t last_access_time = 0;
    int64_t last_write_time = 0;
    int64_t change_time = 0;
    uint32_t file_attributes = 0;
};

// FILE_ID_INFO (GetFileInformationByHandleEx, FileIdInfo).
struct FileIdInfo {
    uint64_t volume_serial_number = 0;
    std::array<uint8_t, 16> file_id{};
};

// BY_HANDLE_FILE_INFORMATION (GetFileInformationByHandle).
struct ByHandleFileInformation {
    uint32_t file_attributes = 0;
    uint32_t volume_serial_number = 0;
    uint32_t file_size_high = 0;
    uint32_t file_size_low = 0;
    uint32_t number_of_links = 0;
    uint32_t file_index_high = 0;
    uint32_t file_index_low = 0;
    uint64_t file_size() const { return (uint64_t{file_size_high} << 32) | file_size_low; }
};

// One entry of a directory listing (WIN32_FIND_DATAW, the parts the engine reads).
struct FindData {
    uint32_t file_attributes = 0;
    uint32_t reserved0 = 0;  // the reparse tag when FILE_ATTRIBUTE_REPARSE_POINT is set
    uint64_t file_size = 0;
    std::u16string file_name;
};

}  // namespace holvar::platform
