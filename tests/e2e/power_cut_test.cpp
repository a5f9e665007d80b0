// Power cuts and restarts through holvar-sim: a crash inside the engine keeps
// only what had reached the disk, and ends every process with its locks.
#include <gtest/gtest.h>

#include <string>

#include "e2e/sim_cli.hpp"

namespace holvar::e2e {
namespace {

const std::string kRoot = R"(C:\Holvar)";
const std::string kReport = R"(C:\Holvar-Install-Diagnostics\engine-none-apply.json)";

class PowerCut : public ::testing::Test {
  protected:
    void SetUp() override {
        cli.init();
        engine = cli.stage(kRoot, "0123456789abcdef0123456789abcdef");
        ASSERT_EQ(cli.engine(engine, {"--apply"}).exit_code, 11);
        first_report = cli.cat(kReport);
        ASSERT_FALSE(first_report.empty());
    }
    SimCli cli;
    std::string engine;
    std::string first_report;
};

// Whatever call the cut strikes, the report on disk is the complete old one or
// the complete new one, and the next run writes it afresh.
TEST_F(PowerCut, AReportCutShortLeavesTheOldReportWhole) {
    const std::string busy_marker = R"("outcome":"busy")";
    for (int call = 1; call <= 6; ++call) {
        SCOPED_TRACE("crash after mutating call " + std::to_string(call));
        const auto held = cli.run({"hold-lock", cli.machine()});
        ASSERT_EQ(held.exit_code, 0) << held.err;
        const auto ran = cli.run({"run", cli.machine(), "--crash-after", std::to_string(call),
                                  "--exe", engine, "--", "--apply", "--root", kRoot});
        const std::string report = cli.cat(kReport);
        if (ran.exit_code == 3) {
            EXPECT_EQ(ran.last_line(), "crashed at mutating call " + std::to_string(call));
        } else {
            EXPECT_EQ(ran.exit_code, 12) << ran.err;
        }
        EXPECT_TRUE(report == first_report || report.find(busy_marker) != std::string::npos)
            << report;
        // The crash ended the holder too; a restart would have as well.
        if (ran.exit_code == 12) {
            ASSERT_EQ(cli.run({"reboot", cli.machine()}).exit_code, 0);
        }
        EXPECT_EQ(cli.engine(engine, {"--apply"}).exit_code, 11);
        EXPECT_EQ(cli.cat(kReport), first_report);
    }
}

TEST_F(PowerCut, ARestartEndsTheLockHolder) {
    const auto held = cli.run({"hold-lock", cli.machine()});
    ASSERT_EQ(held.exit_code, 0) << held.err;
    EXPECT_EQ(cli.engine(engine, {"--apply", "--root", kRoot}).exit_code, 12);
    ASSERT_EQ(cli.run({"reboot", cli.machine()}).exit_code, 0);
    EXPECT_NE(cli.engine(engine, {"--apply", "--root", kRoot}).exit_code, 12);
    EXPECT_EQ(cli.run({"kill", cli.machine(), held.last_line()}).exit_code, 1);
}

}  // namespace
}  // namespace holvar::e2e
