// The four modes of a run, as the command line selects them and as the
// outcome report and its file name spell them.
#pragma once

#include <cstdint>
#include <string_view>

namespace holvar::txn::outcome {

enum class Command : uint8_t { apply = 0, recover = 1, remove = 2, repair = 3 };

// "apply", "recover", "remove", "repair".
std::string_view command_name(Command command);

}  // namespace holvar::txn::outcome
