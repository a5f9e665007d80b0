#include "platform/sim/program_service.hpp"

#include "platform/sim/names.hpp"
#include "platform/sim/program_service_v3.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/sim_calls.hpp"
#include "platform/sim/sim_processes.hpp"
#include "platform/win_path.hpp"

namespace holvar::sim {

using namespace platform;
using nlohmann::json;

namespace {

constexpr uint32_t kProcessAborted = 1067;        // ERROR_PROCESS_ABORTED
constexpr uint32_t kServiceSpecificError = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR

void schedule(Machine::State& s, uint32_t pid, uint64_t after_ms, std::string action) {
    Event e;
    e.due_ns = s.clock.count() + static_cast<int64_t>(after_ms) * 1'000'000;
    e.pid = pid;
    e.action = std::move(action);
    schedule_event(s, std::move(e));
}

// Closes handles the service process opened for itself while making its folders.
class OwnCloser final : public HandleCloser {
  public:
    explicit OwnCloser(Machine::State& s) : s_(s) {}
    void close_handle(HandleKind, uint64_t raw) noexcept override { close_raw_handle(s_, raw); }

  private:
    Machine::State& s_;
};

// The folders a running service keeps under its install root.
void create_generated_items(Machine::State& s, uint32_t pid, const json& d) {
    const std::u16string image = s.processes.at(pid).image;
    auto resources = parent_path(image);
    auto root = resources ? parent_path(*resources) : std::nullopt;
    if (!root) return;
    std::vector<std::u16string> names = {u".holvar-service-v3", u"service-logs"};
    if (auto c = d.find("creates"); c != d.end() && c->is_array()) {
        names.clear();
        for (const auto& n : *c)
            if (n.is_string()) {
                const auto& t = n.get_ref<const std::string&>();
                names.emplace_back(t.begin(), t.end());
            }
    }
    OwnCloser closer(s);
    Caller c{s, pid, closer};
    for (const auto& name : names) {
        // What exists already is reused; a failure leaves the service running
        // without it, as a real service would log and carry on.
        (void)sim_create_directory(c, join_path(*root, name), nullptr);
    }
}

void service_start(Machine::State& s, uint32_t pid, const json& d) {
    if (auto f = d.find("fail_start"); f != d.end() && f->is_object()) {
        schedule(s, pid, 0, "service_fail");
        return;
    }
    schedule(s, pid, ms_of(d, "start_pending_ms", 200), "service_running");
}

void service_event(Machine::State& s, uint32_t pid, const Event& e, const json& d) {
    if (v3_service_event(s, pid, e, d)) return;
    Service* svc = service_of_process(s, pid);
    if (e.action == "service_running") {
        if (svc == nullptr || svc->state != SERVICE_START_PENDING) return;
        svc->state = SERVICE_RUNNING;
        create_generated_items(s, pid, d);
        v3_service_running(s, pid, d);
    } else if (e.action == "service_fail") {
        uint32_t win32 = kProcessAborted;
        uint32_t specific = 0;
        const json& f = d.at("fail_start");
        if (f.contains("service_specific")) {
            win32 = kServiceSpecificError;
            specific = f.value("service_specific", 0u);
        } else {
            win32 = f.value("win32", kProcessAborted);
        }
        if (svc != nullptr) {
            svc->state = SERVICE_STOPPED;
            svc->pid = 0;
            svc->win32_exit_code = win32;
            svc->service_exit_code = specific;
        }
        end_process(s, pid, win32);
    } else if (e.action == "service_stopped") {
        if (svc != nullptr) {
            svc->state = SERVICE_STOPPED;
            svc->pid = 0;
            svc->win32_exit_code = 0;
            svc->service_exit_code = 0;
        }
        end_process(s, pid, 0);
    }
}

}  // namespace

const ProgramKind service_program{"service", service_start, service_event, v3_service_pipe};

std::u16string service_image_of(const Machine::State& s, const std::u16string& binary_path) {
    if (!binary_path.empty() && binary_path.front() == u'"') {
        size_t close = binary_path.find(u'"', 1);
        return binary_path.substr(1,
                                  close == std::u16string::npos ? std::u16string::npos : close - 1);
    }
    if (image_bytes(s, binary_path)) return binary_path;
    return binary_path.substr(0, binary_path.find(u' '));
}

Token service_token(const std::optional<std::u16string>& account) {
    std::u16string a = account ? fold_name(*account) : std::u16string(u"LOCALSYSTEM");
    if (a == u"LOCALSYSTEM" || a == u".\\LOCALSYSTEM" || a == u"NT AUTHORITY\\SYSTEM")
        return system_token();
    Token t = user_token();
    if (a == u"NT AUTHORITY\\LOCALSERVICE") t.user = sid_of(u"S-1-5-19");
    if (a == u"NT AUTHORITY\\NETWORKSERVICE") t.user = sid_of(u"S-1-5-20");
    return t;
}

size_t open_service_handles(const Machine::State& s, const std::u16string& folded_name) {
    size_t n = 0;
    for (const auto& [raw, h] : s.scm.handles)
        if (h.service == folded_name && is_alive(s, h.pid)) ++n;
    return n;
}

void settle_services(Machine::State& s) {
    for (auto it = s.scm.services.begin(); it != s.scm.services.end();) {
        Service& svc = it->second;
        if (svc.pid != 0 && !is_alive(s, svc.pid)) {
            svc.state = SERVICE_STOPPED;
            svc.pid = 0;
            svc.win32_exit_code = kProcessAborted;
            svc.service_exit_code = 0;
        }
        bool gone = svc.marked_for_delete && svc.state == SERVICE_STOPPED &&
                    open_service_handles(s, it->first) == 0;
        it = gone ? s.scm.services.erase(it) : std::next(it);
    }
}

Status launch_service(Machine::State& s, Service& v) {
    constexpr uint32_t kRequestTimeout = 1053;  // ERROR_SERVICE_REQUEST_TIMEOUT
    std::u16string image = service_image_of(s, v.binary_path);
    if (!image_bytes(s, image)) return win32_error(win32::file_not_found);
    auto description = image_program(s, image);
    Token token = service_token(v.account);
    if (description && description->is_object()) {
        std::string who = description->value("account", std::string());
        if (who == "system") token = system_token();
        if (who == "user") token = user_token();
        if (who == "local_service") token.user = sid_of(u"S-1-5-19");
    }
    StartSpec spec;
    spec.image = image;
    spec.token = token;
    spec.current_directory = u"C:\\Windows\\System32";
    spec.command_line = v.binary_path;
    spec.environment = std::vector<std::u16string>{u"SystemRoot=C:\\Windows"};
    spec.plain_image_exits = false;
    v.state = SERVICE_START_PENDING;
    v.win32_exit_code = 0;
    v.service_exit_code = 0;
    auto pid = start_process(s, spec);
    if (!pid) {
        v.state = SERVICE_STOPPED;
        return std::unexpected(pid.error());
    }
    v.pid = *pid;
    bool is_service_program = description && description->is_object() &&
                              description->value("kind", std::string()) == "service";
    if (is_service_program) return {};
    // A program that never connects to the service manager: the start gives
    // up after the 30-second service pipe timeout and ends it.
    advance_clock_to(s, s.clock + std::chrono::seconds(30));
    end_process(s, *pid, 1);
    v.state = SERVICE_STOPPED;
    v.pid = 0;
    v.win32_exit_code = kRequestTimeout;
    return win32_error(kRequestTimeout);
}

void start_automatic_services(Machine::State& s) {
    settle_services(s);
    for (auto& [name, v] : s.scm.services)
        if (v.start_type == 2 && !v.marked_for_delete && v.state == SERVICE_STOPPED)
            (void)launch_service(s, v);
}

void service_stop_requested(Machine::State& s, Service& svc) {
    json d;
    if (auto det = s.process_model.details.find(svc.pid); det != s.process_model.details.end())
        d = json::parse(det->second.description, nullptr, false);
    if (d.is_object() && d.value("ignore_stop", false)) return;
    svc.state = SERVICE_STOP_PENDING;
    schedule(s, svc.pid, d.is_object() ? ms_of(d, "stop_ms", 100) : 100, "service_stopped");
}

}  // namespace holvar::sim
