// Process lifecycle on the simulated machine: starting a process (and the
// program its image describes), ending it, jobs, pipe endpoints, and the
// virtual clock with its scheduled events. Nothing here waits for real: time
// moves only when a sleep or a wait asks it to, and the events that fall due
// on the way fire in order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine_state.hpp"

namespace holvar::sim {

struct StartSpec {
    std::u16string image;
    Token token;
    std::u16string current_directory;
    uint32_t parent = 0;
    std::u16string command_line;
    std::optional<std::vector<std::u16string>> environment;  // none = inherited
    uint32_t job = 0;
    // A program image runs its program; any other image either exits 0 at once
    // (a process created with CreateProcessW) or stays alive, driven from
    // outside (the engine itself, in tests).
    bool plain_image_exits = true;
};

// Starts a process; its program, if the image holds one, starts with it.
// Fails with 193 (ERROR_BAD_EXE_FORMAT) when the image's description is not
// one the machine understands.
platform::Result<uint32_t> start_process(Machine::State& s, const StartSpec& spec);

// Ends a process: mutexes it owns become abandoned, its handles close, the
// pipes it serves go, its pending events are dropped.
void end_process(Machine::State& s, uint32_t pid, uint32_t exit_code);

bool is_alive(const Machine::State& s, uint32_t pid);

// ---- the clock and its events
void schedule_event(Machine::State& s, Event e);
// Clock::run_bounded: a target past the bound of the bounded task running now
// is cut to the bound, and the task is marked as having overrun it.
platform::Instant bounded_target(Machine::State& s, platform::Instant target);
// Moves the clock forward to `target` (cut by bounded_target), firing the
// events due on the way.
void advance_clock_to(Machine::State& s, platform::Instant target);
// WaitForSingleObject on a process: WAIT_OBJECT_0 once it has ended, or
// WAIT_TIMEOUT after `timeout_ms` of virtual time; an infinite wait for a
// process that nothing will end is an error rather than a hang.
platform::Result<uint32_t> wait_for_process(Machine::State& s, uint32_t pid, uint32_t timeout_ms);

// ---- jobs
// A job handle closed: the last one ends every process of a kill-on-close job.
void release_job_handle(Machine::State& s, uint32_t job);
void terminate_job(Machine::State& s, uint32_t job, uint32_t exit_code);

// ---- pipes
void serve_pipe(Machine::State& s, uint32_t server, const std::u16string& name, uint32_t instances,
                bool deny);

// A kernel handle of a process-related type closed (jobs, pipes, snapshots).
void on_process_object_closed(Machine::State& s, uint64_t raw, const HandleObj& h);

// A power cut: every process is gone, so are jobs, pipes and pending events.
void clear_process_model(Machine::State& s);

// Persistence of the process model (the parts not kept with the processes).
std::string process_model_to_json(const Machine::State& s);
void process_model_from_json(Machine::State& s, const std::string& text);  // throws on nonsense

}  // namespace holvar::sim
