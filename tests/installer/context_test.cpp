// The per-run context and the placement check, called as the drivers call them.
#include <gtest/gtest.h>

#include "engine_machine.hpp"
#include "txn/drivers/context.hpp"

namespace holvar::installer::testing {

using namespace holvar::txn::outcome;
using namespace holvar::txn::drivers;
namespace {

struct ContextCase {
    const char* name;
    std::u16string root;
    std::u16string stage_dir;
    std::string_view error;  // empty: built
};

TEST(Context, BuiltFromRootAndStageOrRefusedWithItsText) {
    const std::u16string p = u"C:\\P";
    const std::vector<ContextCase> cases = {
        {"beside", p + u"\\R", p + u"\\.Holvar-upgrade-" + txid16, ""},
        {"empty_root", u"", p + u"\\.Holvar-upgrade-" + txid16, "empty root"},
        {"empty_stage", p + u"\\R", u"", "empty stage directory"},
        {"root_without_parent", u"C:\\", p + u"\\.Holvar-upgrade-" + txid16, "root has no parent"},
        {"upper_hex", p + u"\\R", p + u"\\.Holvar-upgrade-0123456789ABCDEF0123456789abcdef",
         "invalid stage name"},
        {"31_digits", p + u"\\R", p + u"\\.Holvar-upgrade-0123456789abcdef0123456789abcde",
         "invalid stage name"},
        {"33_digits", p + u"\\R", p + u"\\.Holvar-upgrade-0123456789abcdef0123456789abcdef0",
         "invalid stage name"},
        {"prefix_other_case", p + u"\\R", p + u"\\.holvar-upgrade-" + txid16, "invalid stage name"},
        {"non_hex_digit", p + u"\\R", p + u"\\.Holvar-upgrade-0123456789abcdef0123456789abcdeg",
         "invalid stage name"},
        {"stage_is_drive", p + u"\\R", u"C:\\", "invalid stage name"},
    };
    for (const ContextCase& c : cases) {
        EngineMachine m;
        uint32_t pid = m.machine->spawn_process(engine_exe, sim::admin_token());
        sim::ProcessOs process(*m.machine, pid);
        platform::Result<TransactionContext> context =
            build_context(process.os(), c.root, c.stage_dir);
        if (c.error.empty()) {
            ASSERT_TRUE(context) << c.name;
            EXPECT_EQ(context->root, c.root) << c.name;
            EXPECT_EQ(context->stage_dir, c.stage_dir) << c.name;
            EXPECT_EQ(context->diagnostics_dir, p + u"\\Holvar-Install-Diagnostics") << c.name;
            EXPECT_EQ(context->txid, txid) << c.name;
            EXPECT_FALSE(context->journal) << c.name;
            EXPECT_EQ(context->holders, HolderReport{}) << c.name;
            EXPECT_EQ(context->payload_bytes, 0u) << c.name;
        } else {
            ASSERT_FALSE(context) << c.name;
            EXPECT_EQ(context.error().text, c.error) << c.name;
        }
    }
}

TEST(Context, PlacementComparesParentsByteExact) {
    EngineMachine m;
    uint32_t pid = m.machine->spawn_process(engine_exe, sim::admin_token());
    sim::ProcessOs process(*m.machine, pid);
    platform::Os& os = process.os();
    EXPECT_TRUE(check_engine_placement(os, root, stage));
    EXPECT_TRUE(check_engine_placement(os, parent + u"\\\\Runtime\\", stage + u"\\"));
    EXPECT_FALSE(check_engine_placement(os, u"C:\\Program Files\\holvar\\Runtime", stage));
    EXPECT_FALSE(check_engine_placement(os, u"c:\\Program Files\\Holvar\\Runtime", stage));
    EXPECT_FALSE(check_engine_placement(os, u"C:\\Other\\Runtime", stage));
    EXPECT_FALSE(check_engine_placement(os, u"C:\\", stage));
    EXPECT_FALSE(check_engine_placement(os, root, parent + u"\\.Holvar-upgrade-x"));
    EXPECT_FALSE(check_engine_placement(os, root, u"\\\\?\\" + stage));
}

}  // namespace
}  // namespace holvar::installer::testing
