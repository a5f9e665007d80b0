// Whether a transaction beside an installation may still be unfinished: the
// one question a run that changes only the service must settle before it
// touches anything, since `--recover` of that transaction may need the service
// exactly as its journal left it.
#pragma once

#include <string_view>

#include "platform/os.hpp"

namespace holvar::txn::drivers {

// True when the root's parent holds an entry whose name begins with
// ".Holvar-upgrade-" in any letter case and that is not a trusted directory or
// holds a journal that has not ended; and on any doubt: a root without a
// parent, a parent that cannot be listed.
bool transaction_may_be_unfinished(platform::Os& os, std::u16string_view root);

}  // namespace holvar::txn::drivers
