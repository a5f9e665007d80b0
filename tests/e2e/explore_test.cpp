// `holvar-sim explore` as a packager runs it: on a fresh machine file, the
// upgrade between two demo payloads and the removal after it, walked through
// power cuts and failed calls with small budgets; every state holds.
#include <gtest/gtest.h>

#include "e2e/sim_cli.hpp"

namespace holvar::e2e {
namespace {

struct Walk {
    const char* from;
    const char* to;
    const char* clean_outcome;  // of the upgrade's clean run
};

const Walk kWalks[] = {
    {"v1", "v2", "committed"},
    {"v2", "v3-reshaped", "refused"},
};

class ExploreVerb : public ::testing::TestWithParam<Walk> {};

TEST_P(ExploreVerb, PrintsItsTableAndHolds) {
    SimCli cli;
    cli.init();
    const std::string before = SimCli::read_real(cli.machine());
    const Walk& w = GetParam();
    const CliResult r =
        cli.run({"explore", cli.machine(), "--root", R"(C:\Program Files\Holvar)", "--from", w.from,
                 "--to", w.to, "--seed", "3", "--crash-points", "3", "--cut-points", "2",
                 "--recovery-crash-points", "1", "--fault-points", "1"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(std::string("upgrade ") + w.from + " -> " + w.to +
                         " (clean run: " + w.clean_outcome),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("removal after the upgrade (clean run: removed"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" states, 0 violations"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  outcomes: "), std::string::npos) << r.out;
    // Everything happened on copies: the machine file is as it was.
    EXPECT_EQ(SimCli::read_real(cli.machine()), before);
}

INSTANTIATE_TEST_SUITE_P(Payloads, ExploreVerb, ::testing::ValuesIn(kWalks), [](const auto& info) {
    std::string name = std::string(info.param.from) + "_to_" + info.param.to;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
});

TEST(ExploreVerb, RefusesAPayloadThatIsNeitherAFolderNorADemo) {
    SimCli cli;
    cli.init();
    const CliResult r = cli.run({"explore", cli.machine(), "--root", R"(C:\Program Files\Holvar)",
                                 "--from", "v9", "--to", "v2"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("neither a folder nor a demo payload"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace holvar::e2e
