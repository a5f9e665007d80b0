// holvar-sim's own contract: what it does with a missing or damaged machine
// file and with bad usage, and that bytes and names pass through it unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/sim_cli.hpp"

namespace holvar::e2e {
namespace {

namespace fs = std::filesystem;

void write_real(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Every verb that reads the machine file, with otherwise valid arguments.
std::vector<std::vector<std::string>> verbs_on(const std::string& machine) {
    const std::string exe =
        R"(C:\Program Files\.Holvar-upgrade-0123456789abcdef0123456789abcdef\holvar-service-install.exe)";
    return {
        {"stage", machine, "--root", R"(C:\Program Files\Holvar)"},
        {"run", machine, "--exe", exe, "--", "--apply", "--root", R"(C:\Program Files\Holvar)"},
        {"hold-lock", machine},
        {"hold-file", machine, R"(C:\Windows)"},
        {"kill", machine, "4"},
        {"cat", machine, R"(C:\Windows\win.ini)"},
        {"ls", machine, R"(C:\)"},
        {"mkdir", machine, R"(C:\New)"},
        {"write", machine, R"(C:\New.txt)", "--text", "x"},
        {"chown", machine, R"(C:\Windows)", "user"},
        {"junction", machine, R"(C:\Link)", R"(C:\Windows)"},
        {"rm", machine, R"(C:\Windows)"},
        {"show", machine},
        {"show", machine, "tree", R"(C:\)"},
    };
}

TEST(SimTool, AMissingMachineFileIsReportedAndNotCreated) {
    SimCli cli;
    for (const auto& args : verbs_on(cli.machine())) {
        SCOPED_TRACE(args[0]);
        const auto ran = cli.run(args);
        EXPECT_EQ(ran.exit_code, 2);
        EXPECT_NE(ran.err.find("does not exist"), std::string::npos) << ran.err;
        EXPECT_FALSE(fs::exists(cli.machine()));
    }
}

TEST(SimTool, ADamagedMachineFileIsReportedAndLeftByteIdentical) {
    SimCli cli;
    cli.init();
    const std::string good = SimCli::read_real(cli.machine());
    const std::vector<std::string> damaged = {
        "",
        "not json at all",
        "{}",
        "[1,2,3]",
        good.substr(0, good.size() / 2),
        std::string("\xFF\xFE\x00\x01", 4),
    };
    const auto all_verbs = verbs_on(cli.machine());
    for (const auto& bytes : damaged) {
        write_real(cli.machine(), bytes);
        // Every verb on one kind of damage; the verbs that change most on the rest.
        const bool every_verb = bytes.size() == good.size() / 2;
        for (const auto& args : all_verbs) {
            if (!every_verb && args[0] != "run" && args[0] != "stage") continue;
            SCOPED_TRACE(args[0] + " on " + std::to_string(bytes.size()) + " bytes");
            const auto ran = cli.run(args);
            EXPECT_EQ(ran.exit_code, 2);
            EXPECT_NE(ran.err.find("left unchanged"), std::string::npos) << ran.err;
            EXPECT_EQ(SimCli::read_real(cli.machine()), bytes);
        }
        // init does not replace a file it could not read, unless told to.
        EXPECT_EQ(cli.run({"init", cli.machine()}).exit_code, 2);
        EXPECT_EQ(SimCli::read_real(cli.machine()), bytes);
    }
    EXPECT_EQ(cli.run({"init", "--force", cli.machine()}).exit_code, 0);
    EXPECT_EQ(cli.run({"ls", cli.machine(), R"(C:\)"}).exit_code, 0);
}

TEST(SimTool, BadUsageExitsWithTwoAndChangesNothing) {
    SimCli cli;
    cli.init();
    const std::string before = SimCli::read_real(cli.machine());
    const std::string m = cli.machine();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate", m},
        {"ls", m},
        {"ls", m, R"(C:\)", "extra"},
        {"ls", m, "relative\\path"},
        {"mkdir", m, R"(C:\x)", "--owner", "nobody"},
        {"mkdir", m, R"(C:\x)", "--colour", "red"},
        {"run", m, "--", "--apply"},
        {"run", m, "--exe"},
        {"run", m, "--exe", R"(C:\e.exe)", "--crash-after", "soon", "--"},
        {"stage", m},
        {"stage", m, "--root", R"(C:\Holvar)", "--txid", "0123"},
        {"stage", m, "--root", R"(C:\Holvar)", "--payload", "/nonexistent/payload"},
        {"stage", m, "--root", R"(C:\Holvar)", "--demo-payload", "v9"},
        {"stage", m, "--root", R"(C:\Holvar)", "--payload", "/", "--demo-payload", "v1"},
        {"hold-file", m},
        {"hold-file", m, R"(C:\Windows)", "--share", "d"},
        {"hold-file", m, R"(C:\Windows)", "--for-ms", "0"},
        {"hold-file", m, R"(C:\Windows)", "--for-ms", "-5"},
        {"show", m, "journal"},
        {"show", m, "tree", "relative"},
        {"show", m, "services", R"(C:\)"},
        {"show", m, "everything"},
        {"show", m, "tree", R"(C:\)", "extra"},
        {"kill", m, "-1"},
        {"write", m, R"(C:\x)"},
        {"write", m, R"(C:\x)", "--text", "a", "--engine"},
        {"mkdir", m, "C:\\bad\xC0\x80name"},
        {"mkdir", m, "C:\\bad\xFFname"},
        {"mkdir", m, "C:\\pair\xED\xA0\x80\xED\xB0\x80spelt-apart"},
        {"run", m, "--exe", R"(C:\e.exe)", "--", "--apply\xF8"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const auto ran = cli.run(args);
        EXPECT_EQ(ran.exit_code, 2);
        EXPECT_FALSE(ran.err.empty());
        EXPECT_EQ(SimCli::read_real(m), before);
    }
}

TEST(SimTool, OperationsTheMachineRefusesExitWithOne) {
    SimCli cli;
    cli.init();
    const std::string m = cli.machine();
    const std::vector<std::vector<std::string>> cases = {
        {"cat", m, R"(C:\missing.txt)"},
        {"ls", m, R"(C:\missing)"},
        {"mkdir", m, R"(C:\missing\child)"},
        {"kill", m, "999999"},
        {"run", m, "--exe", R"(C:\missing\holvar-service-install.exe)", "--"},
        {"rm", m, R"(C:\missing)"},
        {"hold-file", m, R"(C:\missing.txt)"},
        {"show", m, "journal", R"(C:\missing)"},
        {"show", m, "journal", R"(C:\Windows)"},
        {"show", m, "tree", R"(C:\missing)"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const auto ran = cli.run(args);
        EXPECT_EQ(ran.exit_code, 1) << ran.err;
        EXPECT_FALSE(ran.err.empty());
    }
}

TEST(SimTool, CatPrintsAFilesBytesUnchanged) {
    SimCli cli;
    cli.init();
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    bytes += "\r\n\n\0tail";
    write_real(cli.folder() / "all-bytes", bytes);
    ASSERT_EQ(cli.run({"write", cli.machine(), R"(C:\all-bytes.bin)", "--from",
                       (cli.folder() / "all-bytes").string()})
                  .exit_code,
              0);
    EXPECT_EQ(cli.cat(R"(C:\all-bytes.bin)"), bytes);
}

// Names that are not valid Unicode (an unpaired surrogate) and names outside
// the Basic Multilingual Plane go in and come out as the same WTF-8 bytes.
TEST(SimTool, NamesRoundTripAsWtf8) {
    SimCli cli;
    cli.init();
    const std::vector<std::string> names = {
        "lone-high-\xED\xA0\x80",
        "lone-low-\xED\xBF\xBF",
        "clef-\xF0\x9D\x84\x9E",
        "accent-\xC3\xA9",
        "with space",
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const auto made = cli.run({"mkdir", cli.machine(), "C:\\" + name, "--owner", "user"});
        ASSERT_EQ(made.exit_code, 0) << made.err;
    }
    const auto listed = cli.ls(R"(C:\)");
    for (const auto& name : names) {
        EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const std::string& line) {
            return line.starts_with("dir user ") && line.ends_with(" " + name);
        })) << name;
    }
}

TEST(SimTool, StageLaysOutTheTransactionBesideTheRoot) {
    SimCli cli;
    cli.init();
    const fs::path payload = cli.folder() / "payload";
    fs::create_directories(payload / "resources" / "nested");
    write_real(payload / "holvar-client.exe", "client bytes");
    write_real(payload / "resources" / "nested" / "data.bin", std::string("\0\1\2", 3));

    const auto staged =
        cli.run({"stage", cli.machine(), "--root", R"(C:\Apps\Holvar)", "--txid",
                 "00112233445566778899aabbccddeeff", "--payload", payload.string()});
    ASSERT_EQ(staged.exit_code, 0) << staged.err;
    const std::string stage = R"(C:\Apps\.Holvar-upgrade-00112233445566778899aabbccddeeff)";
    EXPECT_EQ(staged.last_line(), stage + R"(\holvar-service-install.exe)");
    EXPECT_EQ(cli.cat(stage + R"(\payload\holvar-client.exe)"), "client bytes");
    EXPECT_EQ(cli.cat(stage + R"(\payload\resources\nested\data.bin)"), std::string("\0\1\2", 3));
    EXPECT_FALSE(cli.cat(staged.last_line()).empty());

    // Everything the setup program made is owned by Administrators.
    for (const auto& dir : {std::string(R"(C:\Apps)"), stage, stage + R"(\payload)"}) {
        const auto lines = cli.ls(dir);
        EXPECT_FALSE(lines.empty()) << dir;
        for (const auto& line : lines) {
            EXPECT_NE(line.find(" administrators "), std::string::npos) << line;
        }
    }
    const auto beside = cli.ls(R"(C:\Apps)");
    EXPECT_TRUE(std::any_of(beside.begin(), beside.end(), [](const std::string& l) {
        return l.starts_with("dir administrators ") && l.ends_with(" Holvar-Install-Diagnostics");
    }));
    // The same transaction cannot be staged twice.
    EXPECT_EQ(cli.run({"stage", cli.machine(), "--root", R"(C:\Apps\Holvar)", "--txid",
                       "00112233445566778899aabbccddeeff"})
                  .exit_code,
              1);
    // A payload with a link in it is refused, not followed.
    fs::create_symlink("/etc", payload / "link");
    EXPECT_EQ(cli.run({"stage", cli.machine(), "--root", R"(C:\Apps\Holvar)", "--payload",
                       payload.string()})
                  .exit_code,
              2);
}

TEST(SimTool, ARandomTxidIsThirtyTwoLowercaseHexDigits) {
    SimCli cli;
    cli.init();
    const auto staged = cli.run({"stage", cli.machine(), "--root", R"(C:\Holvar)"});
    ASSERT_EQ(staged.exit_code, 0) << staged.err;
    const std::string line = staged.out.substr(0, staged.out.find('\n'));
    ASSERT_TRUE(line.starts_with("txid ")) << line;
    const std::string txid = line.substr(5);
    EXPECT_EQ(txid.size(), 32u);
    EXPECT_EQ(txid.find_first_not_of("0123456789abcdef"), std::string::npos) << txid;
    EXPECT_EQ(staged.last_line(),
              R"(C:\.Holvar-upgrade-)" + txid + R"(\holvar-service-install.exe)");
}

}  // namespace
}  // namespace holvar::e2e

namespace holvar::e2e {
namespace {

TEST(SimTool, ShowTellsWhoHoldsTheLockAndWhatWasReported) {
    SimCli cli;
    cli.init();
    const std::string engine = cli.stage(R"(C:\Holvar)", "0123456789abcdef0123456789abcdef");
    const auto held = cli.run({"hold-lock", cli.machine()});
    ASSERT_EQ(held.exit_code, 0) << held.err;
    ASSERT_EQ(cli.engine(engine, {"--apply", "--root", R"(C:\Holvar)"}).exit_code, 12);

    const auto shown = cli.run({"show", cli.machine()});
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_NE(shown.out.find("Holvar.ManagedInstaller.Transaction.v3: owned by " +
                             held.last_line() + "\n"),
              std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find("report C:\\Holvar-Install-Diagnostics\\engine-none-apply.json:\n"
                             "  {\"format\":1,"),
              std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find("dir administrators "), std::string::npos);

    // Its last handle closed with the holder, so the named mutex is gone, as on Windows.
    ASSERT_EQ(cli.run({"kill", cli.machine(), held.last_line()}).exit_code, 0);
    EXPECT_EQ(cli.run({"show", cli.machine()}).out.find("Transaction.v3"), std::string::npos);
}

}  // namespace
}  // namespace holvar::e2e
