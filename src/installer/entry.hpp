// The engine's process entry, independent of how the process was started:
// wmain on Windows, `holvar-sim run` on the simulated machine.
#pragma once

#include <string>
#include <vector>

#include "installer/drivers.hpp"
#include "platform/os.hpp"

namespace holvar::installer {

// Runs one engine process with its raw argument vector (argv[0] is the program
// name) and returns the exit code the process must end with.
int run_engine(platform::Os& os, const std::vector<std::u16string>& argv);

// The same with the drivers given: exactly one of them runs when the command
// line, the lock and the engine's placement allow it.
int run_engine(platform::Os& os, const std::vector<std::u16string>& argv, Drivers& drivers);

}  // namespace holvar::installer
