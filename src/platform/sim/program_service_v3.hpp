// The simulated service's side of the v3 protocol: it serves
// "\\.\pipe\holvar-service-v3" once it runs and answers one request frame per
// connection with its own encoder (written from the protocol's description,
// not from the engine's decoder), or misbehaves as its description's "v3"
// object says (program_service.hpp documents the keys).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/sim/machine_state.hpp"
#include "platform/sim/programs.hpp"

namespace holvar::sim {

inline constexpr char16_t kV3PipeName[] = u"holvar-service-v3";

// The service process `pid` has just reported running: its pipe opens now or
// after "pipe_after_ms".
void v3_service_running(Machine::State& s, uint32_t pid, const nlohmann::json& description);

// The service program's events of the protocol side (the pipe opening, a
// delayed reply); false for any other event.
bool v3_service_event(Machine::State& s, uint32_t pid, const Event& e,
                      const nlohmann::json& description);

// A client did something on a connection to the pipe that process `pid` serves.
void v3_service_pipe(Machine::State& s, uint32_t pid, uint64_t connection, PipeNotice notice,
                     const nlohmann::json& description);

// The service_instance of the tokens that process `pid` sends.
std::string v3_service_instance(Machine::State& s, uint32_t pid, const nlohmann::json& description);

}  // namespace holvar::sim
