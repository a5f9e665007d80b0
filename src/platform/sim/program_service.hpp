// The service program of the simulated machine and the service manager's side
// of a service's life: what happens when it starts, reports running, is told
// to stop, or its process ends.
//
// Its description, after the program marker of programs.hpp:
//
//   {"kind": "service",
//    "start_pending_ms": 200,  start pending this long, then running
//    "fail_start": {"win32": 1064} or {"service_specific": 7},
//                              stops at once with that exit code instead
//    "stop_ms": 100,           stop pending this long after the stop control
//    "ignore_stop": false,     accepts the control and keeps running
//    "account": "system",      who the process runs as: "system", "local_service",
//                              "user"; absent = the configured account
//    "creates": [".holvar-service-v3", "service-logs"]
//                              folders it makes under the install root (the
//                              image's grandparent) once running; absent = both
//   }
#pragma once

#include <string>

#include "platform/sim/machine_state.hpp"
#include "platform/sim/programs.hpp"

namespace holvar::sim {

extern const ProgramKind service_program;

// The image a service's command line names: the quoted first token, or the
// whole line when it names an existing file, else its text up to the first space.
std::u16string service_image_of(const Machine::State& s, const std::u16string& binary_path);

// The token a service process runs with for a configured account.
Token service_token(const std::optional<std::u16string>& account);

// Brings every service up to date with its process: one whose process has
// ended is stopped (ERROR_PROCESS_ABORTED unless its program said otherwise),
// and one marked for delete goes once it is stopped and no handle is open.
void settle_services(Machine::State& s);

// Starts the service's image as its process (StartServiceW once its checks
// passed): 2 for a missing image; an image without the service program never
// reports and is ended after 30 seconds with 1053, as the SCM does.
platform::Status launch_service(Machine::State& s, Service& svc);

// What a restart does once the machine is up: every automatic service that is
// not marked for delete starts.
void start_automatic_services(Machine::State& s);

// The stop control reached the running service's process.
void service_stop_requested(Machine::State& s, Service& svc);

// The service database in the machine file (sim_services_json.cpp); loading
// throws on nonsense, as the rest of the machine file's reader does.
std::string services_to_json(const Machine::State& s);
void services_from_json(Machine::State& s, const std::string& text);

// Open SCM handles to the service held by live processes.
size_t open_service_handles(const Machine::State& s, const std::u16string& folded_name);

}  // namespace holvar::sim
