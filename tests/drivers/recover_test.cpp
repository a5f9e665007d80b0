// `--recover` decides from the journal, the service and the root, and every
// decision is reached here through the real front end on a machine that an
// upgrade left at that point: outcome, report, marks and machine afterwards.
#include <gtest/gtest.h>

#include <functional>

#include "install_machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"

namespace holvar::drivers::testing {
namespace {

using txn::journal::Journal;
using txn::journal::MarkKind;

const std::u16string kUninstallKey =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Holvar";

// v1 installed and running, then the v2 upgrade committed but left
// unfinished: its registry write failed, so the journal (planned, fenced,
// placing, configured, committed, finalizing) stays in the stage.
struct Interrupted {
    InstallMachine m;
    MachineView v1;
    Interrupted() {
        m.install(kTx1, runtime_v1());
        v1 = m.view();
        auto& registry = m.machine->state().registry;
        sim::reg_add_read_filter(registry, kUninstallKey, u"DisplayName", sim::REG_SZ,
                                 sim::sz_bytes(u"Someone else"));
        m.install(kTx2, runtime_v2(), 5);
        registry.filters.clear();
    }
    // The journal as if the run had stopped after `last`.
    void cut_after(MarkKind last) {
        m.rewrite_journal(kTx2, [last](Journal& j) {
            while (!j.marks.empty() && j.marks.back().kind != last) j.marks.pop_back();
        });
    }
};

std::vector<std::string> marks_with(std::vector<std::string> base,
                                    std::initializer_list<const char*> more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

const std::vector<std::string> kToCommitted = {"planned", "fenced", "placing", "configured",
                                               "committed"};

struct Decision {
    const char* name;
    std::function<void(Interrupted&)> arrange;
    int exit_code;
    std::string primary;             // the report's primary fault, "null" for none
    std::vector<std::string> marks;  // afterwards, when the stage keeps its journal
    bool new_installation;           // v2 in place (else v1 back)
    std::u16string deleted = u"";    // a placed file an administrator deleted
};

std::string fault(const std::string& phase, const std::string& reason,
                  const std::string& win32 = "null", const std::string& rel = "null") {
    return R"({"phase":")" + phase + R"(","reason":")" + reason + R"(","rel":)" + rel +
           R"(,"win32":)" + win32 + "}";
}

const std::string kCoreDll = "\"lib\\\\core.dll\"";

const Decision kDecisions[] = {
    {"committed_is_confirmed_and_finalized",
     [](Interrupted& s) { s.cut_after(MarkKind::committed); },
     0,
     "null",
     {},
     true},
    {"finalizing_is_resumed", [](Interrupted&) {}, 0, "null", {}, true},
    {"placing_is_rolled_back",
     [](Interrupted& s) { s.cut_after(MarkKind::placing); },
     10,
     "null",
     {},
     false},
    {"configured_is_rolled_back",
     [](Interrupted& s) { s.cut_after(MarkKind::configured); },
     10,
     "null",
     {},
     false},
    {"committed_with_a_placed_file_deleted_by_hand_is_rolled_back",
     [](Interrupted& s) {
         s.cut_after(MarkKind::committed);
         ASSERT_TRUE(s.m.machine->remove(kRoot + u"\\lib\\core.dll"));
     },
     10,
     fault("verify", "foreign_identity", "null", kCoreDll),
     {},
     false},
    // An administrator cleaning up after a power cut: the commit stands and
    // the finalize completes without the file; nothing waits for it.
    {"finalizing_with_a_placed_file_deleted_by_hand_is_finalized",
     [](Interrupted& s) { ASSERT_TRUE(s.m.machine->remove(kRoot + u"\\lib\\extra.dll")); },
     0,
     "null",
     {},
     true,
     u"lib\\extra.dll"},
    // Someone else's file where the new one was: the rollback will not put
    // the old file over it, and the machine waits for a person.
    {"committed_with_a_placed_file_replaced_by_another_is_left_pending",
     [](Interrupted& s) {
         s.cut_after(MarkKind::committed);
         ASSERT_TRUE(s.m.machine->remove(kRoot + u"\\lib\\core.dll"));
         ASSERT_TRUE(
             s.m.machine->write_file(kRoot + u"\\lib\\core.dll", {'x'}, sim::administrators_sid()));
     },
     20, fault("verify", "foreign_identity", "null", kCoreDll),
     marks_with(kToCommitted, {"rolling_back"}), false},
    {"a_rollback_once_begun_is_finished",
     [](Interrupted& s) {
         s.m.rewrite_journal(kTx2, [](Journal& j) { j.marks.push_back(MarkKind::rolling_back); });
     },
     10,
     "null",
     {},
     false},
    {"an_ended_journal_is_only_cleaned",
     [](Interrupted& s) {
         s.m.rewrite_journal(kTx2, [](Journal& j) { j.marks.push_back(MarkKind::finalized); });
     },
     15,
     "null",
     {},
     true},
    {"a_journal_of_another_transaction_is_left",
     [](Interrupted& s) { s.m.rewrite_journal(kTx2, [](Journal& j) { j.txid = kTx3; }); }, 20,
     fault("scan", "journal_corrupt"), marks_with(kToCommitted, {"finalizing"}), true},
    {"a_journal_of_another_root_is_left",
     [](Interrupted& s) {
         s.m.rewrite_journal(kTx2, [](Journal& j) { j.root.path = u"C:\\Program Files\\Other"; });
     },
     20, fault("scan", "root_mismatch"), marks_with(kToCommitted, {"finalizing"}), true},
    {"a_journal_of_a_later_format_is_unsupported",
     [](Interrupted& s) {
         auto text = s.m.text(stage_dir(kTx2) + u"\\journal\\txn.json").value_or("");
         text.replace(text.find("\"format\":1"), 10, "\"format\":2");
         s.m.write_journal_text(kTx2, text);
     },
     21,
     fault("scan", "journal_unsupported"),
     {},
     true},
    {"a_service_that_will_not_start_keeps_the_finalize_pending",
     [](Interrupted& s) {
         s.m.machine->exit_process(s.m.machine->state().scm.services.at(u"HOLVAR_SERVICE").pid, 1);
         s.m.machine->add_fault({std::nullopt, "start_service", 1053, false});
     },
     5,
     fault("finalize", "scm_error", "1053"),
     {},
     true},
};

void PrintTo(const Decision& row, std::ostream* os) {
    *os << row.name;
}

class DecisionTest : public ::testing::TestWithParam<Decision> {};

TEST_P(DecisionTest, EndsWhereTheJournalSays) {
    const Decision& row = GetParam();
    Interrupted s;
    MachineView v2 = s.m.view();
    row.arrange(s);
    int code = s.m.run(kTx2, u"--recover");
    s.m.machine->clear_faults();
    std::string report = s.m.report(kTx2, "recover").value_or("");
    ASSERT_EQ(code, row.exit_code) << report;
    EXPECT_EQ(report_field(report, "/primary"), row.primary) << report;
    EXPECT_EQ(s.m.marks(kTx2), row.marks);
    MachineView after = s.m.view();
    v2.tree.erase(row.deleted);
    // The stale folders go only with a finalize that completes.
    MachineView v1 = s.v1;
    for (const char16_t* stale : {u"assets\\old", u"locales\\de"}) {
        after.tree.erase(stale);
        v2.tree.erase(stale);
        v1.tree.erase(stale);
    }
    if (!row.marks.empty() && row.marks.back() == "rolling_back") {
        // Found before anything was undone: the new runtime stays running,
        // and the report names the file a person must deal with.
        EXPECT_EQ(report_field(report, "/recovery_error/rel"), kCoreDll);
        after.tree.erase(u"lib\\core.dll");
        v2.tree.erase(u"lib\\core.dll");
        EXPECT_EQ(after.tree, v2.tree);
        EXPECT_TRUE(s.m.service_running());
    } else if (row.new_installation) {
        EXPECT_EQ(after.tree, v2.tree);
    } else {
        EXPECT_EQ(after.tree, v1.tree);
        EXPECT_EQ(after.service, v1.service);
    }
    // Every recovery that ended its journal is final: the next one finds
    // nothing to do and changes nothing.
    if (code != 20 && code != 21) {
        MachineView settled = s.m.view();
        EXPECT_EQ(s.m.run(kTx2, u"--recover"), 15);
        EXPECT_EQ(s.m.view(), settled);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, DecisionTest, ::testing::ValuesIn(kDecisions),
                         [](const auto& info) { return std::string(info.param.name); });

// A person's hands on the service image the upgrade placed, once the service
// was pointed at it and started, before `--recover`. Deleted (on Windows:
// moved away, since a running image cannot be deleted) while the new service
// runs from it, the process can no longer be proven to be this root's
// service, and nothing stops it: the recovery waits until a restart ends it,
// then rolls back. Replaced by a person's own file, that file is never
// overwritten: the recovery waits, the old image kept in the rollback
// folder, until the person takes their file away.
struct ImageHand {
    const char* name;
    bool replaced;
    std::string primary;  // of the recoveries that wait
};

const std::string kServiceImage = "\"resources\\\\holvar-service.exe\"";

const ImageHand kImageHands[] = {
    {"deleted_while_its_service_runs", false, fault("rollback", "service_stop_timeout")},
    {"replaced_by_a_persons_file", true,
     fault("rollback", "foreign_identity", "null", kServiceImage)},
};

class PlacedServiceImage : public ::testing::TestWithParam<ImageHand> {};

TEST_P(PlacedServiceImage, WaitsForAPersonOrARestartThenRollsBack) {
    const ImageHand& row = GetParam();
    const std::u16string image = kRoot + u"\\resources\\holvar-service.exe";
    const std::u16string kept = stage_dir(kTx2) + u"\\rollback\\resources\\holvar-service.exe";
    Interrupted s;
    s.cut_after(MarkKind::configured);
    ASSERT_TRUE(s.m.service_running());
    ASSERT_TRUE(s.m.machine->remove(image));
    if (row.replaced) {
        ASSERT_TRUE(s.m.machine->write_file(image, {'x'}, sim::administrators_sid()));
    }
    // Each recovery that waits leaves the files as they are (the service
    // only disabled, so that a restart does not start it), and the next one
    // changes nothing.
    for (bool restarted : {false, true}) {
        if (restarted) s.m.machine->reboot();
        if (restarted && !row.replaced) break;
        const auto files = s.m.view().tree;
        ASSERT_EQ(s.m.run(kTx2, u"--recover"), 20);
        const std::string report = s.m.report(kTx2, "recover").value_or("");
        EXPECT_EQ(report_field(report, "/primary"), row.primary) << report;
        const MachineView waiting = s.m.view();
        EXPECT_EQ(waiting.tree, files);
        EXPECT_EQ(s.m.run(kTx2, u"--recover"), 20);
        EXPECT_EQ(s.m.view(), waiting);
        EXPECT_EQ(s.m.marks(kTx2).back(), "rolling_back");
        EXPECT_EQ(s.m.text(kept), service_text("v1"));
    }
    if (row.replaced) {
        EXPECT_EQ(s.m.text(image), "x");
        ASSERT_TRUE(s.m.machine->remove(image));
    }
    ASSERT_EQ(s.m.run(kTx2, u"--recover"), 10) << s.m.report(kTx2, "recover").value_or("");
    MachineView after = s.m.view();
    MachineView v1 = s.v1;
    for (const char16_t* stale : {u"assets\\old", u"locales\\de"}) {
        after.tree.erase(stale);
        v1.tree.erase(stale);
    }
    EXPECT_EQ(after.tree, v1.tree);
    EXPECT_EQ(after.service, v1.service);
    EXPECT_EQ(s.m.run(kTx2, u"--recover"), 15);
}

INSTANTIATE_TEST_SUITE_P(Rows, PlacedServiceImage, ::testing::ValuesIn(kImageHands),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Recover, NothingToRecoverWithoutAJournal) {
    InstallMachine m;
    m.stage(kTx1, runtime_v1());
    EXPECT_EQ(m.run(kTx1, u"--recover"), 15);
    EXPECT_FALSE(m.machine->exists(stage_dir(kTx1) + u"\\payload"));
}

// A rollback that cannot stop the service leaves the journal at
// "rolling_back"; once the service is dealt with, the next recovery finishes.
TEST(Recover, AFailedRollbackIsTakenUpAgain) {
    InstallMachine m;
    Payload v1 = runtime_v1();
    m.install(kTx1, v1);
    Payload v2 =
        runtime_v2(program_text(R"({"kind":"service","start_pending_ms":200,"ignore_stop":true})"));
    auto& registry = m.machine->state().registry;
    sim::reg_add_read_filter(registry, kUninstallKey, u"DisplayName", sim::REG_SZ,
                             sim::sz_bytes(u"Someone else"));
    m.install(kTx2, v2, 5);
    registry.filters.clear();
    m.rewrite_journal(kTx2, [](Journal& j) {
        while (j.marks.back().kind != MarkKind::committed) j.marks.pop_back();
    });
    ASSERT_TRUE(m.machine->remove(kRoot + u"\\readme.txt"));

    ASSERT_EQ(m.run(kTx2, u"--recover"), 20);
    std::string report = m.report(kTx2, "recover").value_or("");
    EXPECT_EQ(report_field(report, "/primary"),
              fault("verify", "foreign_identity", "null", "\"readme.txt\""))
        << report;
    EXPECT_EQ(report_field(report, "/recovery_error/reason"), "\"service_stop_timeout\"") << report;
    EXPECT_EQ(m.marks(kTx2).back(), "rolling_back");

    // The stubborn service process goes; the rollback runs once more.
    m.machine->exit_process(m.machine->state().scm.services.at(u"HOLVAR_SERVICE").pid, 1);
    ASSERT_EQ(m.run(kTx2, u"--recover"), 10) << m.report(kTx2, "recover").value_or("");
    EXPECT_EQ(m.text(kRoot + u"\\readme.txt"), "Holvar v1");
    EXPECT_EQ(m.run(kTx2, u"--recover"), 15);
}

}  // namespace
}  // namespace holvar::drivers::testing
