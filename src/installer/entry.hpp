// The engine's process entry, independent of how the process was started:
// wmain on Windows, `holvar-sim run` on the simulated machine.
#pragma once

#include <string>
#include <vector>

#include "platform/os.hpp"

namespace holvar::installer {

// Runs one engine process with its raw argument vector (argv[0] is the program
// name) and returns the exit code the process must end with.
int run_engine(platform::Os& os, const std::vector<std::u16string>& argv);

}  // namespace holvar::installer
