// Power cuts and restarts through holvar-sim: a crash inside the engine keeps
// only what had reached the disk, and ends every process with its locks.
#include <gtest/gtest.h>

#include <filesystem>
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

// `run --trace` names the marks the journal reached at the very call that
// wrote them, so a crash point found from it is the one that wrote the mark:
// the first cut that leaves a journal on disk is traced with "planned".
TEST(PowerCutTrace, NamesTheMarkAtTheCallThatWroteIt) {
    SimCli cli;
    cli.init();
    const std::string root = R"(C:\Program Files\Holvar)";
    const std::string engine = cli.stage(root, "0123456789abcdef0123456789abcdef");
    const std::string journal = engine.substr(0, engine.rfind('\\')) + R"(\journal\txn.json)";
    const auto pristine = cli.folder() / "pristine.json";
    std::filesystem::copy_file(cli.machine(), pristine);
    struct Cut {
        bool crashed;
        bool journal;
        std::string marks;
    };
    auto cut_at = [&](int call) {
        std::filesystem::copy_file(pristine, cli.machine(),
                                   std::filesystem::copy_options::overwrite_existing);
        const auto ran = cli.run({"run", cli.machine(), "--crash-after", std::to_string(call),
                                  "--trace", "--exe", engine, "--", "--apply", "--root", root});
        const std::string tag = "journal marks: ";
        const size_t at = ran.out.find(tag);
        std::string marks = at == std::string::npos ? "" : ran.out.substr(at + tag.size());
        marks = marks.substr(0, marks.find(';'));
        return Cut{ran.exit_code == 3, !cli.cat(journal).empty(), marks};
    };
    // Before the first mark: a crash, no journal, nothing traced. From it on
    // something is on disk or traced (or the run ended before the cut).
    auto reached = [](const Cut& c) { return !c.crashed || c.journal || c.marks != "-"; };
    int low = 1, high = 2048;
    while (low < high) {
        const int mid = (low + high) / 2;
        if (reached(cut_at(mid))) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    const Cut first = cut_at(low);
    EXPECT_TRUE(first.crashed);
    EXPECT_TRUE(first.journal);
    EXPECT_EQ(first.marks, "planned");
    ASSERT_GT(low, 1);
    EXPECT_EQ(cut_at(low - 1).marks, "-");
}

}  // namespace
}  // namespace holvar::e2e
