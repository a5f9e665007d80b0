// The simulated machine's processes beyond their image and token: who started
// them, what they were started with, the jobs they belong to, the pipe
// endpoints they serve, open process snapshots, and the events scheduled on
// the virtual clock (a process that exits after its run time, a pipe that
// opens). Plain data, part of Machine::State.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/os.hpp"

namespace holvar::sim {

// What a process was started with and what drives it.
struct ProcessDetails {
    uint32_t parent = 0;
    std::u16string command_line;
    std::vector<std::u16string> environment;  // "NAME=value", in block order
    bool environment_given = false;           // false: the creator's environment was inherited
    std::u16string program;   // program kind ("client", "companion", ...); empty = none
    std::string description;  // the program's JSON description
    std::vector<std::u16string> enabled_privileges;
    uint32_t job = 0;        // 0 = in no job
    int64_t start_time = 0;  // FILETIME units of the virtual clock
};

struct Job {
    bool kill_on_close = false;
    uint32_t handles = 0;        // live state, rebuilt on load
    std::set<uint32_t> members;  // pids
};

// A named pipe endpoint that a simulated process serves.
struct PipeEndpoint {
    uint32_t server = 0;     // pid
    uint32_t instances = 1;  // how many clients may be connected at once
    uint32_t connected = 0;  // client handles open now (live)
    bool deny = false;       // its security refuses every client (5)
};

// Something that happens at a virtual instant: `action` is what the program
// of process `pid` does then ("exit" is understood for every process).
struct Event {
    int64_t due_ns = 0;
    uint64_t seq = 0;  // keeps events of one instant in the order they were scheduled
    uint32_t pid = 0;
    std::string action;
    std::string payload;  // JSON text, as the action needs
};

struct ProcessModel {
    std::map<uint32_t, ProcessDetails> details;  // by pid; absent = nothing more known
    std::map<uint32_t, Job> jobs;
    uint32_t next_job = 1;
    std::map<std::u16string, PipeEndpoint> pipes;  // folded pipe name (after "\\.\pipe\")
    std::map<uint64_t, std::vector<platform::ProcessEntry32>> snapshots;  // by handle
    std::map<uint64_t, size_t> snapshot_cursor;
    std::vector<Event> events;  // pending, any order; fired by due time, then seq
    uint64_t next_event = 1;
};

}  // namespace holvar::sim
