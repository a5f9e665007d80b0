#include "installer/entry.hpp"

namespace holvar::installer {

// Placeholder until the command front end lands.
int run_engine(platform::Os&, const std::vector<std::u16string>&) { return 11; }

}  // namespace holvar::installer
