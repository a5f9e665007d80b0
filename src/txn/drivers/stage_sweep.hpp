// Before a new transaction starts beside a root: no other transaction may be
// unfinished there, and the stage directories of finished ones go.
#pragma once

#include "platform/os.hpp"
#include "txn/drivers/context.hpp"
#include "txn/drivers/run_support.hpp"

namespace holvar::txn::drivers {

// scan / "foreign_unfinished_journal" naming the stage directory that holds
// another run's unfinished work (its name beside the root).
Fault unfinished_journal(std::u16string stage_name);

// Every other stage directory beside the root (".Holvar-upgrade-" and 32
// lowercase hexadecimal digits; never the run's own, never the root itself)
// must be trusted, open as a directory and hold no unfinished journal;
// otherwise scan / "foreign_unfinished_journal" with rel = its name, and
// nothing is deleted. When all are finished, each is emptied and deleted
// while it is still the directory that was checked, within a second of its
// own (a file locked in one old stage must not hold up every later run);
// failures there are ignored.
StepResult sweep_sibling_stages(platform::Os& os, const TransactionContext& ctx);

}  // namespace holvar::txn::drivers
