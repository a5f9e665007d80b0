// The OS boundary: every Windows call the engine makes, one method per call,
// with the access masks, share modes and flags the engine really passes.
// `win32/` makes the real calls; `sim/` answers them from a simulated machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "platform/handle.hpp"
#include "platform/security_types.hpp"
#include "platform/win_types.hpp"

namespace holvar::platform {

// GetFinalPathNameByHandleW: `length` is the call's return value (characters
// written, or the size needed when the buffer is too small); `path` holds the
// text only when it fitted.
struct FinalPathName {
    uint32_t length = 0;
    std::u16string path;
};

class Files {
public:
    virtual ~Files() = default;

    // CreateFileW(path, access, share, no security attributes unless `sd`,
    // disposition, flags_and_attributes, no template).
    virtual Result<Handle> create_file(const std::u16string& path, uint32_t access, uint32_t share,
                                       uint32_t disposition, uint32_t flags_and_attributes,
                                       const SecurityDescriptor* sd = nullptr) = 0;
    // GetFileInformationByHandleEx(FileBasicInfo).
    virtual Result<FileBasicInfo> get_file_basic_info(const Handle& h) = 0;
    // GetFileInformationByHandleEx(FileIdInfo).
    virtual Result<FileIdInfo> get_file_id_info(const Handle& h) = 0;
    // GetFileInformationByHandle: attributes, volume serial, size, link count
    // and 64-bit index (the link count is what durable writes check).
    virtual Result<ByHandleFileInformation> get_file_information_by_handle(const Handle& h) = 0;
    // GetFinalPathNameByHandleW(h, buffer of `buffer_units`, flags).
    virtual Result<FinalPathName> get_final_path_name_by_handle(const Handle& h,
                                                                uint32_t buffer_units,
                                                                uint32_t flags) = 0;
    // WriteFile / ReadFile, synchronous; return the bytes transferred.
    virtual Result<uint32_t> write_file(const Handle& h, std::span<const uint8_t> bytes) = 0;
    virtual Result<uint32_t> read_file(const Handle& h, std::span<uint8_t> buffer) = 0;
    // FlushFileBuffers (a file, or a volume device opened as "\\.\C:").
    virtual Status flush_file_buffers(const Handle& h) = 0;
    // MoveFileExW(from, to or NULL, flags).
    virtual Status move_file_ex(const std::u16string& from, const std::u16string* to,
                                uint32_t flags) = 0;
    // CreateDirectoryW(path, security attributes holding `sd`, or NULL).
    virtual Status create_directory(const std::u16string& path,
                                    const SecurityDescriptor* sd = nullptr) = 0;
    // SetFileInformationByHandle(FileRenameInfoEx): flags, no root directory,
    // FileNameLength = the target's bytes without NUL, buffer 20 + that length.
    virtual Status set_file_rename_info_ex(const Handle& h, const std::u16string& target,
                                           uint32_t flags) = 0;
    // SetFileInformationByHandle(FileDispositionInfoEx) with a 4-byte flags value.
    virtual Status set_file_disposition_info_ex(const Handle& h, uint32_t flags) = 0;
    // CreateHardLinkW(link, existing, NULL).
    virtual Status create_hard_link(const std::u16string& link, const std::u16string& existing) = 0;
    // FindFirstFileExW(pattern, FindExInfoBasic) + FindNextFileW until
    // ERROR_NO_MORE_FILES + FindClose. "." and ".." are included as Windows
    // reports them; callers skip them.
    virtual Result<std::vector<FindData>> find_files(const std::u16string& pattern) = 0;
    // GetVolumePathNameW(path, buffer of `buffer_units`).
    virtual Result<std::u16string> get_volume_path_name(const std::u16string& path,
                                                        uint32_t buffer_units) = 0;
    // GetVolumeInformationW(root), asking only for the file-system flags.
    virtual Result<uint32_t> get_volume_file_system_flags(const std::u16string& root) = 0;
    // GetFullPathNameW(path): the absolute, normalised form.
    virtual Result<std::u16string> get_full_path_name(const std::u16string& path) = 0;
};

class Security {
public:
    virtual ~Security() = default;

    // GetSecurityInfo(h, object_type, info): the requested parts as a
    // self-relative descriptor (LocalFree'd by the implementation).
    virtual Result<SecurityDescriptor> get_security_info(const Handle& h, uint32_t object_type,
                                                         uint32_t security_info) = 0;
    // CreateWellKnownSid(type, NULL domain, buffer of SECURITY_MAX_SID_SIZE).
    virtual Result<Sid> create_well_known_sid(uint32_t type) = 0;
    // ConvertStringSidToSidW.
    virtual Result<Sid> convert_string_sid_to_sid(const std::u16string& text) = 0;
    // EqualSid.
    virtual bool equal_sid(const Sid& a, const Sid& b) = 0;
    // ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, revision).
    virtual Result<SecurityDescriptor> convert_sddl_to_security_descriptor(
        const std::u16string& sddl, uint32_t revision) = 0;
};

struct CreatedMutex {
    Handle handle;
    bool already_existed = false;  // GetLastError() == ERROR_ALREADY_EXISTS after success
};

class Sync {
public:
    virtual ~Sync() = default;
    // CreateMutexW(NULL security attributes, initial_owner, name).
    virtual Result<CreatedMutex> create_mutex(const std::u16string& name, bool initial_owner) = 0;
    // WaitForSingleObject: WAIT_OBJECT_0, WAIT_ABANDONED or WAIT_TIMEOUT; WAIT_FAILED is an error.
    virtual Result<uint32_t> wait_for_single_object(const Handle& h, uint32_t timeout_ms) = 0;
};

// Monotonic time as a duration since an arbitrary origin.
using Duration = std::chrono::nanoseconds;
using Instant = std::chrono::nanoseconds;

class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant now() = 0;
    virtual void sleep_for(Duration d) = 0;
};

class Processes {
public:
    virtual ~Processes() = default;
    // GetModuleFileNameW(NULL, ...), the buffer grown while the result fills it.
    virtual Result<std::u16string> get_module_file_name() = 0;
    // GetCurrentProcessId.
    virtual uint32_t get_current_process_id() = 0;
};

// Service Control Manager calls (OpenSCManagerW, OpenServiceW, ...); service
// handles close with CloseServiceHandle (HandleKind::service).
class Services {
public:
    virtual ~Services() = default;
};

// Registry calls, always on HKEY_LOCAL_MACHINE; key handles close with
// RegCloseKey (HandleKind::registry_key).
class Registry {
public:
    virtual ~Registry() = default;
};

// Restart Manager calls (RmStartSession, RmRegisterResources, RmGetList, RmEndSession).
class RestartManager {
public:
    virtual ~RestartManager() = default;
};

// Named-pipe calls beyond opening the pipe with CreateFileW.
class Pipes {
public:
    virtual ~Pipes() = default;
};

// Everything the engine may ask of the operating system. Created by the entry
// point (or a test) and passed down by reference; there are no globals.
struct Os {
    Files& files;
    Security& security;
    Sync& sync;
    Clock& clock;
    Processes& processes;
    Services& services;
    Registry& registry;
    RestartManager& restart_manager;
    Pipes& pipes;
};

}  // namespace holvar::platform
