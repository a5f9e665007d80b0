// Simulated programs: what a process does is read from its image file.
//
// An image whose content starts with the marker line "#holvar-sim-program\n"
// holds, after it, one JSON object describing the program; "kind" names it:
//
//   {"kind": "client", "exit_code": 0, "run_ms": 0,
//    "grandchild": {"image": "C:\\...\\helper.exe", "run_ms": 600000}}
//     The desktop client. It records the command line and the environment it
//     was started with (ProcessDetails of its pid), runs `run_ms` of virtual
//     time and exits with `exit_code`. With "grandchild" it first starts that
//     image as its own child (in its job, if it has one), which runs for the
//     grandchild's `run_ms` (absent = until something ends it).
//
//   {"kind": "companion", "pipe": "holvar-mihomo", "pipe_instances": 1,
//    "pipe_deny": false, "pipe_after_ms": 0, "run_ms": null}
//     The companion engine. Its image is mapped while it runs (as every
//     process's is: it cannot be written or deleted), optionally serves "\\.\pipe\<pipe>" from
//     `pipe_after_ms` on (0 instances = every instance busy, deny = refuses
//     every client), and runs until ended (or for `run_ms`).
//     With "echo": true each connection sends back every byte it receives,
//     "echo_delay_ms" (default 0) later; without, it never reads what its
//     clients write (a write fills the pipe's 4096-byte buffer, then waits).
//
// An image without the marker is no program unless a behaviour file lies
// beside it (image_program below): started with CreateProcessW it
// exits 0 at once. An image with the marker whose JSON cannot be read, or
// whose kind is unknown, does not start (ERROR_BAD_EXE_FORMAT).
//
// New kinds (the service, ...) live in files of their own: define a
// ProgramKind and add one row to the table in programs.cpp.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "platform/sim/machine_state.hpp"

namespace holvar::sim {

inline constexpr std::string_view kProgramMarker = "#holvar-sim-program\n";

// What a client did on a connection to a pipe that a program serves.
enum class PipeNotice : uint8_t {
    first_bytes,   // its first write is about to arrive: decide whether to read
                   // (PipeConnection::server_reads)
    bytes,         // bytes arrived in PipeConnection::to_server (a reading server only)
    client_closed  // its handle closed; the connection goes right after
};

struct ProgramKind {
    std::string_view name;
    // The process `pid` has just been created with this program.
    void (*start)(Machine::State& s, uint32_t pid, const nlohmann::json& description);
    // One of its scheduled events (other than "exit", which the machine handles) fell due.
    void (*on_event)(Machine::State& s, uint32_t pid, const Event& e,
                     const nlohmann::json& description);
    // Something happened on connection `connection` (a key of
    // ProcessModel::connections) to a pipe the process serves; none = a
    // server that never reads.
    void (*on_pipe)(Machine::State& s, uint32_t pid, uint64_t connection, PipeNotice notice,
                    const nlohmann::json& description) = nullptr;
};

const ProgramKind* find_program_kind(std::string_view name);

// The description in an image's bytes: none when there is no marker; a JSON
// object (possibly discarded, when unreadable) otherwise.
std::optional<nlohmann::json> program_description(const std::vector<uint8_t>& image_bytes);

// The description of the program at `image`: its own, after the marker; or,
// for an image without the marker (a real executable built for Windows, such
// as tools/windows' holvar-service.exe), the JSON of the file beside it named
// as the image with the extension ".behaviour.json", which that executable
// reads on Windows; none when it has neither.
std::optional<nlohmann::json> image_program(const Machine::State& s, const std::u16string& image);

// The file's bytes at a path (links followed), if it is a file.
std::optional<std::vector<uint8_t>> image_bytes(const Machine::State& s,
                                                const std::u16string& path);

// Helpers for programs.
// A path a description names (ASCII) as UTF-16, unit by byte.
std::u16string u16_of(const std::string& utf8);
// A description's count of milliseconds, or `fallback` when it has none.
uint64_t ms_of(const nlohmann::json& d, const char* key, uint64_t fallback = 0);
// The service whose process is `pid`, if any.
Service* service_of_process(Machine::State& s, uint32_t pid);
// Holds a file open for the process, as its own handle (closed when it ends).
void hold_file(Machine::State& s, uint32_t pid, const std::u16string& path, uint32_t access,
               uint32_t share);
// Schedules the process's exit `after_ms` from now.
void exit_after(Machine::State& s, uint32_t pid, uint64_t after_ms, uint32_t code);

extern const ProgramKind client_program;
extern const ProgramKind companion_program;
extern const ProgramKind probe_program;  // the conformance suite's helper (program_probe.cpp)

}  // namespace holvar::sim
