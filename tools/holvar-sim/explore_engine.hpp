// One transaction as the explorer runs it: the engine as an elevated process
// of the simulated machine, its command line, its report, its journal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.hpp"
#include "staging.hpp"
#include "txn/journal/journal.hpp"

namespace holvar::simtool {

struct Transaction {
    std::u16string root;
    std::string txid;
    StagePaths stage;
    std::vector<std::u16string> args;  // after the image path: {u"--apply", u"--root", root}
    std::string command;               // "apply" or "remove": the name of its report
    bool removal = false;
    std::u16string image = {};  // the engine that runs (empty: the stage's)
};

struct EngineRun {
    bool crashed = false;
    int exit_code = 0;
    std::string crash_call;  // the boundary call the power cut struck in
};

// The engine from the stage with `args`. An armed crash is caught: the
// machine is left frozen at the crash instant for the caller to cut.
EngineRun run_engine_from_stage(sim::Machine& machine, const Transaction& txn,
                                const std::vector<std::u16string>& args);
std::vector<std::u16string> recover_args(const Transaction& txn);

// Virtual time for a service the run started to come up.
void settle(sim::Machine& machine);

// What the report of `command` says, or why it is not a report the setup
// program can read: missing, not JSON, a key missing, an outcome the contract
// does not know, an exit code other than the outcome's or the process's.
struct ReportReading {
    std::string outcome;
    std::string problem;  // empty when the report is sound
};
ReportReading read_report(const sim::Machine& machine, const Transaction& txn,
                          const std::string& command, int exit_code);

// The stage's journal: none when absent; `corrupt` when it does not decode.
struct JournalReading {
    bool present = false;
    bool corrupt = false;
    std::optional<txn::journal::Journal> journal;
};
JournalReading read_journal(const sim::Machine& machine, const Transaction& txn);

}  // namespace holvar::simtool
