// An ordinary user on the same machine tries to trick the elevated engine:
// forge its journal, slip it a link, leave it files they can still change,
// redirect a deletion scheduled for the restart, or get a program of theirs
// started. The attacker acts only through calls the simulated machine checks
// against the DACLs, as Windows checks theirs. Whatever they do, nothing
// outside the root, the stages and the diagnostics directory changes, and no
// program they could write is configured as the service or started. The
// same transactions from a stage made as the guide for setup programs says
// work under a drive root too.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "install_machine.hpp"
#include "managed_v3/identity/path_walk.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/sddl.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/user_hands.hpp"
#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/scm/scm_config.hpp"
#include "txn/test_seam.hpp"

namespace holvar::drivers::testing {
namespace {

namespace p = platform;

const std::u16string kDrive = u"C:";
const std::u16string kApps = u"C:\\Apps";
const std::u16string kEvilDir = u"C:\\evil";
const std::u16string kEvil = kEvilDir + u"\\holvar-service.exe";
const std::u16string kSystem32 = u"C:\\Windows\\System32";
const std::u16string kSystemFile = kSystem32 + u"\\kernel.dll";
const std::u16string kSessionManager = u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::vector<uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// The machine of the scenario: an installation root under `parent`, a
// system file worth aiming at, and the user's own folder with a program of
// theirs in it.
struct Attack : InstallMachine {
    explicit Attack(const std::u16string& parent, bool protect_diagnostics = true)
        : InstallMachine(parent, protect_diagnostics) {
        protect = true;
        EXPECT_TRUE(machine->write_file(kSystemFile, bytes("MZ system"), sim::system_sid()));
        sim::UserHands hands(*machine);
        EXPECT_TRUE(hands.make_directory(kEvilDir));
        EXPECT_TRUE(hands.write_file(kEvil, bytes(program_text(R"({"kind":"service"})"))));
    }

    sim::UserHands hands() { return sim::UserHands(*machine); }

    // An administrator's object given a DACL that lets Users change it.
    void grant_users(const std::u16string& path) {
        auto parts = sim::parse_sddl(u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)");
        ASSERT_TRUE(parts && parts->dacl);
        ASSERT_TRUE(machine->set_dacl(path, *parts->dacl, true));
    }

    // A journal as the engine would write it for stage T2, whose rollback
    // would configure the user's program as the service.
    std::string forged_journal() const {
        txn::journal::Journal j;
        j.txid = kTx2;
        j.engine_version = std::string(txn::journal::engine_version);
        j.root = {root, 0x1234abcd5678ef90, std::nullopt};
        j.stage = {stage_path(kTx2), 0x1234abcd5678ef90, std::nullopt};
        txn::scm::ScmConfig evil = txn::scm::desired_scm_config(root);
        evil.binary_path = u"\"" + kEvil + u"\"";
        j.scm_before = evil;
        j.marks = {txn::journal::MarkKind::planned};
        return txn::journal::encode_journal(j).value_or("");
    }

    // The user writes that journal at T2's place for it.
    void forge_journal() {
        auto h = hands();
        (void)h.make_directory(stage_path(kTx2) + u"\\journal");
        ASSERT_TRUE(
            h.write_file(stage_path(kTx2) + u"\\journal\\txn.json", bytes(forged_journal())));
    }

    int remove_from(const std::string& txid, const std::u16string& target) {
        stage_engine(txid);
        return run_with(txid, {u"--remove", u"--root", target});
    }

    // Every object outside the root, the stages and the diagnostics
    // directory: kind, file id, a link's target and contents (not the link
    // count: a name inside the root may be a second name of an object).
    std::map<std::u16string, std::string> outside() const {
        std::map<std::u16string, std::string> out;
        collect(u"C:\\", out);
        return out;
    }

    // The processes the machine has had, alive or ended.
    std::set<uint32_t> pids() const {
        std::set<uint32_t> out;
        for (const auto& [pid, process] : machine->state().processes) out.insert(pid);
        return out;
    }

    std::vector<std::u16string> pending_deletions() const {
        const sim::RegValue* value = sim::reg_find_value(machine->state().registry, kSessionManager,
                                                         u"PendingFileRenameOperations");
        return value ? sim::multi_sz_strings(value->data) : std::vector<std::u16string>{};
    }

  private:
    bool skipped(const std::u16string& path) const {
        if (p::paths_equal(path, root) || p::paths_equal(path, diagnostics)) return true;
        auto name = p::file_name(path);
        auto dir = p::parent_path(path);
        auto stages = p::parent_path(root);
        return name && dir && stages && p::paths_equal(*dir, *stages) &&
               name->starts_with(u".Holvar-upgrade-");
    }

    void collect(const std::u16string& dir, std::map<std::u16string, std::string>& out) const {
        auto listed = machine->list(dir);
        if (!listed) return;
        for (const sim::NodeInfo& n : *listed) {
            if (n.name == u"." || n.name == u"..") continue;
            const std::u16string path = p::join_path(dir, n.name);
            if (skipped(path)) continue;
            std::string line = std::to_string(static_cast<int>(n.kind)) + " " +
                               std::to_string(n.file_id[0]) + std::to_string(n.file_id[1]) + " " +
                               p::utf16_to_utf8_lossy(n.reparse_target);
            if (n.kind == sim::NodeKind::file) {
                auto data = machine->read_file(path);
                if (data) line += " " + std::string(data->begin(), data->end());
            }
            out[path] = line;
            if (n.kind == sim::NodeKind::directory) collect(path, out);
        }
    }
};

// The image at `path` is one nobody but the system and the administrators
// can change, as the engine's own walk sees it.
bool trusted_image(sim::Machine& machine, const std::u16string& path) {
    const uint32_t pid =
        machine.spawn_process(u"C:\\Windows\\System32\\checker.exe", sim::admin_token());
    bool trusted = false;
    {
        sim::ProcessOs process(machine, pid);
        trusted = v3::walk_trusted_path(process.os(), path).has_value();
    }
    machine.exit_process(pid, 0);
    return trusted;
}

std::u16string unquoted(std::u16string text) {
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"')
        text = text.substr(1, text.size() - 2);
    return text;
}

struct Scenario {
    const char* name;
    std::u16string parent;
    bool protect_diagnostics = true;
    // What the setup program and the user did before the engine runs.
    std::function<void(Attack&)> arrange;
    // The engine's run (or runs); the last one's exit code and report.
    std::function<int(Attack&)> act;
    int exit_code;
    std::string command = "apply";
    std::string txid = kTx2;
    std::map<std::string, std::string> fields;  // report pointer -> JSON text; empty: none
    bool report_written = true;
    // What the user does next, and whether a restart follows.
    std::function<void(Attack&)> afterwards = [](Attack&) {};
    std::vector<std::u16string> never_started = {};
};

std::string str(const char* text) {
    return "\"" + std::string(text) + "\"";
}

int apply_v2(Attack& m) {
    m.stage(kTx2, runtime_v2());
    return m.run(kTx2);
}

const Scenario kScenarios[] = {
    // A stage an administrator made plainly under C:\ inherits modify rights
    // for every user, who may forge its journal: never used at all.
    {.name = "forged_journal_in_a_plain_stage_under_the_drive_root",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             m.protect = false;
             m.stage(kTx2, runtime_v2());
             m.forge_journal();
         },
     .act =
         [](Attack& m) {
             EXPECT_EQ(m.run(kTx2), 11);
             return m.run(kTx2, u"--recover");
         },
     .exit_code = 11,
     .command = "recover",
     // Refused before the stage is taken as this transaction's: a stage
     // that cannot be trusted gets no diag.txt, and there is no report.
     .fields = {},
     .report_written = false},
    // A trusted stage, but a journal folder left writable by users: the
    // forged journal is never acted on, and the report names the folder.
    {.name = "forged_journal_in_a_writable_journal_folder",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             m.stage(kTx2, runtime_v2());
             ASSERT_TRUE(m.machine->make_directory(m.stage_path(kTx2) + u"\\journal",
                                                   sim::administrators_sid()));
             m.grant_users(m.stage_path(kTx2) + u"\\journal");
             m.forge_journal();
         },
     .act =
         [](Attack& m) {
             EXPECT_EQ(m.run(kTx2), 20);
             return m.run(kTx2, u"--recover");
         },
     .exit_code = 20,
     .command = "recover",
     .fields = {{"/primary/reason", str("journal_corrupt")}, {"/primary/rel", str("journal")}}},
    // The journal folder is a junction to the user's folder: nothing is read
    // from it or written through it.
    {.name = "journal_folder_is_a_junction",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             m.stage(kTx2, runtime_v2());
             ASSERT_TRUE(m.machine->make_junction(m.stage_path(kTx2) + u"\\journal", kEvilDir,
                                                  sim::administrators_sid()));
         },
     .act = [](Attack& m) { return m.run(kTx2, u"--recover"); },
     .exit_code = 20,
     .command = "recover",
     .fields = {{"/primary/reason", str("journal_corrupt")}, {"/primary/rel", str("journal")}}},
    // The engine's rollback folder is a junction: a stage holding a
    // rollback folder has been used before, and is refused untouched.
    {.name = "rollback_folder_is_a_junction",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             m.stage(kTx2, runtime_v2());
             ASSERT_TRUE(m.machine->make_junction(m.stage_path(kTx2) + u"\\rollback", kEvilDir,
                                                  sim::administrators_sid()));
         },
     .act = [](Attack& m) { return m.run(kTx2); },
     .exit_code = 11,
     .fields = {{"/primary/reason", str("stage_invalid")}, {"/primary/rel", str("rollback")}}},
    // Moved files keep their own DACL: a payload file the user may change
    // would become the service's image.
    {.name = "payload_image_the_user_may_change",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             m.stage(kTx2, runtime_v2());
             m.grant_users(m.stage_path(kTx2) + u"\\payload\\resources\\holvar-service.exe");
         },
     .act = [](Attack& m) { return m.run(kTx2); },
     .exit_code = 11,
     .fields = {{"/primary/phase", str("plan")},
                {"/primary/reason", str("unsafe_object")},
                {"/primary/rel", str("payload\\\\resources\\\\holvar-service.exe")}}},
    {.name = "payload_client_with_a_second_name",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             m.stage(kTx2, runtime_v2());
             ASSERT_TRUE(
                 m.machine->make_hard_link(u"C:\\Windows\\client-copy.exe",
                                           m.stage_path(kTx2) + u"\\payload\\holvar-client.exe"));
         },
     .act = [](Attack& m) { return m.run(kTx2); },
     .exit_code = 11,
     .fields = {{"/primary/rel", str("payload\\\\holvar-client.exe")}}},
    {.name = "plain_stage_under_the_drive_root",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             m.protect = false;
         },
     .act = apply_v2,
     .exit_code = 11,
     .fields = {},
     .report_written = false},
    // Every user may rename C:\Apps and put a link in its place.
    {.name = "user_writable_folder_above_the_root",
     .parent = kApps,
     .arrange = [](Attack&) {},
     .act =
         [](Attack& m) {
             m.stage(kTx2, runtime_v1());
             return m.run(kTx2);
         },
     .exit_code = 11,
     .fields = {{"/primary/phase", str("plan")}, {"/primary/reason", str("unsafe_object")}}},
    // A folder under the root that users may write, with a file of theirs
    // held open in it: scheduling it for the restart would let them swap the
    // folder for a junction into System32 first.
    {.name = "restart_deletion_in_a_user_writable_folder",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             const std::u16string shared = m.root + u"\\service-logs";
             if (!m.machine->exists(shared)) {
                 ASSERT_TRUE(m.machine->make_directory(shared, sim::system_sid()));
             }
             m.grant_users(shared);
             auto h = m.hands();
             ASSERT_TRUE(h.make_directory(shared + u"\\x"));
             ASSERT_TRUE(h.write_file(shared + u"\\x\\kernel.dll", bytes("mine")));
             ASSERT_TRUE(h.hold(shared + u"\\x\\kernel.dll", p::FILE_SHARE_READ));
         },
     .act = [](Attack& m) { return m.remove_from(kTx2, m.root); },
     .exit_code = 32,
     .command = "remove",
     .fields = {{"/primary/phase", str("remove_tree")},
                {"/primary/reason", str("schedule_failed")},
                {"/primary/rel", str("service-logs\\\\x\\\\kernel.dll")}},
     .afterwards =
         [](Attack& m) {
             // Let go, empty the folder and put a junction into System32 in
             // its place: the restart must find nothing scheduled there.
             for (uint32_t pid : m.pids())
                 if (m.machine->state().processes.at(pid).image.ends_with(u"notepad.exe"))
                     m.machine->exit_process(pid, 0);
             const std::u16string x = m.root + u"\\service-logs\\x";
             auto h = m.hands();
             EXPECT_TRUE(h.remove(x + u"\\kernel.dll"));
             EXPECT_TRUE(h.remove(x));
             EXPECT_TRUE(h.make_junction(x, kSystem32));
             EXPECT_EQ(m.pending_deletions(), std::vector<std::u16string>{});
             m.machine->reboot();
         }},
    // The client the removal runs with the engine's token is one the user
    // may rewrite: it is never started.
    {.name = "maintenance_client_the_user_may_change",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             m.grant_users(m.root + u"\\holvar-client.exe");
             ASSERT_TRUE(m.hands().write_file(m.root + u"\\holvar-client.exe",
                                              bytes(program_text(R"({"kind":"client"})"))));
         },
     .act = [](Attack& m) { return m.remove_from(kTx2, m.root); },
     .exit_code = 30,
     .command = "remove",
     .fields = {{"/maintenance/0/error", str("skipped")}},
     .never_started = {u"C:\\Holvar\\holvar-client.exe"}},
    {.name = "maintenance_client_with_a_second_name",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             m.install(kTx1, runtime_v1());
             ASSERT_TRUE(m.machine->make_hard_link(u"C:\\Windows\\client-copy.exe",
                                                   m.root + u"\\holvar-client.exe"));
         },
     .act = [](Attack& m) { return m.remove_from(kTx2, m.root); },
     .exit_code = 30,
     .command = "remove",
     .fields = {{"/maintenance/0/error", str("skipped")}},
     .never_started = {u"C:\\Holvar\\holvar-client.exe"}},
    // A slip of the command line: nothing ties the folder to the product.
    // ProgramData lets every user add files, so it is not even trusted.
    {.name = "removal_of_a_folder_nothing_ties_to_the_product",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             ASSERT_TRUE(m.machine->write_file(u"C:\\Program Files\\keep.dat", bytes("keep"),
                                               sim::system_sid()));
         },
     .act = [](Attack& m) { return m.remove_from(kTx2, u"C:\\Program Files"); },
     .exit_code = 11,
     .command = "remove",
     .fields = {{"/primary/phase", str("remove_plan")}, {"/primary/reason", str("root_mismatch")}}},
    {.name = "removal_of_a_folder_every_user_may_add_to",
     .parent = kDrive,
     .arrange =
         [](Attack& m) {
             ASSERT_TRUE(m.machine->write_file(u"C:\\ProgramData\\keep.dat", bytes("keep"),
                                               sim::system_sid()));
         },
     .act = [](Attack& m) { return m.remove_from(kTx2, u"C:\\ProgramData"); },
     .exit_code = 11,
     .command = "remove",
     .fields = {{"/primary/phase", str("remove_plan")}, {"/primary/reason", str("unsafe_object")}}},
    // A diagnostics directory every user may change: a junction planted at
    // the report's temporary name never receives the report, nor does the
    // folder behind it.
    {.name = "report_temporary_is_a_junction_in_a_plain_diagnostics_directory",
     .parent = kDrive,
     .protect_diagnostics = false,
     .arrange =
         [](Attack& m) {
             ASSERT_TRUE(m.hands().make_junction(
                 m.diagnostics + u"\\engine-" + p::ascii_to_utf16(kTx2) + u"-apply.json.tmp",
                 kEvilDir));
         },
     .act = [](Attack& m) { return apply_v2(m); },
     .exit_code = 0,
     .fields = {},
     .report_written = false},
    // The same transactions from stages made as the guide says work under
    // the drive root: install, upgrade, a failed upgrade and a removal.
    {.name = "guide_made_stages_under_the_drive_root",
     .parent = kDrive,
     .arrange = [](Attack& m) { m.install(kTx1, runtime_v1()); },
     .act =
         [](Attack& m) {
             EXPECT_EQ(apply_v2(m), 0);
             EXPECT_TRUE(m.report(kTx2));
             m.stage(kTx3, runtime_v2(service_text(
                               "broken",
                               R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})")));
             EXPECT_EQ(m.run(kTx3), 10);
             EXPECT_TRUE(m.report(kTx3));
             return m.remove_from("44444444444444444444444444444444", m.root);
         },
     .exit_code = 30,
     .command = "remove",
     .txid = "44444444444444444444444444444444",
     .fields = {{"/outcome", str("removed")}}},
    {.name = "recovery_after_a_power_cut_under_the_drive_root",
     .parent = kDrive,
     .arrange = [](Attack& m) { m.install(kTx1, runtime_v1()); },
     .act =
         [](Attack& m) {
             m.stage(kTx2, runtime_v2());
             m.machine->arm_crash_after(60);
             EXPECT_THROW((void)m.run(kTx2), sim::CrashInjected);
             m.machine->crash();
             m.machine->reboot();
             return m.run(kTx2, u"--recover");
         },
     .exit_code = 10,
     .command = "recover",
     .fields = {{"/outcome", str("rolled_back")}}},
};

// One scenario, every check a gtest expectation.
void run_scenario(const Scenario& s) {
    Attack m(s.parent, s.protect_diagnostics);
    s.arrange(m);
    const auto before = m.outside();
    const std::set<uint32_t> pids = m.pids();

    EXPECT_EQ(s.act(m), s.exit_code);
    const std::optional<std::string> report = m.report(s.txid, s.command);
    EXPECT_EQ(report.has_value(), s.report_written);
    for (const auto& [pointer, value] : s.fields)
        EXPECT_EQ(report_field(report.value_or("{}"), pointer), value) << pointer;

    // No service the user could rewrite, and no program the engine started
    // from an image they could rewrite.
    if (auto image = m.service_image()) {
        EXPECT_TRUE(trusted_image(*m.machine, unquoted(*image))) << p::utf16_to_utf8_lossy(*image);
    }
    for (const auto& [pid, process] : m.machine->state().processes) {
        if (pids.contains(pid) || process.image.ends_with(u"holvar-service-install.exe")) continue;
        for (const std::u16string& never : s.never_started)
            EXPECT_FALSE(p::paths_equal(process.image, never));
        if (m.machine->exists(process.image)) {
            EXPECT_TRUE(trusted_image(*m.machine, process.image))
                << p::utf16_to_utf8_lossy(process.image);
        }
    }

    s.afterwards(m);
    EXPECT_TRUE(m.machine->exists(kSystemFile));
    EXPECT_EQ(m.outside(), before);
}

const Scenario& scenario_named(std::string_view name) {
    for (const Scenario& s : kScenarios)
        if (s.name == name) return s;
    ADD_FAILURE() << "no scenario " << name;
    return kScenarios[0];
}

class AttackTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(AttackTest, NothingOutsideChangesAndNoUserProgramRunsElevated) {
    run_scenario(GetParam());
}

// The engine broken on purpose, one way at a time: the scenario that guards
// against that fault must notice.
struct Mutant {
    const char* name;
    txn::seam::Breakage breakage;
    const char* caught_by;  // the scenario
};

const Mutant kMutants[] = {
    {"trust_by_owner_only", txn::seam::Breakage::trust_by_owner_only,
     "payload_image_the_user_may_change"},
    {"forged_journal_trusted_by_owner", txn::seam::Breakage::trust_by_owner_only,
     "forged_journal_in_a_writable_journal_folder"},
    {"schedule_through_any_folder", txn::seam::Breakage::schedule_through_any_folder,
     "restart_deletion_in_a_user_writable_folder"},
};

class AttackMutant : public ::testing::TestWithParam<Mutant> {
  protected:
    void TearDown() override { txn::seam::set_breakage(txn::seam::Breakage::none); }
};

TEST_P(AttackMutant, IsCaughtByItsScenario) {
    ::testing::TestPartResultArray caught;
    txn::seam::set_breakage(GetParam().breakage);
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &caught);
        run_scenario(scenario_named(GetParam().caught_by));
    }
    txn::seam::set_breakage(txn::seam::Breakage::none);
    ASSERT_GT(caught.size(), 0) << GetParam().name << " went unnoticed";
    // The first broken promise, on one line.
    std::string first = caught.GetTestPartResult(0).message();
    std::replace(first.begin(), first.end(), '\n', ' ');
    std::cout << GetParam().name << ": caught by " << GetParam().caught_by << ": "
              << first.substr(0, 300) << "\n";
}

INSTANTIATE_TEST_SUITE_P(Rows, AttackMutant, ::testing::ValuesIn(kMutants),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Rows, AttackTest, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace holvar::drivers::testing
