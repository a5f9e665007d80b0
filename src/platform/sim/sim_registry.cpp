#include "platform/sim/sim_registry.hpp"

namespace holvar::sim {

void SimRegistry::close(uint64_t) noexcept {}

}  // namespace holvar::sim
