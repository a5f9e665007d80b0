// A thousand transactions in a row on one machine: installs, upgrades (good
// and broken), removals, repairs and recoveries, with failed calls, power
// cuts, held files, an administrator's changes and restarts drawn with a
// seed. After each transaction (and the recoveries the setup program runs
// after it) the machine is one defined installation: none, or one of the
// payloads; at the end nothing has piled up that the contract does not
// leave.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace holvar::simtool {

struct SoakResult {
    uint64_t seed = 0;
    size_t transactions = 0;
    std::map<std::string, uint64_t> outcomes;  // how each transaction ended
    uint64_t violation_count = 0;
    std::vector<std::string> violations;  // the first few, for a person
    // What is left at the end, after the setup program deleted its stages
    // and a last restart: "N stage directories, ..." per kind.
    std::map<std::string, uint64_t> left;
};

SoakResult soak(uint64_t seed, size_t transactions);

// "soak: seed S, N transactions, outcomes ..., V violations, left at the end: ..."
std::string soak_line(const SoakResult& r);

}  // namespace holvar::simtool
