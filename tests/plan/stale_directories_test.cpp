// Removing the directories the new payload no longer has, at finalize.
#include <gtest/gtest.h>

#include "scan_fixture.hpp"
#include "txn/plan/name_rules.hpp"
#include "txn/plan/stale_directories.hpp"

namespace holvar::txn::plan {
namespace {

using namespace testing;
using Dirs = std::vector<std::u16string>;

const std::u16string payload = u"C:\\.Holvar-upgrade-0123456789abcdef0123456789abcdef\\payload";

TEST_F(ScanTest, EmptyStaleDirectoriesGoDeepestFirst) {
    mkdir(base + u"\\old");
    mkdir(base + u"\\old\\deeper");
    mkdir(base + u"\\old\\deeper\\deepest");
    auto removed = remove_stale_directories(os(), base, payload,
                                            Dirs{u"old", u"old\\deeper", u"old\\deeper\\deepest"},
                                            default_generated_items());
    ASSERT_TRUE(removed) << removed.error().text << removed.error().win32;
    EXPECT_FALSE(machine().exists(base + u"\\old"));
    EXPECT_TRUE(machine().exists(base));
}

TEST_F(ScanTest, StaleDirectoryThatGainedAFileStays) {
    mkdir(base + u"\\old");
    mkdir(base + u"\\old\\sub");
    write(base + u"\\old\\sub\\created-meanwhile.txt");
    auto removed = remove_stale_directories(os(), base, payload, Dirs{u"old", u"old\\sub"},
                                            default_generated_items());
    ASSERT_TRUE(removed);
    EXPECT_TRUE(machine().exists(base + u"\\old\\sub\\created-meanwhile.txt"));
}

TEST_F(ScanTest, StaleDirectoryAlreadyGoneIsSkipped) {
    auto removed = remove_stale_directories(os(), base, payload, Dirs{u"gone", u"gone\\too"},
                                            default_generated_items());
    EXPECT_TRUE(removed);
}

TEST_F(ScanTest, StaleDirectoryReplacedByAJunctionIsNotDeleted) {
    mkdir(u"C:\\Target");
    junction(base + u"\\old", u"C:\\Target");
    auto removed =
        remove_stale_directories(os(), base, payload, Dirs{u"old"}, default_generated_items());
    ASSERT_FALSE(removed);
    EXPECT_TRUE(removed.error().has_text("foreign_identity"));
    EXPECT_TRUE(machine().exists(base + u"\\old"));
    EXPECT_TRUE(machine().exists(u"C:\\Target"));
}

TEST_F(ScanTest, WithoutAListTheStaleDirectoriesAreComputedAfresh) {
    // After placement the payload keeps its directories; the installed tree
    // has two the payload lacks, and the service's own folder.
    mkdir(u"C:\\.Holvar-upgrade-0123456789abcdef0123456789abcdef");
    mkdir(payload);
    mkdir(payload + u"\\keep");
    mkdir(base + u"\\keep");
    mkdir(base + u"\\old");
    mkdir(base + u"\\old\\nested");
    mkdir(base + u"\\service-logs");
    mkdir(base + u"\\service-logs\\empty");
    auto removed =
        remove_stale_directories(os(), base, payload, std::nullopt, default_generated_items());
    ASSERT_TRUE(removed) << removed.error().text << removed.error().win32;
    EXPECT_FALSE(machine().exists(base + u"\\old"));
    EXPECT_TRUE(machine().exists(base + u"\\keep"));
    EXPECT_TRUE(machine().exists(base + u"\\service-logs\\empty"));
}

TEST_F(ScanTest, AnEmptyListRemovesNothing) {
    mkdir(base + u"\\old");
    ASSERT_TRUE(remove_stale_directories(os(), base, payload, Dirs{}, default_generated_items()));
    EXPECT_TRUE(machine().exists(base + u"\\old"));
}

}  // namespace
}  // namespace holvar::txn::plan
