// The simulated machine's processes beyond their image and token: who started
// them, what they were started with, the jobs they belong to, the pipe
// endpoints they serve, open process snapshots, and the events scheduled on
// the virtual clock (a process that exits after its run time, a pipe that
// opens). Plain data, part of Machine::State.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/os.hpp"

namespace holvar::sim {

// The System process: the owner of what the kernel does itself.
inline constexpr uint32_t kSystemPid = 4;

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

// One client connection to a pipe endpoint, made by a client's open and ended
// when the client's handle closes: a byte stream each way. Live state only
// (never saved); keyed by the client's handle value, which the machine never
// reuses.
struct PipeConnection {
    uint32_t client = 0;            // pid of the client
    uint32_t server = 0;            // pid of the serving process
    std::u16string pipe;            // folded endpoint name
    std::deque<uint8_t> to_server;  // written by the client, not yet read by the server
    std::deque<uint8_t> to_client;  // sent by the server, not yet read by the client
    bool server_closed = false;     // the server closed its end (buffered bytes stay readable)
    bool started = false;           // the client has written its first bytes
    bool server_reads = false;      // the server reads what arrives (else it sits in the buffer)
    // What the serving program keeps about this connection.
    uint64_t request_index = 0;     // the service: which request of its process this is
    bool request_read = false;      // the service: its one request frame has been taken
    bool restart_on_close = false;  // the service: restart once the client has closed
};

// Bytes a client may write into a connection whose server does not read
// before the write has to wait: the pipe's buffer.
inline constexpr size_t kPipeBufferBytes = 4096;

// What the simulated service keeps between the requests it serves on its v3
// pipe. Live state only: after a load a service starts counting afresh.
struct V3ServerState {
    std::string instance;   // service_instance of its tokens
    uint64_t requests = 0;  // requests begun so far (indexes its script's "replies")
    uint32_t restarts = 0;  // restarts ordered by its script so far
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
    // Live only: pipe connections by client handle, the v3 state of serving
    // processes by pid.
    std::map<uint64_t, PipeConnection> connections;
    std::map<uint32_t, V3ServerState> v3_servers;
    // Clock::run_bounded: the instant a bounded task may not carry the clock
    // past, and whether it wanted to (live only).
    int64_t clock_bound_ns = std::numeric_limits<int64_t>::max();
    bool clock_bound_hit = false;
};

}  // namespace holvar::sim
