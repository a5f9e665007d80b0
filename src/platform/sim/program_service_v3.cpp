// The simulated service's v3 protocol side: its pipe, its request parsing and
// its own encoder of the replies, and the misbehaviour its script asks for.
#include "platform/sim/program_service_v3.hpp"

#include <optional>
#include <string_view>

#include "platform/sim/program_service.hpp"
#include "platform/sim/sim_pipes.hpp"
#include "platform/sim/sim_processes.hpp"
#include "v3_service/reply_script.hpp"

namespace holvar::sim {

using namespace platform;
using nlohmann::json;
using v3_service::flag_of;
using v3_service::reply_script;
using v3_service::unsigned_of;
using v3_service::v3_of;

namespace {

constexpr std::string_view kServeAction = "v3_serve";

std::string base_instance(const json& d, uint32_t pid) {
    return v3_service::base_instance(d, "sim-" + std::to_string(pid));
}

V3ServerState& server_state(Machine::State& s, uint32_t pid, const json& d) {
    auto& servers = s.process_model.v3_servers;
    auto it = servers.find(pid);
    if (it != servers.end()) return it->second;
    V3ServerState st;
    st.instance = base_instance(d, pid);
    return servers.emplace(pid, std::move(st)).first->second;
}

// Answers the request of a connection, now or later, whole or in part.
void answer(Machine::State& s, uint32_t pid, uint64_t id, const std::string& payload,
            const json& d) {
    PipeConnection* c = find_connection(s, id);
    if (c == nullptr) return;
    v3_service::Reply reply = v3_service::reply_to(payload, server_state(s, pid, d).instance,
                                                   reply_script(d, c->request_index));
    if (reply.restart_after) c->restart_on_close = true;
    if (reply.never) return;
    pipe_send_later(s, pid, id, std::move(reply.frame), reply.close, reply.delay_ms);
}

// One request frame per connection: a length prefix and that many bytes. A
// prefix of 0 or beyond 8 MiB makes the service close the connection; bytes
// after the frame are read and ignored.
void take_request(Machine::State& s, uint32_t pid, uint64_t id, const json& d) {
    PipeConnection* c = find_connection(s, id);
    if (c == nullptr) return;
    if (c->request_read) {
        c->to_server.clear();
        return;
    }
    const auto state = v3_service::frame_state(c->to_server);
    if (state == v3_service::FrameState::incomplete) return;
    if (state == v3_service::FrameState::refused) {
        c->request_read = true;
        c->to_server.clear();
        pipe_send(s, id, {}, true);
        return;
    }
    std::string payload = v3_service::frame_payload(c->to_server);
    c->to_server.clear();
    c->request_read = true;
    answer(s, pid, id, payload, d);
}

// The script's "restart_after": the service's process ends and the service
// manager starts the service again at once, under a new pid and instance;
// the count of requests goes on, so the script's next entry applies next.
void restart_service(Machine::State& s, uint32_t pid, const json& d) {
    Service* svc = service_of_process(s, pid);
    if (svc == nullptr) return;
    const V3ServerState before = server_state(s, pid, d);
    end_process(s, pid, 0);
    svc->pid = 0;
    svc->state = SERVICE_STOPPED;
    if (!launch_service(s, *svc) || svc->pid == 0) return;
    V3ServerState next;
    next.requests = before.requests;
    next.restarts = before.restarts + 1;
    const json& v3 = v3_of(d);
    next.instance = v3.contains("instance") && v3["instance"].is_string()
                        ? v3["instance"].get<std::string>() + "-r" + std::to_string(next.restarts)
                        : "sim-" + std::to_string(svc->pid);
    s.process_model.v3_servers[svc->pid] = std::move(next);
}

// The pipe opens: served by the service's process, or by another process
// started from the same image ("served_by_other").
void open_pipe(Machine::State& s, uint32_t pid, const json& d) {
    const json& v3 = v3_of(d);
    const uint64_t instances =
        unsigned_of(v3, "pipe_instances").value_or(v3_service::kDefaultInstances);
    uint32_t server = pid;
    if (flag_of(v3, "served_by_other")) {
        StartSpec spec;
        spec.image = s.processes.at(pid).image;
        spec.token = s.processes.at(pid).token;
        spec.current_directory = u"C:\\Windows\\System32";
        spec.parent = pid;
        spec.command_line = u"\"" + spec.image + u"\" --serve-pipe";
        spec.environment = std::vector<std::u16string>{u"SystemRoot=C:\\Windows"};
        spec.plain_image_exits = false;
        auto other = start_process(s, spec);
        if (!other) return;
        server = *other;
    }
    serve_pipe(s, server, kV3PipeName, static_cast<uint32_t>(std::min<uint64_t>(instances, 255)),
               false);
}

}  // namespace

std::string v3_service_instance(Machine::State& s, uint32_t pid, const json& description) {
    return server_state(s, pid, description).instance;
}

void v3_service_running(Machine::State& s, uint32_t pid, const json& d) {
    const json& v3 = v3_of(d);
    if (flag_of(v3, "no_pipe")) return;
    const uint64_t after = unsigned_of(v3, "pipe_after_ms").value_or(0);
    if (after == 0) return open_pipe(s, pid, d);
    Event e;
    e.due_ns = s.clock.count() + static_cast<int64_t>(after) * 1'000'000;
    e.pid = pid;
    e.action = std::string(kServeAction);
    schedule_event(s, std::move(e));
}

bool v3_service_event(Machine::State& s, uint32_t pid, const Event& e, const json& d) {
    if (pipe_event(s, e)) return true;
    if (e.action != kServeAction) return false;
    open_pipe(s, pid, d);
    return true;
}

void v3_service_pipe(Machine::State& s, uint32_t pid, uint64_t id, PipeNotice notice,
                     const json& d) {
    PipeConnection* c = find_connection(s, id);
    if (c == nullptr) return;
    switch (notice) {
        case PipeNotice::first_bytes: {
            c->request_index = server_state(s, pid, d).requests++;
            c->server_reads = !flag_of(reply_script(d, c->request_index), "no_read");
            break;
        }
        case PipeNotice::bytes:
            take_request(s, pid, id, d);
            break;
        case PipeNotice::client_closed:
            // A client that let go, not one that is being ended (a restart of
            // the machine ends every process, the service's too).
            if (c->restart_on_close && is_alive(s, c->client)) restart_service(s, pid, d);
            break;
    }
}

}  // namespace holvar::sim
