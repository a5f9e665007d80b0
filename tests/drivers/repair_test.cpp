// `--repair` run from the installation's own engine: the service put back to
// the install's configuration, started and verified; or nothing touched when
// a transaction may be unfinished, the path to the service's image is not
// trusted, or the service is another installation's.
#include <gtest/gtest.h>

#include <functional>

#include "install_machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/win_path.hpp"

namespace holvar::drivers::testing {
namespace {

namespace p = platform;

const std::u16string kImage = kRoot + u"\\resources\\holvar-service.exe";

std::string fault(const std::string& reason, const std::string& win32 = "null") {
    return R"({"phase":"repair","reason":")" + reason + R"(","rel":null,"win32":)" + win32 + "}";
}

sim::Service& service(InstallMachine& m) {
    return m.machine->state().scm.services.at(u"HOLVAR_SERVICE");
}

// The service's process ends, and the service manager has seen it stopped.
void kill_service(InstallMachine& m) {
    m.machine->exit_process(service(m).pid, 1);
    service(m).state = 1;
    service(m).pid = 0;
}

// What an administrator may have done to the service by hand.
void tamper_service(InstallMachine& m) {
    service(m).start_type = 3;  // demand
    service(m).display_name = u"Renamed";
    service(m).description.clear();
    service(m).dependencies = {u"Tcpip"};
}

using Arrange = std::function<void(InstallMachine&)>;

// A directory beside the root with a stage-like name, with an unfinished journal or none.
Arrange sibling(std::u16string name, bool unfinished, p::Sid owner = sim::administrators_sid()) {
    return [=](InstallMachine& m) {
        const std::u16string dir = kParent + u"\\" + name;
        ASSERT_TRUE(m.machine->make_directory(dir, owner));
        if (!unfinished) return;
        ASSERT_TRUE(m.machine->make_directory(dir + u"\\journal", owner));
        ASSERT_TRUE(m.machine->write_file(dir + u"\\journal\\txn.json", {'{'}, owner));
    };
}

Arrange owned_by_a_user(std::u16string path) {
    return
        [=](InstallMachine& m) { ASSERT_TRUE(m.machine->set_owner(path, sim::user_token().user)); };
}

// How the machine must look after the run.
enum class After {
    restored,   // the service exactly as the install left it, running; files and registry as before
    untouched,  // the whole machine exactly as before the run
    configured_not_running,  // the install's configuration, the service stopped
};

struct Row {
    const char* name;
    Arrange arrange;  // after v1 is installed and running and the service tampered with
    int exit_code;
    std::string primary;  // the report's primary fault, as nlohmann dumps it
    After after;
};

const Row kRows[] = {
    {"start_type_set_to_demand_is_auto_again", [](InstallMachine&) {}, 0, "null", After::restored},
    {"stopped_service_is_started", kill_service, 0, "null", After::restored},
    {"missing_service_is_created_and_started",
     [](InstallMachine& m) {
         kill_service(m);
         m.machine->state().scm.services.erase(u"HOLVAR_SERVICE");
     },
     0, "null", After::restored},
    {"finished_sibling_stages_are_ignored", sibling(u".holvar-upgrade-notes", false), 0, "null",
     After::restored},
    {"sibling_stage_with_an_unfinished_journal",
     sibling(u".Holvar-upgrade-" + std::u16string(32, u'3'), true), 14, "null", After::untouched},
    {"sibling_stage_in_other_letter_case_with_an_unfinished_journal",
     sibling(u".HOLVAR-UPGRADE-X", true), 14, "null", After::untouched},
    {"sibling_stage_owned_by_an_ordinary_user",
     sibling(u".holvar-Upgrade-", false, sim::user_token().user), 14, "null", After::untouched},
    {"root_owned_by_an_ordinary_user", owned_by_a_user(kRoot), 11, fault("unsafe_object"),
     After::untouched},
    {"service_image_owned_by_an_ordinary_user", owned_by_a_user(kImage), 11, fault("unsafe_object"),
     After::untouched},
    {"service_installed_for_another_root",
     [](InstallMachine& m) {
         service(m).binary_path = u"\"C:\\Other\\resources\\holvar-service.exe\"";
     },
     11, fault("root_mismatch"), After::untouched},
    {"recorded_location_is_another_root",
     [](InstallMachine& m) { m.set_install_location(u"\"C:\\Other\\Holvar\""); }, 11,
     fault("root_mismatch"), After::untouched},
    {"configuration_cannot_be_written",
     [](InstallMachine& m) {
         m.machine->add_fault(sim::FaultRule{std::nullopt, "change_service_config", 5, true});
     },
     11, fault("scm_error", "5"), After::untouched},
    {"service_fails_to_start",
     [](InstallMachine& m) {
         kill_service(m);
         std::string failing = program_text(R"({"kind":"service","fail_start":{"win32":1064}})");
         ASSERT_TRUE(m.machine->write_file(kImage, {failing.begin(), failing.end()},
                                           sim::administrators_sid()));
     },
     11, fault("verify_failed", "1064"), After::configured_not_running},
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

const std::string kRepaired =
    R"({"format":1,"engine_version":"3.0.0","command":"repair","txid":"none",)"
    R"("outcome":"repaired","exit_code":0,"primary":null,"recovery_error":null,)"
    R"("holders":{"status":"not_queried","win32":null,"processes":[]},)"
    R"("maintenance":[],"reboot_pending":[]})";

class RepairTest : public ::testing::TestWithParam<Row> {};

TEST_P(RepairTest, Run) {
    const Row& row = GetParam();
    InstallMachine m;
    m.install(kTx1, runtime_v1());
    const MachineView installed = m.view();
    const auto pointer = m.text(stage_dir(kTx1) + u"\\diag.txt");
    tamper_service(m);
    row.arrange(m);
    const MachineView before = m.view();

    ASSERT_EQ(m.repair(), row.exit_code) << m.report("none", "repair").value_or("no report");
    const std::string report = m.report("none", "repair").value_or("");
    EXPECT_EQ(report_field(report, "/primary"), row.primary) << report;
    if (row.exit_code == 0) {
        EXPECT_EQ(report, kRepaired);
    }
    // No stage, so no "diag.txt": the install's pointer is left as it was.
    EXPECT_EQ(m.text(stage_dir(kTx1) + u"\\diag.txt"), pointer);
    MachineView now = m.view();
    const auto config = [](const MachineView& v) {
        return v.service.substr(0, v.service.find(" state "));
    };
    switch (row.after) {
        case After::restored:
            EXPECT_EQ(now.service, installed.service);
            now.service = before.service;
            EXPECT_EQ(now, before);
            EXPECT_EQ(m.repair(), 0);  // and again: the same configuration
            EXPECT_TRUE(m.service_running());
            break;
        case After::untouched:
            EXPECT_EQ(now, before);
            break;
        case After::configured_not_running:
            EXPECT_EQ(config(now), config(installed));
            EXPECT_FALSE(m.service_running());
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A fresh machine with the engine at <dir>\resources\holvar-service-install.exe.
void place_engine(InstallMachine& m, const std::u16string& dir) {
    const p::Sid admins = sim::administrators_sid();
    if (!m.machine->exists(dir)) {
        ASSERT_TRUE(m.machine->make_directory(dir, admins));
    }
    const std::u16string resources = p::join_path(dir, u"resources");
    ASSERT_TRUE(m.machine->make_directory(resources, admins));
    ASSERT_TRUE(m.machine->write_file(p::join_path(resources, u"holvar-service-install.exe"),
                                      {'M', 'Z'}, admins));
}

// A root that is a junction is refused before anything is looked at through it.
TEST(Repair, JunctionRootIsRefused) {
    InstallMachine m;
    place_engine(m, u"C:\\Elsewhere");
    ASSERT_TRUE(m.machine->make_junction(kRoot, u"C:\\Elsewhere", sim::administrators_sid()));
    ASSERT_EQ(m.repair(), 11);
    EXPECT_EQ(report_field(m.report("none", "repair").value_or(""), "/primary"),
              fault("unsafe_object"));
    EXPECT_EQ(m.view().service, "absent");
}

// A root directly under a drive has no parent to scan: recovery_required, and
// no report, not even where an early failure of this engine would put one.
TEST(Repair, RootWithoutParentWritesNoReport) {
    InstallMachine m;
    place_engine(m, u"C:\\");
    ASSERT_TRUE(
        m.machine->make_directory(u"C:\\Holvar-Install-Diagnostics", sim::administrators_sid()));
    ASSERT_EQ(m.repair(u"C:\\"), 14);
    EXPECT_EQ(m.names(u"C:\\Holvar-Install-Diagnostics"), std::vector<std::u16string>{});
    EXPECT_EQ(m.names(kDiagnostics), std::vector<std::u16string>{});
    EXPECT_EQ(m.view().service, "absent");
}

}  // namespace
}  // namespace holvar::drivers::testing
