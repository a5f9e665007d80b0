// holvar-service.exe for tests on Windows and under Wine: a real service that
// registers with the service manager, makes its folders under the install
// root and serves "\\.\pipe\holvar-service-v3" with the protocol's framing
// and messages, the same replies as the simulated machine's service.
//
// What it does is read from the file beside it with the same name and the
// extension ".behaviour.json" (holvar-service.behaviour.json): the simulated
// service's description, whose keys this service honours as that one does:
// "start_pending_ms", "fail_start", "stop_ms", "ignore_stop", "creates", and
// of "v3": "pipe_after_ms", "pipe_instances", "instance", "no_pipe" and every
// key of "replies" but "restart_after". A missing or unreadable file is a
// well-behaved service. A request counts when its connection is made.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "v3_service/reply_script.hpp"

namespace {

using nlohmann::json;
namespace v3 = holvar::v3_service;

constexpr wchar_t kServiceName[] = L"holvar_service";
constexpr DWORD kPipeBuffer = 4096;

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stop = nullptr;  // set once the stop control is accepted
json g_description = json::object();
std::string g_instance;
std::atomic<uint64_t> g_requests{0};

std::wstring own_image() {
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    return path;
}

std::wstring parent_of(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// The behaviour file beside the image; {} when there is none or it is not JSON.
json read_description(const std::wstring& image) {
    const auto dot = image.find_last_of(L'.');
    const std::wstring path =
        (dot == std::wstring::npos ? image : image.substr(0, dot)) + L".behaviour.json";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return json::object();
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(f);
    json d = json::parse(text, nullptr, false);
    return d.is_object() ? d : json::object();
}

uint64_t ms_of(const char* key, uint64_t fallback) {
    return v3::unsigned_of(g_description, key).value_or(fallback);
}

void report(DWORD state, DWORD win32_exit = NO_ERROR, DWORD specific = 0) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    g_status.dwWin32ExitCode = win32_exit;
    g_status.dwServiceSpecificExitCode = specific;
    g_status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 30000;
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
        ++g_status.dwCheckPoint;
    else
        g_status.dwCheckPoint = 0;
    SetServiceStatus(g_status_handle, &g_status);
}

// Waits `ms`, or less when the service is told to stop; true when it was.
bool stopped_within(uint64_t ms) {
    return WaitForSingleObject(g_stop, ms > 0x7FFFFFFF ? INFINITE : static_cast<DWORD>(ms)) ==
           WAIT_OBJECT_0;
}

// Reads until the client closes its end (or the service stops).
void wait_for_client_close(HANDLE pipe, bool read_what_comes) {
    uint8_t chunk[kPipeBuffer];
    for (;;) {
        if (read_what_comes) {
            DWORD got = 0;
            if (!ReadFile(pipe, chunk, sizeof chunk, &got, nullptr)) return;
            continue;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return;
        if (stopped_within(50)) return;
    }
}

// One connection: one request frame, one reply as the script says.
void serve_connection(HANDLE pipe) {
    const json& script = v3::reply_script(g_description, g_requests++);
    if (v3::flag_of(script, "no_read")) return wait_for_client_close(pipe, false);
    std::vector<uint8_t> received;
    uint8_t chunk[kPipeBuffer];
    while (v3::frame_state(received) == v3::FrameState::incomplete) {
        DWORD got = 0;
        if (!ReadFile(pipe, chunk, sizeof chunk, &got, nullptr)) return;
        received.insert(received.end(), chunk, chunk + got);
    }
    if (v3::frame_state(received) == v3::FrameState::refused) return;
    v3::Reply reply = v3::reply_to(v3::frame_payload(received), g_instance, script);
    if (reply.never) return wait_for_client_close(pipe, true);
    if (reply.delay_ms > 0 && stopped_within(reply.delay_ms)) return;
    size_t sent = 0;
    while (sent < reply.frame.size()) {
        DWORD wrote = 0;
        if (!WriteFile(pipe, reply.frame.data() + sent,
                       static_cast<DWORD>(reply.frame.size() - sent), &wrote, nullptr))
            return;
        sent += wrote;
    }
    if (reply.close) {
        FlushFileBuffers(pipe);
        return;
    }
    wait_for_client_close(pipe, true);
}

DWORD WINAPI serve_pipe(void*) {
    const uint64_t instances =
        v3::unsigned_of(v3::v3_of(g_description), "pipe_instances").value_or(v3::kDefaultInstances);
    const std::wstring name = L"\\\\.\\pipe\\" + widen(v3::kPipeName);
    while (WaitForSingleObject(g_stop, 0) != WAIT_OBJECT_0) {
        HANDLE pipe = CreateNamedPipeW(
            name.c_str(), PIPE_ACCESS_DUPLEX,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            static_cast<DWORD>(instances > 254 ? 254 : instances), kPipeBuffer, kPipeBuffer, 0,
            nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            if (stopped_within(100)) return 0;
            continue;
        }
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED)
            serve_connection(pipe);
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }
    return 0;
}

// The folders a running service keeps under its install root (the image's
// grandparent): what exists already is reused, a failure is carried on past.
void create_generated_items(const std::wstring& image) {
    const std::wstring root = parent_of(parent_of(image));
    if (root.empty()) return;
    std::vector<std::wstring> names = {L".holvar-service-v3", L"service-logs"};
    if (auto c = g_description.find("creates"); c != g_description.end() && c->is_array()) {
        names.clear();
        for (const auto& n : *c)
            if (n.is_string()) names.push_back(widen(n.get<std::string>()));
    }
    for (const auto& name : names) CreateDirectoryW((root + L"\\" + name).c_str(), nullptr);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
    switch (code) {
        case SERVICE_CONTROL_STOP:
            if (g_description.value("ignore_stop", false)) {
                report(SERVICE_RUNNING);  // accepted, and it keeps running
                return NO_ERROR;
            }
            report(SERVICE_STOP_PENDING);
            SetEvent(g_stop);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI service_main(DWORD, wchar_t**) {
    g_status_handle = RegisterServiceCtrlHandlerExW(kServiceName, control, nullptr);
    if (g_status_handle == nullptr) return;
    report(SERVICE_START_PENDING);
    const std::wstring image = own_image();
    g_description = read_description(image);
    g_instance = v3::base_instance(g_description, "svc-" + std::to_string(GetCurrentProcessId()));
    if (auto f = g_description.find("fail_start"); f != g_description.end() && f->is_object()) {
        if (f->contains("service_specific"))
            report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, f->value("service_specific", 0u));
        else
            report(SERVICE_STOPPED, f->value("win32", static_cast<DWORD>(ERROR_PROCESS_ABORTED)));
        return;
    }
    if (!stopped_within(ms_of("start_pending_ms", 200))) {
        report(SERVICE_RUNNING);
        create_generated_items(image);
        const json& v3 = v3::v3_of(g_description);
        if (!v3::flag_of(v3, "no_pipe") &&
            !stopped_within(v3::unsigned_of(v3, "pipe_after_ms").value_or(0))) {
            const uint64_t instances =
                v3::unsigned_of(v3, "pipe_instances").value_or(v3::kDefaultInstances);
            for (uint64_t i = 0; i < instances && i < 16; ++i)
                if (HANDLE t = CreateThread(nullptr, 0, serve_pipe, nullptr, 0, nullptr))
                    CloseHandle(t);
        }
        WaitForSingleObject(g_stop, INFINITE);
    }
    Sleep(static_cast<DWORD>(ms_of("stop_ms", 100)));
    report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t name[] = L"holvar_service";
    SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
    // Started other than by the service manager, it has nothing to do.
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
