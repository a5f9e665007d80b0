// The parts of a machine beyond its files, as `show` prints them: processes,
// named mutexes, services and the registry.
#pragma once

#include "platform/sim/machine.hpp"

namespace holvar::simtool {

void print_processes(const sim::Machine& machine);
void print_mutexes(const sim::Machine& machine);
void print_services(const sim::Machine& machine);
void print_registry(const sim::Machine& machine);

}  // namespace holvar::simtool
