#include "platform/sim/sim_services.hpp"

namespace holvar::sim {

void SimServices::close(uint64_t) noexcept {}

}  // namespace holvar::sim
