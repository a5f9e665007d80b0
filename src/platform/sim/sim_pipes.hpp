// The simulated machine's named pipes: the Pipes calls of one process, and
// the byte streams of the connections that the serving programs drive.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/os.hpp"
#include "platform/sim/call_support.hpp"

namespace holvar::sim {

class SimPipes final : public platform::Pipes {
  public:
    SimPipes(Machine& machine, uint32_t pid, platform::HandleCloser& closer)
        : machine_(machine), pid_(pid), closer_(closer) {}

    platform::Result<uint32_t> get_named_pipe_server_process_id(
        const platform::Handle& pipe) override;
    platform::Result<uint32_t> read_pipe(const platform::Handle& pipe, std::span<uint8_t> buffer,
                                         platform::Duration timeout) override;
    platform::Result<uint32_t> write_pipe(const platform::Handle& pipe,
                                          std::span<const uint8_t> bytes,
                                          platform::Duration timeout) override;

  private:
    // Counts the call and answers an injected fault, or a call from a process
    // that has ended.
    std::optional<platform::Error> enter(std::string_view name) {
        return enter_call(machine_.state(), pid_, name);
    }
    Caller caller() { return Caller{machine_.state(), pid_, closer_}; }

    Machine& machine_;
    uint32_t pid_;
    platform::HandleCloser& closer_;
};

// ---- the server's side of a connection, for the programs that serve pipes

// The connection, or none once its client has closed it.
PipeConnection* find_connection(Machine::State& s, uint64_t connection);

// The server sends bytes on a connection: readable by the client at once.
// With `close` the server then closes its end (what was sent stays readable,
// then reads fail with ERROR_BROKEN_PIPE).
void pipe_send(Machine::State& s, uint64_t connection, std::span<const uint8_t> bytes, bool close);
// The same `after_ms` from now, as an event of the serving process (so it is
// dropped if the process ends first); 0 sends at once.
void pipe_send_later(Machine::State& s, uint32_t server, uint64_t connection,
                     std::vector<uint8_t> bytes, bool close, uint64_t after_ms);
// For a program's on_event: handles the events of pipe_send_later; false
// for any other event.
bool pipe_event(Machine::State& s, const Event& e);

// The client's handle to the connection closed: its server's program is told,
// then the connection goes.
void pipe_connection_closed(Machine::State& s, uint64_t connection);

}  // namespace holvar::sim
