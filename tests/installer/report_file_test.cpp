// Where the report lands and when it does not: the diagnostics directory must
// be trusted, the write is atomic, and "diag.txt" points at the result.
#include <gtest/gtest.h>

#include "engine_machine.hpp"
#include "txn/outcome/report_file.hpp"
#include "txn/outcome/report_json.hpp"

namespace holvar::installer::testing {

using namespace holvar::txn::outcome;
namespace {

const std::vector<std::u16string> invalid_argv = {engine_exe, u"--apply"};
const std::u16string elsewhere = u"C:\\Elsewhere";

struct UntrustedCase {
    const char* name;
    std::function<void(EngineMachine&)> setup;
};

TEST(ReportFile, UntrustedOrMissingDiagnosticsDirectoryGetsNoReport) {
    const std::vector<UntrustedCase> cases = {
        {"missing", [](EngineMachine& m) { ASSERT_TRUE(m.machine->remove(diagnostics)); }},
        {"user_owned",
         [](EngineMachine& m) { ASSERT_TRUE(m.machine->set_owner(diagnostics, ordinary_user())); }},
        {"junction_to_trusted_directory",
         [](EngineMachine& m) {
             ASSERT_TRUE(m.machine->remove(diagnostics));
             ASSERT_TRUE(m.machine->make_junction(diagnostics, elsewhere, administrators()));
         }},
        {"file",
         [](EngineMachine& m) {
             ASSERT_TRUE(m.machine->remove(diagnostics));
             ASSERT_TRUE(m.machine->write_file(diagnostics, {'x'}, administrators()));
         }},
    };
    for (const UntrustedCase& c : cases) {
        EngineMachine m;
        ASSERT_TRUE(m.machine->make_directory(elsewhere, administrators()));
        c.setup(m);
        EXPECT_EQ(m.run(invalid_argv), 11) << c.name;
        EXPECT_FALSE(m.report(u"engine-none-apply.json")) << c.name;
        EXPECT_TRUE(m.names(elsewhere).empty()) << c.name;
    }
}

TEST(ReportFile, SecondReportOfTheSameNameReplacesTheFirst) {
    EngineMachine m;
    uint32_t holder = m.hold_lock();
    EXPECT_EQ(m.run({engine_exe, u"--apply", u"--root", root}), 12);
    EXPECT_EQ(m.report(u"engine-none-apply.json"),
              early_report("apply", "busy", 12, "mutex_failed"));
    m.kill(holder);
    EXPECT_EQ(m.run(invalid_argv), 11);
    EXPECT_EQ(m.report(u"engine-none-apply.json"),
              early_report("apply", "refused", 11, "invalid_arguments"));
    EXPECT_EQ(m.names(diagnostics), std::vector<std::u16string>{u"engine-none-apply.json"});
}

TEST(ReportFile, LeftoverTemporaryFromACrashIsOverwritten) {
    EngineMachine m;
    const std::u16string tmp = diagnostics + u"\\engine-none-apply.json.tmp";
    ASSERT_TRUE(m.machine->write_file(tmp, std::vector<uint8_t>(5000, 'z'), administrators()));
    EXPECT_EQ(m.run(invalid_argv), 11);
    EXPECT_EQ(m.report(u"engine-none-apply.json"),
              early_report("apply", "refused", 11, "invalid_arguments"));
    EXPECT_FALSE(m.machine->exists(tmp));
}

TEST(ReportFile, PlantedTemporaryIsNeverWrittenThrough) {
    // The diagnostics directory is trusted by its owner only: an ordinary user
    // may still have planted a link at the temporary name.
    const std::u16string tmp = diagnostics + u"\\engine-none-apply.json.tmp";
    const std::u16string victim = elsewhere + u"\\victim.txt";
    const std::vector<std::pair<const char*, std::function<void(EngineMachine&)>>> plants = {
        {"hard_link",
         [&](EngineMachine& m) { ASSERT_TRUE(m.machine->make_hard_link(tmp, victim)); }},
        {"junction",
         [&](EngineMachine& m) {
             ASSERT_TRUE(m.machine->make_junction(tmp, elsewhere, ordinary_user()));
         }},
        {"symlink",
         [&](EngineMachine& m) {
             ASSERT_TRUE(m.machine->make_symlink(tmp, victim, ordinary_user()));
         }},
        {"directory",
         [&](EngineMachine& m) { ASSERT_TRUE(m.machine->make_directory(tmp, ordinary_user())); }},
    };
    for (const auto& [name, plant] : plants) {
        EngineMachine m;
        ASSERT_TRUE(m.machine->make_directory(elsewhere, administrators()));
        ASSERT_TRUE(m.machine->write_file(victim, {'k', 'e', 'e', 'p'}, administrators()));
        plant(m);
        EXPECT_EQ(m.run(invalid_argv), 11) << name;
        EXPECT_EQ(m.report(u"engine-none-apply.json"),
                  early_report("apply", "refused", 11, "invalid_arguments"))
            << name;
        EXPECT_EQ(m.text(victim), "keep") << name;
        EXPECT_EQ(m.names(elsewhere), std::vector<std::u16string>{u"victim.txt"}) << name;
        EXPECT_FALSE(m.machine->exists(tmp)) << name;
    }
}

// write_outcome_report called as a driver's finalize step does.
struct DriverReport {
    EngineMachine m;
    uint32_t pid = m.machine->spawn_process(engine_exe, sim::admin_token());
    sim::ProcessOs process{*m.machine, pid};
    OutcomeReport report;

    DriverReport() {
        report.command = Command::recover;
        report.txid = txid;
        report.outcome = OutcomeKind::nothing_to_recover;
    }
    bool write(const std::u16string& diag_dir = diagnostics) {
        return write_outcome_report(process.os(), stage, diag_dir, report);
    }
};

TEST(ReportFile, DiagPointerNamesTheReportWithoutTheVerbatimPrefix) {
    DriverReport d;
    EXPECT_TRUE(d.write());
    const std::u16string name = u"engine-" + txid16 + u"-recover.json";
    EXPECT_EQ(d.m.report(name), serialize_report(d.report));
    EXPECT_EQ(d.m.text(stage + u"\\diag.txt"),
              "C:\\Program Files\\Holvar\\Holvar-Install-Diagnostics\\engine-" + txid +
                  "-recover.json\n");
}

TEST(ReportFile, DiagPointerNamesTheDirectoryItselfNotTheWayThroughALink) {
    // The diagnostics directory reached through a junction higher up: the
    // pointer holds the final path, as the directory is really named.
    DriverReport d;
    ASSERT_TRUE(d.m.machine->make_junction(u"C:\\Via", parent, administrators()));
    EXPECT_TRUE(d.write(u"C:\\Via\\holvar-install-diagnostics"));
    EXPECT_EQ(d.m.text(stage + u"\\diag.txt"),
              "C:\\Program Files\\Holvar\\Holvar-Install-Diagnostics\\engine-" + txid +
                  "-recover.json\n");
}

struct UnavailableCase {
    const char* name;
    std::string txid;
    bool remove_diagnostics;
};

TEST(ReportFile, DiagPointerSaysUnavailableWhenNoReportWasWritten) {
    const std::vector<UnavailableCase> cases = {
        {"diagnostics_missing", txid, true},
        {"txid_upper_case", "0123456789ABCDEF0123456789abcdef", false},
        {"txid_short", "0123456789abcdef", false},
        {"txid_path", "..\\..\\Windows\\x", false},
        {"txid_empty", "", false},
    };
    for (const UnavailableCase& c : cases) {
        DriverReport d;
        d.report.txid = c.txid;
        if (c.remove_diagnostics) {
            ASSERT_TRUE(d.m.machine->remove(diagnostics));
        }
        EXPECT_FALSE(d.write()) << c.name;
        EXPECT_EQ(d.m.text(stage + u"\\diag.txt"), "unavailable\n") << c.name;
        EXPECT_TRUE(d.m.names(diagnostics).empty()) << c.name;
    }
}

TEST(ReportFile, TxidNoneIsAValidName) {
    DriverReport d;
    d.report.txid = "none";
    EXPECT_TRUE(d.write());
    EXPECT_TRUE(d.m.report(u"engine-none-recover.json"));
}

TEST(ReportFile, EarlyFailureWithoutRootUsesTheExecutablesGrandparent) {
    // A root without a parent: the report still goes two levels above the engine.
    EngineMachine m;
    EXPECT_EQ(m.run({engine_exe, u"--remove", u"--root", u"C:\\"}), 11);
    EXPECT_EQ(m.report(u"engine-none-remove.json"),
              early_report("remove", "refused", 11, "stage_invalid"));
}

TEST(ReportFile, EarlyFailureWithoutAnyPlaceForTheReportStillEndsWithItsCode) {
    EngineMachine m;
    const std::u16string top_exe = u"C:\\holvar-service-install.exe";
    ASSERT_TRUE(m.machine->write_file(top_exe, {'M', 'Z'}, administrators()));
    EXPECT_EQ(m.run({top_exe}, nullptr, top_exe), 11);
}

}  // namespace
}  // namespace holvar::installer::testing
