// The front end on a simulated machine: every way a run can end before a
// driver runs, the lock, and the dispatch to exactly one driver.
#include <gtest/gtest.h>

#include "engine_machine.hpp"
#include "installer/entry.hpp"
#include "txn/fs/protected_directory.hpp"

namespace holvar::installer::testing {

using namespace holvar::txn::outcome;
namespace {

using Args = std::vector<std::u16string>;

const std::u16string lone_high(1, char16_t{0xD800});
const std::u16string invalid_args_report =
    u"engine-none-apply.json";  // every invalid command line reports as apply

Args argv(std::u16string mode, std::u16string r = root) {
    return {engine_exe, std::move(mode), u"--root", std::move(r)};
}

struct MalformedCase {
    const char* name;
    Args argv;
};

TEST(EntryMalformed, EveryMalformedVectorEndsRefusedWithTheInvalidArgumentsReport) {
    const std::vector<MalformedCase> cases = {
        {"empty", {}},
        {"program_only", {engine_exe}},
        {"mode_only", {engine_exe, u"--apply"}},
        {"two_arguments", {engine_exe, u"--apply", u"--root"}},
        {"five", {engine_exe, u"--remove", u"--root", root, u"--purge-session-vault", u"x"}},
        {"mode_not_first", {engine_exe, u"--root", root, u"--apply"}},
        {"root_is_option", argv(u"--apply", u"--recover")},
        {"purge_with_apply", {engine_exe, u"--apply", u"--root", root, u"--purge-session-vault"}},
        {"other_case", argv(u"--Apply")},
        {"root_option_other_case", {engine_exe, u"--apply", u"--Root", root}},
        {"embedded_nul_mode", argv(std::u16string(u"--apply\0", 8))},
        {"embedded_nul_root", argv(u"--apply", root + std::u16string(1, u'\0') + u"x")},
        {"unpaired_surrogate_mode", argv(u"--apply" + lone_high)},
        {"unpaired_surrogate_option", {engine_exe, u"--apply", u"--root" + lone_high, root}},
        {"empty_root", argv(u"--apply", u"")},
    };
    for (const MalformedCase& c : cases) {
        EngineMachine m;
        RecordingDrivers drivers;
        EXPECT_EQ(m.run(c.argv, &drivers), 11) << c.name;
        EXPECT_TRUE(drivers.calls.empty()) << c.name;
        EXPECT_EQ(m.report(invalid_args_report),
                  early_report("apply", "refused", 11, "invalid_arguments"))
            << c.name;
    }
}

TEST(EntryMalformed, InvalidArgumentsReportIsByteForByteTheContractExample) {
    EngineMachine m;
    EXPECT_EQ(m.run({engine_exe}), 11);
    EXPECT_EQ(
        m.report(invalid_args_report),
        R"({"format":1,"engine_version":"3.0.0","command":"apply","txid":"none","outcome":"refused","exit_code":11,"primary":{"phase":"scan","reason":"invalid_arguments","win32":null,"rel":null},"recovery_error":null,"holders":{"status":"not_queried","win32":null,"processes":[]},"maintenance":[],"reboot_pending":[]})");
    // Written atomically: no temporary file stays behind.
    EXPECT_EQ(m.names(diagnostics), std::vector<std::u16string>{invalid_args_report});
}

// Early failures after a successful parse. Each row sets the machine up, runs
// one command line from one image, and names the report it must leave.
struct EarlyCase {
    const char* name;
    std::function<void(EngineMachine&)> setup;
    Args argv;
    std::u16string image;
    int exit_code;
    std::u16string report_dir;
    std::u16string report_name;
    std::string command;
    std::string outcome;
    std::string reason;
};

void no_setup(EngineMachine&) {}

void fail_call(EngineMachine& m, const char* call, uint32_t code) {
    sim::FaultRule rule;
    rule.call_name = call;
    rule.win32 = code;
    m.machine->add_fault(rule);
}

std::u16string stage_named(const std::u16string& name) {
    return parent + u"\\" + name;
}

void make_engine_at(EngineMachine& m, const std::u16string& dir) {
    if (!m.machine->exists(dir)) {
        ASSERT_TRUE(m.machine->make_directory(dir, administrators()));
    }
    ASSERT_TRUE(
        m.machine->write_file(dir + u"\\holvar-service-install.exe", {'M', 'Z'}, administrators()));
}

const std::u16string other_parent = u"C:\\Elsewhere";
const std::u16string upper_stage = stage_named(u".Holvar-upgrade-0123456789ABCDEF0123456789ABCDEF");
const std::u16string short_stage = stage_named(u".Holvar-upgrade-0123456789abcdef0123456789abcde");

std::vector<EarlyCase> early_cases() {
    return {
        {"root_not_absolutizable",
         [](EngineMachine& m) { fail_call(m, "get_full_path_name", 206); }, argv(u"--recover"),
         engine_exe, 11, diagnostics, u"engine-none-recover.json", "recover", "refused",
         "stage_invalid"},
        {"lock_not_created", [](EngineMachine& m) { fail_call(m, "create_mutex", 5); },
         argv(u"--remove"), engine_exe, 11, diagnostics, u"engine-none-remove.json", "remove",
         "refused", "mutex_failed"},
        {"lock_wait_failed", [](EngineMachine& m) { fail_call(m, "wait_for_single_object", 6); },
         argv(u"--apply"), engine_exe, 11, diagnostics, u"engine-none-apply.json", "apply",
         "refused", "mutex_failed"},
        {"lock_busy", [](EngineMachine& m) { m.hold_lock(); }, argv(u"--recover"), engine_exe, 12,
         diagnostics, u"engine-none-recover.json", "recover", "busy", "mutex_failed"},
        {"exe_path_unavailable", [](EngineMachine& m) { fail_call(m, "get_module_file_name", 8); },
         argv(u"--apply"), engine_exe, 11, diagnostics, u"engine-none-apply.json", "apply",
         "refused", "stage_invalid"},
        {"repair_from_stage", no_setup, argv(u"--repair"), engine_exe, 11, diagnostics,
         u"engine-none-repair.json", "repair", "refused", "stage_invalid"},
        {"repair_from_other_case_root",
         [](EngineMachine& m) {
             ASSERT_TRUE(m.machine->make_directory(root, administrators()));
             make_engine_at(m, root + u"\\Resources");
         },
         argv(u"--repair"), root + u"\\Resources\\holvar-service-install.exe", 11, diagnostics,
         u"engine-none-repair.json", "repair", "refused", "stage_invalid"},
        {"stage_under_other_parent",
         [](EngineMachine& m) {
             ASSERT_TRUE(m.machine->make_directory(other_parent, administrators()));
             // Under a drive root a diagnostics directory is trusted only
             // with a DACL of its own.
             ASSERT_TRUE(
                 m.machine->make_directory_sddl(other_parent + u"\\Holvar-Install-Diagnostics",
                                                std::u16string(txn::fs::kProtectedDirectorySddl)));
         },
         argv(u"--apply", other_parent + u"\\Runtime"), engine_exe, 11,
         other_parent + u"\\Holvar-Install-Diagnostics", u"engine-none-apply.json", "apply",
         "refused", "stage_invalid"},
        {"stage_parent_other_case", no_setup,
         argv(u"--apply", u"C:\\Program Files\\HOLVAR\\Runtime"), engine_exe, 11, diagnostics,
         u"engine-none-apply.json", "apply", "refused", "stage_invalid"},
        {"uppercase_txid", [](EngineMachine& m) { make_engine_at(m, upper_stage); },
         argv(u"--apply"), upper_stage + u"\\holvar-service-install.exe", 11, diagnostics,
         u"engine-none-apply.json", "apply", "refused", "stage_invalid"},
        {"txid_31_digits", [](EngineMachine& m) { make_engine_at(m, short_stage); },
         argv(u"--remove"), short_stage + u"\\holvar-service-install.exe", 11, diagnostics,
         u"engine-none-remove.json", "remove", "refused", "stage_invalid"},
        {"stage_without_prefix",
         [](EngineMachine& m) {
             make_engine_at(m, stage_named(u"Holvar-upgrade-" + txid16 + u"x"));
         },
         argv(u"--recover"),
         stage_named(u"Holvar-upgrade-" + txid16 + u"x") + u"\\holvar-service-install.exe", 11,
         diagnostics, u"engine-none-recover.json", "recover", "refused", "stage_invalid"},
        {"engine_in_root_parent", [](EngineMachine& m) { make_engine_at(m, parent); },
         argv(u"--apply"), parent + u"\\holvar-service-install.exe", 11, diagnostics,
         u"engine-none-apply.json", "apply", "refused", "stage_invalid"},
        {"root_is_drive", no_setup, argv(u"--apply", u"C:\\"), engine_exe, 11, diagnostics,
         u"engine-none-apply.json", "apply", "refused", "stage_invalid"},
    };
}

TEST(EntryEarlyFailure, EachRowEndsWithItsExitCodeAndReport) {
    for (const EarlyCase& c : early_cases()) {
        EngineMachine m;
        c.setup(m);
        RecordingDrivers drivers;
        EXPECT_EQ(m.run(c.argv, &drivers, c.image), c.exit_code) << c.name;
        EXPECT_TRUE(drivers.calls.empty()) << c.name;
        EXPECT_EQ(m.text(c.report_dir + u"\\" + c.report_name),
                  early_report(c.command, c.outcome, c.exit_code, c.reason))
            << c.name;
    }
}

struct DispatchCase {
    const char* name;
    Args argv;
    std::u16string image;
    std::u16string current_directory;
    DriverCall expected;
    int exit_code;
};

std::vector<DispatchCase> dispatch_cases() {
    const std::u16string cwd = u"C:\\Windows\\System32";
    const std::u16string installed = root + u"\\resources\\holvar-service-install.exe";
    return {
        {"apply", argv(u"--apply"), engine_exe, cwd, {Command::apply, root, stage, false}, 0},
        {"recover",
         argv(u"--recover"),
         engine_exe,
         cwd,
         {Command::recover, root, stage, false},
         15},
        {"remove", argv(u"--remove"), engine_exe, cwd, {Command::remove, root, stage, false}, 30},
        {"remove_purge",
         {engine_exe, u"--remove", u"--root", root, u"--purge-session-vault"},
         engine_exe,
         cwd,
         {Command::remove, root, stage, true},
         30},
        {"repair", argv(u"--repair"), installed, cwd, {Command::repair, root, u"", false}, 14},
        {"relative_root",
         argv(u"--apply", u"Runtime"),
         engine_exe,
         parent,
         {Command::apply, root, stage, false},
         0},
        {"dotted_root",
         argv(u"--apply", parent + u"\\x\\..\\.\\Runtime"),
         engine_exe,
         cwd,
         {Command::apply, root, stage, false},
         0},
        // GetFullPathNameW keeps a trailing separator; the placement check does not care.
        {"trailing_separator",
         argv(u"--remove", root + u"\\"),
         engine_exe,
         cwd,
         {Command::remove, root + u"\\", stage, false},
         30},
        {"slashes",
         argv(u"--recover", u"C:/Program Files/Holvar/Runtime"),
         engine_exe,
         cwd,
         {Command::recover, root, stage, false},
         15},
        {"root_not_unicode",
         argv(u"--apply", root + lone_high),
         engine_exe,
         cwd,
         {Command::apply, root + lone_high, stage, false},
         0},
        {"root_case_differs_from_disk",
         argv(u"--apply", parent + u"\\RUNTIME"),
         engine_exe,
         cwd,
         {Command::apply, parent + u"\\RUNTIME", stage, false},
         0},
    };
}

TEST(EntryDispatch, ExactlyOneDriverRunsWithTheAbsoluteRootAndStage) {
    for (const DispatchCase& c : dispatch_cases()) {
        EngineMachine m;
        ASSERT_TRUE(m.machine->make_directory(root, administrators()));
        ASSERT_TRUE(m.machine->make_directory(root + u"\\resources", administrators()));
        ASSERT_TRUE(m.machine->write_file(root + u"\\resources\\holvar-service-install.exe",
                                          {'M', 'Z'}, administrators()));
        RecordingDrivers drivers;
        EXPECT_EQ(m.run(c.argv, &drivers, c.image, c.current_directory), c.exit_code) << c.name;
        EXPECT_EQ(drivers.calls, std::vector<DriverCall>{c.expected}) << c.name;
        // The front end writes no report of its own when a driver ran.
        EXPECT_TRUE(m.names(diagnostics).empty()) << c.name;
    }
}

TEST(EntryLock, HeldWhileTheDriverRuns) {
    EngineMachine m;
    RecordingDrivers drivers;
    std::optional<uint32_t> seen;
    drivers.during = [&](platform::Os&) {
        uint32_t pid =
            m.machine->spawn_process(u"C:\\Windows\\System32\\other.exe", sim::admin_token());
        {
            sim::ProcessOs other(*m.machine, pid);
            auto created = other.os().sync.create_mutex(mutex_name, false);
            ASSERT_TRUE(created);
            auto waited = other.os().sync.wait_for_single_object(created->handle, 0);
            ASSERT_TRUE(waited);
            seen = *waited;
        }
        m.machine->exit_process(pid, 0);
    };
    EXPECT_EQ(m.run(argv(u"--apply"), &drivers), 0);
    EXPECT_EQ(seen, platform::WAIT_TIMEOUT);
}

TEST(EntryLock, BusyWhileHeldThenTakenOnceTheHolderDied) {
    EngineMachine m;
    uint32_t holder = m.hold_lock();
    RecordingDrivers drivers;
    EXPECT_EQ(m.run(argv(u"--apply"), &drivers), 12);
    EXPECT_EQ(m.report(u"engine-none-apply.json"),
              early_report("apply", "busy", 12, "mutex_failed"));
    EXPECT_TRUE(drivers.calls.empty());

    m.kill(holder);  // abandoned, not released: it counts as acquired
    EXPECT_EQ(m.run(argv(u"--apply"), &drivers), 0);
    EXPECT_EQ(drivers.calls.size(), 1u);
    // And the engine's own lock ends with its process.
    EXPECT_EQ(m.run(argv(u"--remove"), &drivers), 30);
    EXPECT_EQ(drivers.calls.size(), 2u);
}

// The real drivers behind the front end: a stage without a payload is refused
// by the install's scan, and the report and "diag.txt" are where they belong.
TEST(EntryRealDrivers, AStageWithoutPayloadIsRefusedWithAReport) {
    EngineMachine m;
    EXPECT_EQ(m.run(argv(u"--apply")), 11);
    const std::u16string name = u"engine-" + txid16 + u"-apply.json";
    std::optional<std::string> report = m.report(name);
    ASSERT_TRUE(report);
    EXPECT_NE(report->find(R"("txid":")" + txid + R"(","outcome":"refused","exit_code":11)"),
              std::string::npos);
    EXPECT_NE(report->find(R"("primary":{"phase":"plan","reason":"unsafe_object")"),
              std::string::npos);
    EXPECT_EQ(m.text(stage + u"\\diag.txt"),
              "C:\\Program Files\\Holvar\\Holvar-Install-"
              "Diagnostics\\engine-" +
                  txid + "-apply.json\n");
}

}  // namespace
}  // namespace holvar::installer::testing
