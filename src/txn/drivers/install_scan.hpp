// The install's scan and plan: everything is checked and the whole plan is in
// the journal on disk before the first change, and a missing root is created
// only after that.
#pragma once

#include <optional>

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/outcome/outcome.hpp"
#include "txn/scm/scm.hpp"

namespace holvar::txn::drivers {

// How a scan fails: refused (nothing was changed), or a restart is needed first.
enum class ScanDisposition : uint8_t { refuse = 4, restart_first = 6 };

struct ScanFailure {
    ScanDisposition disposition = ScanDisposition::refuse;
    outcome::FaultReason reason = outcome::FaultReason::unsafe_object;
    std::optional<std::u16string> rel;  // the object that failed, relative to the stage
};

// Checks the root, the path to it, the volume and the pending restart
// operations; scans the payload (each file flushed and counted) and the
// installed tree; computes the plan; writes the journal with "planned"; and
// creates a missing root, marked "root_created".
std::optional<ScanFailure> scan_and_plan(platform::Os& os, TransactionContext& ctx,
                                         const scm::ScmSnapshot& service);

}  // namespace holvar::txn::drivers
