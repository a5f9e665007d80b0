// A simulated machine for whole-transaction benchmarks: the root's parent,
// the diagnostics directory, stage directories whose payload is written into
// the machine directly (fast enough for a hundred thousand files), and engine
// runs through the real front end with their file calls counted by phase.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "phase_counter.hpp"
#include "platform/sim/machine.hpp"

namespace holvar::bench {

inline const std::u16string kParent = u"C:\\Program Files";
inline const std::u16string kRoot = kParent + u"\\Holvar";
inline const std::string kTx1 = "11111111111111111111111111111111";
inline const std::string kTx2 = "22222222222222222222222222222222";

std::u16string stage_dir(const std::string& txid);

// The runtime's module files. Flat: all of them in one folder. Deep: below a
// chain of four folders, in a tree of folders ten wide whose leaves hold ten
// files each. Version 1 names its second half "old-module-*"; version 2 names
// every file "module-*": an upgrade replaces half the files, adds as many and
// retires as many, in the same folders.
struct PayloadShape {
    size_t files = 0;
    bool deep = false;
};

// What one engine run did.
struct RunResult {
    int exit_code = -1;
    bool crashed = false;
    RunCounts counts;
    int64_t peak_heap = 0;  // above the level at the run's start
};

class TxnMachine {
  public:
    TxnMachine();

    // A stage directory for `txid` holding the engine and the payload of `version`.
    bool stage(const std::string& txid, const PayloadShape& shape, int version);
    // One holding the engine alone, as a removal finds it.
    bool stage_engine(const std::string& txid);
    // The engine run from that stage with `args` after its own path; when
    // `crash_after_renames` is set, the power goes after that many renames
    // of the placement.
    RunResult run(const std::string& txid, const std::vector<std::u16string>& args,
                  uint64_t crash_after_renames = 0);
    // The power comes back after a crash.
    void crash_and_reboot();

    sim::Machine& machine() { return *machine_; }

  private:
    bool ensure_directory(const std::u16string& path);

    std::unique_ptr<sim::Machine> machine_;
    std::vector<std::u16string> made_;  // the last folder chain made, for staging
};

}  // namespace holvar::bench
