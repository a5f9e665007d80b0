// The plan for small trees whose right answer is known.
#include <gtest/gtest.h>

#include "plan_support.hpp"
#include "txn/plan/name_rules.hpp"

namespace holvar::txn::plan {
namespace {

using namespace testing;
using Lines = std::vector<std::string>;

struct PlanCase {
    const char* name;
    TreeInventory payload;
    TreeInventory installed;
    Lines ops;
    std::vector<std::u16string> stale = {};
};

std::vector<PlanCase> plan_cases() {
    return {
        {"same_path_other_case_is_one_replace",
         inventory({dir(u"Lib"), file(u"Lib\\x.dll", 9)}),
         inventory({dir(u"lib"), file(u"lib\\X.DLL", 3)}),
         {"replace Lib\\x.dll 3>9"}},
        {"junction_where_payload_has_directory",
         inventory({dir(u"data"), file(u"data\\f", 9)}),
         inventory({link(u"data", 4)}),
         {"retire reparse data -4", "mkdir data", "add data\\f +9"}},
        {"link_where_payload_has_file",
         inventory({file(u"a.txt", 9)}),
         inventory({link(u"A.TXT", 4)}),
         {"retire reparse A.TXT -4", "add a.txt +9"}},
        {"payload_under_generated_item_is_ignored",
         inventory({dir(u"service-logs"), file(u"service-logs\\a.txt", 9), file(u"x", 8)}),
         inventory({dir(u"service-logs"), file(u"service-logs\\old.log", 3),
                    dir(u"service-logs\\d"), dir(u".holvar-service-v3"),
                    file(u".holvar-service-v3\\db", 5)}),
         {"add x +8"}},
        {"empty_installed_tree",
         inventory({file(u"a.exe", 1), dir(u"b"), dir(u"b\\c"), file(u"b\\c\\d", 2), dir(u"e"),
                    file(u"uninstall.exe", 3), file(u"z", 4)}),
         inventory({}),
         {"add uninstall.exe +3", "mkdir b", "mkdir e", "mkdir b\\c", "add a.exe +1",
          "add b\\c\\d +2", "add z +4"}},
        {"uninstaller_only_at_the_top",
         inventory({dir(u"x"), file(u"x\\uninstall.exe", 1), file(u"Uninstall.EXE", 2)}),
         inventory({file(u"uninstall.exe", 7)}),
         {"replace Uninstall.EXE 7>2", "mkdir x", "add x\\uninstall.exe +1"}},
        {"leftovers_retired_last_and_directories_stale",
         inventory({file(u"keep", 1)}),
         inventory({file(u"keep", 5), dir(u"old"), file(u"old\\f", 6), link(u"old\\j", 7),
                    dir(u"old\\deeper"), file(u"zz", 8)}),
         {"replace keep 5>1", "retire file old\\f -6", "retire reparse old\\j -7",
          "retire file zz -8"},
         {u"old", u"old\\deeper"}},
        {"identical_trees_still_replace_files",
         inventory({dir(u"d"), file(u"d\\f", 1)}),
         inventory({dir(u"d"), file(u"d\\f", 1)}),
         {"replace d\\f 1>1"}},
        {"empty_payload_retires_everything_but_generated",
         inventory({}),
         inventory({file(u"a", 1), dir(u"service-logs"), file(u"service-logs\\l", 2)}),
         {"retire file a -1"}},
        {"every_group_around_the_bulk_keeps_its_place",
         inventory({file(u"a", 1), dir(u"b"), file(u"b\\x", 2), dir(u"c"), dir(u"c\\d"),
                    file(u"uninstall.exe", 3), dir(u"w"), file(u"w\\f", 4)}),
         inventory({file(u"a", 11), link(u"b", 12), file(u"old", 13), file(u"uninstall.exe", 14),
                    dir(u"w"), file(u"w\\f", 15), file(u"w\\g", 16)}),
         {"retire reparse b -12", "replace uninstall.exe 14>3", "mkdir b", "mkdir c", "mkdir c\\d",
          "replace a 11>1", "add b\\x +2", "replace w\\f 15>4", "retire file old -13",
          "retire file w\\g -16"}},
        {"mkdirs_by_depth_then_key_order",
         inventory({dir(u"b"), dir(u"b\\y"), dir(u"b\\y\\z"), dir(u"a"), dir(u"a\\x"), dir(u"C")}),
         inventory({dir(u"b")}),
         {"mkdir a", "mkdir C", "mkdir a\\x", "mkdir b\\y", "mkdir b\\y\\z"}},
    };
}

class PlanTable : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanTable, GivesTheExpectedOperations) {
    const PlanCase& c = GetParam();
    auto plan = compute_plan(c.payload, c.installed, default_generated_items());
    ASSERT_TRUE(plan) << narrow(plan.error().path);
    EXPECT_EQ(describe(*plan), c.ops);
    EXPECT_EQ(plan->stale_directories, c.stale);
    for (size_t i = 0; i < plan->ops.size(); ++i) EXPECT_EQ(plan->ops[i].seq, i);
}

INSTANTIATE_TEST_SUITE_P(Plans, PlanTable, ::testing::ValuesIn(plan_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
    const char* name;
    TreeInventory payload;
    TreeInventory installed;
    PlanErrorCode code;
    std::u16string path;
};

std::vector<ErrorCase> error_cases() {
    return {
        {"installed_file_payload_directory", inventory({dir(u"logs")}),
         inventory({file(u"logs", 1)}), PlanErrorCode::conflict, u"logs"},
        {"installed_directory_payload_file", inventory({file(u"LOGS", 2)}),
         inventory({dir(u"logs")}), PlanErrorCode::conflict, u"LOGS"},
        {"payload_reparse_point", inventory({link(u"a", 1)}), inventory({}), PlanErrorCode::reparse,
         u"a"},
        {"payload_reparse_inside_generated",
         inventory({dir(u"service-logs"), link(u"service-logs\\j", 1)}), inventory({}),
         PlanErrorCode::reparse, u"service-logs\\j"},
        {"payload_accented_name", inventory({file(u"caf\u00e9.txt", 1)}), inventory({}),
         PlanErrorCode::non_ascii, u"caf\u00e9.txt"},
        {"payload_file_ancestor", inventory({file(u"a", 1), file(u"a\\b", 2)}), inventory({}),
         PlanErrorCode::conflict, u"a\\b"},
        {"payload_unsafe_ancestor", inventory({file(u"aux\\b", 2)}), inventory({}),
         PlanErrorCode::conflict, u"aux\\b"},
        {"payload_ancestor_with_tilde", inventory({dir(u"x"), file(u"x\\y~1\\b", 2)}),
         inventory({}), PlanErrorCode::conflict, u"x\\y~1\\b"},
        // The whole payload is checked before kinds are compared with the
        // installed tree: an early conflict never hides a later payload fault.
        {"later_reparse_beats_earlier_conflict", inventory({dir(u"a"), link(u"z", 2)}),
         inventory({file(u"a", 1)}), PlanErrorCode::reparse, u"z"},
        {"later_non_ascii_beats_earlier_conflict", inventory({file(u"a", 1), file(u"z\u00e9", 2)}),
         inventory({dir(u"a")}), PlanErrorCode::non_ascii, u"z\u00e9"},
        {"later_file_ancestor_beats_earlier_conflict",
         inventory({dir(u"a"), file(u"m", 1), file(u"m\\n", 2)}), inventory({file(u"a", 3)}),
         PlanErrorCode::conflict, u"m\\n"},
        {"first_conflict_in_key_order", inventory({dir(u"a"), dir(u"b")}),
         inventory({file(u"a", 1), file(u"b", 2)}), PlanErrorCode::conflict, u"a"},
        {"first_payload_fault_in_key_order", inventory({link(u"b", 1), file(u"c\u00e9", 2)}),
         inventory({}), PlanErrorCode::reparse, u"b"},
    };
}

class PlanErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(PlanErrors, AreRefused) {
    const ErrorCase& c = GetParam();
    auto plan = compute_plan(c.payload, c.installed, default_generated_items());
    ASSERT_FALSE(plan);
    EXPECT_EQ(plan.error().code, c.code);
    EXPECT_EQ(plan.error().path, c.path);
}

INSTANTIATE_TEST_SUITE_P(Plans, PlanErrors, ::testing::ValuesIn(error_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ComputePlan, GeneratedListIsTheCallers) {
    // With no generated items, the service's folders are ordinary entries.
    auto plan = compute_plan(inventory({}),
                             inventory({dir(u"service-logs"), file(u"service-logs\\l", 2)}), {});
    ASSERT_TRUE(plan);
    EXPECT_EQ(describe(*plan), Lines{"retire file service-logs\\l -2"});
    EXPECT_EQ(plan->stale_directories, std::vector<std::u16string>{u"service-logs"});
}

}  // namespace
}  // namespace holvar::txn::plan
