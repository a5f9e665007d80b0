// The engine's process contract, seen from outside: exit codes, the report
// file's name, place and bytes, for the failures found before any driver runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/sim_cli.hpp"

namespace holvar::e2e {
namespace {

const std::string kRoot = R"(C:\Program Files\Holvar)";
const std::string kDiagnostics = R"(C:\Program Files\Holvar-Install-Diagnostics)";
const std::string kTxid = "0123456789abcdef0123456789abcdef";

std::string early_report(const std::string& command, const std::string& outcome, int exit_code,
                         const std::string& reason) {
    return R"({"format":1,"engine_version":"3.0.0","command":")" + command +
           R"(","txid":"none","outcome":")" + outcome + R"(","exit_code":)" +
           std::to_string(exit_code) + R"(,"primary":{"phase":"scan","reason":")" + reason +
           R"(","win32":null,"rel":null},"recovery_error":null,)" +
           R"("holders":{"status":"not_queried","win32":null,"processes":[]},)" +
           R"("maintenance":[],"reboot_pending":[]})";
}

// The names in a listing ("kind owner id size name").
std::vector<std::string> names(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& line : lines) {
        size_t at = 0;
        for (int field = 0; field < 4 && at != std::string::npos; ++field) {
            at = line.find(' ', at);
            if (at != std::string::npos) ++at;
        }
        if (at != std::string::npos) out.push_back(line.substr(at));
    }
    return out;
}

class EarlyFailures : public ::testing::Test {
  protected:
    void SetUp() override {
        cli.init();
        engine = cli.stage(kRoot, kTxid);
        ASSERT_EQ(engine, R"(C:\Program Files\.Holvar-upgrade-)" + kTxid +
                              R"(\holvar-service-install.exe)");
    }
    std::string report(const std::string& command) const {
        return cli.cat(kDiagnostics + R"(\engine-none-)" + command + ".json");
    }

    SimCli cli;
    std::string engine;
};

TEST(ReportBytes, InvalidArgumentsReportIsTheContractsExample) {
    EXPECT_EQ(
        early_report("apply", "refused", 11, "invalid_arguments"),
        R"({"format":1,"engine_version":"3.0.0","command":"apply","txid":"none","outcome":"refused","exit_code":11,"primary":{"phase":"scan","reason":"invalid_arguments","win32":null,"rel":null},"recovery_error":null,"holders":{"status":"not_queried","win32":null,"processes":[]},"maintenance":[],"reboot_pending":[]})");
}

// Every malformed command line ends with exit 11 and the same report, named
// for "apply" whatever the mode was.
TEST_F(EarlyFailures, MalformedCommandLinesAreRefusedWithTheInvalidArgumentsReport) {
    const std::string lone_surrogate = "\xED\xA0\x80";
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--apply"},
        {"--apply", "--root"},
        {"--root", kRoot, "--apply"},
        {"--Apply", "--root", kRoot},
        {"--apply", "--ROOT", kRoot},
        {"--apply", "--root", ""},
        {"--apply", "--root", "--recover"},
        {"--apply", "--root", kRoot, "--purge-session-vault"},
        {"--repair", "--root", kRoot, "--purge-session-vault"},
        {"--remove", "--root", kRoot, "--purge-session-vault", "extra"},
        {"--remove", "--root", kRoot, "--Purge-Session-Vault"},
        {"--install", "--root", kRoot},
        {"--apply" + lone_surrogate, "--root", kRoot},
        {lone_surrogate, "--root", kRoot},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        cli.run({"rm", cli.machine(), kDiagnostics + R"(\engine-none-apply.json)"});
        const auto ran = cli.engine(engine, args);
        EXPECT_EQ(ran.exit_code, 11) << ran.err;
        EXPECT_EQ(ran.out, "");
        EXPECT_EQ(report("apply"), early_report("apply", "refused", 11, "invalid_arguments"));
    }
}

// A root of "--" and an unpaired surrogate is not valid Unicode, so it is not
// taken for a misplaced option; the same root with U+FFFD in its place is. The
// tool must hand the lone surrogate to the engine as it is to tell them apart.
TEST_F(EarlyFailures, AnUnpairedSurrogateReachesTheEngineUnchanged) {
    const auto run_with_root = [&](const std::string& root) {
        cli.run({"rm", cli.machine(), kDiagnostics + R"(\engine-none-apply.json)"});
        return cli.run({"run", cli.machine(), "--exe", engine, "--cwd", R"(C:\Program Files)", "--",
                        "--apply", "--root", root});
    };
    const auto replaced = run_with_root("--\xEF\xBF\xBD");
    EXPECT_EQ(replaced.exit_code, 11) << replaced.err;
    EXPECT_EQ(report("apply"), early_report("apply", "refused", 11, "invalid_arguments"));

    const auto lone = run_with_root("--\xED\xA0\x80");
    EXPECT_NE(lone.exit_code, 12) << lone.err;
    EXPECT_EQ(report("apply"), "") << "the command line was refused";
}

TEST_F(EarlyFailures, StageNotAcceptableIsRefusedWithStageInvalid) {
    const std::string upper = cli.stage(kRoot, "FEDCBA9876543210FEDCBA9876543210");
    const std::string elsewhere = cli.stage(R"(C:\Other\Holvar)", kTxid);
    struct Case {
        std::string exe;
        std::vector<std::string> args;
        std::string command;
    };
    const std::vector<Case> cases = {
        {upper, {"--apply", "--root", kRoot}, "apply"},
        {elsewhere, {"--recover", "--root", kRoot}, "recover"},
        {engine, {"--remove", "--root", R"(C:\Other\Holvar)", "--purge-session-vault"}, "remove"},
        {engine, {"--repair", "--root", kRoot}, "repair"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exe + " " + ::testing::PrintToString(c.args));
        const auto ran = cli.engine(c.exe, c.args);
        EXPECT_EQ(ran.exit_code, 11) << ran.err;
        // The root's parent holds the diagnostics directory the report goes to.
        const std::string parent = c.args[2].substr(0, c.args[2].rfind('\\'));
        EXPECT_EQ(
            cli.cat(parent + R"(\Holvar-Install-Diagnostics\engine-none-)" + c.command + ".json"),
            early_report(c.command, "refused", 11, "stage_invalid"));
    }
}

TEST_F(EarlyFailures, ASecondEngineFindsTheLockBusyUntilItsHolderDies) {
    const auto held = cli.run({"hold-lock", cli.machine()});
    ASSERT_EQ(held.exit_code, 0) << held.err;
    const std::string holder = held.last_line();

    struct Case {
        std::vector<std::string> args;
        std::string command;
    };
    const std::vector<Case> cases = {
        {{"--apply", "--root", kRoot}, "apply"},
        {{"--recover", "--root", kRoot}, "recover"},
        {{"--remove", "--root", kRoot, "--purge-session-vault"}, "remove"},
        {{"--repair", "--root", kRoot}, "repair"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const auto ran = cli.engine(engine, c.args);
        EXPECT_EQ(ran.exit_code, 12) << ran.err;
        EXPECT_EQ(report(c.command), early_report(c.command, "busy", 12, "mutex_failed"));
    }
    // A second holder cannot take what the first holds.
    EXPECT_EQ(cli.run({"hold-lock", cli.machine()}).exit_code, 1);

    // The holder dies without releasing the mutex: abandoned, so it is taken.
    ASSERT_EQ(cli.run({"kill", cli.machine(), holder}).exit_code, 0);
    const auto after = cli.engine(engine, {"--apply", "--root", kRoot});
    EXPECT_NE(after.exit_code, 12) << after.err;
    // The engine's own process ended too, so its lock was freed with it.
    const auto again = cli.engine(engine, {"--apply", "--root", kRoot});
    EXPECT_NE(again.exit_code, 12) << again.err;
    EXPECT_EQ(cli.run({"hold-lock", cli.machine()}).exit_code, 0);
}

// Where the diagnostics directory cannot be trusted, nothing is written and
// the exit code is the same as when the report lands.
TEST_F(EarlyFailures, UntrustedDiagnosticsDirectoryGetsNoReport) {
    struct Case {
        std::string name;
        std::vector<std::vector<std::string>> setup;
    };
    const std::string decoy = R"(C:\Decoy)";
    const std::vector<Case> cases = {
        {"missing", {{"rm", kDiagnostics}}},
        {"owned by an ordinary user", {{"chown", kDiagnostics, "user"}}},
        {"a junction to a trusted directory",
         {{"rm", kDiagnostics}, {"junction", kDiagnostics, decoy}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimCli fresh;
        fresh.init();
        const std::string exe = fresh.stage(kRoot, kTxid);
        ASSERT_EQ(fresh.run({"mkdir", fresh.machine(), decoy}).exit_code, 0);
        for (auto step : c.setup) {
            step.insert(step.begin() + 1, fresh.machine());
            const auto done = fresh.run(step);
            ASSERT_EQ(done.exit_code, 0) << done.err;
        }
        const auto ran = fresh.engine(exe, {"--apply"});
        EXPECT_EQ(ran.exit_code, 11) << ran.err;
        EXPECT_EQ(fresh.cat(kDiagnostics + R"(\engine-none-apply.json)"), "");
        EXPECT_EQ(names(fresh.ls(decoy)), std::vector<std::string>{});
        if (c.name != "missing" && c.name.find("junction") == std::string::npos) {
            EXPECT_EQ(names(fresh.ls(kDiagnostics)), std::vector<std::string>{});
        }
        // The busy report is held back the same way.
        const auto held = fresh.run({"hold-lock", fresh.machine()});
        ASSERT_EQ(held.exit_code, 0) << held.err;
        EXPECT_EQ(fresh.engine(exe, {"--apply", "--root", kRoot}).exit_code, 12);
        EXPECT_EQ(names(fresh.ls(decoy)), std::vector<std::string>{});
    }
}

TEST_F(EarlyFailures, ASecondReportReplacesTheFirstAndALeftoverTemporaryIsOverwritten) {
    ASSERT_EQ(cli.run({"write", cli.machine(), kDiagnostics + R"(\engine-none-apply.json.tmp)",
                       "--text", "half a report from a run that died"})
                  .exit_code,
              0);
    ASSERT_EQ(cli.engine(engine, {}).exit_code, 11);
    const auto first = cli.ls(kDiagnostics);
    ASSERT_EQ(names(first), std::vector<std::string>{"engine-none-apply.json"});
    ASSERT_EQ(cli.engine(engine, {"--apply"}).exit_code, 11);
    const auto second = cli.ls(kDiagnostics);
    ASSERT_EQ(names(second), std::vector<std::string>{"engine-none-apply.json"});
    EXPECT_NE(first, second) << "the second report is a new file renamed over the first";
    EXPECT_EQ(report("apply"), early_report("apply", "refused", 11, "invalid_arguments"));
}

}  // namespace
}  // namespace holvar::e2e
