// Faults the crash and fault explorer found in the drivers, each held here at
// the instant it struck.
#include <gtest/gtest.h>

#include <algorithm>

#include "install_machine.hpp"
#include "platform/sim/machine_state.hpp"

namespace holvar::drivers::testing {
namespace {

// The boundary call that opens the root just created (a folder made from a
// security descriptor, then opened) in a fresh install's clean run; the next
// one reads its identity.
uint64_t root_read_back_call() {
    InstallMachine m;
    m.stage(kTx1, runtime_v1());
    std::vector<std::string> names;
    const uint64_t first = m.machine->failable_calls();
    m.machine->record_call_names(&names);
    EXPECT_EQ(m.run(kTx1), 0);
    m.machine->record_call_names(nullptr);
    const std::vector<std::string> made = {"convert_sddl_to_security_descriptor",
                                           "create_directory", "create_file"};
    // The root is made once "planned" is on disk (the journal's own folder,
    // made the same way, comes before that first rename).
    auto planned = std::find(names.begin(), names.end(), "move_file_ex");
    auto at = std::search(planned, names.end(), made.begin(), made.end());
    EXPECT_NE(at, names.end());
    return first + static_cast<uint64_t>(at - names.begin()) + made.size();
}

struct RootReadFault {
    const char* name;
    uint64_t offset;  // 0: the open of the new root; 1: the read of its identity
    bool once;
    int exit_code;  // of the install; a later --recover ends every one
};

const RootReadFault kRootReadFaults[] = {
    {"open_fails_once", 0, true, 10},
    {"identity_read_fails_once", 1, true, 10},
    {"identity_read_keeps_failing", 1, false, 20},
};

class NewRootUnreadable : public ::testing::TestWithParam<RootReadFault> {};

// A root whose identity could not be read gets no "root_created" mark; the
// install must still take it away (at once, or by the next --recover) rather
// than leave an empty folder that neither installation has.
TEST_P(NewRootUnreadable, LeavesNoRootBehind) {
    const uint64_t at = root_read_back_call();
    const RootReadFault& f = GetParam();
    InstallMachine m;
    MachineView before = m.view();
    m.stage(kTx1, runtime_v1());
    m.machine->add_fault(sim::FaultRule{
        at + f.offset, f.offset == 0 ? "create_file" : "get_file_id_info", 5, f.once});
    EXPECT_EQ(m.run(kTx1), f.exit_code) << m.report(kTx1).value_or("no report");
    m.machine->clear_faults();
    if (f.exit_code == 20) {
        const int recovered = m.run(kTx1, u"--recover");
        EXPECT_TRUE(recovered == 10 || recovered == 15) << recovered;
    }
    EXPECT_FALSE(m.machine->exists(kRoot));
    EXPECT_EQ(m.view(), before);
}

INSTANTIATE_TEST_SUITE_P(Rows, NewRootUnreadable, ::testing::ValuesIn(kRootReadFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The service's configuration outlives a power cut at once; the files do only
// once flushed. Whenever the engine points the service at the root (the
// install's configure, the rollback's restore), every metadata operation
// before it is on disk, or a restart would start the service from a root
// still half placed (or half undone) and no recovery could stop it again.
struct ServiceChange {
    const char* name;
    std::optional<std::string> service;  // the v2 service: well-behaved, or failing verification
    int exit_code;
};

const ServiceChange kServiceChanges[] = {
    {"upgrade", std::nullopt, 0},
    {"upgrade_rolled_back",
     service_text("broken", R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})"), 10},
};

class ServicePointedAtRoot : public ::testing::TestWithParam<ServiceChange> {};

TEST_P(ServicePointedAtRoot, OnlyOnceTheRootIsOnDisk) {
    InstallMachine m;
    m.install(kTx1, runtime_v1());
    m.stage(kTx2, runtime_v2(GetParam().service));
    std::vector<size_t> unflushed;
    m.machine->state().scm.on_call = [&](sim::Machine::State& s, std::string_view call) {
        if (call == "change_service_config") unflushed.push_back(s.log.size());
    };
    EXPECT_EQ(m.run(kTx2), GetParam().exit_code) << m.report(kTx2).value_or("no report");
    ASSERT_FALSE(unflushed.empty());
    for (size_t pending : unflushed) EXPECT_EQ(pending, 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, ServicePointedAtRoot, ::testing::ValuesIn(kServiceChanges),
                         [](const auto& info) { return std::string(info.param.name); });

// A fresh install whose new service failed verification, its rollback cut
// short by a power cut anywhere between the stop of that service and its
// deletion (the undos done, what the service made still under the root),
// then `--recover`: the rollback run again decides from the journal that the
// service ran, takes its folders away and deletes the root the install made.
TEST(RerunRollback, LeavesNothingOfAFreshInstall) {
    const Payload payload = without_file(runtime_v2(broken_service()), u"uninstall.exe");
    uint64_t from = 0, to = 0;
    {
        InstallMachine m;
        m.stage(kTx1, payload);
        const uint64_t start = m.machine->mutating_calls();
        bool verified = false;
        m.machine->state().scm.on_call = [&](sim::Machine::State& s, std::string_view call) {
            if (call == "start_service") verified = true;
            if (verified && from == 0 && call == "control_service") from = s.mutating_calls - start;
            if (call == "delete_service") to = s.mutating_calls - start;
        };
        ASSERT_EQ(m.run(kTx1), 10) << m.report(kTx1).value_or("no report");
    }
    ASSERT_LT(from, to);
    for (uint64_t k = from; k <= to; ++k) {
        SCOPED_TRACE("crash after mutating call " + std::to_string(k));
        InstallMachine m;
        MachineView before = m.view();
        m.stage(kTx1, payload);
        m.machine->arm_crash_after(k);
        EXPECT_THROW(m.run(kTx1), sim::CrashInjected);
        m.machine->crash();
        m.machine->reboot();
        ASSERT_EQ(m.run(kTx1, u"--recover"), 10) << m.report(kTx1, "recover").value_or("");
        EXPECT_EQ(m.view(), before);
        EXPECT_EQ(m.run(kTx1, u"--recover"), 15);
    }
}

// The service as an administrator left it before an upgrade whose new
// service fails verification: the rollback puts back its configuration and
// its run state exactly, whatever they were, and the transaction ends. A
// service disabled while it ran is running and disabled again afterwards
// (Windows starts no disabled service: it is started while it may be, then
// disabled once it runs).
struct AdminLeft {
    const char* name;
    uint32_t start_type;  // 4 disabled, 3 demand
    bool restarted;       // then the machine restarted, which stops it
};

const AdminLeft kAdminLeft[] = {
    {"disabled_while_running", 4, false},
    {"disabled_then_restarted", 4, true},
    {"demand_while_running", 3, false},
    {"demand_then_restarted", 3, true},
};

class ServiceAsAdministratorLeftIt : public ::testing::TestWithParam<AdminLeft> {};

void leave_service(InstallMachine& m, const AdminLeft& row) {
    m.machine->state().scm.services.at(u"HOLVAR_SERVICE").start_type = row.start_type;
    if (row.restarted) m.machine->reboot();
    ASSERT_EQ(m.service_running(), !row.restarted);
}

TEST_P(ServiceAsAdministratorLeftIt, IsPutBackByTheRollback) {
    const AdminLeft& row = GetParam();
    InstallMachine m;
    m.install(kTx1, runtime_v1());
    leave_service(m, row);
    MachineView before = m.view();
    m.stage(kTx2, runtime_v2(broken_service()));
    ASSERT_EQ(m.run(kTx2), 10) << m.report(kTx2).value_or("no report");
    const std::string report = m.report(kTx2).value_or("");
    EXPECT_EQ(report_field(report, "/outcome"), "\"rolled_back\"");
    EXPECT_EQ(report_field(report, "/recovery_error"), "null") << report;
    EXPECT_EQ(m.marks(kTx2), std::vector<std::string>{});
    EXPECT_EQ(m.view(), before);
    EXPECT_EQ(m.run(kTx2, u"--recover"), 15);
    EXPECT_EQ(m.view(), before);
}

INSTANTIATE_TEST_SUITE_P(Rows, ServiceAsAdministratorLeftIt, ::testing::ValuesIn(kAdminLeft),
                         [](const auto& info) { return std::string(info.param.name); });

// The same rollback cut short by a power cut at any mutating call from the
// write of the old configuration to just after the service, started, is
// disabled again; then a restart and `--recover`. The service is disabled and
// running again as the administrator left it, never left to start on its own.
TEST(DisabledServiceRollback, CutWhileItIsPutBackEndsAsTheAdministratorLeftIt) {
    auto arranged = [](InstallMachine& m) {
        m.install(kTx1, runtime_v1());
        leave_service(m, kAdminLeft[0]);
        m.stage(kTx2, runtime_v2(broken_service()));
    };
    uint64_t from = 0, to = 0;
    {
        InstallMachine m;
        arranged(m);
        const uint64_t start = m.machine->mutating_calls();
        uint64_t configured = 0;
        int starts = 0;
        m.machine->state().scm.on_call = [&](sim::Machine::State& s, std::string_view call) {
            const uint64_t at = s.mutating_calls - start;
            // The second start is the old service's, put back: the last
            // configuration before it is its own, the next one disables it.
            if (call == "start_service" && ++starts == 2) from = configured;
            if (call == "change_service_config") {
                if (from != 0 && to == 0) to = at + 2;
                if (starts < 2) configured = at;
            }
        };
        ASSERT_EQ(m.run(kTx2), 10) << m.report(kTx2).value_or("no report");
    }
    ASSERT_LT(0u, from);
    ASSERT_LT(from, to);
    for (uint64_t k = from; k <= to; ++k) {
        SCOPED_TRACE("crash after mutating call " + std::to_string(k));
        InstallMachine m;
        arranged(m);
        const MachineView before = m.view();
        m.machine->arm_crash_after(k);
        EXPECT_THROW(m.run(kTx2), sim::CrashInjected);
        m.machine->crash();
        m.machine->reboot();
        EXPECT_FALSE(m.service_running());
        ASSERT_EQ(m.run(kTx2, u"--recover"), 10) << m.report(kTx2, "recover").value_or("");
        EXPECT_EQ(m.view(), before);
        EXPECT_EQ(m.run(kTx2, u"--recover"), 15);
        EXPECT_EQ(m.view(), before);
    }
}

}  // namespace
}  // namespace holvar::drivers::testing
