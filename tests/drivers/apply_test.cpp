// `--apply` end to end on the simulated machine: the outcome, the report, the
// journal's marks and the machine afterwards, for installs that commit and
// for every kind of failure that must leave the machine as it was.
#include <gtest/gtest.h>

#include <functional>

#include "install_machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/unicode.hpp"

namespace holvar::drivers::testing {
namespace {

namespace p = platform;

const std::vector<std::string> kFreshMarks = {"planned",   "root_created", "placing",  "configured",
                                              "committed", "finalizing",   "finalized"};

std::string committed_report(const std::string& txid) {
    return R"({"format":1,"engine_version":"3.0.0","command":"apply","txid":")" + txid +
           R"(","outcome":"committed","exit_code":0,"primary":null,"recovery_error":null,)"
           R"("holders":{"status":"not_queried","win32":null,"processes":[]},)"
           R"("maintenance":[],"reboot_pending":[]})";
}

// Each payload file is at its place under the root with the very id it had in
// the payload: moved, never copied.
void expect_moved(const std::map<std::u16string, std::string>& payload,
                  const std::map<std::u16string, std::string>& root) {
    for (const auto& [rel, id] : payload) {
        if (!id.starts_with("file ")) continue;
        auto it = root.find(rel);
        ASSERT_NE(it, root.end()) << p::utf16_to_utf8_lossy(rel);
        EXPECT_EQ(it->second, id) << p::utf16_to_utf8_lossy(rel);
    }
}

void expect_stage_clean(const InstallMachine& m, const std::string& txid) {
    std::vector<std::u16string> left = m.names(stage_dir(txid));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::u16string>{u"diag.txt", u"holvar-service-install.exe"}));
}

// A stage is used once: a retry from it is refused, whatever the first run
// left there, and nothing of the machine changes.
void expect_retry_changes_nothing(InstallMachine& m) {
    MachineView settled = m.view();
    EXPECT_EQ(m.run(kTx2), 11) << m.report(kTx2).value_or("no report");
    EXPECT_EQ(m.view(), settled);
}

TEST(Apply, FreshInstallCommitsAndMovesEveryPayloadFile) {
    InstallMachine m;
    MachineView before = m.view();
    m.stage(kTx1, runtime_v1());
    auto payload = m.payload_ids(kTx1);

    ASSERT_EQ(m.run(kTx1), 0) << m.report(kTx1).value_or("no report");
    EXPECT_EQ(m.report(kTx1), committed_report(kTx1));
    EXPECT_EQ(m.text(stage_dir(kTx1) + u"\\diag.txt"),
              "C:\\Program Files\\Holvar-Install-Diagnostics\\engine-" + kTx1 + "-apply.json\n");
    expect_moved(payload, m.root_ids());
    EXPECT_TRUE(m.service_running());
    EXPECT_EQ(m.service_image(), u"\"C:\\Program Files\\Holvar\\resources\\holvar-service.exe\"");
    // The running service made its own folders; the registry knows the product.
    EXPECT_TRUE(m.machine->exists(kRoot + u"\\.holvar-service-v3"));
    EXPECT_TRUE(m.machine->exists(kRoot + u"\\service-logs"));
    const sim::RegValue* location = sim::reg_find_value(
        m.machine->state().registry,
        u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Holvar",
        u"InstallLocation");
    ASSERT_NE(location, nullptr);
    EXPECT_EQ(location->data, sim::sz_bytes(u"\"" + kRoot + u"\""));
    expect_stage_clean(m, kTx1);
    EXPECT_NE(m.view(), before);
}

TEST(Apply, UpgradeOverTheRunningServiceFencesFirstAndSweepsTheOldStage) {
    InstallMachine m;
    m.install(kTx1, runtime_v1());
    auto generated = m.root_ids().at(u".holvar-service-v3");
    m.stage(kTx2, runtime_v2());
    auto payload = m.payload_ids(kTx2);

    ASSERT_EQ(m.run(kTx2), 0) << m.report(kTx2).value_or("no report");
    EXPECT_EQ(m.report(kTx2), committed_report(kTx2));
    auto root = m.root_ids();
    expect_moved(payload, root);
    // Dropped files and the dropped folder are gone; the service's own folder stayed.
    EXPECT_EQ(root.count(u"locales\\de\\strings.json"), 0u);
    EXPECT_EQ(root.count(u"assets\\old"), 0u);
    EXPECT_EQ(root.at(u".holvar-service-v3"), generated);
    EXPECT_TRUE(m.service_running());
    EXPECT_FALSE(m.machine->exists(stage_dir(kTx1)));
    expect_stage_clean(m, kTx2);
}

// A registry write that fails after the commit only defers the finalize: the
// new runtime stays, and the journal (kept, since it has not ended) shows
// every mark up to "finalizing".
TEST(Apply, RegistryFailureInFinalizeLeavesTheCommitStanding) {
    InstallMachine m;
    sim::reg_add_read_filter(
        m.machine->state().registry,
        u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Holvar", u"DisplayName",
        sim::REG_SZ, sim::sz_bytes(u"Someone else"));
    m.stage(kTx1, runtime_v1());
    ASSERT_EQ(m.run(kTx1), 5) << m.report(kTx1).value_or("no report");
    std::string report = m.report(kTx1).value_or("");
    EXPECT_EQ(report_field(report, "/outcome"), "\"committed_finalize_pending\"");
    EXPECT_EQ(report_field(report, "/primary"),
              R"({"phase":"finalize","reason":"registry_failed","rel":null,"win32":null})");
    EXPECT_EQ(m.marks(kTx1), std::vector<std::string>(kFreshMarks.begin(), kFreshMarks.end() - 1));
    EXPECT_TRUE(m.service_running());
    EXPECT_TRUE(m.machine->exists(stage_dir(kTx1) + u"\\journal\\txn.json"));
}

// An upgrade from v1 (installed and running) to v2 that fails before its
// commit: the outcome, the fault, and the machine exactly as before.
struct FailedUpgrade {
    const char* name;
    std::function<void(InstallMachine&)> arrange;  // after v2 is staged
    std::optional<std::string> v2_service;         // the v2 service image's text
    int exit_code;
    std::string phase;
    std::string reason;
    std::string rel = "null";
    std::string win32 = "null";
    // A file still held when the run ends keeps a name in the stage (a
    // second name in its rollback folder, or its payload file), which goes
    // at the next restart with the stage's journal after it.
    bool held_after = false;
};

const std::string kProtocol2 = R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})";

const FailedUpgrade kFailedUpgrades[] = {
    {"service_fails_verification", nullptr, service_text("v2", kProtocol2), 10, "verify",
     "verify_failed"},
    {"service_never_starts", nullptr,
     program_text(R"({"kind":"service","fail_start":{"win32":1064}})"), 10, "verify",
     "verify_failed", "null", "1064"},
    // Verification gives up after 8 s while the service is still starting; the
    // rollback waits for it to settle before it stops it.
    {"service_still_starting_when_verification_gives_up", nullptr,
     program_text(R"({"kind":"service","start_pending_ms":12000})"), 10, "verify", "verify_failed"},
    {"file_held_past_the_budget",
     [](InstallMachine& m) { m.hold_file(kRoot + u"\\lib\\core.dll", std::nullopt); }, std::nullopt,
     10, "place", "sharing_violation", "\"lib\\\\core.dll\"", "5", true},
    {"client_running_from_the_root",
     [](InstallMachine& m) {
         m.machine->spawn_process(kRoot + u"\\uninstall.exe", sim::user_token());
     },
     std::nullopt, 10, "quiesce", "process_under_root"},
    // The payload's service image held by another program: the rollback
    // takes back what was placed, and the stage, which no longer holds the
    // new runtime, is never planned from again.
    {"payload_file_held_by_another_program",
     [](InstallMachine& m) {
         m.hold_file(stage_dir(kTx2) + u"\\payload\\resources\\holvar-service.exe", std::nullopt,
                     p::FILE_SHARE_READ | p::FILE_SHARE_WRITE);
     },
     std::nullopt, 10, "place", "sharing_violation", "\"resources\\\\holvar-service.exe\"", "32",
     true},
    {"service_configuration_refused",
     [](InstallMachine& m) {
         m.machine->add_fault({std::nullopt, "change_service_description", 5, true});
     },
     std::nullopt, 10, "configure", "scm_error", "null", "5"},
};

class FailedUpgradeTest : public ::testing::TestWithParam<FailedUpgrade> {};

TEST_P(FailedUpgradeTest, RollsBackToTheOldInstallation) {
    const FailedUpgrade& row = GetParam();
    InstallMachine m;
    m.install(kTx1, runtime_v1());
    m.stage(kTx2, runtime_v2(row.v2_service));
    if (row.arrange) row.arrange(m);
    MachineView before = m.view();

    ASSERT_EQ(m.run(kTx2), row.exit_code) << m.report(kTx2).value_or("no report");
    std::string report = m.report(kTx2).value_or("");
    EXPECT_EQ(report_field(report, "/primary/phase"), "\"" + row.phase + "\"") << report;
    EXPECT_EQ(report_field(report, "/primary/reason"), "\"" + row.reason + "\"") << report;
    EXPECT_EQ(report_field(report, "/primary/rel"), row.rel) << report;
    EXPECT_EQ(report_field(report, "/primary/win32"), row.win32) << report;
    EXPECT_EQ(report_field(report, "/recovery_error"), "null") << report;
    MachineView after = m.view();
    EXPECT_EQ(after.tree, before.tree);
    EXPECT_EQ(after.service, before.service);
    EXPECT_EQ(after.parent, before.parent);
    EXPECT_TRUE(m.service_running());
    expect_retry_changes_nothing(m);
    if (!row.held_after) {
        EXPECT_EQ(after.registry, before.registry);
        expect_stage_clean(m, kTx2);
        return;
    }
    // Only names in the stage's rollback folder wait for the restart.
    const std::u16string session = u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER";
    after.registry.erase(session);
    before.registry.erase(session);
    EXPECT_EQ(after.registry, before.registry);
    const sim::RegValue* pending =
        sim::reg_find_value(m.machine->state().registry, session, u"PendingFileRenameOperations");
    ASSERT_NE(pending, nullptr);
    std::vector<std::u16string> names = sim::multi_sz_strings(pending->data);
    for (const std::u16string& name : names)
        EXPECT_TRUE(name.empty() || name.starts_with(u"\\??\\" + stage_dir(kTx2) + u"\\"))
            << p::utf16_to_utf8_lossy(name);
    // The journal goes last, after everything else that waits for the restart.
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], u"\\??\\" + stage_dir(kTx2) + u"\\journal");
    EXPECT_EQ(report_field(report, "/holders/status"), "\"ok\"");
    EXPECT_EQ(report_field(report, "/holders/processes/0/image"), "\"editor.exe\"");
    EXPECT_EQ(m.marks(kTx2).back(), "rolled_back");
    // The holder goes: the stage is still used, and refused again; after
    // the restart nothing of it is left but the engine and "diag.txt".
    std::vector<uint32_t> holders;
    for (const auto& [pid, process] : m.machine->state().processes)
        if (process.alive && process.image.ends_with(u"editor.exe")) holders.push_back(pid);
    for (uint32_t pid : holders) m.machine->exit_process(pid, 0);
    expect_retry_changes_nothing(m);
    m.machine->reboot();
    m.machine->advance(std::chrono::seconds(5));  // the old service is up again
    expect_stage_clean(m, kTx2);
    expect_retry_changes_nothing(m);
}

INSTANTIATE_TEST_SUITE_P(Rows, FailedUpgradeTest, ::testing::ValuesIn(kFailedUpgrades),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace holvar::drivers::testing
