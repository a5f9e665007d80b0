// The Restart Manager calls. rstrtmgr.dll is not one of the system's known
// DLLs, so an import of it would be looked for first beside the executable,
// that is in the stage directory; it is loaded from System32 by name instead.
#include "platform/win32/restart_manager.hpp"

#include <algorithm>
#include <vector>

#include "platform/win32/windows_api.hpp"
// After the Windows headers it needs.
#include <restartmanager.h>

namespace holvar::win32 {
namespace {

static_assert(sizeof(RM_PROCESS_INFO) == platform::RM_PROCESS_INFO_SIZE);

struct RestartManagerApi {
    decltype(&RmStartSession) start_session = nullptr;
    decltype(&RmRegisterResources) register_resources = nullptr;
    decltype(&RmGetList) get_list = nullptr;
    decltype(&RmEndSession) end_session = nullptr;
    DWORD load_error = ERROR_SUCCESS;
};

template <class F>
F resolve(HMODULE module, const char* name) {
    // GetProcAddress answers a generic function pointer; each is cast back
    // to the type of the function it names.
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loaded once and kept for the life of the process.
const RestartManagerApi& api() {
    static const RestartManagerApi loaded = [] {
        RestartManagerApi out;
        HMODULE module = LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) {
            out.load_error = GetLastError();
            return out;
        }
        out.start_session = resolve<decltype(&RmStartSession)>(module, "RmStartSession");
        out.register_resources =
            resolve<decltype(&RmRegisterResources)>(module, "RmRegisterResources");
        out.get_list = resolve<decltype(&RmGetList)>(module, "RmGetList");
        out.end_session = resolve<decltype(&RmEndSession)>(module, "RmEndSession");
        if (out.start_session == nullptr || out.register_resources == nullptr ||
            out.get_list == nullptr || out.end_session == nullptr) {
            out.load_error = ERROR_PROC_NOT_FOUND;
        }
        return out;
    }();
    return loaded;
}

std::u16string text_of(const wchar_t* text, size_t capacity) {
    size_t units = 0;
    while (units < capacity && text[units] != L'\0') ++units;
    return from_wide(text, units);
}

platform::RmProcessInfo to_record(const RM_PROCESS_INFO& info) {
    platform::RmProcessInfo out;
    out.process_id = info.Process.dwProcessId;
    out.process_start_time =
        (static_cast<uint64_t>(info.Process.ProcessStartTime.dwHighDateTime) << 32) |
        info.Process.ProcessStartTime.dwLowDateTime;
    out.app_name = text_of(info.strAppName, CCH_RM_MAX_APP_NAME + 1);
    out.service_short_name = text_of(info.strServiceShortName, CCH_RM_MAX_SVC_NAME + 1);
    out.application_type = static_cast<uint32_t>(info.ApplicationType);
    out.app_status = info.AppStatus;
    out.ts_session_id = info.TSSessionId;
    out.restartable = info.bRestartable != FALSE;
    return out;
}

}  // namespace

platform::Result<uint32_t> Win32RestartManager::rm_start_session() {
    const RestartManagerApi& rm = api();
    if (rm.load_error != ERROR_SUCCESS) return platform::win32_error(rm.load_error);
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    DWORD status = rm.start_session(&session, 0, key);
    if (status != ERROR_SUCCESS) return platform::win32_error(status);
    return session;
}

platform::Status Win32RestartManager::rm_register_resources(
    uint32_t session, const std::vector<std::u16string>& files) {
    const RestartManagerApi& rm = api();
    if (rm.load_error != ERROR_SUCCESS) return platform::win32_error(rm.load_error);
    std::vector<LPCWSTR> names;
    names.reserve(files.size());
    for (const std::u16string& file : files) {
        if (has_embedded_nul(file)) return embedded_nul();
        names.push_back(wide(file));
    }
    DWORD status =
        rm.register_resources(session, static_cast<UINT>(names.size()),
                              names.empty() ? nullptr : names.data(), 0, nullptr, 0, nullptr);
    if (status != ERROR_SUCCESS) return platform::win32_error(status);
    return {};
}

platform::RmList Win32RestartManager::rm_get_list(uint32_t session, uint32_t capacity) {
    platform::RmList out;
    const RestartManagerApi& rm = api();
    if (rm.load_error != ERROR_SUCCESS) {
        out.status = rm.load_error;
        return out;
    }
    std::vector<RM_PROCESS_INFO> records(capacity);
    UINT needed = 0;
    UINT count = capacity;
    DWORD reasons = 0;
    out.status =
        rm.get_list(session, &needed, &count, capacity != 0 ? records.data() : nullptr, &reasons);
    out.proc_info_needed = needed;
    out.reboot_reasons = reasons;
    if (out.status == ERROR_SUCCESS) {
        const UINT written = std::min<UINT>(count, capacity);
        for (UINT i = 0; i < written; ++i) out.records.push_back(to_record(records[i]));
    }
    return out;
}

platform::Status Win32RestartManager::rm_end_session(uint32_t session) {
    const RestartManagerApi& rm = api();
    if (rm.load_error != ERROR_SUCCESS) return platform::win32_error(rm.load_error);
    DWORD status = rm.end_session(session);
    if (status != ERROR_SUCCESS) return platform::win32_error(status);
    return {};
}

}  // namespace holvar::win32
