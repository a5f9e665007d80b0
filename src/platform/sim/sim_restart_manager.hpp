// The simulated machine's answers to the RestartManager calls of one process.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/os.hpp"
#include "platform/sim/call_support.hpp"

namespace holvar::sim {

class SimRestartManager final : public platform::RestartManager {
  public:
    SimRestartManager(Machine& machine, uint32_t pid, platform::HandleCloser& closer)
        : machine_(machine), pid_(pid), closer_(closer) {}

    platform::Result<uint32_t> rm_start_session() override;
    platform::Status rm_register_resources(uint32_t session,
                                           const std::vector<std::u16string>& files) override;
    platform::RmList rm_get_list(uint32_t session, uint32_t capacity) override;
    platform::Status rm_end_session(uint32_t session) override;

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
    // Sessions of this process: their registered files. A session is the
    // process's own, as RmStartSession's is.
    std::map<uint32_t, std::vector<std::u16string>> sessions_;
    uint32_t next_session_ = 0;
};

}  // namespace holvar::sim
