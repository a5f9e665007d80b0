// `holvar-sim explain`, as a support engineer runs it: a journal from each row
// of recovery's decision table prints that row's decision, a machine answers
// the questions a journal on the host leaves open, and a damaged or foreign
// file is refused with exit code 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/sim_cli.hpp"

namespace holvar::e2e {
namespace {

const std::string kTxid = "0123456789abcdef0123456789abcdef";
const std::string kRootId = "45000000000001000000000000000000";

// A journal as the engine writes it: compact, keys in their fixed order.
// `root_id` "null" is a root that did not exist when the transaction began.
std::string journal_text(const std::string& kind, const std::string& root_id,
                         const std::string& marks) {
    return R"({"format":1,"kind":")" + kind + R"(","txid":")" + kTxid +
           R"(","engine_version":"3.0.0","root":{"path":"C:\\Program Files\\Holvar",)" +
           R"("volume_serial":"1234abcd5678ef90","file_id":)" + root_id +
           R"(},"stage":{"path":"C:\\Program Files\\.Holvar-upgrade-)" + kTxid +
           R"(","volume_serial":"1234abcd5678ef90","file_id":"61000000000001000000000000000000"},)" +
           R"("scm_before":null,"service_running_before":false,"generated_before":[],)" +
           R"("options":{"purge_session_vault":false},)" +
           R"("ops":[{"op":"mkdir","seq":0,"rel":"locales"}],"marks":[)" + marks + "]}";
}

std::string report_text(const std::string& outcome, int exit_code) {
    return R"({"format":1,"engine_version":"3.0.0","command":"apply","txid":")" + kTxid +
           R"(","outcome":")" + outcome + R"(","exit_code":)" + std::to_string(exit_code) +
           R"(,"primary":{"phase":"quiesce","reason":"sharing_violation","win32":32,)" +
           R"("rel":"holvar-client.exe"},"recovery_error":null,)" +
           R"("holders":{"status":"complete","win32":null,"processes":[{"pid":7,"image":"holder.exe"}]},)" +
           R"("maintenance":[],"reboot_pending":[]})";
}

class Explain : public ::testing::Test {
  protected:
    std::string write(const std::string& name, const std::string& text) const {
        const auto file = cli.folder() / name;
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }
    SimCli cli;
};

struct JournalRow {
    const char* name;
    std::string text;
    std::vector<std::string> lines;  // each must appear in the output
};

TEST_F(Explain, AJournalOfEachDecisionRowPrintsThatRowsDecision) {
    const std::string id = '"' + kRootId + '"';
    const std::vector<JournalRow> rows{
        {"placing, not committed",
         journal_text("apply", id, R"("planned","fenced","placing")"),
         {"an install or upgrade (--apply), txid " + kTxid, "marks reached: planned fenced placing",
          "the last run: began moving files into place by handle, then stopped",
          "--recover would decide roll_back:", "if the root is absent: root_lost:"}},
        {"a rollback had begun",
         journal_text("apply", id, R"("planned","fenced","placing","rolling_back")"),
         {"--recover would decide roll_back:"}},
        {"committed",
         journal_text("apply", id, R"("planned","fenced","placing","configured","committed")"),
         {"--recover would decide confirm_and_finalize:"}},
        {"finalizing",
         journal_text("apply", id,
                      R"("planned","fenced","placing","configured","committed","finalizing")"),
         {"--recover would decide resume_finalize:"}},
        {"finalized",
         journal_text("apply", id,
                      R"("planned","placing","configured","committed","finalizing","finalized")"),
         {"the transaction has ended", "--recover would decide ended:"}},
        {"a fresh root never recorded",
         journal_text("apply", "null", R"("planned")"),
         {"root is an empty folder", "--recover would decide remove_empty_root:"}},
        {"removal before the service went",
         journal_text("remove", id, R"("planned")"),
         {"a removal (--remove)",
          "--recover would decide abort_removal:", "if the service is absent: resume_removal:"}},
        {"removal after the service went",
         journal_text("remove", id, R"("planned","service_deleted","runtime_retired")"),
         {"--recover would decide resume_removal:"}},
        {"removal abandoned",
         journal_text("remove", id, R"("planned","aborted")"),
         {"--recover would decide ended:"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = cli.run({"explain", write("txn.json", row.text)});
        ASSERT_EQ(result.exit_code, 0) << result.err;
        for (const auto& line : row.lines)
            EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;
    }
}

TEST_F(Explain, TheMachineAnswersWhatTheHostCannot) {
    cli.init();
    // Nothing is installed on a fresh machine: the recorded root is gone.
    const std::string journal = write(
        "txn.json", journal_text("apply", '"' + kRootId + '"', R"("planned","fenced","placing")"));
    ASSERT_EQ(cli.run({"write", cli.machine(), R"(C:\txn.json)", "--from", journal}).exit_code, 0);
    const auto result = cli.run({"explain", R"(C:\txn.json)", "--machine", cli.machine()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("on this machine the service is absent and the root is absent"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("--recover would decide root_lost:"), std::string::npos)
        << result.out;
}

TEST_F(Explain, AStageDirectoryStandsForItsJournal) {
    const auto stage = cli.folder() / ".Holvar-upgrade-0123";
    std::filesystem::create_directories(stage / "journal");
    std::ofstream(stage / "journal" / "txn.json", std::ios::binary)
        << journal_text("apply", '"' + kRootId + '"', R"("planned","committed")");
    const auto result = cli.run({"explain", stage.string()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("--recover would decide confirm_and_finalize:"), std::string::npos)
        << result.out;
}

TEST_F(Explain, AReportSaysWhatWentWrongAndWhatToDoNext) {
    const auto result = cli.run({"explain", write("report.json", report_text("rolled_back", 10))});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const std::string& line : std::vector<std::string>{
             "an outcome report of --apply, txid " + kTxid, "outcome rolled_back, exit code 10",
             "what went wrong first: quiesce/sharing_violation, win32 error 32, at "
             "holvar-client.exe",
             "processes holding files: holder.exe",
             "what to do next: the old installation is back"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;
}

TEST_F(Explain, ADamagedOrForeignFileIsRefusedWithExitCode2) {
    const std::string journal = journal_text("apply", '"' + kRootId + '"', R"("planned")");
    const std::vector<std::pair<std::string, std::string>> rows{
        {"not JSON", journal.substr(0, journal.size() / 2)},
        {"unknown mark", journal_text("apply", "null", R"("planned","plaicing")")},
        {"another format", R"({"format":2,"ops":[],"marks":[]})"},
        {"an exit code the outcome does not have", report_text("rolled_back", 0)},
        {"an unknown outcome", report_text("half_done", 10)},
        {"neither", R"({"name":"holvar"})"},
    };
    for (const auto& [name, text] : rows) {
        SCOPED_TRACE(name);
        const auto result = cli.run({"explain", write("file.json", text)});
        EXPECT_EQ(result.exit_code, 2) << result.out;
        EXPECT_NE(result.err.find("file.json"), std::string::npos) << result.err;
    }
    EXPECT_EQ(cli.run({"explain", (cli.folder() / "missing.json").string()}).exit_code, 2);
}

}  // namespace
}  // namespace holvar::e2e
