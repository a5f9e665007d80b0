// Named pipes on the simulated machine: a client open of "\\.\pipe\<name>"
// connects to an instance that a simulated process serves, and the
// connection carries a byte stream each way on the virtual clock.
#include "platform/sim/sim_pipes.hpp"

#include <algorithm>
#include <limits>
#include <optional>

#include "platform/sim/names.hpp"
#include "platform/sim/process_model.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/sim_process_calls.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;
using nlohmann::json;

namespace {

constexpr std::string_view kPipeSendAction = "pipe_send";
constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

// The serving program of a connection learns what its client did.
void notify_server(Machine::State& s, uint64_t id, PipeNotice notice) {
    PipeConnection* c = find_connection(s, id);
    if (c == nullptr || !is_alive(s, c->server)) return;
    auto d = s.process_model.details.find(c->server);
    if (d == s.process_model.details.end()) return;
    const std::u16string& program = d->second.program;
    const ProgramKind* kind = find_program_kind(std::string(program.begin(), program.end()));
    if (kind == nullptr || kind->on_pipe == nullptr) return;
    const uint32_t server = c->server;
    json description = json::parse(d->second.description, nullptr, false);
    kind->on_pipe(s, server, id, notice, description);
}

std::optional<int64_t> earliest_due(const Machine::State& s) {
    std::optional<int64_t> best;
    for (const Event& e : s.process_model.events)
        if (!best || e.due_ns < *best) best = e.due_ns;
    return best;
}

// A pending overlapped read or write: virtual time passes event by event
// (the scheduled events fire on the way, as in a sleep) until `ready`
// answers, or until `timeout` has passed, where the clock then stands
// exactly and the I/O is cancelled (timed out). A handle opened without
// FILE_FLAG_OVERLAPPED blocks until the I/O completes, whatever the timeout.
template <class Ready>
Result<uint32_t> wait_on_connection(Machine::State& s, uint64_t id, Duration timeout,
                                    bool overlapped, Ready ready) {
    const int64_t start = s.clock.count();
    const int64_t t = std::max<int64_t>(0, timeout.count());
    const int64_t wanted = !overlapped || t >= kForever - start ? kForever : start + t;
    for (;;) {
        PipeConnection* c = find_connection(s, id);
        if (c == nullptr) return win32_error(win32::broken_pipe);
        if (auto r = ready(*c)) return *r;
        // A bounded task's wait ends at the task's bound at the latest.
        const int64_t limit = std::min(wanted, s.process_model.clock_bound_ns);
        auto due = earliest_due(s);
        if (!due || *due > limit) break;
        advance_clock_to(s, Instant(std::max<int64_t>(*due, s.clock.count())));
    }
    if (wanted == kForever && s.process_model.clock_bound_ns == kForever)
        return fail(ErrorKind::other, "wait would never end");
    advance_clock_to(s, Instant(wanted));
    return wait_timed_out();
}

constexpr uint32_t kReadRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
constexpr uint32_t kPipeWriteRights = FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL;

// The caller's pipe handle, holding one of `rights` (0: any handle will do).
Result<HandleObj*> pipe_handle(const Caller& c, const Handle& pipe, uint32_t rights) {
    HandleObj* obj = find_handle(c, pipe);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (obj->type != HandleType::pipe) return win32_error(1);  // ERROR_INVALID_FUNCTION
    if (rights != 0 && (obj->access & rights) == 0) return win32_error(win32::access_denied);
    return obj;
}

}  // namespace

// No server: 2. Every instance connected to another client: 231. The pipe's
// security refusing the caller: 5. Otherwise the client holds one instance
// until its handle closes, and the handle is one end of a new connection.
Result<Handle> sim_open_pipe(Caller& c, const std::u16string& name, uint32_t access,
                             uint32_t flags) {
    std::u16string key = fold_name(name);
    auto it = c.s.process_model.pipes.find(key);
    if (it == c.s.process_model.pipes.end() || !is_alive(c.s, it->second.server))
        return win32_error(win32::file_not_found);
    PipeEndpoint& p = it->second;
    if (p.deny) return win32_error(win32::access_denied);
    if (p.connected >= p.instances) return win32_error(win32::pipe_busy);
    ++p.connected;
    HandleObj h;
    h.type = HandleType::pipe;
    h.target = p.server;
    h.pipe = key;
    h.access = access;
    h.flags = flags;
    Handle handle = make_handle(c, std::move(h));
    PipeConnection conn;
    conn.client = c.pid;
    conn.server = p.server;
    conn.pipe = key;
    c.s.process_model.connections[handle.raw()] = std::move(conn);
    return handle;
}

Result<uint32_t> SimPipes::get_named_pipe_server_process_id(const Handle& pipe) {
    if (auto e = enter("get_named_pipe_server_process_id")) return std::unexpected(*e);
    auto obj = pipe_handle(caller(), pipe, 0);
    if (!obj) return std::unexpected(obj.error());
    return (*obj)->target;
}

// What the server sent comes first, even after it closed its end or ended;
// then a closed or ended server is ERROR_BROKEN_PIPE.
Result<uint32_t> SimPipes::read_pipe(const Handle& pipe, std::span<uint8_t> buffer,
                                     Duration timeout) {
    if (auto e = enter("read_pipe")) return std::unexpected(*e);
    auto obj = pipe_handle(caller(), pipe, kReadRights);
    if (!obj) return std::unexpected(obj.error());
    if (buffer.empty()) return uint32_t{0};
    const bool overlapped = ((*obj)->flags & FILE_FLAG_OVERLAPPED) != 0;
    Machine::State& s = machine_.state();
    return wait_on_connection(
        s, pipe.raw(), timeout, overlapped,
        [&](PipeConnection& conn) -> std::optional<Result<uint32_t>> {
            if (!conn.to_client.empty()) {
                const size_t n = std::min(buffer.size(), conn.to_client.size());
                std::copy_n(conn.to_client.begin(), n, buffer.begin());
                conn.to_client.erase(conn.to_client.begin(),
                                     conn.to_client.begin() + static_cast<long>(n));
                return static_cast<uint32_t>(n);
            }
            if (conn.server_closed || !is_alive(s, conn.server))
                return win32_error(win32::broken_pipe);
            return std::nullopt;
        });
}

// A reading server takes every byte at once; one that does not read leaves
// them in the pipe's buffer (kPipeBufferBytes), and a write that does not fit
// waits. A server gone before the write: ERROR_NO_DATA (232); gone while it
// waits: ERROR_BROKEN_PIPE.
Result<uint32_t> SimPipes::write_pipe(const Handle& pipe, std::span<const uint8_t> bytes,
                                      Duration timeout) {
    if (auto e = enter("write_pipe")) return std::unexpected(*e);
    auto obj = pipe_handle(caller(), pipe, kPipeWriteRights);
    if (!obj) return std::unexpected(obj.error());
    if (bytes.empty()) return uint32_t{0};
    const bool overlapped = ((*obj)->flags & FILE_FLAG_OVERLAPPED) != 0;
    Machine::State& s = machine_.state();
    const uint64_t id = pipe.raw();
    if (PipeConnection* conn = find_connection(s, id);
        conn != nullptr && !conn->started && !conn->server_closed && is_alive(s, conn->server)) {
        conn->started = true;
        notify_server(s, id, PipeNotice::first_bytes);
    }
    bool first_look = true;
    return wait_on_connection(
        s, id, timeout, overlapped, [&](PipeConnection& conn) -> std::optional<Result<uint32_t>> {
            const bool before_waiting = std::exchange(first_look, false);
            if (conn.server_closed || !is_alive(s, conn.server))
                return win32_error(before_waiting ? win32::no_data : win32::broken_pipe);
            const auto n = static_cast<uint32_t>(bytes.size());
            if (conn.server_reads) {
                conn.to_server.insert(conn.to_server.end(), bytes.begin(), bytes.end());
                notify_server(s, id, PipeNotice::bytes);
                return n;
            }
            if (conn.to_server.size() + bytes.size() <= kPipeBufferBytes) {
                conn.to_server.insert(conn.to_server.end(), bytes.begin(), bytes.end());
                return n;
            }
            return std::nullopt;
        });
}

PipeConnection* find_connection(Machine::State& s, uint64_t connection) {
    auto it = s.process_model.connections.find(connection);
    return it == s.process_model.connections.end() ? nullptr : &it->second;
}

void pipe_send(Machine::State& s, uint64_t connection, std::span<const uint8_t> bytes, bool close) {
    PipeConnection* c = find_connection(s, connection);
    if (c == nullptr || c->server_closed) return;
    c->to_client.insert(c->to_client.end(), bytes.begin(), bytes.end());
    if (close) c->server_closed = true;
}

void pipe_send_later(Machine::State& s, uint32_t server, uint64_t connection,
                     std::vector<uint8_t> bytes, bool close, uint64_t after_ms) {
    if (after_ms == 0) return pipe_send(s, connection, bytes, close);
    Event e;
    e.due_ns = s.clock.count() + static_cast<int64_t>(after_ms) * 1'000'000;
    e.pid = server;
    e.action = std::string(kPipeSendAction);
    e.payload = json{{"connection", connection}, {"bytes", bytes}, {"close", close}}.dump();
    schedule_event(s, std::move(e));
}

bool pipe_event(Machine::State& s, const Event& e) {
    if (e.action != kPipeSendAction) return false;
    json p = json::parse(e.payload, nullptr, false);
    if (!p.is_object()) return true;
    auto id = p.value("connection", uint64_t{0});
    auto bytes = p.value("bytes", std::vector<uint8_t>{});
    PipeConnection* c = find_connection(s, id);
    // A connection ended since, or one made after a reload under the same
    // handle value by another server, gets nothing.
    if (c == nullptr || c->server != e.pid) return true;
    pipe_send(s, id, bytes, p.value("close", false));
    return true;
}

void pipe_connection_closed(Machine::State& s, uint64_t connection) {
    if (find_connection(s, connection) == nullptr) return;
    notify_server(s, connection, PipeNotice::client_closed);
    s.process_model.connections.erase(connection);
}

}  // namespace holvar::sim
