// `holvar-sim explain`, as a support engineer runs it, on the files
// holvar-explain.exe is held to under Wine (tests/data/explain): a journal of
// each row of recovery's decision table prints that row's decision, on the
// host and asked of a machine; a report of each outcome says it with its exit
// code; a damaged or foreign file is refused with exit code 2. On a machine
// left by a power cut, what explain says --recover would decide is what
// --recover then does, and explaining changes nothing on the machine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "e2e/sim_cli.hpp"
#include "explain/explanation.hpp"
#include "explain/read_file.hpp"
#include "platform/sim/machine.hpp"

namespace holvar::e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(HOLVAR_SOURCE_DIR) / "tests" / "data" / "explain";
const std::string kDecides = "--recover would decide ";

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Each --json explanation is kept for the schema check, like the engine's
// reports and journals.
void capture_json(const std::string& name, const std::string& json) {
    const char* folder = std::getenv("HOLVAR_CONTRACT_CAPTURE");
    if (folder == nullptr) return;
    const fs::path dir = fs::path(folder) / "explanation";
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << json;
}

class Explain : public ::testing::Test {
  protected:
    void SetUp() override {
        cli.init();
        ASSERT_EQ(cli.run({"mkdir", cli.machine(), R"(C:\explain)"}).exit_code, 0);
    }
    // The file on the machine, for --machine.
    std::string on_machine(const fs::path& file) const {
        const std::string winpath = R"(C:\explain\)" + file.filename().string();
        const auto written = cli.run({"write", cli.machine(), winpath, "--from", file.string()});
        EXPECT_EQ(written.exit_code, 0) << written.err;
        return winpath;
    }
    SimCli cli;
};

struct JournalRow {
    std::string file;
    std::string on_host;     // the decision under the host's assumption
    std::string on_machine;  // on a fresh machine: no service, no root
    std::vector<std::string> lines;
};

TEST_F(Explain, AJournalOfEachDecisionRowPrintsThatRowsDecision) {
    const std::vector<JournalRow> rows{
        {"journal-roll_back.json",
         "roll_back",
         "root_lost",
         {"an install or upgrade (--apply), txid 0123456789abcdef0123456789abcdef",
          "marks reached: planned fenced placing",
          "the last run: began moving files into place by handle, then stopped",
          "if the root is absent: root_lost:"}},
        {"journal-roll_back-begun.json", "roll_back", "roll_back", {"began rolling back"}},
        {"journal-confirm_and_finalize.json", "confirm_and_finalize", "root_lost", {}},
        {"journal-resume_finalize.json", "resume_finalize", "root_lost", {}},
        {"journal-ended.json", "ended", "ended", {"the transaction has ended"}},
        {"journal-remove_empty_root.json",
         "remove_empty_root",
         "root_lost",
         {"root is an empty folder"}},
        {"journal-abort_removal.json",
         "abort_removal",
         "resume_removal",
         {"a removal (--remove)", "if the service is absent: resume_removal:"}},
        {"journal-resume_removal.json", "resume_removal", "resume_removal", {}},
        {"journal-ended-removal.json", "ended", "ended", {"abandoned the removal"}},
        {"journal-no-marks.json", "roll_back", "root_lost", {"stopped before its first mark"}},
    };
    std::set<std::string> decisions;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const fs::path file = kData / row.file;
        const auto host = cli.run({"explain", file.string()});
        ASSERT_EQ(host.exit_code, 0) << host.err;
        EXPECT_TRUE(has(host.out, kDecides + row.on_host + ":")) << host.out;
        EXPECT_TRUE(has(host.out, "(the machine was not asked)")) << host.out;
        for (const auto& line : row.lines) EXPECT_TRUE(has(host.out, line)) << line << host.out;

        const auto asked = cli.run({"explain", on_machine(file), "--machine", cli.machine()});
        ASSERT_EQ(asked.exit_code, 0) << asked.err;
        EXPECT_TRUE(has(asked.out, "on this machine the service is absent and the root is absent"))
            << asked.out;
        EXPECT_TRUE(has(asked.out, "the transaction lock is free")) << asked.out;
        EXPECT_TRUE(has(asked.out, kDecides + row.on_machine + ":")) << asked.out;

        const auto json = cli.run({"explain", file.string(), "--json"});
        ASSERT_EQ(json.exit_code, 0) << json.err;
        EXPECT_TRUE(has(json.out, R"("decision":")" + row.on_host + '"')) << json.out;
        capture_json(row.file, json.out);
        capture_json(
            "machine-" + row.file,
            cli.run({"explain", on_machine(file), "--machine", cli.machine(), "--json"}).out);
        decisions.insert(row.on_host);
        decisions.insert(row.on_machine);
    }
    EXPECT_EQ(decisions.size(), 8u) << "every row of the decision table";
}

TEST_F(Explain, AReportOfEachOutcomeSaysItAndWhatToDoNext) {
    const std::map<std::string, std::vector<std::string>> extra{
        {"rolled_back",
         {"what went wrong first: quiesce/sharing_violation, win32 error 32, at holvar-client.exe",
          "processes holding files: holder.exe", "what to do next: the old installation is back"}},
        {"recovery_pending", {"what recovery hit: rollback/sharing_violation, win32 error 32"}},
        {"removed_reboot_pending", {"2 object(s) wait for a restart to be deleted"}},
        {"refused", {"txid none"}},
    };
    size_t outcomes = 0;
    for (const auto& entry : fs::directory_iterator(kData)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("report-")) continue;
        SCOPED_TRACE(name);
        const std::string outcome = name.substr(7, name.size() - 12);
        const auto result =
            cli.run({"explain", on_machine(entry.path()), "--machine", cli.machine()});
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_TRUE(has(result.out, "\noutcome " + outcome + ", exit code ")) << result.out;
        EXPECT_TRUE(has(result.out, "what to do next: ")) << result.out;
        if (const auto it = extra.find(outcome); it != extra.end()) {
            for (const auto& line : it->second)
                EXPECT_TRUE(has(result.out, line)) << line << "\n" << result.out;
        }
        const auto json = cli.run({"explain", entry.path().string(), "--json"});
        EXPECT_TRUE(has(json.out, R"("outcome":")" + outcome + '"')) << json.out;
        capture_json(name, json.out);
        ++outcomes;
    }
    EXPECT_EQ(outcomes, 14u) << "a report of every outcome";
}

TEST_F(Explain, ADamagedOrForeignFileIsRefusedWithExitCode2) {
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(kData / "unreadable")) {
        SCOPED_TRACE(entry.path().filename().string());
        const auto host = cli.run({"explain", entry.path().string()});
        EXPECT_EQ(host.exit_code, 2) << host.out;
        EXPECT_TRUE(has(host.err, entry.path().string())) << host.err;
        EXPECT_TRUE(host.out.empty()) << host.out;
        const std::string winpath = on_machine(entry.path());
        const auto asked = cli.run({"explain", winpath, "--machine", cli.machine(), "--json"});
        EXPECT_EQ(asked.exit_code, 2) << asked.out;
        EXPECT_TRUE(has(asked.err, winpath)) << asked.err;
        ++files;
    }
    EXPECT_GE(files, 6u);
    EXPECT_EQ(cli.run({"explain", (cli.folder() / "missing.json").string()}).exit_code, 2);
    EXPECT_EQ(
        cli.run({"explain", R"(C:\explain\missing.json)", "--machine", cli.machine()}).exit_code,
        2);
}

TEST_F(Explain, AStageDirectoryStandsForItsJournal) {
    const auto stage = cli.folder() / ".Holvar-upgrade-0123";
    fs::create_directories(stage / "journal");
    fs::copy_file(kData / "journal-confirm_and_finalize.json", stage / "journal" / "txn.json");
    const auto result = cli.run({"explain", stage.string()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(has(result.out, kDecides + "confirm_and_finalize:")) << result.out;
}

TEST_F(Explain, AnEngineHoldingTheLockIsReported) {
    ASSERT_EQ(cli.run({"hold-lock", cli.machine()}).exit_code, 0);
    const std::string journal = on_machine(kData / "journal-roll_back.json");
    const std::string before = SimCli::read_real(cli.machine());
    const auto result = cli.run({"explain", journal, "--machine", cli.machine()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(has(result.out, "the transaction lock is held: an engine runs now")) << result.out;
    EXPECT_EQ(SimCli::read_real(cli.machine()), before);
}

// A power cut at several points of an install: on the machine it left, explain
// says what --recover decides, and --recover then ends the way that decision
// ends. The explanation itself makes no mutating call and only reads.
TEST_F(Explain, WhatExplainPredictsIsWhatRecoverDoes) {
    const std::string root = R"(C:\Program Files\Holvar)";
    const std::string txid = "0123456789abcdef0123456789abcdef";
    // The exit code of --recover after each decision it may take here.
    const std::map<std::string, int> recovered{{"roll_back", 10},      {"confirm_and_finalize", 0},
                                               {"resume_finalize", 0}, {"remove_empty_root", 15},
                                               {"root_lost", 15},      {"ended", 15}};
    const std::set<std::string> reads{"get_full_path_name",
                                      "create_file",
                                      "get_file_basic_info",
                                      "get_file_id_info",
                                      "read_file",
                                      "find_files",
                                      "create_mutex",
                                      "open_sc_manager",
                                      "open_service",
                                      "query_service_config",
                                      "query_service_description",
                                      "query_service_status"};
    std::set<std::string> decided;
    int installed = 0;
    for (const int call : {7, 60, 125, 140, 160}) {
        SCOPED_TRACE("power cut at mutating call " + std::to_string(call));
        SimCli run;
        run.init();
        const auto staged = run.run(
            {"stage", run.machine(), "--root", root, "--txid", txid, "--demo-payload", "v1"});
        ASSERT_EQ(staged.exit_code, 0) << staged.err;
        const std::string engine = staged.last_line();
        const std::string stage = engine.substr(0, engine.rfind('\\'));
        const auto cut = run.run({"run", run.machine(), "--crash-after", std::to_string(call),
                                  "--exe", engine, "--", "--apply", "--root", root});
        if (cut.exit_code != 3) continue;  // the install ended before the cut
        ASSERT_EQ(run.run({"reboot", run.machine()}).exit_code, 0);
        const auto explained = run.run({"explain", stage, "--machine", run.machine()});
        if (explained.exit_code == 2) {  // cut before the journal was written
            EXPECT_TRUE(has(explained.err, "holds no journal")) << explained.err;
            continue;
        }
        ASSERT_EQ(explained.exit_code, 0) << explained.err;
        const size_t at = explained.out.find(kDecides);
        ASSERT_NE(at, std::string::npos) << explained.out;
        const std::string rest = explained.out.substr(at + kDecides.size());
        const std::string decision = rest.substr(0, rest.find(':'));
        ASSERT_TRUE(recovered.contains(decision)) << explained.out;
        decided.insert(decision);
        capture_json("cut-" + std::to_string(call) + ".json",
                     run.run({"explain", stage, "--machine", run.machine(), "--json"}).out);
        if (has(explained.out, "the service is installed (")) {
            EXPECT_TRUE(has(explained.out,
                            R"(, image "C:\Program Files\Holvar\resources\holvar-service.exe"))"))
                << explained.out;
            ++installed;
        }

        // In process, on the same machine: only reads, and nothing mutated.
        auto machine = sim::Machine::load(run.machine());
        ASSERT_TRUE(machine.has_value());
        const uint64_t mutations = (*machine)->mutating_calls();
        std::vector<std::string> calls;
        (*machine)->record_call_names(&calls);
        {
            const uint32_t pid =
                (*machine)->spawn_process(u"C:\\Windows\\System32\\x.exe", sim::admin_token());
            sim::ProcessOs process(**machine, pid);
            std::u16string wide(stage.begin(), stage.end());
            const auto bytes = explain::read_explained_file(process.os(), wide, stage);
            ASSERT_TRUE(bytes.has_value());
            ASSERT_TRUE(explain::explain_bytes(*bytes, stage, &process.os()).has_value());
        }
        (*machine)->record_call_names(nullptr);
        EXPECT_FALSE(calls.empty());
        EXPECT_EQ((*machine)->mutating_calls(), mutations);
        for (const std::string& name : calls) EXPECT_TRUE(reads.contains(name)) << name;

        const auto recover =
            run.run({"run", run.machine(), "--exe", engine, "--", "--recover", "--root", root});
        EXPECT_EQ(recover.exit_code, recovered.at(decision)) << decision;
    }
    EXPECT_EQ(decided.size(), 4u) << "roll_back, confirm_and_finalize, resume_finalize, ended";
    EXPECT_GT(installed, 0) << "a cut after the service was configured";
}

}  // namespace
}  // namespace holvar::e2e
