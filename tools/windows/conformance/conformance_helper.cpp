// conformance-helper.exe: the second process that conformance cases start on
// Windows. Each mode does one thing, so a case can tell what the system did
// from what the helper was asked to do:
//   exit <code> <run_ms>             runs that long, exits with that code
//   environment <file>               writes its environment block to the file
//   pipe-echo <name> <instances> <delay_ms>
//                                    serves \\.\pipe\<name>, echoes every byte after the delay
//   pipe-silent <name> <instances>   serves \\.\pipe\<name>, accepts and never reads
//   mutex-hold <name> <ms> <ready>   takes the mutex, creates <ready>, holds it, releases it
//   mutex-abandon <name> <ready>     takes the mutex, creates <ready>, exits holding it
//   service <name>                   a service: running until the stop control
//   hold-file <file>                 opens the file for reading, sharing read only,
//                                    creates <file>.held, runs until ended
//   hold-file <file> <ready>         the same, creating <ready> instead
//   copy-tree <from> <to>            copies every file below <from> to the same place
//                                    below <to> with CopyFileW, one call a file, as
//                                    installers that copy do (a measurement's baseline)
//   start-type <service> [<type>]    sets the service's start type (2 auto, 3 demand,
//                                    4 disabled) as an administrator would, then
//                                    exits with the start type it has (100 + error
//                                    when a call fails)
// A bad command line exits with 2. It never prints anything.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kBadCommandLine = 2;

DWORD number(const wchar_t* text) {
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}

int run_exit(DWORD code, DWORD run_ms) {
    if (run_ms > 0) Sleep(run_ms);
    return static_cast<int>(code);
}

// The block exactly as the process has it: every "NAME=value" with its NUL,
// then the final NUL, as UTF-16LE.
int run_environment(const wchar_t* path) {
    wchar_t* block = GetEnvironmentStringsW();
    if (block == nullptr) return 3;
    size_t units = 0;
    while (block[units] != L'\0' || block[units + 1] != L'\0') ++units;
    units += 2;
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FreeEnvironmentStringsW(block);
        return 4;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, block, static_cast<DWORD>(units * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    FreeEnvironmentStringsW(block);
    return ok ? 0 : 5;
}

// One connected client per instance; each instance is served by a thread of
// its own until its client goes.
struct PipeJob {
    HANDLE pipe;
    bool echo;
    DWORD delay_ms;
};

DWORD WINAPI serve_instance(void* parameter) {
    PipeJob* job = static_cast<PipeJob*>(parameter);
    if (!ConnectNamedPipe(job->pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 1;
    if (!job->echo) {
        Sleep(INFINITE);
        return 0;
    }
    std::vector<unsigned char> buffer(65536);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(job->pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return 0;
        if (job->delay_ms > 0) Sleep(job->delay_ms);
        DWORD at = 0;
        while (at < got) {
            DWORD put = 0;
            if (!WriteFile(job->pipe, buffer.data() + at, got - at, &put, nullptr)) return 0;
            at += put;
        }
    }
}

int run_pipe(const wchar_t* name, DWORD instances, bool echo, DWORD delay_ms) {
    if (instances == 0 || instances > 16) return kBadCommandLine;
    const std::wstring path = std::wstring(L"\\\\.\\pipe\\") + name;
    // Every instance exists before any is served.
    std::vector<PipeJob> jobs(instances);
    for (DWORD i = 0; i < instances; ++i) {
        HANDLE pipe = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, instances,
                                       4096, 4096, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) return 3;
        jobs[i] = PipeJob{pipe, echo, delay_ms};
    }
    std::vector<HANDLE> threads;
    for (DWORD i = 0; i < instances; ++i) {
        HANDLE t = CreateThread(nullptr, 0, serve_instance, &jobs[i], 0, nullptr);
        if (t == nullptr) return 4;
        threads.push_back(t);
    }
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    return 0;
}

bool create_ready_file(const wchar_t* path) {
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

int run_mutex(const wchar_t* name, bool abandon, DWORD hold_ms, const wchar_t* ready) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) return 3;
    const DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return 4;
    if (!create_ready_file(ready)) return 5;
    // Abandoning: the process ends with the mutex still owned by its thread.
    if (abandon) return 0;
    Sleep(hold_ms);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

int run_hold_file(const wchar_t* path, const wchar_t* ready) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    if (!create_ready_file(ready ? ready : (std::wstring(path) + L".held").c_str())) return 4;
    Sleep(INFINITE);
    return 0;
}

// Depth first: folders made as they are met, each file copied by CopyFileW.
bool copy_tree(const std::wstring& from, const std::wstring& to) {
    if (!CreateDirectoryW(to.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = copy_tree(from + L"\\" + name, to + L"\\" + name) && ok;
        else
            ok = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) && ok;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return ok;
}

int run_start_type(const wchar_t* name, const wchar_t* type) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (scm == nullptr) return 100 + static_cast<int>(GetLastError());
    SC_HANDLE svc = OpenServiceW(scm, name, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG);
    int result = 100;
    if (svc == nullptr) {
        result += static_cast<int>(GetLastError());
    } else {
        if (type != nullptr &&
            !ChangeServiceConfigW(svc, SERVICE_NO_CHANGE, number(type), SERVICE_NO_CHANGE, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
            result += static_cast<int>(GetLastError());
        } else {
            std::vector<uint64_t> storage(1024);
            auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(storage.data());
            DWORD needed = 0;
            if (QueryServiceConfigW(svc, config, 8192, &needed))
                result = static_cast<int>(config->dwStartType);
            else
                result += static_cast<int>(GetLastError());
        }
        CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    return result;
}

// ---- the service
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;

void report(DWORD state, DWORD accepted) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwWin32ExitCode = NO_ERROR;
    SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI service_control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING, 0);
        SetEvent(g_stop_event);
        return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
    return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI service_main(DWORD, wchar_t** argv) {
    g_status_handle = RegisterServiceCtrlHandlerExW(argv[0], service_control, nullptr);
    if (g_status_handle == nullptr) return;
    g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
    WaitForSingleObject(g_stop_event, INFINITE);
    report(SERVICE_STOPPED, 0);
}

int run_service(const wchar_t* name) {
    std::wstring own = name;
    SERVICE_TABLE_ENTRYW table[] = {{own.data(), service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 3;
}

}  // namespace

extern "C" {
int _dowildcard = 0;
}

int wmain(int argc, wchar_t** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (argc < 2) return kBadCommandLine;
    const std::wstring mode = argv[1];
    if (mode == L"exit" && argc == 4) return run_exit(number(argv[2]), number(argv[3]));
    if (mode == L"environment" && argc == 3) return run_environment(argv[2]);
    if (mode == L"pipe-echo" && argc == 5)
        return run_pipe(argv[2], number(argv[3]), true, number(argv[4]));
    if (mode == L"pipe-silent" && argc == 4) return run_pipe(argv[2], number(argv[3]), false, 0);
    if (mode == L"mutex-hold" && argc == 5)
        return run_mutex(argv[2], false, number(argv[3]), argv[4]);
    if (mode == L"mutex-abandon" && argc == 4) return run_mutex(argv[2], true, 0, argv[3]);
    if (mode == L"service" && argc == 3) return run_service(argv[2]);
    if (mode == L"hold-file" && argc == 3) return run_hold_file(argv[2], nullptr);
    if (mode == L"copy-tree" && argc == 4) return copy_tree(argv[2], argv[3]) ? 0 : 1;
    if (mode == L"start-type" && (argc == 3 || argc == 4))
        return run_start_type(argv[2], argc == 4 ? argv[3] : nullptr);
    // With a ready file elsewhere, for a file inside a tree that must stay as it is.
    if (mode == L"hold-file" && argc == 4) return run_hold_file(argv[2], argv[3]);
    return kBadCommandLine;
}
