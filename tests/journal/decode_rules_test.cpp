// Every decoding rule broken on its own, starting from a valid journal: the
// result is unsupported only for a "format" other than 1, corrupt otherwise.
#include <gtest/gtest.h>

#include "reference_journals.hpp"
#include "txn/journal/journal_codec.hpp"

namespace holvar::txn::journal {
namespace {

using namespace testing;

// `base` with its one occurrence of `from` replaced by `to`.
std::string edit(const std::string& base, std::string_view from, std::string_view to) {
    size_t at = base.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    EXPECT_EQ(base.find(from, at + 1), std::string::npos) << "ambiguous edit " << from;
    if (at == std::string::npos) return base;
    return base.substr(0, at) + std::string(to) + base.substr(at + from.size());
}

// Inserts text just before the closing brace of the top-level object.
std::string append_field(const std::string& base, std::string_view field) {
    return base.substr(0, base.size() - 1) + "," + std::string(field) + "}";
}

std::string format2(const std::string& text) {
    return edit(text, R"("format":1,)", R"("format":2,)");
}

enum class Want { corrupt, unsupported, ok };

struct Case {
    const char* name;
    std::string text;
    Want want;
    std::string_view detail = {};  // checked when given
};

const std::string& up = upgrade_text;
const std::string& rm = removal_text;
const std::string first_op_id = "0000000000000001000000000000d001";

std::vector<Case> cases() {
    return {
        // Step 1: one JSON object, no top-level key twice.
        {"empty", "", Want::corrupt, "invalid json"},
        {"truncated", up.substr(0, up.size() / 2), Want::corrupt, "invalid json"},
        {"trailing_text", up + " x", Want::corrupt, "invalid json"},
        {"two_objects", up + up, Want::corrupt, "invalid json"},
        {"array", "[" + up + "]", Want::corrupt, "not an object"},
        {"number", "1", Want::corrupt, "not an object"},
        {"null", "null", Want::corrupt, "not an object"},
        {"lone_surrogate_escape",
         edit(up, "Program Files\\\\Holvar\"", "Program Files\\\\Holvar\\ud800\""), Want::corrupt,
         "invalid json"},
        {"invalid_utf8", edit(up, "Program Files\\\\Holvar\"", "Program Files\\\\Holvar\xff\""),
         Want::corrupt, "invalid json"},
        {"duplicate_kind", append_field(up, R"("kind":"apply")"), Want::corrupt,
         "duplicate journal field"},
        {"duplicate_format_same_value", append_field(up, R"("format":1)"), Want::corrupt,
         "duplicate journal field"},
        {"duplicate_unknown_key", append_field(up, R"("x":1,"x":1)"), Want::corrupt,
         "duplicate journal field"},
        {"duplicate_beats_format_2", format2(append_field(up, R"("marks":[])")), Want::corrupt,
         "duplicate journal field"},
        {"syntax_beats_format_2", format2(up).substr(0, 40), Want::corrupt, "invalid json"},

        // Step 2: "format" first.
        {"format_missing", edit(up, R"("format":1,)", ""), Want::corrupt, "missing format"},
        {"format_text", edit(up, R"("format":1,)", R"("format":"1",)"), Want::corrupt},
        {"format_null", edit(up, R"("format":1,)", R"("format":null,)"), Want::corrupt},
        {"format_negative", edit(up, R"("format":1,)", R"("format":-1,)"), Want::corrupt},
        {"format_one_point_zero", edit(up, R"("format":1,)", R"("format":1.0,)"), Want::corrupt},
        {"format_exponent", edit(up, R"("format":1,)", R"("format":1e0,)"), Want::corrupt},
        {"format_fraction", edit(up, R"("format":1,)", R"("format":1.5,)"), Want::corrupt},
        {"format_2_pow_32", edit(up, R"("format":1,)", R"("format":4294967296,)"), Want::corrupt},
        {"format_huge", edit(up, R"("format":1,)", R"("format":123456789012345678901234567890,)"),
         Want::corrupt},
        {"format_2", format2(up), Want::unsupported},
        {"format_0", edit(up, R"("format":1,)", R"("format":0,)"), Want::unsupported},
        {"format_max_u32", edit(up, R"("format":1,)", R"("format":4294967295,)"),
         Want::unsupported},
        {"format_last_key", append_field(edit(up, R"("format":1,)", ""), R"("format":1)"),
         Want::ok},
        {"format_2_unknown_key", format2(append_field(up, R"("extra":true)")), Want::unsupported},
        {"format_2_no_ops", format2(edit(up, R"("kind":"apply",)", "")), Want::unsupported},
        {"format_2_broken_op",
         format2(edit(up, R"("op":"mkdir","seq":2)", R"("op":"move","seq":2)")), Want::unsupported},
        {"format_2_bad_txid", format2(edit(up, "\"0123456789abcdef0123456789abcdef\"", "7")),
         Want::unsupported},
        {"format_2_deep_unknown",
         format2(append_field(up, "\"deep\":" + std::string(5000, '[') + std::string(5000, ']'))),
         Want::unsupported},
        {"format_2_last_after_broken_op",
         append_field(edit(edit(up, R"("format":1,)", ""), R"("op":"mkdir","seq":2)",
                           R"("op":"move","seq":2)"),
                      R"("format":2)"),
         Want::unsupported},

        // Step 3: the twelve fields, each of its shape.
        {"unknown_key", append_field(up, R"("comment":"x")"), Want::corrupt,
         "unknown journal field"},
        {"missing_kind", edit(up, R"("kind":"apply",)", ""), Want::corrupt},
        {"missing_txid", edit(up, R"("txid":"0123456789abcdef0123456789abcdef",)", ""),
         Want::corrupt},
        {"missing_generated_before",
         edit(up, R"("generated_before":[".holvar-service-v3","service-logs"],)", ""),
         Want::corrupt},
        {"missing_options", edit(up, R"("options":{"purge_session_vault":false},)", ""),
         Want::corrupt},
        {"missing_marks",
         edit(
             up,
             R"(,"marks":["planned","fenced","placing","configured","committed","finalizing","finalized"])",
             ""),
         Want::corrupt},
        {"missing_stage_fails_validation",
         edit(
             rm,
             R"("stage":{"path":"C:\\.Holvar-upgrade-00000000000000000000000000000abc","volume_serial":"1234abcd5678ef90","file_id":"0000000000000000000000000000000b"},)",
             ""),
         Want::corrupt, "stage without file id"},
        {"kind_install", edit(up, R"("kind":"apply")", R"("kind":"install")"), Want::corrupt},
        {"kind_capitalised", edit(up, R"("kind":"apply")", R"("kind":"Apply")"), Want::corrupt},
        {"txid_number", edit(up, "\"0123456789abcdef0123456789abcdef\"", "12"), Want::corrupt},
        {"engine_version_number", edit(up, R"("engine_version":"3.0.0")", R"("engine_version":3)"),
         Want::corrupt},
        {"service_running_text",
         edit(up, R"("service_running_before":true)", R"("service_running_before":"yes")"),
         Want::corrupt},
        {"generated_not_text", edit(up, R"([".holvar-service-v3","service-logs"])", "[1]"),
         Want::corrupt},
        {"options_extra_key",
         edit(up, R"({"purge_session_vault":false})", R"({"purge_session_vault":false,"x":1})"),
         Want::corrupt},
        {"options_purge_text",
         edit(up, R"({"purge_session_vault":false})", R"({"purge_session_vault":"no"})"),
         Want::corrupt},
        {"root_extra_key",
         edit(up, R"("file_id":"000000000000000100000000000000a1"})",
              R"("file_id":"000000000000000100000000000000a1","x":1})"),
         Want::corrupt},
        {"root_duplicate_inner_key",
         edit(up, R"("file_id":"000000000000000100000000000000a1"})",
              R"("file_id":"000000000000000100000000000000a1","file_id":null})"),
         Want::corrupt, "duplicate record field"},
        {"root_nested_too_deep",
         edit(up, R"("root":{"path":"C:\\Program Files\\Holvar")",
              R"("root":{"path":[[["C:\\Program Files\\Holvar"]]])"),
         Want::corrupt},
        {"scm_before_extra_key",
         edit(up, R"("description":"Holvar managed runtime v3"})",
              R"("description":"Holvar managed runtime v3","x":1})"),
         Want::corrupt},
        {"scm_before_missing_account", edit(up, R"("account":"LocalSystem",)", ""), Want::corrupt},
        {"scm_before_dependency_number", edit(up, R"(["+NetworkProvider","Tcpip"])", R"([7])"),
         Want::corrupt},

        // Step 4: volume serials and file ids.
        {"serial_15_digits",
         edit(up,
              R"("volume_serial":"1234abcd5678ef90","file_id":"000000000000000100000000000000a1")",
              R"("volume_serial":"234abcd5678ef90","file_id":"000000000000000100000000000000a1")"),
         Want::corrupt, "invalid volume serial"},
        {"serial_uppercase",
         edit(up,
              R"("volume_serial":"1234abcd5678ef90","file_id":"000000000000000100000000000000a1")",
              R"("volume_serial":"1234ABCD5678EF90","file_id":"000000000000000100000000000000a1")"),
         Want::corrupt, "invalid volume serial"},
        {"serial_number",
         edit(up,
              R"("volume_serial":"1234abcd5678ef90","file_id":"000000000000000100000000000000a1")",
              R"("volume_serial":1,"file_id":"000000000000000100000000000000a1")"),
         Want::corrupt, "invalid volume serial"},
        {"file_id_uppercase",
         edit(up, "000000000000000100000000000000a1", "000000000000000100000000000000A1"),
         Want::corrupt, "invalid file id"},
        {"file_id_31_digits",
         edit(up, "000000000000000100000000000000a1", "00000000000000100000000000000a1"),
         Want::corrupt, "invalid file id"},
        {"file_id_33_digits",
         edit(up, "000000000000000100000000000000a1", "0000000000000000100000000000000a1"),
         Want::corrupt, "invalid file id"},
        {"file_id_number", edit(up, "\"000000000000000100000000000000a1\"", "161"), Want::corrupt,
         "invalid file id"},
        {"stage_file_id_null", edit(up, R"("00000000000000010000000000000b02")", "null"),
         Want::corrupt, "stage without file id"},

        // Step 5: operations.
        {"second_op_seq_5", edit(up, R"("op":"replace","seq":1)", R"("op":"replace","seq":5)"),
         Want::corrupt, "operation out of sequence"},
        {"op_unknown_variant", edit(up, R"("op":"mkdir","seq":2)", R"("op":"move","seq":2)"),
         Want::corrupt, "invalid operation"},
        {"op_tag_missing", edit(up, R"({"op":"mkdir","seq":2,)", R"({"seq":2,)"), Want::corrupt},
        {"op_add_without_new", edit(up, R"(,"new":"00000000000000010000000000000f12")", ""),
         Want::corrupt, "invalid operation"},
        {"op_add_with_old",
         edit(
             up, R"("new":"00000000000000010000000000000f12")",
             R"("new":"00000000000000010000000000000f12","old":"00000000000000010000000000000f12")"),
         Want::corrupt, "invalid operation"},
        {"op_extra_key",
         edit(up, R"({"op":"mkdir","seq":2,"rel":"data"})",
              R"({"op":"mkdir","seq":2,"rel":"data","x":1})"),
         Want::corrupt, "invalid operation"},
        {"op_duplicate_key",
         edit(up, R"({"op":"mkdir","seq":2,"rel":"data"})",
              R"({"op":"mkdir","seq":2,"rel":"data","rel":"x"})"),
         Want::corrupt, "invalid operation"},
        {"op_old_uppercase", edit(up, first_op_id, "0000000000000001000000000000D001"),
         Want::corrupt, "invalid file id"},
        {"op_new_short", edit(up, "00000000000000010000000000000f13", "0f13"), Want::corrupt,
         "invalid file id"},
        {"op_kind_directory", edit(up, R"("kind":"reparse")", R"("kind":"directory")"),
         Want::corrupt},
        {"op_seq_negative", edit(up, R"("seq":0,)", R"("seq":-1,)"), Want::corrupt},
        {"op_seq_fraction", edit(up, R"("seq":0,)", R"("seq":0.0,)"), Want::corrupt},
        {"op_seq_text", edit(up, R"("seq":0,)", R"("seq":"0",)"), Want::corrupt},
        {"op_seq_2_pow_32", edit(up, R"("seq":0,)", R"("seq":4294967296,)"), Want::corrupt},
        {"op_rel_number", edit(up, R"("rel":"old.dll")", R"("rel":7)"), Want::corrupt},
        {"op_rel_null", edit(up, R"("rel":"old.dll")", R"("rel":null)"), Want::corrupt},
        {"op_rel_nested", edit(up, R"("rel":"old.dll")", R"("rel":["old.dll"])"), Want::corrupt},
        {"op_not_object", edit(up, R"({"op":"mkdir","seq":2,"rel":"data"})", R"("mkdir")"),
         Want::corrupt},
        {"op_array", edit(up, R"({"op":"mkdir","seq":2,"rel":"data"})", R"([[1],{"a":2}])"),
         Want::corrupt},
        {"ops_object", edit(rm, R"("ops":[])", R"("ops":{})"), Want::corrupt},
        {"ops_null", edit(rm, R"("ops":[])", R"("ops":null)"), Want::corrupt},

        // Step 6: marks.
        {"mark_unknown_done", edit(up, R"("finalized"])", R"("done"])"), Want::corrupt,
         "invalid mark"},
        {"mark_number", edit(up, R"("finalized"])", R"(7])"), Want::corrupt, "invalid mark"},
        {"mark_capitalised", edit(up, R"("finalized"])", R"("Finalized"])"), Want::corrupt,
         "invalid mark"},
        {"mark_root_created_bare", edit(up, R"("finalized"])", R"("root_created"])"), Want::corrupt,
         "invalid mark"},
        {"mark_root_created_short", edit(up, R"("finalized"])", R"("root_created:0123"])"),
         Want::corrupt, "invalid root id"},
        {"mark_root_created_upper",
         edit(up, R"("finalized"])", R"("root_created:0123456789ABCDEF0123456789abcdef"])"),
         Want::corrupt, "invalid root id"},
        {"mark_root_created_trailing",
         edit(up, R"("finalized"])", R"("root_created:0123456789abcdef0123456789abcdef0"])"),
         Want::corrupt, "invalid root id"},
        {"mark_root_created_empty_id", edit(up, R"("finalized"])", R"("root_created:"])"),
         Want::corrupt, "invalid root id"},
        {"mark_root_created_ok",
         edit(up, R"("finalized"])", R"("root_created:0123456789abcdef0123456789abcdef"])"),
         Want::ok},

        // Step 7: validation.
        {"txid_uppercase",
         edit(up, "\"0123456789abcdef0123456789abcdef\"", "\"0123456789ABCDEF0123456789abcdef\""),
         Want::corrupt, "invalid txid"},
        {"txid_31",
         edit(up, "\"0123456789abcdef0123456789abcdef\"", "\"123456789abcdef0123456789abcdef\""),
         Want::corrupt, "invalid txid"},
        {"purge_in_install",
         edit(up, R"("purge_session_vault":false)", R"("purge_session_vault":true)"), Want::corrupt,
         "purge outside a removal"},
        {"purge_in_removal", rm, Want::ok},

        // Keys that may be missing, and what may vary without harm.
        {"no_engine_version", edit(up, R"("engine_version":"3.0.0",)", ""), Want::ok},
        {"no_root",
         edit(
             rm,
             R"("root":{"path":"C:\\Holvar","volume_serial":"1234abcd5678ef90","file_id":"0000000000000000000000000000000a"},)",
             ""),
         Want::ok},
        {"no_scm_before", edit(fresh_install_text, R"("scm_before":null,)", ""), Want::ok},
        {"no_service_running_before", edit(up, R"("service_running_before":true,)", ""), Want::ok},
        {"fields_in_another_order",
         edit(edit(up, R"("kind":"apply",)", ""), R"("marks":)", R"("kind":"apply","marks":)"),
         Want::ok},
        {"whitespace_between_tokens",
         " \n" + edit(up, R"("format":1,)", "\"format\" :\t1 ,") + "\r\n", Want::ok},
        {"scm_before_without_description",
         edit(up, R"(,"description":"Holvar managed runtime v3")", ""), Want::ok},
        {"scm_before_any_start_type_text",
         edit(up, R"("start_type":"auto")", R"("start_type":"Auto")"), Want::ok},
    };
}

class DecodeRule : public ::testing::TestWithParam<Case> {};

TEST_P(DecodeRule, GivesTheExpectedResult) {
    const Case& c = GetParam();
    auto decoded = decode_journal(c.text);
    switch (c.want) {
        case Want::ok:
            EXPECT_TRUE(decoded) << decoded.error().detail;
            return;
        case Want::unsupported:
            ASSERT_FALSE(decoded);
            EXPECT_EQ(decoded.error().problem, JournalProblem::unsupported)
                << decoded.error().detail;
            return;
        case Want::corrupt:
            ASSERT_FALSE(decoded);
            EXPECT_EQ(decoded.error().problem, JournalProblem::corrupt) << decoded.error().detail;
            if (!c.detail.empty()) {
                EXPECT_EQ(decoded.error().detail, c.detail);
            }
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, DecodeRule, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeDefaults, MissingOptionalFieldsTakeEmptyValues) {
    std::string minimal =
        R"({"format":1,"kind":"remove","txid":"00000000000000000000000000000abc",)"
        R"("stage":{"path":"C:\\s","volume_serial":"0000000000000001","file_id":"00000000000000000000000000000001"},)"
        R"("generated_before":[],"options":{"purge_session_vault":true},"ops":[],"marks":[]})";
    auto decoded = decode_journal(minimal);
    ASSERT_TRUE(decoded) << decoded.error().detail;
    EXPECT_EQ(decoded->engine_version, "");
    EXPECT_EQ(decoded->root, fs::RootIdentity{});
    EXPECT_FALSE(decoded->scm_before.has_value());
    EXPECT_FALSE(decoded->service_running_before);
    EXPECT_TRUE(decoded->options.purge_session_vault);
}

TEST(DecodeMarks, RootCreatedCarriesItsId) {
    auto decoded = decode_journal(fresh_install_text);
    ASSERT_TRUE(decoded);
    ASSERT_GE(decoded->marks.size(), 2u);
    EXPECT_EQ(decoded->marks[1].kind, MarkKind::root_created);
    EXPECT_EQ(decoded->marks[1].root_id, (FileId{0, 0xc0ffee01}));
}

}  // namespace
}  // namespace holvar::txn::journal
