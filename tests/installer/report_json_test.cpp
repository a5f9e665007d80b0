// The report's bytes: the setup program and fleet tools parse them, so every
// byte is contract.
#include <gtest/gtest.h>

#include "txn/outcome/json_writer.hpp"
#include "txn/outcome/outcome.hpp"
#include "txn/outcome/report_json.hpp"

namespace holvar::installer {

using namespace holvar::txn::outcome;
namespace {

TEST(ReportJson, InvalidArgumentsEarlyFailureIsTheContractExample) {
    OutcomeReport report;
    report.primary = Fault{Phase::scan, FaultReason::invalid_arguments, std::nullopt, std::nullopt};
    EXPECT_EQ(serialize_report(report),
              R"({"format":1,"engine_version":"3.0.0","command":"apply","txid":"none",)"
              R"("outcome":"refused","exit_code":11,"primary":{"phase":"scan",)"
              R"("reason":"invalid_arguments","win32":null,"rel":null},"recovery_error":null,)"
              R"("holders":{"status":"not_queried","win32":null,"processes":[]},)"
              R"("maintenance":[],"reboot_pending":[]})");
}

TEST(ReportJson, EveryFieldFilled) {
    OutcomeReport report;
    report.command = Command::remove;
    report.txid = "0123456789abcdef0123456789abcdef";
    report.outcome = OutcomeKind::remove_incomplete;
    report.primary = Fault{Phase::remove_tree, FaultReason::sharing_violation, 32u,
                           u"resources\\holvar-service.exe"};
    report.recovery_error = Fault{Phase::rollback, FaultReason::timeout, 4294967295u, u""};
    report.holders.status = HolderStatus::query_failed;
    report.holders.win32 = 5;
    report.holders.processes = {{4294967295u, u"C:\\R\\a.exe"}, {7, u""}};
    report.maintenance = {{"restore_system_proxy", -1073741510, std::nullopt},
                          {"purge_session_vault", std::nullopt, "timeout"}};
    report.reboot_pending = {u"C:\\R\\x.dll", u"C:\\R"};
    EXPECT_EQ(
        serialize_report(report),
        R"({"format":1,"engine_version":"3.0.0","command":"remove",)"
        R"("txid":"0123456789abcdef0123456789abcdef","outcome":"remove_incomplete",)"
        R"("exit_code":32,"primary":{"phase":"remove_tree","reason":"sharing_violation",)"
        R"("win32":32,"rel":"resources\\holvar-service.exe"},)"
        R"("recovery_error":{"phase":"rollback","reason":"timeout","win32":4294967295,"rel":""},)"
        R"("holders":{"status":"query_failed","win32":5,"processes":[{"pid":4294967295,)"
        R"("image":"C:\\R\\a.exe"},{"pid":7,"image":""}]},"maintenance":[{"command":)"
        R"("restore_system_proxy","exit":-1073741510,"error":null},{"command":)"
        R"("purge_session_vault","exit":null,"error":"timeout"}],)"
        R"("reboot_pending":["C:\\R\\x.dll","C:\\R"]})");
}

struct EscapeCase {
    std::u16string in;
    std::string out;  // the JSON string, quotes included
};

TEST(ReportJson, StringEscaping) {
    const std::vector<EscapeCase> cases = {
        {u"plain", "\"plain\""},
        {u"q\"b\\s/", "\"q\\\"b\\\\s/\""},
        {u"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {std::u16string(u"\0\x01\x1f\x0b", 4), "\"\\u0000\\u0001\\u001f\\u000b\""},
        {u"\x7f \x20", "\"\x7f  \""},
        {u"\u00e9\u20ac", "\"\xc3\xa9\xe2\x82\xac\""},
        {u"\U0001F600", "\"\xf0\x9f\x98\x80\""},
        // Unpaired surrogates never become invalid UTF-8.
        {std::u16string(1, char16_t{0xD800}), "\"\xef\xbf\xbd\""},
        {std::u16string(1, char16_t{0xDFFF}) + u"a",
         "\"\xef\xbf\xbd"
         "a\""},
        {std::u16string{char16_t{0xDC00}, char16_t{0xD800}}, "\"\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const EscapeCase& c : cases) {
        JsonWriter w;
        w.string(c.in);
        EXPECT_EQ(w.text(), c.out);
    }
}

TEST(ReportJson, Utf8TextWithIllFormedBytesIsRepaired) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ok \xc3\xa9", "\"ok \xc3\xa9\""},
        {"\xff", "\"\xef\xbf\xbd\""},
        {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},                  // overlong
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // encoded surrogate
        {"\xe2\x82", "\"\xef\xbf\xbd\xef\xbf\xbd\""},                  // cut short
        {"\xf4\x90\x80\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const auto& [in, out] : cases) {
        JsonWriter w;
        w.string(std::string_view(in));
        EXPECT_EQ(w.text(), out);
    }
}

TEST(ReportJson, OutcomesAndExitCodes) {
    const std::vector<std::tuple<OutcomeKind, std::string_view, int32_t>> rows = {
        {OutcomeKind::committed, "committed", 0},
        {OutcomeKind::repaired, "repaired", 0},
        {OutcomeKind::committed_finalize_pending, "committed_finalize_pending", 5},
        {OutcomeKind::rolled_back, "rolled_back", 10},
        {OutcomeKind::refused, "refused", 11},
        {OutcomeKind::busy, "busy", 12},
        {OutcomeKind::reboot_required, "reboot_required", 13},
        {OutcomeKind::recovery_required, "recovery_required", 14},
        {OutcomeKind::nothing_to_recover, "nothing_to_recover", 15},
        {OutcomeKind::recovery_pending, "recovery_pending", 20},
        {OutcomeKind::recovery_unsupported, "recovery_unsupported", 21},
        {OutcomeKind::removed, "removed", 30},
        {OutcomeKind::removed_reboot_pending, "removed_reboot_pending", 31},
        {OutcomeKind::remove_incomplete, "remove_incomplete", 32},
    };
    for (const auto& [kind, name, code] : rows) {
        EXPECT_EQ(outcome_name(kind), name);
        EXPECT_EQ(exit_code_of(kind), code) << name;
    }
}

TEST(ReportJson, PhaseAndReasonNamesFollowTheirValues) {
    EXPECT_EQ(phase_name(Phase::scan), "scan");
    EXPECT_EQ(phase_name(Phase::rollback), "rollback");
    EXPECT_EQ(phase_name(Phase::remove_finalize), "remove_finalize");
    EXPECT_EQ(phase_name(Phase::repair), "repair");
    EXPECT_EQ(fault_reason_name(FaultReason::invalid_arguments), "invalid_arguments");
    EXPECT_EQ(fault_reason_name(FaultReason::journal_write_failed), "journal_write_failed");
    EXPECT_EQ(fault_reason_name(FaultReason::process_under_root), "process_under_root");
    EXPECT_EQ(fault_reason_name(FaultReason::mutex_failed), "mutex_failed");
    EXPECT_EQ(holder_status_name(HolderStatus::ok), "ok");
}

TEST(ReportJson, FaultFromErrorKeepsOnlyTheWin32Code) {
    Fault from_os = fault_from_error(platform::Error{platform::ErrorKind::win32, 32, "win32"},
                                     Phase::place, FaultReason::sharing_violation);
    EXPECT_EQ(from_os, (Fault{Phase::place, FaultReason::sharing_violation, 32u, std::nullopt}));
    Fault from_text =
        fault_from_error(platform::Error{platform::ErrorKind::other, 7, "foreign_identity"},
                         Phase::scan, FaultReason::foreign_identity);
    EXPECT_EQ(from_text,
              (Fault{Phase::scan, FaultReason::foreign_identity, std::nullopt, std::nullopt}));
}

}  // namespace
}  // namespace holvar::installer
