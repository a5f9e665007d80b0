// The simulated machine's answers to the Pipes calls of one process.
#pragma once

#include <cstdint>

#include "platform/os.hpp"
#include "platform/sim/call_support.hpp"

namespace holvar::sim {

class SimPipes final : public platform::Pipes {
public:
    SimPipes(Machine& machine, uint32_t pid, platform::HandleCloser& closer)
        : machine_(machine), pid_(pid), closer_(closer) {}

    platform::Result<uint32_t> get_named_pipe_server_process_id(
        const platform::Handle& pipe) override;

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

}  // namespace holvar::sim
