// For the test suite's check of the engine's outputs against their published
// schemas: with HOLVAR_CONTRACT_CAPTURE naming a host folder, every journal
// and outcome report an engine writes on a simulated machine is also copied
// there, under a name of its own. Nothing is captured without the variable.
#pragma once

#include <string>

#include "platform/sim/machine.hpp"

namespace holvar::sim {

// Called after a successful MoveFileExW to `target` by the process whose
// image is `image`: a "txn.json" or an "engine-*.json" that an engine
// ("holvar-service-install.exe") just put in place is copied to the capture
// folder. Tests that write broken journals on purpose run other images.
void capture_contract_file(const Machine& machine, const std::u16string& image,
                           const std::u16string& target);

}  // namespace holvar::sim
