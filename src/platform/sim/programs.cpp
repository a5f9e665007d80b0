// The program table and the programs of the desktop client and the companion
// engine. The format is described at the top of programs.hpp.
#include "platform/sim/programs.hpp"

#include <array>

#include "platform/sim/call_support.hpp"
#include "platform/sim/program_service.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/sim/sim_pipes.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;
using nlohmann::json;

std::u16string u16_of(const std::string& utf8) {
    // Program descriptions name paths in ASCII; anything else is kept unit by byte.
    return std::u16string(utf8.begin(), utf8.end());
}

uint64_t ms_of(const json& d, const char* key, uint64_t fallback) {
    auto it = d.find(key);
    if (it == d.end() || !it->is_number_unsigned()) return fallback;
    return it->get<uint64_t>();
}

Service* service_of_process(Machine::State& s, uint32_t pid) {
    for (auto& [name, svc] : s.scm.services)
        if (svc.pid == pid && pid != 0) return &svc;
    return nullptr;
}

namespace {

// ---- the desktop client
void client_start(Machine::State& s, uint32_t pid, const json& d) {
    if (auto g = d.find("grandchild"); g != d.end() && g->is_object()) {
        const Process& self = s.processes.at(pid);
        StartSpec spec;
        spec.image = u16_of(g->value("image", std::string("C:\\Windows\\System32\\helper.exe")));
        spec.token = self.token;
        spec.current_directory = self.current_directory;
        spec.parent = pid;
        spec.command_line = u"\"" + spec.image + u"\"";
        spec.environment = s.process_model.details.at(pid).environment;
        spec.job = s.process_model.details.at(pid).job;  // children stay in the job
        spec.plain_image_exits = false;
        if (auto child = start_process(s, spec); child && g->contains("run_ms"))
            exit_after(s, *child, ms_of(*g, "run_ms", 0), 0);
    }
    exit_after(s, pid, ms_of(d, "run_ms", 0), d.value("exit_code", 0u));
}

// ---- the companion engine
void companion_serve(Machine::State& s, uint32_t pid, const json& d) {
    auto pipe = d.find("pipe");
    if (pipe == d.end() || !pipe->is_string()) return;
    serve_pipe(s, pid, u16_of(pipe->get<std::string>()), d.value("pipe_instances", 1u),
               d.value("pipe_deny", false));
}

void companion_start(Machine::State& s, uint32_t pid, const json& d) {
    // Its image is mapped while it runs, as every process's is.
    uint64_t after = ms_of(d, "pipe_after_ms", 0);
    if (after == 0) {
        companion_serve(s, pid, d);
    } else {
        Event e;
        e.due_ns = s.clock.count() + static_cast<int64_t>(after) * 1'000'000;
        e.pid = pid;
        e.action = "serve_pipe";
        schedule_event(s, std::move(e));
    }
    if (d.contains("run_ms")) exit_after(s, pid, ms_of(d, "run_ms", 0), 0);
}

void companion_event(Machine::State& s, uint32_t pid, const Event& e, const json& d) {
    if (pipe_event(s, e)) return;
    if (e.action == "serve_pipe") companion_serve(s, pid, d);
}

// With "echo" every byte a client writes comes back to it "echo_delay_ms"
// later; without, the companion never reads what its clients write.
void companion_pipe(Machine::State& s, uint32_t pid, uint64_t id, PipeNotice notice,
                    const json& d) {
    PipeConnection* c = find_connection(s, id);
    if (c == nullptr) return;
    if (notice == PipeNotice::first_bytes) {
        auto echo = d.find("echo");
        c->server_reads = echo != d.end() && echo->is_boolean() && echo->get<bool>();
    }
    if (notice != PipeNotice::bytes || c->to_server.empty()) return;
    std::vector<uint8_t> bytes(c->to_server.begin(), c->to_server.end());
    c->to_server.clear();
    pipe_send_later(s, pid, id, std::move(bytes), false, ms_of(d, "echo_delay_ms", 0));
}

}  // namespace

const ProgramKind client_program{"client", client_start, nullptr};
const ProgramKind companion_program{"companion", companion_start, companion_event, companion_pipe};

const ProgramKind* find_program_kind(std::string_view name) {
    static const std::array<const ProgramKind*, 4> table{&client_program, &companion_program,
                                                         &service_program, &probe_program};
    for (const ProgramKind* k : table)
        if (k->name == name) return k;
    return nullptr;
}

std::optional<json> program_description(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kProgramMarker.size() ||
        !std::equal(kProgramMarker.begin(), kProgramMarker.end(), bytes.begin()))
        return std::nullopt;
    return json::parse(bytes.begin() + static_cast<long>(kProgramMarker.size()), bytes.end(),
                       nullptr, false);
}

std::optional<json> image_program(const Machine::State& s, const std::u16string& image) {
    auto bytes = image_bytes(s, image);
    if (!bytes) return std::nullopt;
    if (bytes->size() >= kProgramMarker.size() &&
        std::equal(kProgramMarker.begin(), kProgramMarker.end(), bytes->begin()))
        return program_description(*bytes);
    const auto slash = image.rfind(u'\\');
    const auto dot = image.rfind(u'.');
    const bool has_extension =
        dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
    auto beside =
        image_bytes(s, (has_extension ? image.substr(0, dot) : image) + u".behaviour.json");
    if (!beside) return std::nullopt;
    return json::parse(beside->begin(), beside->end(), nullptr, false);
}

std::optional<std::vector<uint8_t>> image_bytes(const Machine::State& s,
                                                const std::u16string& path) {
    auto t = resolve_path(s, path, u"C:\\", true);
    if (!t || t->kind != Target::Kind::object || !t->node) return std::nullopt;
    const Node& n = s.live.nodes.at(*t->node);
    if (n.kind != NodeKind::file) return std::nullopt;
    return n.data.get();
}

void hold_file(Machine::State& s, uint32_t pid, const std::u16string& path, uint32_t access,
               uint32_t share) {
    auto t = resolve_path(s, path, u"C:\\", true);
    if (!t || t->kind != Target::Kind::object || !t->node) return;
    HandleObj h;
    h.pid = pid;
    h.type = HandleType::file;
    h.node = *t->node;
    h.access = access;
    h.share = share;
    h.opened_as = Link{t->parent, t->name};
    ++s.live.nodes.edit(*t->node).open_handles;
    uint64_t raw = s.next_handle;
    s.next_handle += 4;
    s.handles.emplace(raw, std::move(h));
}

void exit_after(Machine::State& s, uint32_t pid, uint64_t after_ms, uint32_t code) {
    Event e;
    e.due_ns = s.clock.count() + static_cast<int64_t>(after_ms) * 1'000'000;
    e.pid = pid;
    e.action = "exit";
    e.payload = json{{"code", code}}.dump();
    schedule_event(s, std::move(e));
}

}  // namespace holvar::sim
