// `--apply` runs that must change nothing (refused, a restart first, another
// transaction unfinished) and the install failures around a fresh root.
#include <gtest/gtest.h>

#include <functional>

#include "install_machine.hpp"
#include "installer/entry.hpp"
#include "platform/security_types.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/unicode.hpp"
#include "txn/scm/scm_config.hpp"

namespace holvar::drivers::testing {
namespace {

namespace p = platform;

void write_unfinished_journal(InstallMachine& m, const std::string& txid) {
    m.stage(txid, runtime_v1());
    ASSERT_TRUE(
        m.machine->make_directory(stage_dir(txid) + u"\\journal", sim::administrators_sid()));
    ASSERT_TRUE(m.machine->write_file(stage_dir(txid) + u"\\journal\\txn.json", {'{'},
                                      sim::administrators_sid()));
}

// A run of v2 over v1 that must change nothing at all.
struct Refusal {
    const char* name;
    std::function<void(InstallMachine&)> arrange;  // after v1 is installed and v2 staged
    int exit_code;
    std::string primary;  // the report's primary fault, as nlohmann dumps it
    bool stage_kept;      // the stage's payload is still there afterwards
};

std::string fault(const std::string& phase, const std::string& reason,
                  const std::string& rel = "null") {
    return R"({"phase":")" + phase + R"(","reason":")" + reason + R"(","rel":)" + rel +
           R"(,"win32":null})";
}

const Refusal kRefusals[] = {
    {"pending_rename_under_the_root",
     [](InstallMachine& m) {
         sim::append_pending_rename(m.machine->state(), u"\\??\\" + kRoot + u"\\lib\\core.dll",
                                    u"");
     },
     13, fault("plan", "pending_reboot_ops"), false},
    {"recorded_location_is_another_root",
     [](InstallMachine& m) {
         sim::reg_set_value(
             m.machine->state().registry,
             u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Holvar",
             u"InstallLocation", sim::REG_SZ, sim::sz_bytes(u"\"C:\\Other\\Holvar\""));
     },
     11, fault("plan", "root_mismatch"), false},
    {"service_installed_for_another_root",
     [](InstallMachine& m) {
         m.machine->state().scm.services.at(u"HOLVAR_SERVICE").binary_path =
             u"\"C:\\Other\\resources\\holvar-service.exe\"";
     },
     11, fault("plan", "root_mismatch"), false},
    {"root_owned_by_an_ordinary_user",
     [](InstallMachine& m) { ASSERT_TRUE(m.machine->set_owner(kRoot, sim::user_token().user)); },
     11, fault("plan", "unsafe_object"), false},
    {"folder_above_the_root_writable_by_users",
     [](InstallMachine& m) {
         p::Acl dacl;
         dacl.aces.push_back(p::Ace{p::ACCESS_ALLOWED_ACE_TYPE, 0, 20, 0x001F01FF,
                                    *p::sid_from_string(p::sids::local_system)});
         dacl.aces.push_back(p::Ace{p::ACCESS_ALLOWED_ACE_TYPE, 0, 24, 0x001301BF,
                                    *p::sid_from_string(p::sids::users)});
         ASSERT_TRUE(m.machine->set_dacl(kParent, dacl, true));
     },
     11, fault("plan", "unsafe_object"), false},
    {"sibling_stage_with_an_unfinished_journal",
     [](InstallMachine& m) { write_unfinished_journal(m, kTx3); }, 20,
     fault("scan", "foreign_unfinished_journal", "\".Holvar-upgrade-" + kTx3 + "\""), true},
};

class RefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, ChangesNothing) {
    const Refusal& row = GetParam();
    InstallMachine m;
    m.install(kTx1, runtime_v1());
    m.stage(kTx2, runtime_v2());
    row.arrange(m);
    MachineView before = m.view();

    ASSERT_EQ(m.run(kTx2), row.exit_code) << m.report(kTx2).value_or("no report");
    std::string report = m.report(kTx2).value_or("");
    EXPECT_EQ(report_field(report, "/primary"), row.primary) << report;
    EXPECT_EQ(m.view(), before);
    EXPECT_EQ(m.marks(kTx2), std::vector<std::string>{});
    EXPECT_EQ(m.machine->exists(stage_dir(kTx2) + u"\\payload"), row.stage_kept);
    EXPECT_TRUE(m.service_running());
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A setup program that retries from the stage of a run left unfinished must
// not plan over it: the journal there is what a recovery needs.
TEST(ApplyEdge, OwnUnfinishedJournalIsNeverOverwritten) {
    InstallMachine m;
    write_unfinished_journal(m, kTx1);
    ASSERT_EQ(m.run(kTx1), 20);
    EXPECT_EQ(report_field(m.report(kTx1).value_or(""), "/primary"),
              fault("scan", "foreign_unfinished_journal", "\".Holvar-upgrade-" + kTx1 + "\""));
    EXPECT_EQ(m.text(stage_dir(kTx1) + u"\\journal\\txn.json"), "{");
    EXPECT_FALSE(m.machine->exists(kRoot));
}

// The engine under another name in the stage directory is not the stage's
// engine: exit 11, and no report (nothing says where one may go).
TEST(ApplyEdge, EngineUnderAnotherNameWritesNoReport) {
    InstallMachine m;
    m.stage(kTx1, runtime_v1());
    std::u16string copy = stage_dir(kTx1) + u"\\setup-copy.exe";
    ASSERT_TRUE(m.machine->write_file(copy, {'M', 'Z'}, sim::administrators_sid()));
    EXPECT_EQ(m.run(kTx1, u"--apply", copy), 11);
    EXPECT_EQ(m.names(kDiagnostics), std::vector<std::u16string>{});
    EXPECT_FALSE(m.machine->exists(stage_dir(kTx1) + u"\\diag.txt"));
    EXPECT_TRUE(m.machine->exists(stage_dir(kTx1) + u"\\payload"));
}

// A fresh install whose service fails verification: the root it made, and
// everything the new service made in it, go again; nothing is left.
TEST(ApplyEdge, FailedFreshInstallLeavesNothingBehind) {
    InstallMachine m;
    MachineView before = m.view();
    m.stage(kTx1, runtime_v2(service_text(
                      "broken", R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})")));
    ASSERT_EQ(m.run(kTx1), 10) << m.report(kTx1).value_or("no report");
    EXPECT_EQ(report_field(m.report(kTx1).value_or(""), "/primary/reason"), "\"verify_failed\"");
    EXPECT_EQ(m.view(), before);
    EXPECT_FALSE(m.machine->exists(kRoot));
}

// Someone else's file put into the new root while the install ran: the
// rollback takes away everything of the install and leaves the root with
// that file, rather than delete what is not the install's.
TEST(ApplyEdge, CreatedRootHoldingSomeoneElsesFileStays) {
    InstallMachine m;
    m.stage(kTx1, runtime_v2(service_text(
                      "broken", R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})")));
    m.machine->state().scm.on_call = [&](sim::Machine::State&, std::string_view call) {
        if (call != "start_service" || m.machine->exists(kRoot + u"\\notes.txt")) return;
        EXPECT_TRUE(
            m.machine->write_file(kRoot + u"\\notes.txt", {'h', 'i'}, sim::user_token().user));
    };
    ASSERT_EQ(m.run(kTx1), 10) << m.report(kTx1).value_or("no report");
    EXPECT_EQ(m.names(kRoot), std::vector<std::u16string>{u"notes.txt"});
    EXPECT_EQ(m.marks(kTx1), std::vector<std::string>{});  // ended and cleaned
}

// A root this install created, replaced by another directory of the same name
// while the install ran: the rollback never deletes the other directory; it
// stops with rollback / foreign_identity and leaves the journal for a person.
TEST(ApplyEdge, CreatedRootSwappedForAnotherDirectoryIsNeverDeleted) {
    InstallMachine m;
    m.stage(kTx1, runtime_v2(service_text(
                      "broken", R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})")));
    bool swapped = false;
    m.machine->state().scm.on_call = [&](sim::Machine::State&, std::string_view call) {
        if (swapped || call != "start_service") return;
        swapped = true;
        uint32_t pid =
            m.machine->spawn_process(u"C:\\Windows\\System32\\mover.exe", sim::admin_token());
        sim::ProcessOs mover(*m.machine, pid);
        auto root =
            mover.os().files.create_file(kRoot, p::DELETE | p::FILE_READ_ATTRIBUTES,
                                         p::FILE_SHARE_ALL, p::OPEN_EXISTING, p::OPEN_NO_FOLLOW);
        ASSERT_TRUE(root);
        ASSERT_TRUE(mover.os().files.set_file_rename_info_ex(*root, kParent + u"\\Moved", 0));
        root->reset();
        ASSERT_TRUE(m.machine->make_directory(kRoot, sim::administrators_sid()));
        ASSERT_TRUE(
            m.machine->write_file(kRoot + u"\\theirs.txt", {'x'}, sim::administrators_sid()));
    };
    ASSERT_EQ(m.run(kTx1), 20) << m.report(kTx1).value_or("no report");
    ASSERT_TRUE(swapped);
    std::string report = m.report(kTx1).value_or("");
    EXPECT_EQ(report_field(report, "/recovery_error/phase"), "\"rollback\"") << report;
    EXPECT_EQ(report_field(report, "/recovery_error/reason"), "\"foreign_identity\"") << report;
    EXPECT_EQ(m.names(kRoot), std::vector<std::u16string>{u"theirs.txt"});
    EXPECT_EQ(m.marks(kTx1).back(), "rolling_back");
}

// A root whose own name looks like a stage directory is the installation: the
// sweep of finished stages never deletes it.
TEST(ApplyEdge, RootNamedLikeAStageIsNeverSwept) {
    InstallMachine m;
    std::u16string lookalike = kParent + u"\\.Holvar-upgrade-" + p::ascii_to_utf16(kTx3);
    ASSERT_TRUE(m.machine->make_directory(lookalike, sim::administrators_sid()));
    auto id_before = m.machine->stat(lookalike)->file_id;
    m.stage(kTx2, runtime_v1());
    std::u16string exe = stage_dir(kTx2) + u"\\holvar-service-install.exe";
    uint32_t pid = m.machine->spawn_process(exe, sim::admin_token());
    {
        sim::ProcessOs process(*m.machine, pid);
        EXPECT_EQ(installer::run_engine(process.os(), {exe, u"--apply", u"--root", lookalike}), 0);
    }
    m.machine->exit_process(pid, 0);
    ASSERT_TRUE(m.machine->exists(lookalike + u"\\holvar-client.exe"));
    EXPECT_EQ(m.machine->stat(lookalike)->file_id, id_before);
}

// Each finished old stage is given a second of its own: a file locked in
// one costs an upgrade that second, never the whole placement budget.
TEST(ApplyEdge, OldStagesWithLockedFilesCostASecondEach) {
    auto upgrade_time = [](const std::vector<std::string>& locked_stages) {
        InstallMachine m;
        m.install(kTx1, runtime_v1());
        for (const std::string& txid : locked_stages) {
            m.stage_engine(txid);
            const std::u16string notes = stage_dir(txid) + u"\\notes.txt";
            EXPECT_TRUE(m.machine->write_file(notes, {'x'}, sim::administrators_sid()));
            m.hold_file(notes, std::nullopt);
        }
        m.stage(kTx2, runtime_v2());
        const auto started = m.machine->now();
        EXPECT_EQ(m.run(kTx2), 0) << m.report(kTx2).value_or("no report");
        return m.machine->now() - started;
    };
    const auto spent = upgrade_time({kTx3, std::string(32, '4')}) - upgrade_time({});
    EXPECT_GE(spent, std::chrono::seconds(2));
    EXPECT_LT(spent, std::chrono::seconds(3));
}

// A file held for a moment, within the placement budget, only delays the upgrade.
TEST(ApplyEdge, FileReleasedWithinTheBudgetCommits) {
    InstallMachine m;
    m.install(kTx1, runtime_v1());
    m.stage(kTx2, runtime_v2());
    m.hold_file(kRoot + u"\\lib\\core.dll", 5000);
    ASSERT_EQ(m.run(kTx2), 0) << m.report(kTx2).value_or("no report");
    EXPECT_EQ(m.text(kRoot + u"\\lib\\core.dll"), "core v2");
}

// The old service ignores the stop: the upgrade ends at the quiesce, and since
// nothing was placed the rollback does not need to stop it either.
TEST(ApplyEdge, ServiceThatIgnoresTheStopRollsBackWithTheOldServiceRunning) {
    InstallMachine m;
    Payload v1 = runtime_v1();
    v1[0].second = program_text(R"({"kind":"service","start_pending_ms":200,"ignore_stop":true})");
    m.install(kTx1, v1);
    m.stage(kTx2, runtime_v2());
    MachineView before = m.view();
    ASSERT_EQ(m.run(kTx2), 10) << m.report(kTx2).value_or("no report");
    EXPECT_EQ(report_field(m.report(kTx2).value_or(""), "/primary/reason"),
              "\"service_stop_timeout\"");
    EXPECT_EQ(m.view(), before);
    EXPECT_TRUE(m.service_running());
}

}  // namespace
}  // namespace holvar::drivers::testing
