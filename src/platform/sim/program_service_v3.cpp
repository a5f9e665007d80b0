// The simulated service's v3 protocol side: its pipe, its request parsing and
// its own encoder of the replies, and the misbehaviour its script asks for.
#include "platform/sim/program_service_v3.hpp"

#include <optional>
#include <string_view>

#include "platform/sim/program_service.hpp"
#include "platform/sim/sim_pipes.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;
using nlohmann::json;
using nlohmann::ordered_json;

namespace {

constexpr uint32_t kMaxRequestBytes = 8 * 1024 * 1024;  // a larger request is refused
constexpr uint32_t kDefaultInstances = 4;
constexpr std::string_view kServeAction = "v3_serve";
constexpr std::string_view kBuildVersion = "3.0.0-sim";

// What this service announces: every capability the protocol defines.
constexpr std::string_view kFlags[] = {
    "managed_schema_2",     "client_lease",      "tun_optional",          "probe_priority",
    "tcp_bound_controller", "stop_intent_epoch", "typed_runtime_actions", "owner_ops_v1"};
// Operations of the protocol that this simulated service does not carry out.
constexpr std::string_view kOtherActions[] = {"apply_managed",
                                              "renew",
                                              "stop",
                                              "read_nodes",
                                              "select_node",
                                              "probe_node",
                                              "read_metrics",
                                              "close_all_connections",
                                              "close_previous_node_connections"};

const json& empty_object() {
    static const json empty = json::object();
    return empty;
}

// The "v3" object of the description; anything else reads as {}.
const json& v3_of(const json& d) {
    if (!d.is_object()) return empty_object();
    auto it = d.find("v3");
    return it != d.end() && it->is_object() ? *it : empty_object();
}

std::optional<uint64_t> unsigned_of(const json& o, const char* key) {
    auto it = o.find(key);
    if (it == o.end() || !it->is_number_unsigned()) return std::nullopt;
    return it->get<uint64_t>();
}

bool flag_of(const json& o, const char* key) {
    auto it = o.find(key);
    return it != o.end() && it->is_boolean() && it->get<bool>();
}

const json* find_key(const json& o, const char* key) {
    auto it = o.find(key);
    return it == o.end() ? nullptr : &*it;
}

// Script values are written into the reply exactly as given, whatever their
// JSON type, so that a test can send a wrong type as easily as a wrong value.
ordered_json verbatim(const json& j) {
    return ordered_json::parse(j.dump(-1, ' ', false, json::error_handler_t::replace));
}

// The script of the index-th request of the process (0-based): its entry of
// "replies", or {} (normal behaviour) when absent or not an object.
const json& reply_script(const json& d, uint64_t index) {
    const json& v3 = v3_of(d);
    auto r = v3.find("replies");
    if (r == v3.end() || !r->is_array() || index >= r->size()) return empty_object();
    const json& e = (*r)[index];
    return e.is_object() ? e : empty_object();
}

std::string base_instance(const json& d, uint32_t pid) {
    const json& v3 = v3_of(d);
    if (auto it = v3.find("instance"); it != v3.end() && it->is_string())
        return it->get<std::string>();
    return "sim-" + std::to_string(pid);
}

V3ServerState& server_state(Machine::State& s, uint32_t pid, const json& d) {
    auto& servers = s.process_model.v3_servers;
    auto it = servers.find(pid);
    if (it != servers.end()) return it->second;
    V3ServerState st;
    st.instance = base_instance(d, pid);
    return servers.emplace(pid, std::move(st)).first->second;
}

Service* service_of_process(Machine::State& s, uint32_t pid) {
    for (auto& [name, svc] : s.scm.services)
        if (svc.pid == pid && pid != 0) return &svc;
    return nullptr;
}

// ---- the encoder: records with their keys in the protocol's order

ordered_json state_token(const ordered_json& instance) {
    ordered_json t = ordered_json::object();
    t["service_instance"] = instance;
    t["generation"] = 1;
    t["intent_epoch"] = 0;
    return t;
}

ordered_json status_record(ordered_json token, const json& script) {
    if (const json* v = find_key(script, "status_token_instance"))
        token["service_instance"] = verbatim(*v);
    ordered_json st = ordered_json::object();
    st["token"] = std::move(token);
    const json* lifecycle = find_key(script, "lifecycle");
    st["lifecycle"] = lifecycle ? verbatim(*lifecycle) : ordered_json("ready");
    st["selected_node"] = nullptr;
    st["smart_split"] = nullptr;
    st["error"] = nullptr;
    st["lease"] = nullptr;
    st["stop_reason"] = nullptr;
    return st;
}

ordered_json capabilities_record(const json& script) {
    ordered_json flags = ordered_json::array();
    for (std::string_view f : kFlags) flags.push_back(std::string(f));
    ordered_json c = ordered_json::object();
    c["protocol"] = 3;
    const json* schema = find_key(script, "schema");
    c["schema"] = schema ? verbatim(*schema) : ordered_json(2);
    const json* f = find_key(script, "flags");
    c["flags"] = f ? verbatim(*f) : flags;
    const json* b = find_key(script, "build_version");
    c["build_version"] = b ? verbatim(*b) : ordered_json(std::string(kBuildVersion));
    return c;
}

// The reply, adjacently tagged; "done" carries no record, an unknown kind null.
ordered_json reply_of(const std::string& kind, const ordered_json& error_code,
                      const ordered_json& token, const json& script) {
    ordered_json r = ordered_json::object();
    r["type"] = kind;
    if (kind == "done") return r;
    if (kind == "capabilities") {
        r["data"] = capabilities_record(script);
    } else if (kind == "status") {
        r["data"] = status_record(token, script);
    } else if (kind == "error") {
        r["data"] = error_code;
    } else if (kind == "apply") {
        r["data"] = {
            {"outcome", "ready"}, {"status", status_record(token, script)}, {"error", nullptr}};
    } else if (kind == "nodes") {
        r["data"] = {{"nodes", ordered_json::array()},
                     {"groups", ordered_json::array()},
                     {"selected_node", nullptr}};
    } else if (kind == "probe") {
        r["data"] = {{"delay_ms", 0}};
    } else if (kind == "metrics") {
        r["data"] = {{"up", 0}, {"down", 0}, {"memory", 0}, {"sampling", false}};
    } else {
        r["data"] = nullptr;
    }
    return r;
}

// The code of a scripted "error": {"code": ...}, or a bare code; else "internal".
ordered_json scripted_error_code(const json& e) {
    if (e.is_object() && e.contains("code")) return verbatim(e.at("code"));
    if (e.is_string()) return verbatim(e);
    return "internal";
}

struct Request {
    ordered_json request_id = 0;  // 0 when the request has none to echo
    std::string action;
    bool well_formed = false;
    bool protocol_3 = false;
};

Request parse_request(const std::string& payload) {
    Request r;
    json j = json::parse(payload, nullptr, false);
    if (!j.is_object()) return r;
    auto id = j.find("request_id");
    if (id != j.end() && id->is_number_unsigned()) r.request_id = id->get<uint64_t>();
    auto protocol = j.find("protocol");
    r.protocol_3 =
        protocol != j.end() && protocol->is_number_unsigned() && protocol->get<uint64_t>() == 3;
    auto op = j.find("op");
    if (op == j.end() || !op->is_object()) return r;
    auto action = op->find("action");
    if (action == op->end() || !action->is_string()) return r;
    r.action = action->get<std::string>();
    r.well_formed = id != j.end() && id->is_number_unsigned();
    return r;
}

// What kind of reply a request gets, and the error code when it is "error".
std::pair<std::string, ordered_json> choose_reply(const Request& req, const json& script) {
    if (const json* e = find_key(script, "error")) return {"error", scripted_error_code(*e)};
    if (const json* t = find_key(script, "reply_type"); t && t->is_string())
        return {t->get<std::string>(), "internal"};
    if (!req.well_formed) return {"error", "invalid_frame"};
    if (!req.protocol_3) return {"error", "unsupported_protocol"};
    if (req.action == "capabilities" || req.action == "status") return {req.action, nullptr};
    for (std::string_view a : kOtherActions)
        if (req.action == a) return {"error", "not_ready"};
    return {"error", "invalid_frame"};
}

// The response frame's payload: the envelope, changed as the script says.
std::string response_payload(const Request& req, const std::string& instance, const json& script) {
    if (const json* raw = find_key(script, "raw"); raw && raw->is_string())
        return raw->get<std::string>();
    const json* inst = find_key(script, "instance");
    const ordered_json token = state_token(inst ? verbatim(*inst) : ordered_json(instance));
    auto [kind, code] = choose_reply(req, script);
    ordered_json envelope = ordered_json::object();
    const json* protocol = find_key(script, "protocol");
    envelope["protocol"] = protocol ? verbatim(*protocol) : ordered_json(3);
    const json* id = find_key(script, "request_id");
    envelope["request_id"] = id ? verbatim(*id) : req.request_id;
    envelope["token"] = token;
    envelope["result"] = reply_of(kind, code, token, script);
    if (const json* extra = find_key(script, "extra_keys"); extra && extra->is_object())
        for (const auto& [k, v] : extra->items()) envelope[k] = verbatim(v);
    if (const json* drop = find_key(script, "drop_keys"); drop && drop->is_array())
        for (const json& k : *drop)
            if (k.is_string()) envelope.erase(k.get<std::string>());
    ordered_json body = envelope;
    if (flag_of(script, "as_array")) {
        body = ordered_json::array();
        for (const auto& [k, v] : envelope.items()) body.push_back(v);
    }
    return body.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::vector<uint8_t> length_prefix(uint32_t n) {
    return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 24)};
}

// Answers the request of a connection, now or later, whole or in part.
void answer(Machine::State& s, uint32_t pid, uint64_t id, const std::string& payload,
            const json& d) {
    PipeConnection* c = find_connection(s, id);
    if (c == nullptr) return;
    const json& script = reply_script(d, c->request_index);
    if (flag_of(script, "restart_after")) c->restart_on_close = true;
    if (flag_of(script, "never")) return;
    const std::string text =
        response_payload(parse_request(payload), server_state(s, pid, d).instance, script);
    auto length = static_cast<uint32_t>(text.size());
    bool with_payload = true;
    if (auto n = unsigned_of(script, "length"); n && *n <= 0xFFFFFFFFu) {
        length = static_cast<uint32_t>(*n);
        with_payload = length != 0 && flag_of(script, "send_payload");
    }
    std::vector<uint8_t> frame = length_prefix(length);
    if (with_payload) frame.insert(frame.end(), text.begin(), text.end());
    bool close = false;
    if (auto n = unsigned_of(script, "close_after_bytes")) {
        if (*n < frame.size()) frame.resize(static_cast<size_t>(*n));
        close = true;
    }
    pipe_send_later(s, pid, id, std::move(frame), close,
                    unsigned_of(script, "delay_ms").value_or(0));
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
    if (c->to_server.size() < 4) return;
    const uint32_t length =
        static_cast<uint32_t>(c->to_server[0]) | static_cast<uint32_t>(c->to_server[1]) << 8 |
        static_cast<uint32_t>(c->to_server[2]) << 16 | static_cast<uint32_t>(c->to_server[3]) << 24;
    if (length == 0 || length > kMaxRequestBytes) {
        c->request_read = true;
        c->to_server.clear();
        pipe_send(s, id, {}, true);
        return;
    }
    if (c->to_server.size() - 4 < length) return;
    std::string payload(c->to_server.begin() + 4, c->to_server.begin() + 4 + length);
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
    const uint64_t instances = unsigned_of(v3, "pipe_instances").value_or(kDefaultInstances);
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
