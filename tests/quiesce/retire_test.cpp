// Ending the runtime's companion and proving nothing runs from the root.
#include <gtest/gtest.h>

#include "quiesce/process_fixture.hpp"
#include "txn/quiesce/retire.hpp"

namespace holvar::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCompanionProgram = R"({"kind":"companion"})";

bool has_text(const platform::Status& st, std::string_view text) {
    return !st && st.error().text == text && st.error().kind != platform::ErrorKind::win32;
}

class Retire : public ::testing::Test, public ProcessHost {};

TEST_F(Retire, ACompanionRunningFromTheRootIsEndedWithinTheDeadline) {
    write_program(kCompanion, kCompanionProgram);
    const uint32_t pid = start(kCompanion);  // started by the service: LocalSystem
    const auto before = machine().now();
    auto st = txn::quiesce::retire_runtime_processes(os(), kRoot);
    ASSERT_TRUE(st) << st.error().text << " " << st.error().win32;
    EXPECT_FALSE(machine().process_alive(pid));
    EXPECT_EQ(state().processes.at(pid).exit_code, 1u);
    EXPECT_LT(machine().now() - before, 10s);
    EXPECT_EQ(engine_handles(), 0u);
    // Nothing left to end: a second run succeeds at once.
    EXPECT_TRUE(txn::quiesce::retire_runtime_processes(os(), kRoot));
}

TEST_F(Retire, ACompanionOfTheSameNameElsewhereIsNeitherEndedNorReported) {
    write_program(kCompanion, kCompanionProgram);
    mkdir(u"C:\\Other");
    write_program(u"C:\\Other\\holvar-mihomo.exe", kCompanionProgram);
    const uint32_t elsewhere = start(u"C:\\Other\\holvar-mihomo.exe");
    const uint32_t mixed_case = start(u"C:\\Other\\holvar-mihomo.exe");
    EXPECT_TRUE(txn::quiesce::retire_runtime_processes(os(), kRoot));
    EXPECT_TRUE(machine().process_alive(elsewhere));
    EXPECT_TRUE(machine().process_alive(mixed_case));
}

TEST_F(Retire, EveryCompanionFromTheRootIsEnded) {
    write_program(kCompanion, kCompanionProgram);
    std::vector<uint32_t> pids;
    for (int i = 0; i < 5; ++i) pids.push_back(start(kCompanion));
    ASSERT_TRUE(txn::quiesce::retire_runtime_processes(os(), kRoot));
    for (uint32_t pid : pids) EXPECT_FALSE(machine().process_alive(pid));
}

TEST_F(Retire, MoreThanSixtyFourCompanionsAreRefusedAndNoneIsEnded) {
    write_program(kCompanion, kCompanionProgram);
    std::vector<uint32_t> pids;
    for (int i = 0; i < 65; ++i) pids.push_back(start(kCompanion));
    EXPECT_TRUE(
        has_text(txn::quiesce::retire_runtime_processes(os(), kRoot), "service_identity_rejected"));
    for (uint32_t pid : pids) EXPECT_TRUE(machine().process_alive(pid));
    EXPECT_EQ(engine_handles(), 0u);
}

TEST_F(Retire, ADesktopClientRunningFromTheRootIsAProcessUnderTheRoot) {
    // No companion executable at all: only the scan decides.
    write_program(kClient, R"({"kind":"client","run_ms":600000})");
    start(kClient, sim::user_token());
    EXPECT_TRUE(
        has_text(txn::quiesce::retire_runtime_processes(os(), kRoot), "process_under_root"));
}

TEST_F(Retire, ABusyLegacyEndpointIsPresent) {
    mkdir(u"C:\\Other");
    write_program(u"C:\\Other\\holvar-mihomo.exe",
                  R"({"kind":"companion","pipe":"holvar-mihomo","pipe_instances":0})");
    start(u"C:\\Other\\holvar-mihomo.exe");
    EXPECT_TRUE(has_text(txn::quiesce::retire_runtime_processes(os(), kRoot), "endpoint_present"));
}

TEST_F(Retire, ACompanionThatCannotBeTrustedOrEndedIsAnIdentityFailure) {
    struct Row {
        const char* what;
        void (*arrange)(ProcessHost&);
    };
    const Row rows[] = {
        {"the root grants Users write",
         [](ProcessHost& t) { t.grant(kRoot, platform::sids::users, 0x1301bf); }},
        {"the companion is hard-linked",
         [](ProcessHost& t) {
             ASSERT_TRUE(
                 t.machine().make_hard_link(u"C:\\Program Files\\Holvar\\x.exe", kCompanion));
         }},
        {"SeDebugPrivilege is unknown: the LocalSystem companion cannot be opened to end it",
         [](ProcessHost& t) {
             t.machine().add_fault({std::nullopt, "lookup_privilege_value", 1313, true});
         }},
        {"the snapshot cannot be taken",
         [](ProcessHost& t) {
             t.machine().add_fault({std::nullopt, "create_toolhelp32_snapshot", 8, true});
         }},
        {"the snapshot pass ends early",
         [](ProcessHost& t) {
             t.machine().add_fault({std::nullopt, "process32_next", 24, true});
         }},
        {"the termination fails",
         [](ProcessHost& t) {
             t.machine().add_fault({std::nullopt, "terminate_process", 5, true});
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ProcessHost t;
        t.write_program(kCompanion, kCompanionProgram);
        const uint32_t pid = t.start(kCompanion);
        row.arrange(t);
        auto st = txn::quiesce::retire_runtime_processes(t.os(), kRoot);
        ASSERT_FALSE(st);
        EXPECT_EQ(st.error().kind, platform::ErrorKind::permission_denied);
        EXPECT_EQ(st.error().text, "service_identity_rejected");
        EXPECT_EQ(t.engine_handles(), 0u);
        (void)pid;
    }
}

// An administrator whose token lacks "Debug programs" (removed by policy).
sim::Token admin_without_debug() {
    sim::Token t = sim::admin_token();
    std::erase(t.privileges, std::u16string(u"SeDebugPrivilege"));
    return t;
}

class RetireWithoutDebug : public ::testing::Test, public ProcessHost {
  public:
    RetireWithoutDebug() : ProcessHost(admin_without_debug()) {}
};

TEST_F(RetireWithoutDebug, ACompanionThatCannotBeOpenedForWantOfThePrivilegeSaysSo) {
    write_program(kCompanion, kCompanionProgram);
    const uint32_t pid = start(kCompanion);
    auto st = txn::quiesce::retire_runtime_processes(os(), kRoot);
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().is_win32(1300));  // ERROR_NOT_ALL_ASSIGNED
    EXPECT_TRUE(machine().process_alive(pid));
    EXPECT_EQ(engine_handles(), 0u);
}

TEST_F(RetireWithoutDebug, WithoutACompanionRunningThePrivilegeIsNotNeeded) {
    write_program(kCompanion, kCompanionProgram);
    EXPECT_TRUE(txn::quiesce::retire_runtime_processes(os(), kRoot));
}

class RetireUnelevated : public ::testing::Test, public ProcessHost {
  public:
    RetireUnelevated() : ProcessHost(sim::user_token()) {}
};

TEST_F(RetireUnelevated, ANonElevatedEngineIsRefusedWheneverTheCompanionExists) {
    write_program(kCompanion, kCompanionProgram);
    EXPECT_TRUE(
        has_text(txn::quiesce::retire_runtime_processes(os(), kRoot), "service_identity_rejected"));
}

TEST_F(RetireUnelevated, WithoutTheCompanionOnlyTheEndpointsAndTheScanRun) {
    EXPECT_TRUE(txn::quiesce::retire_runtime_processes(os(), kRoot));
}

TEST_F(Retire, ACompanionThatIsADirectoryIsRefused) {
    mkdir(kCompanion);
    EXPECT_TRUE(
        has_text(txn::quiesce::retire_runtime_processes(os(), kRoot), "service_identity_rejected"));
}

}  // namespace
}  // namespace holvar::testing
