// What every boundary call of a simulated process shares: counting, injected
// faults and crashes, handle lookup, the durability barrier.
#pragma once

#include <optional>
#include <string_view>

#include "platform/error.hpp"
#include "platform/handle.hpp"
#include "platform/sim/machine_state.hpp"

namespace holvar::sim {

// The calling process.
struct Caller {
    Machine::State& s;
    uint32_t pid;
    platform::HandleCloser& closer;
    Process& process() const { return s.processes.at(pid); }
};

// Counts the call and answers an injected fault for it, if one matches.
std::optional<platform::Error> begin_call(Machine::State& s, std::string_view name);
// begin_call for a call of process `pid`; a process that has ended gets
// ERROR_INVALID_HANDLE, as its handles are gone.
std::optional<platform::Error> enter_call(Machine::State& s, uint32_t pid, std::string_view name);
// A call changed the machine: counts it, and throws CrashInjected when it is
// the armed one (after the change, which the crash image may keep).
void mutated(Machine::State& s);

// Makes every metadata operation so far durable (a flush or write-through).
void metadata_barrier(Machine::State& s);
// Makes one object's contents durable (after the barrier).
void flush_contents(Machine::State& s, NodeId id);

// The caller's open handle, or none when it is not one of its handles.
HandleObj* find_handle(const Caller& c, const platform::Handle& h);
platform::Handle make_handle(const Caller& c, HandleObj obj);
// Closes a raw handle of the machine (no-op when unknown).
void close_raw_handle(Machine::State& s, uint64_t raw);

}  // namespace holvar::sim
