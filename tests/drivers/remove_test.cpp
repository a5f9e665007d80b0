// `--remove` end to end on the simulated machine: the outcome, the exact
// "maintenance" and "reboot_pending" sections of the report, the journal, and
// the machine afterwards (after a restart, when something had to wait); the
// runs that must leave the installation as it was; a removal resumed from its
// journal; and the deletion of the last two items, the uninstaller and the root.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>

#include "install_machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/process_model.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"
#include "txn/drivers/delete_now_or_at_reboot.hpp"
#include "txn/drivers/remove_after_service.hpp"
#include "txn/journal/journal_store.hpp"

namespace holvar::drivers::testing {
namespace {

namespace p = platform;
using txn::tree::DeletionStatus;

const std::string kProxy = R"({"command":"--restore-system-proxy","exit":0,"error":null})";
const std::string kPurge = R"({"command":"--purge-session-vault","exit":0,"error":null})";
const std::string kSkipped =
    R"({"command":"--restore-system-proxy","exit":null,"error":"skipped"},)"
    R"({"command":"--purge-session-vault","exit":null,"error":"skipped"})";
const std::u16string kUninstallKey =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Holvar";
const std::u16string kSessionManager = u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::string sections(const std::string& maintenance, const std::string& reboot_pending = "") {
    return R"("maintenance":[)" + maintenance + R"(],"reboot_pending":[)" + reboot_pending + "]}";
}
std::string fault(const std::string& phase, const std::string& reason,
                  const std::string& rel = "null", const std::string& win32 = "null") {
    return R"({"phase":")" + phase + R"(","reason":")" + reason + R"(","rel":)" + rel +
           R"(,"win32":)" + win32 + "}";
}
std::vector<uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}
void write(InstallMachine& m, const std::u16string& path, const std::string& text,
           const p::Sid& owner = sim::administrators_sid()) {
    (void)m.machine->remove(path);
    ASSERT_TRUE(m.machine->write_file(path, bytes(text), owner));
}

struct Removal : InstallMachine {
    explicit Removal(bool ignore_stop = false) {
        Payload v1 = runtime_v1();
        if (ignore_stop)
            v1[0].second =
                program_text(R"({"kind":"service","start_pending_ms":200,"ignore_stop":true})");
        install(kTx1, v1);
        stage_engine(kTx2);
    }
    int remove(bool purge, const std::u16string& root = kRoot) {
        std::vector<std::u16string> args = {u"--remove", u"--root", root};
        if (purge) args.push_back(u"--purge-session-vault");
        return run_with(kTx2, args);
    }
    std::string report_text() const { return report(kTx2, "remove").value_or("no report"); }
    // The report's exact bytes from "maintenance" on.
    std::string tail() const {
        std::string r = report_text();
        return r.substr(std::min(r.size(), r.find("\"maintenance\":")));
    }
    int client_runs() const {
        int runs = 0;
        for (const auto& [pid, details] : machine->state().process_model.details)
            runs += details.program == u"client" ? 1 : 0;
        return runs;
    }
    // The sources of the deletions waiting for the next restart.
    std::vector<std::u16string> pending_deletions() const {
        const sim::RegValue* value = sim::reg_find_value(machine->state().registry, kSessionManager,
                                                         u"PendingFileRenameOperations");
        std::vector<std::u16string> out, strings;
        if (value) strings = sim::multi_sz_strings(value->data);
        for (size_t i = 0; i + 1 < strings.size(); i += 2)
            if (strings[i + 1].empty()) out.push_back(strings[i]);
        return out;
    }
    // No service, root, uninstall entry, protocol handler or product value,
    // nothing waiting for a restart, and no stage bookkeeping.
    void expect_nothing_left() const {
        EXPECT_FALSE(machine->exists(kRoot));
        EXPECT_EQ(view().service, "absent");
        const sim::Registry& registry = machine->state().registry;
        EXPECT_EQ(sim::reg_find_key(registry, kUninstallKey), nullptr);
        EXPECT_EQ(sim::reg_find_key(registry, u"HKLM\\Software\\Classes\\holvar"), nullptr);
        EXPECT_EQ(sim::reg_find_value(registry, u"HKLM\\Software\\Holvar\\Holvar", u""), nullptr);
        EXPECT_EQ(pending_deletions(), std::vector<std::u16string>{});
        EXPECT_EQ(view().parent, std::vector<std::u16string>{u"Holvar-Install-Diagnostics"});
        EXPECT_FALSE(machine->exists(stage_dir(kTx1)));
        std::vector<std::u16string> stage = names(stage_dir(kTx2));
        std::sort(stage.begin(), stage.end());
        EXPECT_EQ(stage, (std::vector<std::u16string>{u"diag.txt", u"holvar-service-install.exe"}));
    }
    // remove_after_service run again on the stage's journal by a new engine
    // process, as `--recover` does with a half-done removal.
    std::pair<txn::outcome::OutcomeKind, txn::outcome::OutcomeReport> resume() {
        std::u16string exe = stage_dir(kTx2) + u"\\holvar-service-install.exe";
        uint32_t pid = machine->spawn_process(exe, sim::admin_token());
        txn::outcome::OutcomeReport report;
        auto kind = txn::outcome::OutcomeKind::refused;
        {
            sim::ProcessOs process(*machine, pid);
            auto ctx = txn::drivers::build_context(process.os(), kRoot, stage_dir(kTx2));
            auto journal = txn::journal::read_journal(process.os(), stage_dir(kTx2));
            EXPECT_TRUE(ctx && journal);
            if (ctx && journal) {
                ctx->journal = std::move(*journal);
                kind = txn::drivers::remove_after_service(process.os(), *ctx, report);
            }
        }
        machine->exit_process(pid, 0);
        return {kind, std::move(report)};
    }
};

// What a row leaves: nothing of the product (now, or once the machine has
// restarted), an unfinished journal with the row's marks, or the installation
// exactly as it was, running.
enum class Left { nothing, nothing_after_restart, journal, unchanged };

struct Row {
    const char* name;
    std::function<void(Removal&)> arrange = nullptr;  // after v1 is installed and the stage made
    bool purge = false;
    bool ignore_stop = false;  // v1's service ignores the stop control
    int exit_code = 30;
    std::string primary = "null";
    std::string recovery_error = "null";
    std::string tail = sections(kProxy);
    int clients = 1;  // maintenance children started
    Left left = Left::nothing;
    std::vector<std::string> marks = {};
    std::u16string root = kRoot;  // as the setup program spells it
    std::string holders = "";     // the holders' images, comma-separated, when queried
    // The machine as the removal left it gives the same answer to `--recover`.
    bool recover_repeats = false;
};

std::string holder_images(const std::string& report) {
    auto doc = nlohmann::json::parse(report, nullptr, false);
    std::string out;
    if (doc.is_discarded()) return "<bad json>";
    for (const auto& process : doc["holders"]["processes"])
        out += (out.empty() ? "" : ",") + process["image"].get<std::string>();
    return out;
}

const std::vector<std::string> kUpToMaintenance = {"planned", "service_deleted", "runtime_retired",
                                                   "maintenance_done"};
const std::string kOwnStage = "\".Holvar-upgrade-" + kTx2 + "\"";

void unfinished_journal(Removal& m, const std::string& txid) {
    (void)m.machine->make_directory(stage_dir(txid), sim::administrators_sid());
    ASSERT_TRUE(
        m.machine->make_directory(stage_dir(txid) + u"\\journal", sim::administrators_sid()));
    write(m, stage_dir(txid) + u"\\journal\\txn.json", "{");
}

const Row kRows[] = {
    {.name = "plain"},
    {.name = "purging_the_session_vault",
     .purge = true,
     .tail = sections(kProxy + "," + kPurge),
     .clients = 2},
    // The setup program spells the root in other letter cases: the same
    // root, and the protocol handler that starts its client is its own.
    {.name = "root_spelled_in_other_letter_cases", .root = kParent + u"\\holvar"},
    // The first moments after a restart: the service is still starting,
    // and the removal waits for it rather than refuse.
    {.name = "service_still_starting_after_a_restart",
     .arrange = [](Removal& m) { m.machine->reboot(); }},
    {.name = "service_already_gone",
     .arrange =
         [](Removal& m) {
             auto& services = m.machine->state().scm.services;
             m.machine->exit_process(services.at(u"HOLVAR_SERVICE").pid, 0);
             services.erase(u"HOLVAR_SERVICE");
         }},
    {.name = "client_missing",
     .arrange = [](Removal& m) { ASSERT_TRUE(m.machine->remove(kRoot + u"\\holvar-client.exe")); },
     .purge = true,
     .tail = sections(kSkipped),
     .clients = 0},
    // An elevated child through a link would run whatever the link points at.
    {.name = "client_is_a_symbolic_link",
     .arrange =
         [](Removal& m) {
             write(m, u"C:\\Users\\payload.exe", program_text(R"({"kind":"client"})"),
                   sim::user_token().user);
             ASSERT_TRUE(m.machine->remove(kRoot + u"\\holvar-client.exe"));
             ASSERT_TRUE(m.machine->make_symlink(kRoot + u"\\holvar-client.exe",
                                                 u"C:\\Users\\payload.exe",
                                                 sim::administrators_sid()));
         },
     .purge = true,
     .tail = sections(kSkipped),
     .clients = 0},
    {.name = "data_file_held_without_delete_sharing",
     .arrange =
         [](Removal& m) { m.hold_file(kRoot + u"\\locales\\en\\strings.json", std::nullopt); },
     .exit_code = 31,
     .tail = sections(kProxy, R"("locales\\en\\strings.json","locales\\en","locales",".")"),
     .left = Left::nothing_after_restart,
     .holders = "editor.exe"},
    {.name = "uninstaller_held_without_delete_sharing",
     .arrange = [](Removal& m) { m.hold_file(kRoot + u"\\uninstall.exe", std::nullopt); },
     .exit_code = 31,
     .tail = sections(kProxy, R"("uninstall.exe",".")"),
     .left = Left::nothing_after_restart},
    // Its image cannot go while it runs: it moves to the stage's trash and
    // goes from there at the restart, and the trash with it.
    // A program that would not end: everything goes or waits for the restart,
    // but the removal says it is incomplete, with the reason, and its journal
    // stays for a recovery.
    {.name = "program_left_running_from_the_root",
     .arrange =
         [](Removal& m) {
             m.machine->spawn_process(kRoot + u"\\lib\\core.dll", sim::user_token());
         },
     .exit_code = 32,
     .primary = fault("remove_runtime", "core_retire_failed"),
     .tail = sections(kProxy, R"("lib\\core.dll")"),
     .left = Left::journal,
     .marks = {"planned", "service_deleted", "maintenance_done", "tree_done", "registry_done",
               "uninstall_key_deleted", "root_done"},
     .holders = "core.dll",
     .recover_repeats = true},
    {.name = "deletion_at_restart_registered_by_another_program",
     .arrange =
         [](Removal& m) {
             sim::append_pending_rename(m.machine->state(), u"\\??\\" + kRoot + u"\\readme.txt",
                                        u"");
         },
     .exit_code = 31,
     .left = Left::nothing_after_restart},
    // A folder nobody can open is never emptied; registry and root stay.
    {.name = "folder_held_without_any_sharing",
     .arrange = [](Removal& m) { m.hold_file(kRoot + u"\\assets", std::nullopt); },
     .exit_code = 32,
     .primary = fault("remove_tree", "schedule_failed", R"("assets")"),
     .left = Left::journal,
     .marks = kUpToMaintenance},
    // A folder with contents of its own where the uninstaller belongs cannot
    // go now, and scheduling it would leave the root standing after the restart.
    {.name = "uninstaller_replaced_by_a_folder_with_contents",
     .arrange =
         [](Removal& m) {
             ASSERT_TRUE(m.machine->remove(kRoot + u"\\uninstall.exe"));
             ASSERT_TRUE(
                 m.machine->make_directory(kRoot + u"\\uninstall.exe", sim::user_token().user));
             write(m, kRoot + u"\\uninstall.exe\\notes.txt", "mine", sim::user_token().user);
         },
     .exit_code = 32,
     .primary = fault("remove_finalize", "schedule_failed"),
     .left = Left::journal,
     .marks = {"planned", "service_deleted", "runtime_retired", "maintenance_done", "tree_done",
               "registry_done", "uninstall_key_deleted"}},
    {.name = "registry_refuses_the_protocol_deletion",
     .arrange =
         [](Removal& m) {
             m.machine->add_fault({std::nullopt, "reg_delete_tree", 5, true});
         },
     .exit_code = 32,
     .primary = fault("remove_registry", "registry_failed", "null", "5"),
     .left = Left::journal,
     .marks = {"planned", "service_deleted", "runtime_retired", "maintenance_done", "tree_done"}},
    // Runs that change nothing.
    {.name = "recorded_location_is_another_root",
     .arrange =
         [](Removal& m) {
             sim::reg_set_value(m.machine->state().registry, kUninstallKey, u"InstallLocation",
                                sim::REG_SZ, sim::sz_bytes(u"\"C:\\Other\\Holvar\""));
         },
     .exit_code = 11,
     .primary = fault("remove_plan", "root_mismatch"),
     .left = Left::unchanged},
    {.name = "root_owned_by_an_ordinary_user",
     .arrange =
         [](Removal& m) { ASSERT_TRUE(m.machine->set_owner(kRoot, sim::user_token().user)); },
     .exit_code = 11,
     .primary = fault("remove_plan", "unsafe_object"),
     .left = Left::unchanged},
    {.name = "sibling_stage_with_an_unfinished_journal",
     .arrange = [](Removal& m) { unfinished_journal(m, kTx3); },
     .exit_code = 20,
     .primary = fault("scan", "foreign_unfinished_journal", "\".Holvar-upgrade-" + kTx3 + "\""),
     .left = Left::unchanged},
    // A retry from the stage of a removal left unfinished: that journal is
    // what `--recover` needs, and it is never overwritten.
    {.name = "own_stage_with_an_unfinished_journal",
     .arrange = [](Removal& m) { unfinished_journal(m, kTx2); },
     .exit_code = 20,
     .primary = fault("scan", "foreign_unfinished_journal", kOwnStage),
     .left = Left::unchanged},
    // Nothing reached disk and nothing changed: refused, not left for a
    // recovery that would find no journal.
    {.name = "journal_cannot_be_written",
     .arrange =
         [](Removal& m) {
             m.machine->add_fault({std::nullopt, "create_directory", 112, false});
         },
     .exit_code = 11,
     .primary = fault("remove_plan", "journal_write_failed", "null", "112"),
     .left = Left::unchanged},
    // Stopped, then not deleted: it runs again as before.
    {.name = "service_cannot_be_deleted",
     .arrange =
         [](Removal& m) {
             m.machine->add_fault({std::nullopt, "delete_service", 5, true});
         },
     .exit_code = 11,
     .primary = fault("remove_service", "scm_error", "null", "5"),
     .left = Left::unchanged},
    // Disabled by an administrator while it ran: running and disabled again.
    {.name = "disabled_service_cannot_be_deleted",
     .arrange =
         [](Removal& m) {
             m.machine->state().scm.services.at(u"HOLVAR_SERVICE").start_type = 4;
             m.machine->add_fault({std::nullopt, "delete_service", 5, true});
         },
     .exit_code = 11,
     .primary = fault("remove_service", "scm_error", "null", "5"),
     .left = Left::unchanged},
    {.name = "service_ignores_the_stop",
     .ignore_stop = true,
     .exit_code = 11,
     .primary = fault("remove_service", "service_stop_timeout"),
     .left = Left::unchanged},
    // Not even put back: the journal stays for `--recover`.
    {.name = "service_cannot_be_put_back",
     .arrange =
         [](Removal& m) {
             m.machine->add_fault({std::nullopt, "change_service_config", 5, true});
         },
     .ignore_stop = true,
     .exit_code = 20,
     .primary = fault("remove_service", "service_stop_timeout"),
     .recovery_error = fault("remove_service", "scm_error", "null", "5"),
     .left = Left::unchanged,
     .marks = {"planned"}},
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class RemoveTest : public ::testing::TestWithParam<Row> {};

TEST_P(RemoveTest, EndsAsTheRowSays) {
    const Row& row = GetParam();
    Removal m(row.ignore_stop);
    if (row.arrange) row.arrange(m);
    MachineView before = m.view();
    auto journal_before = m.text(stage_dir(kTx2) + u"\\journal\\txn.json");

    ASSERT_EQ(m.remove(row.purge, row.root), row.exit_code) << m.report_text();
    std::string report = m.report_text();
    if (!row.holders.empty()) {
        EXPECT_EQ(report_field(report, "/holders/status"), "\"ok\"");
        EXPECT_EQ(holder_images(report), row.holders);
    }
    if (row.recover_repeats) {
        MachineView settled = m.view();
        EXPECT_EQ(m.run_with(kTx2, {u"--recover", u"--root", kRoot}), row.exit_code);
        std::string recovered = m.report(kTx2, "recover").value_or("no report");
        EXPECT_EQ(report_field(recovered, "/primary"), row.primary) << recovered;
        EXPECT_EQ(m.view(), settled);
    }
    EXPECT_EQ(report_field(report, "/txid"), "\"" + kTx2 + "\"");
    EXPECT_EQ(report_field(report, "/primary"), row.primary) << report;
    EXPECT_EQ(report_field(report, "/recovery_error"), row.recovery_error) << report;
    bool unchanged = row.left == Left::unchanged;
    EXPECT_EQ(m.tail(), unchanged ? sections("") : row.tail);
    EXPECT_EQ(m.client_runs(), unchanged ? 0 : row.clients);
    EXPECT_EQ(m.service_running(), unchanged);
    switch (row.left) {
        case Left::nothing:
            m.expect_nothing_left();
            break;
        case Left::nothing_after_restart:
            EXPECT_FALSE(m.pending_deletions().empty());
            EXPECT_EQ(m.marks(kTx2), std::vector<std::string>{});  // ended, and cleaned
            m.machine->reboot();
            m.expect_nothing_left();
            break;
        case Left::journal: {
            EXPECT_EQ(m.marks(kTx2), row.marks);
            bool registry_done = std::count(row.marks.begin(), row.marks.end(), "registry_done");
            EXPECT_EQ(m.view().registry == before.registry, !registry_done);
            // The uninstaller goes only with the root.
            bool root_done = std::count(row.marks.begin(), row.marks.end(), "root_done");
            EXPECT_EQ(m.machine->exists(kRoot + u"\\uninstall.exe"), !root_done);
            break;
        }
        case Left::unchanged:
            EXPECT_EQ(m.view(), before);
            if (journal_before) {
                EXPECT_EQ(m.text(stage_dir(kTx2) + u"\\journal\\txn.json"), journal_before);
            } else {
                EXPECT_EQ(m.marks(kTx2), row.marks);
            }
            break;
    }
    if (row.recover_repeats) {
        // What kept it incomplete ends: a recovery finishes the removal, and
        // after the restart nothing of the product, nor of the stage's
        // bookkeeping, is left.
        std::vector<uint32_t> running;
        for (const auto& [pid, process] : m.machine->state().processes)
            if (process.alive && process.image.starts_with(kRoot + u"\\")) running.push_back(pid);
        for (uint32_t pid : running) m.machine->exit_process(pid, 0);
        EXPECT_EQ(m.run_with(kTx2, {u"--recover", u"--root", kRoot}), 31);
        m.machine->reboot();
        m.expect_nothing_left();
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RemoveTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A service another program keeps open is only marked for deletion; it goes
// with the last handle, at the latest at the restart.
TEST(Remove, ServiceHeldOpenWaitsForTheRestart) {
    Removal m;
    sim::ProcessOs other(*m.machine,
                         m.machine->spawn_process(u"C:\\Windows\\mmc.exe", sim::admin_token()));
    auto manager = other.os().services.open_sc_manager(p::SC_MANAGER_CONNECT);
    auto held =
        other.os().services.open_service(*manager, u"holvar_service", p::SERVICE_QUERY_STATUS);
    ASSERT_TRUE(held);
    ASSERT_EQ(m.remove(false), 31) << m.report_text();
    EXPECT_EQ(m.tail(), sections(kProxy));
    EXPECT_TRUE(m.service_image());
    EXPECT_FALSE(m.machine->exists(kRoot));
    held->reset();
    manager->reset();
    m.machine->reboot();
    m.expect_nothing_left();
}

// Stopped after its maintenance by a folder nobody could open, then resumed
// once the folder is free: the client does not run again, the holder is
// named, and the machine ends as an uninterrupted removal leaves it.
TEST(Remove, ResumedRemovalEndsLikeAnUninterruptedOne) {
    Removal uninterrupted;
    ASSERT_EQ(uninterrupted.remove(true), 30);
    Removal m;
    uint32_t holder = m.hold_file(kRoot + u"\\assets", std::nullopt);
    ASSERT_EQ(m.remove(true), 32) << m.report_text();
    EXPECT_EQ(report_field(m.report_text(), "/holders/processes/0/image"), "\"editor.exe\"");
    ASSERT_EQ(m.marks(kTx2), kUpToMaintenance);
    m.machine->exit_process(holder, 0);

    auto [kind, resumed] = m.resume();
    EXPECT_EQ(kind, txn::outcome::OutcomeKind::removed);
    EXPECT_EQ(resumed.maintenance, std::vector<txn::outcome::MaintenanceEntry>{});
    EXPECT_EQ(resumed.primary, std::nullopt);
    EXPECT_EQ(m.client_runs(), 2);  // both commands, once
    EXPECT_EQ(m.marks(kTx2).back(), "finalized");
    MachineView a = m.view(), b = uninterrupted.view();
    EXPECT_EQ(std::tie(a.tree, a.service, a.registry, a.parent),
              std::tie(b.tree, b.service, b.registry, b.parent));
}

// Another directory put at the root's path after the journal recorded the
// root: the removal ends before it touches anything in it.
TEST(Remove, RootSwappedAfterTheJournalIsNeverTouched) {
    Removal m;
    sim::ProcessOs mover(*m.machine,
                         m.machine->spawn_process(u"C:\\Windows\\mover.exe", sim::admin_token()));
    const std::u16string old_root = kRoot + u"-old";
    m.machine->state().scm.on_call = [&](sim::Machine::State&, std::string_view call) {
        if (call != "delete_service" || m.machine->exists(old_root)) return;
        ASSERT_TRUE(mover.os().files.move_file_ex(kRoot, &old_root, 0));
        ASSERT_TRUE(m.machine->make_directory(kRoot, sim::administrators_sid()));
        write(m, kRoot + u"\\uninstall.exe", "other");
    };
    ASSERT_EQ(m.remove(false), 32) << m.report_text();
    EXPECT_EQ(report_field(m.report_text(), "/primary"), fault("remove_tree", "foreign_identity"));
    EXPECT_EQ(m.names(kRoot), std::vector<std::u16string>{u"uninstall.exe"});
    EXPECT_TRUE(m.machine->exists(old_root + u"\\holvar-client.exe"));
    EXPECT_EQ(m.marks(kTx2), (std::vector<std::string>{"planned", "service_deleted"}));
    EXPECT_EQ(m.client_runs(), 0);
}

// The last two items: deleted now, left to the restart, or left alone, by
// what is at the path when their turn comes.
struct Item {
    const char* name;
    bool make_entry;         // a directory with a file in it (else an empty one)
    bool held;               // held open by another process, sharing nothing
    bool recorded_as_other;  // the journal recorded another directory
    std::vector<std::u16string> scheduled_inside;
    DeletionStatus status;
};

const Item kItems[] = {
    {"directory_holding_an_entry_not_scheduled", true, false, false, {}, DeletionStatus::failed},
    {"directory_holding_only_scheduled_entries",
     true,
     false,
     false,
     {u"a.txt"},
     DeletionStatus::scheduled},
    {"directory_held_open", false, true, false, {}, DeletionStatus::scheduled},
    {"directory_not_the_recorded_one", false, false, true, {}, DeletionStatus::failed},
    {"directory_held_open_not_the_recorded_one", false, true, true, {}, DeletionStatus::failed},
};

void PrintTo(const Item& row, std::ostream* os) {
    *os << row.name;
}

class ItemTest : public ::testing::TestWithParam<Item> {};

TEST_P(ItemTest, DeletedScheduledOrLeftAlone) {
    const Item& row = GetParam();
    InstallMachine m;
    const std::u16string item = kParent + u"\\Item";
    ASSERT_TRUE(m.machine->make_directory(item, sim::administrators_sid()));
    if (row.make_entry) write(m, item + u"\\a.txt", "x");
    if (row.held) m.hold_file(item, std::nullopt);
    auto id = txn::fs::FileId::from_bytes(m.machine->stat(item)->file_id);
    if (row.recorded_as_other) id.low ^= 1;
    txn::drivers::ItemGuard guard{txn::fs::RootIdentity{item, 0x1234abcd5678ef90, id},
                                  row.scheduled_inside};

    uint32_t pid = m.machine->spawn_process(u"C:\\Windows\\engine.exe", sim::admin_token());
    {
        sim::ProcessOs process(*m.machine, pid);
        EXPECT_EQ(txn::drivers::delete_now_or_at_reboot(process.os(), item, true, guard),
                  row.status);
    }
    EXPECT_TRUE(m.machine->exists(item));
    EXPECT_EQ(sim::reg_find_value(m.machine->state().registry, kSessionManager,
                                  u"PendingFileRenameOperations") != nullptr,
              row.status == DeletionStatus::scheduled);
}

INSTANTIATE_TEST_SUITE_P(Rows, ItemTest, ::testing::ValuesIn(kItems),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace holvar::drivers::testing
