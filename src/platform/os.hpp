// The OS boundary: every Windows call the engine makes, one method per call,
// with the access masks, share modes and flags the engine really passes.
// `win32/` makes the real calls; `sim/` answers them from a simulated machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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

// Token access and information classes.
inline constexpr uint32_t TOKEN_ADJUST_PRIVILEGES = 0x20;
inline constexpr uint32_t TOKEN_QUERY = 0x8;
inline constexpr uint32_t TokenUser = 1;
inline constexpr uint32_t TokenElevation = 20;
inline constexpr uint32_t SE_PRIVILEGE_ENABLED = 0x2;

// What GetTokenInformation wrote. For TokenUser the buffer is the x64
// TOKEN_USER: 8 bytes where the SID pointer stands, written here as the SID's
// offset from the buffer's start (a pointer means nothing across the
// boundary), 4 bytes of attributes, 4 of padding, then the SID. For
// TokenElevation it is the 4-byte TokenIsElevated.
struct TokenInformation {
    uint32_t last_error = 0;  // 0 when the call succeeded
    uint32_t return_length = 0;
    std::vector<uint8_t> bytes;
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

    // OpenProcessToken(process, access); a null process is GetCurrentProcess().
    virtual Result<Handle> open_process_token(const Handle* process, uint32_t access) = 0;
    // GetTokenInformation(token, info_class, buffer of `buffer_bytes` (NULL
    // when 0), buffer_bytes, &return_length). A buffer too small fails with
    // ERROR_INSUFFICIENT_BUFFER (122) or ERROR_BAD_LENGTH (24): that is not an
    // error here but an answer whose `last_error` is the code and whose
    // `return_length` is the size needed.
    virtual Result<TokenInformation> get_token_information(const Handle& token, uint32_t info_class,
                                                           uint32_t buffer_bytes) = 0;
    // LookupPrivilegeValueW(NULL system, name, &luid).
    virtual Result<uint64_t> lookup_privilege_value(const std::u16string& name) = 0;
    // AdjustTokenPrivileges(token, FALSE, one LUID with attributes, 0, NULL,
    // NULL); success answers GetLastError (0, or ERROR_NOT_ALL_ASSIGNED 1300).
    virtual Result<uint32_t> adjust_token_privileges(const Handle& token, uint64_t luid,
                                                     uint32_t attributes) = 0;
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
    // Runs `task` and waits at most `limit` for it to end: true when it ended
    // in time. When the limit passes first the result is false and the task is
    // abandoned, not stopped: it runs on to its end by itself (on a worker
    // thread on Windows), so it must own everything it touches and close what
    // it opened; whatever it shares with the caller goes through a shared_ptr.
    // When no worker can be had the task does not run and the result is false.
    // Used for the blocking steps that a deadline must be able to outrun.
    virtual bool run_bounded(std::function<void()> task, Duration limit) = 0;
};

// Process, token and job constants the engine passes.
inline constexpr uint32_t TH32CS_SNAPPROCESS = 0x2;
inline constexpr uint32_t PROCESSENTRY32W_SIZE = 568;
inline constexpr uint32_t PROCESS_TERMINATE = 0x1;
inline constexpr uint32_t PROCESS_QUERY_INFORMATION = 0x400;
inline constexpr uint32_t PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
inline constexpr uint32_t PROCESS_ALL_ACCESS = 0x1FFFFF;
inline constexpr uint32_t JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE = 0x2000;
inline constexpr uint32_t CREATE_UNICODE_ENVIRONMENT = 0x400;
inline constexpr uint32_t EXTENDED_STARTUPINFO_PRESENT = 0x80000;
inline constexpr uint32_t CREATE_NO_WINDOW = 0x08000000;
inline constexpr uint32_t STILL_ACTIVE = 259;

// PROCESSENTRY32W, the parts the engine reads: szExeFile up to its NUL, as
// raw UTF-16 units (a name may hold unpaired surrogates).
struct ProcessEntry32 {
    uint32_t process_id = 0;
    uint32_t parent_process_id = 0;
    std::u16string exe_file;
};

// A text call that returns a length: `length` is the call's return value
// (units written without the NUL, or the size needed); `text` holds what was
// written when it fitted.
struct SizedText {
    uint32_t length = 0;
    std::u16string text;
};

// CreateProcessW(application_name, command_line, NULL, NULL, inherit_handles,
// creation_flags, environment, current_directory, STARTUPINFOEXW {cb = 112}
// whose attribute list (InitializeProcThreadAttributeList, one
// UpdateProcThreadAttribute, DeleteProcThreadAttributeList after the call)
// holds PROC_THREAD_ATTRIBUTE_JOB_LIST with `job_list` when it is not empty.
struct CreateProcessRequest {
    std::u16string application_name;
    std::u16string command_line;
    bool inherit_handles = false;
    uint32_t creation_flags = 0;
    std::u16string environment;  // the block: "NAME=value\0...\0\0", empty = inherit
    std::u16string current_directory;
    std::vector<const Handle*> job_list;
};
struct CreatedProcess {
    Handle process;
    Handle thread;
    uint32_t process_id = 0;
    uint32_t thread_id = 0;
};

class Processes {
  public:
    virtual ~Processes() = default;
    // GetModuleFileNameW(NULL, ...), the buffer grown while the result fills it.
    virtual Result<std::u16string> get_module_file_name() = 0;
    // GetCurrentProcessId.
    virtual uint32_t get_current_process_id() = 0;
    // CreateToolhelp32Snapshot(flags, pid).
    virtual Result<Handle> create_toolhelp32_snapshot(uint32_t flags, uint32_t pid) = 0;
    // Process32FirstW / Process32NextW (dwSize 568); the end is ERROR_NO_MORE_FILES (18).
    virtual Result<ProcessEntry32> process32_first(const Handle& snapshot) = 0;
    virtual Result<ProcessEntry32> process32_next(const Handle& snapshot) = 0;
    // OpenProcess(access, inherit, pid).
    virtual Result<Handle> open_process(uint32_t access, bool inherit, uint32_t pid) = 0;
    // QueryFullProcessImageNameW(h, flags, buffer of `buffer_units`, &size).
    virtual Result<std::u16string> query_full_process_image_name(const Handle& process,
                                                                 uint32_t flags,
                                                                 uint32_t buffer_units) = 0;
    // TerminateProcess(h, exit_code).
    virtual Status terminate_process(const Handle& process, uint32_t exit_code) = 0;
    // GetExitCodeProcess(h): STILL_ACTIVE (259) while it runs.
    virtual Result<uint32_t> get_exit_code_process(const Handle& process) = 0;
    // GetSystemWindowsDirectoryW(buffer of `buffer_units`); a result of 0 is an error.
    virtual Result<SizedText> get_system_windows_directory(uint32_t buffer_units) = 0;
    // CreateJobObjectW(NULL security, NULL name).
    virtual Result<Handle> create_job_object() = 0;
    // SetInformationJobObject(job, JobObjectExtendedLimitInformation (9), a
    // 144-byte JOBOBJECT_EXTENDED_LIMIT_INFORMATION with only LimitFlags set).
    virtual Status set_job_extended_limit(const Handle& job, uint32_t limit_flags) = 0;
    // TerminateJobObject(job, exit_code).
    virtual Status terminate_job_object(const Handle& job, uint32_t exit_code) = 0;
    // CreateProcessW as described by the request.
    virtual Result<CreatedProcess> create_process(const CreateProcessRequest& request) = 0;
};

// Service Control Manager access rights, values and controls.
inline constexpr uint32_t SC_MANAGER_CONNECT = 0x1;
inline constexpr uint32_t SC_MANAGER_CREATE_SERVICE = 0x2;
inline constexpr uint32_t SERVICE_QUERY_CONFIG = 0x1;
inline constexpr uint32_t SERVICE_CHANGE_CONFIG = 0x2;
inline constexpr uint32_t SERVICE_QUERY_STATUS = 0x4;
inline constexpr uint32_t SERVICE_START = 0x10;
inline constexpr uint32_t SERVICE_STOP = 0x20;
inline constexpr uint32_t SERVICE_NO_CHANGE = 0xFFFFFFFF;
inline constexpr uint32_t SERVICE_DISABLED = 4;
inline constexpr uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr uint32_t SERVICE_STOPPED = 1;
inline constexpr uint32_t SERVICE_START_PENDING = 2;
inline constexpr uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr uint32_t SERVICE_RUNNING = 4;
inline constexpr uint32_t SERVICE_ACCEPT_STOP = 0x1;

// SERVICE_STATUS_PROCESS (QueryServiceStatusEx, SC_STATUS_PROCESS_INFO): 36 bytes.
struct ServiceStatusProcess {
    uint32_t service_type = 0;
    uint32_t current_state = 0;
    uint32_t controls_accepted = 0;
    uint32_t win32_exit_code = 0;
    uint32_t service_specific_exit_code = 0;
    uint32_t check_point = 0;
    uint32_t wait_hint = 0;
    uint32_t process_id = 0;
    uint32_t service_flags = 0;
};

// QUERY_SERVICE_CONFIGW as the strings behind its pointers; texts are raw
// UTF-16 (they may hold unpaired surrogates), a NULL pointer is none.
struct QueryServiceConfig {
    uint32_t service_type = 0;
    uint32_t start_type = 0;
    uint32_t error_control = 0;
    std::optional<std::u16string> binary_path;
    std::optional<std::u16string> load_order_group;
    uint32_t tag_id = 0;
    std::optional<std::u16string> dependencies;  // the multi-string, without its final NUL
    std::optional<std::u16string> service_start_name;
    std::optional<std::u16string> display_name;
};

// QueryServiceConfigW(h, buffer of `buffer_bytes`, &needed). A buffer too
// small fails the call with ERROR_INSUFFICIENT_BUFFER (122): `config` is then
// empty and `bytes_needed` holds the size it needs.
struct ServiceConfigAnswer {
    uint32_t bytes_needed = 0;
    std::optional<QueryServiceConfig> config;
};

// QueryServiceConfig2W(h, SERVICE_CONFIG_DESCRIPTION, buffer, size, &needed):
// the buffer as written (a SERVICE_DESCRIPTIONW at its start, the text behind
// it) and where lpDescription points, as an offset from the buffer's start
// (none for a NULL pointer). A buffer too small (no buffer included) gives
// `fitted` false and `bytes_needed`; the call's error was then 122.
struct ServiceDescriptionAnswer {
    uint32_t bytes_needed = 0;
    bool fitted = false;
    std::vector<uint8_t> buffer;
    std::optional<int64_t> description_offset;
};

// Service Control Manager calls (OpenSCManagerW, OpenServiceW, ...); service
// handles close with CloseServiceHandle (HandleKind::service). Texts are passed
// NUL-terminated; a text holding a NUL is refused ("embedded NUL") before the
// call. A multi-string argument holds every entry with its NUL and the final
// NUL (an empty one is two NULs).
class Services {
  public:
    virtual ~Services() = default;
    // OpenSCManagerW(NULL local machine, NULL active database, access).
    virtual Result<Handle> open_sc_manager(uint32_t access) = 0;
    // OpenServiceW(scm, name, access).
    virtual Result<Handle> open_service(const Handle& scm, const std::u16string& name,
                                        uint32_t access) = 0;
    // CreateServiceW(scm, name, display_name, access, type, start, error_control,
    // binary_path, NULL group, NULL tag, dependencies, start_name, NULL password).
    virtual Result<Handle> create_service(const Handle& scm, const std::u16string& name,
                                          const std::u16string& display_name, uint32_t access,
                                          uint32_t service_type, uint32_t start_type,
                                          uint32_t error_control, const std::u16string& binary_path,
                                          const std::u16string& dependencies,
                                          const std::u16string& start_name) = 0;
    // ChangeServiceConfigW(h, type, start, error_control, binary_path, NULL group,
    // NULL tag, dependencies, start_name, NULL password, display_name); a null
    // pointer is a NULL argument (no change), SERVICE_NO_CHANGE a number left alone.
    virtual Status change_service_config(const Handle& h, uint32_t service_type,
                                         uint32_t start_type, uint32_t error_control,
                                         const std::u16string* binary_path,
                                         const std::u16string* dependencies,
                                         const std::u16string* start_name,
                                         const std::u16string* display_name) = 0;
    // ChangeServiceConfig2W(h, SERVICE_CONFIG_DESCRIPTION, {description}): NULL
    // leaves the description alone, an empty text removes it.
    virtual Status change_service_description(const Handle& h,
                                              const std::u16string* description) = 0;
    virtual Result<ServiceConfigAnswer> query_service_config(const Handle& h,
                                                             uint32_t buffer_bytes) = 0;
    virtual Result<ServiceDescriptionAnswer> query_service_description(const Handle& h,
                                                                       uint32_t buffer_bytes) = 0;
    // QueryServiceStatusEx(h, SC_STATUS_PROCESS_INFO, 36-byte buffer).
    virtual Result<ServiceStatusProcess> query_service_status(const Handle& h) = 0;
    // ControlService(h, control, &status).
    virtual Status control_service(const Handle& h, uint32_t control) = 0;
    // StartServiceW(h, 0, NULL).
    virtual Status start_service(const Handle& h) = 0;
    // DeleteService(h).
    virtual Status delete_service(const Handle& h) = 0;
};

// Registry access rights and value types.
inline constexpr uint32_t KEY_QUERY_VALUE = 0x1;
inline constexpr uint32_t KEY_SET_VALUE = 0x2;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x4;
inline constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x8;
inline constexpr uint32_t KEY_NOTIFY = 0x10;
inline constexpr uint32_t KEY_WOW64_64KEY = 0x100;
inline constexpr uint32_t KEY_WOW64_32KEY = 0x200;
inline constexpr uint32_t REG_VALUE_SZ = 1;
inline constexpr uint32_t REG_VALUE_DWORD = 4;
inline constexpr uint32_t REG_VALUE_MULTI_SZ = 7;

// What RegQueryValueExW reports: the value's type and its size in bytes (the
// size needed when no buffer, or too small a one, was given).
struct RegValueInfo {
    uint32_t type = 0;
    uint32_t size = 0;
};

// Registry calls, always on HKEY_LOCAL_MACHINE; key handles close with
// RegCloseKey (HandleKind::registry_key). Key paths are relative to
// HKEY_LOCAL_MACHINE; errors are the status codes the calls return.
class Registry {
  public:
    virtual ~Registry() = default;
    // RegCreateKeyExW(HKLM, path, 0, NULL class, REG_OPTION_NON_VOLATILE, access,
    // NULL security, &key, NULL disposition).
    virtual Result<Handle> reg_create_key(const std::u16string& path, uint32_t access) = 0;
    // RegOpenKeyExW(HKLM, path, 0, access, &key).
    virtual Result<Handle> reg_open_key(const std::u16string& path, uint32_t access) = 0;
    // RegSetValueExW(key, name, 0, type, data, size).
    virtual Status reg_set_value(const Handle& key, const std::u16string& name, uint32_t type,
                                 std::span<const uint8_t> data) = 0;
    // RegQueryValueExW(key, name, NULL, &type, buffer, &size): a buffer whose
    // data() is null asks for type and size only; one too small fails with
    // ERROR_MORE_DATA (234). The bytes land at the buffer's start.
    virtual Result<RegValueInfo> reg_query_value(const Handle& key, const std::u16string& name,
                                                 std::span<uint8_t> buffer) = 0;
    // RegDeleteTreeW(key, subkey).
    virtual Status reg_delete_tree(const Handle& key, const std::u16string& subkey) = 0;
    // RegDeleteValueW(key, name).
    virtual Status reg_delete_value(const Handle& key, const std::u16string& name) = 0;
};

// RM_PROCESS_INFO, one 668-byte record of RmGetList: the process (id and
// start time), the application and service names (at most 255 and 63 units
// before their NUL), the application type, status, session and restartability.
inline constexpr uint32_t RM_PROCESS_INFO_SIZE = 668;
struct RmProcessInfo {
    uint32_t process_id = 0;
    uint64_t process_start_time = 0;  // FILETIME
    std::u16string app_name;
    std::u16string service_short_name;
    uint32_t application_type = 0;
    uint32_t app_status = 0;
    uint32_t ts_session_id = 0;
    bool restartable = false;
};

// What RmGetList returned: its status (0, ERROR_MORE_DATA 234, or another
// error), pnProcInfoNeeded, and the records written (at most `capacity`).
struct RmList {
    uint32_t status = 0;
    uint32_t proc_info_needed = 0;
    uint32_t reboot_reasons = 0;
    std::vector<RmProcessInfo> records;
};

// Restart Manager calls. A session is a plain number, not a kernel handle:
// whoever starts one ends it with rm_end_session on every path. The calls
// answer their DWORD status as a Win32 error.
class RestartManager {
  public:
    virtual ~RestartManager() = default;
    // RmStartSession(&session, 0, key buffer).
    virtual Result<uint32_t> rm_start_session() = 0;
    // RmRegisterResources(session, files, 0 processes, 0 services).
    virtual Status rm_register_resources(uint32_t session,
                                         const std::vector<std::u16string>& files) = 0;
    // RmGetList(session, &needed, &count = capacity, records or NULL when 0, &reasons).
    virtual RmList rm_get_list(uint32_t session, uint32_t capacity) = 0;
    // RmEndSession(session).
    virtual Status rm_end_session(uint32_t session) = 0;
};

// Named-pipe calls beyond opening the pipe with CreateFileW (a path
// "\\.\pipe\<name>": 2 when no server listens, 231 when every instance is
// busy, 5 when the pipe's security refuses the caller).
class Pipes {
  public:
    virtual ~Pipes() = default;
    // GetNamedPipeServerProcessId(pipe, &pid).
    virtual Result<uint32_t> get_named_pipe_server_process_id(const Handle& pipe) = 0;
    // ReadFile on a pipe opened with FILE_FLAG_OVERLAPPED, waited for at most
    // `timeout`: the bytes read, at least 1 and at most the buffer. The server
    // closing its end is ERROR_BROKEN_PIPE (109); a wait that runs out cancels
    // the read (CancelIoEx, then waits for the cancellation to land) and is
    // kind timed_out with WAIT_TIMEOUT (258), unless the read completed anyway.
    virtual Result<uint32_t> read_pipe(const Handle& pipe, std::span<uint8_t> buffer,
                                       Duration timeout) = 0;
    // WriteFile on the same kind of handle, bounded the same way: the bytes
    // written (a write may be partial; 0 is reported as it is).
    virtual Result<uint32_t> write_pipe(const Handle& pipe, std::span<const uint8_t> bytes,
                                        Duration timeout) = 0;
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
