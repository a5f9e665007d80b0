// `hold-file`: another program's open handle keeps a file from being renamed
// for as long as it says, across invocations of the tool; and the views of
// `show`, which print one part of the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/sim_cli.hpp"
#include "journal/reference_journals.hpp"
#include "platform/sim/machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/registry_model.hpp"

namespace holvar::e2e {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kSharingViolation = 32;

// A rename of C:\held.txt by another elevated process of the loaded machine:
// 0 when it went through, else the Win32 error.
uint32_t rename_held(sim::Machine& machine) {
    const uint32_t pid = machine.spawn_process(u"C:\\mover.exe", sim::admin_token());
    sim::ProcessOs process(machine, pid);
    const std::u16string to = u"C:\\moved.txt";
    const auto moved = process.os().files.move_file_ex(u"C:\\held.txt", &to, 0);
    return moved ? 0 : moved.error().win32;
}

struct HoldCase {
    const char* name;
    std::vector<std::string> options;
    std::optional<int64_t> held_ms;  // how long renames fail; none = until the holder ends
    const char* ended_by;            // "kill" or "reboot", when held until then
};

TEST(SimToolHoldFile, ARenameFailsWithASharingViolationWhileTheFileIsHeld) {
    const std::vector<HoldCase> cases = {
        {"shares read only", {}, std::nullopt, "kill"},
        {"shares read and write", {"--share", "rw"}, std::nullopt, "reboot"},
        {"shares nothing", {"--share", "none"}, std::nullopt, "kill"},
        {"shares delete too", {"--share", "rwd"}, 0, nullptr},
        {"lets go after 5000 ms", {"--for-ms", "5000"}, 5000, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimCli cli;
        cli.init();
        ASSERT_EQ(cli.run({"write", cli.machine(), R"(C:\held.txt)", "--text", "x"}).exit_code, 0);
        std::vector<std::string> args{"hold-file", cli.machine(), R"(C:\held.txt)"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto held = cli.run(args);
        ASSERT_EQ(held.exit_code, 0) << held.err;
        const std::string pid = held.last_line();

        // The hold outlives the invocation that made it: it is in the machine file.
        auto machine = sim::Machine::load(cli.machine()).value();
        if (c.held_ms) {
            if (*c.held_ms > 0) {
                machine->advance(std::chrono::milliseconds(*c.held_ms - 1));
                EXPECT_EQ(rename_held(*machine), kSharingViolation);
                machine->advance(1ms);
            }
            EXPECT_EQ(rename_held(*machine), 0u);
            continue;
        }
        machine->advance(1h);
        EXPECT_EQ(rename_held(*machine), kSharingViolation);
        // The Restart Manager names the holder by its image.
        sim::ProcessOs asker(*machine, machine->spawn_process(u"C:\\ask.exe", sim::admin_token()));
        auto& rm = asker.os().restart_manager;
        const uint32_t session = rm.rm_start_session().value();
        ASSERT_TRUE(rm.rm_register_resources(session, {u"C:\\held.txt"}));
        const auto holders = rm.rm_get_list(session, 8);
        ASSERT_TRUE(rm.rm_end_session(session));
        ASSERT_EQ(holders.records.size(), 1u);
        EXPECT_EQ(std::to_string(holders.records[0].process_id), pid);
        EXPECT_EQ(holders.records[0].app_name, u"holder.exe");
        EXPECT_NE(cli.run({"show", cli.machine(), "processes"})
                      .out.find(pid + " admin elevated C:\\Windows\\System32\\holder.exe\n"),
                  std::string::npos);

        std::vector<std::string> end{c.ended_by, cli.machine()};
        if (std::string(c.ended_by) == "kill") end.push_back(pid);
        ASSERT_EQ(cli.run(end).exit_code, 0);
        EXPECT_EQ(rename_held(*sim::Machine::load(cli.machine()).value()), 0u);
    }
}

TEST(SimToolShow, JournalPrintsKindTxidOperationsAndMarks) {
    using namespace txn::journal::testing;
    const std::string stage = R"(C:\.Holvar-upgrade-0123456789abcdef0123456789abcdef)";
    struct Case {
        const char* name;
        std::string text;
        int exit_code;
        std::vector<std::string> printed;  // in stdout, or in stderr on failure
    };
    const std::vector<Case> cases = {
        {"upgrade",
         upgrade_text,
         0,
         {"journal " + stage + R"(\journal\txn.json)" +
              "\n  kind apply\n"
              "  txid 0123456789abcdef0123456789abcdef\n  engine version 3.0.0\n"
              R"(  root C:\Program Files\Holvar (volume 1234abcd5678ef90, id 000000000000000100000000000000a1))"
              "\n",
          R"(  service before: start auto, running, account LocalSystem, binary path )"
          R"("C:\Program Files\Holvar\resources\holvar-service.exe")"
          "\n  generated before: .holvar-service-v3, service-logs\n"
          "  ops 7: replace 2, add 1, retire 2, mkdir 2\n  marks 7:\n    planned\n    fenced\n"
          "    placing\n    configured\n    committed\n    finalizing\n    finalized\n"
          "  ended: yes\n"}},
        {"fresh install rolled back",
         fresh_install_text,
         0,
         {"(volume 00000000000000ff, id none)\n", "  service before: none\n",
          "  generated before: (none)\n",
          "    planned\n    root_created 000000000000000000000000c0ffee01\n    fenced\n"}},
        {"removal",
         removal_text,
         0,
         {"  kind remove\n", "  purge session vault: yes\n",
          "  ops 0: replace 0, add 0, retire 0, mkdir 0\n  marks 11:\n",
          "    aborted\n  ended: yes\n"}},
        {"corrupt", "{}", 1, {"is corrupt: "}},
        {"newer format", R"({"format":2})", 1, {"is of an unsupported format"}},
    };
    SimCli cli;
    cli.init();
    cli.stage(R"(C:\Holvar)", "0123456789abcdef0123456789abcdef");
    ASSERT_EQ(cli.run({"mkdir", cli.machine(), stage + R"(\journal)"}).exit_code, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto journal = cli.folder() / "txn.json";
        std::ofstream(journal, std::ios::binary | std::ios::trunc) << c.text;
        ASSERT_EQ(cli.run({"write", cli.machine(), stage + R"(\journal\txn.json)", "--from",
                           journal.string()})
                      .exit_code,
                  0);
        const auto of_stage = cli.run({"show", cli.machine(), "journal", stage});
        EXPECT_EQ(of_stage.exit_code, c.exit_code) << of_stage.err;
        for (const auto& text : c.printed) {
            EXPECT_NE((c.exit_code == 0 ? of_stage.out : of_stage.err).find(text),
                      std::string::npos)
                << of_stage.out << of_stage.err;
        }
        const auto of_file =
            cli.run({"show", cli.machine(), "journal", stage + R"(\journal\txn.json)"});
        EXPECT_EQ(of_file.out, of_stage.out);
    }
}

TEST(SimToolShow, ServicesRegistryAndTreeViews) {
    SimCli cli;
    cli.init();
    {
        auto machine = sim::Machine::load(cli.machine()).value();
        sim::Service service;
        service.name = u"holvar_service";
        service.start_type = 2;
        service.binary_path = u"\"C:\\Holvar\\resources\\holvar-service.exe\"";
        service.dependencies = {u"Tcpip"};
        service.display_name = u"Holvar Service";
        machine->state().scm.services[u"holvar_service"] = service;
        sim::reg_set_value(machine->state().registry, u"HKLM\\SOFTWARE\\Holvar\\Holvar",
                           u"InstallLocation", sim::REG_SZ, sim::sz_bytes(u"C:\\Holvar"));
        ASSERT_TRUE(machine->save(cli.machine()));
    }
    ASSERT_EQ(cli.run({"mkdir", cli.machine(), R"(C:\Top)"}).exit_code, 0);
    ASSERT_EQ(cli.run({"mkdir", cli.machine(), R"(C:\Top\b)"}).exit_code, 0);
    ASSERT_EQ(cli.run({"write", cli.machine(), R"(C:\Top\b\Z.txt)", "--text", "12345"}).exit_code,
              0);
    ASSERT_EQ(cli.run({"write", cli.machine(), R"(C:\Top\a.txt)", "--text", "1"}).exit_code, 0);
    ASSERT_EQ(cli.run({"junction", cli.machine(), R"(C:\Top\B2)", R"(C:\Windows)"}).exit_code, 0);

    const std::vector<std::pair<std::vector<std::string>, std::string>> views = {
        {{"services"},
         "services:\n  holvar_service\n"
         "    state stopped (1), pid 0, win32 exit code 1077, service exit code 0\n"
         "    type own_process (16), start auto (2), error control normal (1)\n"
         "    binary path \"C:\\Holvar\\resources\\holvar-service.exe\"\n"
         "    account (none: LocalSystem)\n    display name \"Holvar Service\"\n"
         "    description (none)\n    dependencies \"Tcpip\"\n"},
        {{"registry"},
         "  HKLM\\SOFTWARE\\Classes\n  HKLM\\SOFTWARE\\Holvar\n  HKLM\\SOFTWARE\\Holvar\\Holvar\n"
         "    InstallLocation = \"C:\\Holvar\"\n"},
        // Ordered by relative path with ASCII case folding, as the planner keys
        // them ("2" before "\\"); a junction is not entered.
        {{"tree", R"(C:\Top)"}, " 1 a.txt\ndir "},
        {{"tree", R"(C:\Top)"}, " 0 b\njunction "},
        {{"tree", R"(C:\Top)"}, " 0 B2 -> C:\\Windows\nfile "},
        {{"tree", R"(C:\Top)"}, " 5 b\\Z.txt\n"},
    };
    for (const auto& [view, expected] : views) {
        SCOPED_TRACE(view[0]);
        std::vector<std::string> args{"show", cli.machine()};
        args.insert(args.end(), view.begin(), view.end());
        const auto shown = cli.run(args);
        ASSERT_EQ(shown.exit_code, 0) << shown.err;
        EXPECT_NE(shown.out.find(expected), std::string::npos) << shown.out;
    }
    const auto tree = cli.run({"show", cli.machine(), "tree", R"(C:\Top)"}).out;
    EXPECT_EQ(std::count(tree.begin(), tree.end(), '\n'), 4) << tree;
    EXPECT_TRUE(tree.starts_with("file ")) << tree;
}

}  // namespace
}  // namespace holvar::e2e

namespace holvar::e2e {
namespace {

// `--as user`: the file verbs act as an ordinary user, checked against the
// DACLs of a fresh machine: allowed under C:\ (every authenticated user may
// add folders there and change what is made inside), refused (1, access
// denied) in Program Files and on what SYSTEM owns.
TEST(SimToolAsUser, FileVerbsAreCheckedAgainstTheDacls) {
    SimCli cli;
    cli.init();
    ASSERT_EQ(
        cli.run({"write", cli.machine(), R"(C:\Windows\System32\kernel.dll)", "--text", "system"})
            .exit_code,
        0);
    struct Step {
        std::vector<std::string> args;
        int exit_code;
    };
    const Step steps[] = {
        {{"mkdir", R"(C:\mine)"}, 0},
        {{"write", R"(C:\mine\a.txt)", "--text", "mine"}, 0},
        {{"link", R"(C:\mine\b.txt)", R"(C:\mine\a.txt)"}, 0},
        {{"rm", R"(C:\mine\b.txt)"}, 0},
        {{"hold-file", R"(C:\mine\a.txt)"}, 0},
        {{"rm", R"(C:\mine\a.txt)"}, 1},  // held, sharing only reading: 32
        {{"junction", R"(C:\mine\j)", R"(C:\Windows\System32)"}, 0},
        {{"mkdir", R"(C:\Program Files\mine)"}, 1},
        {{"write", R"(C:\Windows\System32\kernel.dll)", "--text", "x"}, 1},
        {{"link", R"(C:\mine\k.dll)", R"(C:\Windows\System32\kernel.dll)"}, 1},
        {{"rm", R"(C:\Windows\System32\kernel.dll)"}, 1},
        {{"junction", R"(C:\Program Files\j)", R"(C:\mine)"}, 1},
        {{"write", R"(C:\mine\c.txt)", "--text", "x", "--owner", "system"}, 2},
    };
    for (const Step& step : steps) {
        std::vector<std::string> args{step.args[0], cli.machine()};
        args.insert(args.end(), step.args.begin() + 1, step.args.end());
        args.insert(args.end(), {"--as", "user"});
        const CliResult r = cli.run(args);
        EXPECT_EQ(r.exit_code, step.exit_code) << step.args[0] << " " << step.args[1] << r.err;
        if (step.exit_code == 1 && step.args[1] != R"(C:\mine\a.txt)") {
            EXPECT_NE(r.err.find("win32 error 5"), std::string::npos) << r.err;
        }
    }
    EXPECT_EQ(cli.cat(R"(C:\Windows\System32\kernel.dll)"), "system");
    EXPECT_EQ(cli.cat(R"(C:\mine\a.txt)"), "mine");
}

}  // namespace
}  // namespace holvar::e2e
