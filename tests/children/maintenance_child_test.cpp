// The desktop client's maintenance commands, run in a job with a time limit
// on the simulated machine.
#include <gtest/gtest.h>

#include "quiesce/process_fixture.hpp"
#include "txn/children/maintenance_child.hpp"

namespace holvar::testing {
namespace {

using namespace std::chrono_literals;
using txn::children::ChildOutcome;
using Kind = txn::children::ChildOutcome::Kind;

class MaintenanceChild : public ::testing::Test, public ProcessHost {
  protected:
    ChildOutcome run(const std::vector<std::u16string>& args = {u"--restore-system-proxy"},
                     std::u16string exe = kClient) {
        return txn::children::run_maintenance_child(os(), exe, args, kRoot,
                                                    txn::children::kMaintenanceLimit);
    }
    // The one client process the run started.
    const sim::ProcessDetails& client_details() {
        auto pids = all_processes(kClient);
        EXPECT_EQ(pids.size(), 1u);
        return state().process_model.details.at(pids.at(0));
    }
    std::vector<uint32_t> all_processes(const std::u16string& image) {
        std::vector<uint32_t> out;
        for (const auto& [pid, p] : state().processes)
            if (p.image == image) out.push_back(pid);
        return out;
    }
};

TEST_F(MaintenanceChild, AChildThatExitsReportsItsExitCode) {
    write_program(kClient, R"({"kind":"client","exit_code":7,"run_ms":1500})");
    const auto before = machine().now();
    EXPECT_EQ(run(), (ChildOutcome{Kind::exited, 7}));
    EXPECT_EQ(machine().now() - before, 1500ms);
    EXPECT_EQ(engine_handles(), 0u);
}

TEST_F(MaintenanceChild, AChildOverTheLimitIsEndedWithExitCodeOneAndTimesOut) {
    write_program(kClient, R"({"kind":"client","run_ms":120000})");
    const auto before = machine().now();
    EXPECT_EQ(run(), (ChildOutcome{Kind::timed_out, 0}));
    EXPECT_EQ(machine().now() - before, 60s);
    auto pids = all_processes(kClient);
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_FALSE(machine().process_alive(pids[0]));
    EXPECT_EQ(state().processes.at(pids[0]).exit_code, 1u);
}

TEST_F(MaintenanceChild, TheGrandchildIsGoneOnceTheJobCloses) {
    mkdir(u"C:\\Work\\helper");
    write_program(kClient, R"({"kind":"client","exit_code":0,"run_ms":10,)"
                           R"("grandchild":{"image":"C:\\Work\\helper\\tray.exe"}})");
    write(u"C:\\Work\\helper\\tray.exe", {0});
    EXPECT_EQ(run(), (ChildOutcome{Kind::exited, 0}));
    auto grandchildren = all_processes(u"C:\\Work\\helper\\tray.exe");
    ASSERT_EQ(grandchildren.size(), 1u);
    EXPECT_FALSE(machine().process_alive(grandchildren[0]));
    EXPECT_TRUE(state().process_model.jobs.empty());
}

TEST_F(MaintenanceChild, TheChildSeesOnlySystemRoot) {
    write_program(kClient, R"({"kind":"client"})");
    ASSERT_EQ(run().kind, Kind::exited);
    const auto& d = client_details();
    EXPECT_TRUE(d.environment_given);
    EXPECT_EQ(d.environment, std::vector<std::u16string>{u"SystemRoot=C:\\Windows"});
    EXPECT_EQ(state().processes.at(all_processes(kClient)[0]).current_directory, kRoot);
}

TEST_F(MaintenanceChild, TheChildSeesTheCommandLineTheQuotingRulesBuild) {
    write_program(kClient, R"({"kind":"client"})");
    const std::vector<std::u16string> args{u"--restore-system-proxy",
                                           u"two words",
                                           u"tab\there",
                                           u"say \"hi\"",
                                           u"C:\\dir\\",
                                           u"C:\\a b\\",
                                           u"",
                                           u"back\\\\\"q"};
    ASSERT_EQ(run(args).kind, Kind::exited);
    EXPECT_EQ(client_details().command_line,
              u"\"C:\\Program Files\\Holvar\\holvar-client.exe\" --restore-system-proxy "
              u"\"two words\" \"tab\there\" \"say \\\"hi\\\"\" C:\\dir\\ \"C:\\a b\\\\\" \"\" "
              u"\"back\\\\\\\\\\\"q\"");
}

TEST_F(MaintenanceChild, QuotingFollowsTheRulesTheChildParsesBack) {
    struct Row {
        std::u16string in;
        std::u16string out;
    };
    const Row rows[] = {
        {u"plain", u"plain"},
        {u"", u"\"\""},
        {u"a b", u"\"a b\""},
        {u"a\tb", u"\"a\tb\""},
        {u"a\"b", u"\"a\\\"b\""},
        {u"a\\b", u"a\\b"},
        {u"a\\\\b c", u"\"a\\\\b c\""},
        {u"tail\\ x\\", u"\"tail\\ x\\\\\""},
        {u"q\\\"", u"\"q\\\\\\\"\""},
        {u"\\\\server\\share\\a b\\\\", u"\"\\\\server\\share\\a b\\\\\\\\\""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(txn::children::quote_command_line_element(row.in), row.out);
}

TEST_F(MaintenanceChild, ChildrenThatCannotStartFailWithTheirCode) {
    struct Row {
        const char* what;
        std::u16string exe;
        std::u16string workdir;
        uint32_t code;
    };
    write_program(kClient, R"({"kind":"client"})");
    const Row rows[] = {
        {"a NUL in the path", std::u16string(u"C:\\Program Files\\Holvar\\holvar\0.exe", 36), kRoot,
         87},
        {"a NUL in the working directory", kClient, std::u16string(u"C:\\Work\0x", 9), 87},
        {"a missing client", u"C:\\Program Files\\Holvar\\missing.exe", kRoot, 2},
        {"a missing working directory", kClient, u"C:\\Nowhere", 267},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const size_t processes = state().processes.size();
        auto outcome = txn::children::run_maintenance_child(
            os(), row.exe, {u"--restore-system-proxy"}, row.workdir, 60s);
        EXPECT_EQ(outcome, (ChildOutcome{Kind::failed, row.code}));
        EXPECT_EQ(state().processes.size(), processes) << "something was started";
        EXPECT_EQ(engine_handles(), 0u);
    }
    // An unreadable program description is no executable.
    write(kClient, program("{not json"));
    EXPECT_EQ(run(), (ChildOutcome{Kind::failed, 193}));
    // A failure of the Windows directory query.
    machine().add_fault({std::nullopt, "get_system_windows_directory", 8, true});
    EXPECT_EQ(run(), (ChildOutcome{Kind::failed, 8}));
}

TEST_F(MaintenanceChild, AnImageWithoutAProgramRunsAndExitsZero) {
    write(kClient, {'M', 'Z'});
    EXPECT_EQ(run(), (ChildOutcome{Kind::exited, 0}));
}

TEST_F(MaintenanceChild, OutcomesBecomeReportEntries) {
    using txn::children::maintenance_entry;
    auto exited = maintenance_entry("--restore-system-proxy", {Kind::exited, 3});
    EXPECT_EQ(exited.command, "--restore-system-proxy");
    EXPECT_EQ(exited.exit, 3);
    EXPECT_FALSE(exited.error);
    auto negative = maintenance_entry("--purge-session-vault", {Kind::exited, 0xC0000005});
    EXPECT_EQ(negative.exit, static_cast<int32_t>(0xC0000005));
    EXPECT_EQ(maintenance_entry("x", {Kind::timed_out, 0}).error, "timeout");
    EXPECT_EQ(maintenance_entry("x", {Kind::failed, 193}).error, "spawn_failed:193");
    EXPECT_FALSE(maintenance_entry("x", {Kind::failed, 2}).exit);
}

}  // namespace
}  // namespace holvar::testing
