// The parts of a machine beyond its files, as `show` prints them: processes,
// named mutexes, services and the registry.
#pragma once

#include "platform/sim/machine.hpp"

namespace holvar::simtool {

void print_processes(const sim::Machine& machine);
void print_mutexes(const sim::Machine& machine);
void print_services(const sim::Machine& machine);
// Every service with its whole configuration and its status, a block each.
void print_service_details(const sim::Machine& machine);
// The keys that hold values, or with `every_key` all of them.
void print_registry(const sim::Machine& machine, bool every_key = false);

}  // namespace holvar::simtool
