// A second name for a file, and what happens when it names the wrong file.
#include <gtest/gtest.h>

#include "fs_fixture.hpp"
#include "txn/fs/verified_hard_link.hpp"

namespace holvar::txn::fs::testing {
namespace {

class HardLinkTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\root)");
        mkdir(uR"(C:\Work\rollback)");
        write(uR"(C:\Work\root\app.dll)", "old");
    }
};

TEST_F(HardLinkTest, LinkNamesTheExpectedFile) {
    const FileId id = id_of(uR"(C:\Work\root\app.dll)");
    ASSERT_TRUE(create_verified_hard_link(os(), uR"(C:\Work\root\app.dll)",
                                          uR"(C:\Work\rollback\app.dll)", id));
    EXPECT_EQ(id_of(uR"(C:\Work\rollback\app.dll)"), id);
    EXPECT_EQ(machine().stat(uR"(C:\Work\root\app.dll)")->link_count, 2u);
}

TEST_F(HardLinkTest, LinkToAnotherFileIsRemovedAgain) {
    // The plan recorded another file at this name (it was swapped meanwhile).
    write(uR"(C:\Work\recorded.dll)", "recorded");
    const FileId recorded = id_of(uR"(C:\Work\recorded.dll)");
    auto result = create_verified_hard_link(os(), uR"(C:\Work\root\app.dll)",
                                            uR"(C:\Work\rollback\app.dll)", recorded);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, "foreign_identity");
    EXPECT_FALSE(exists(uR"(C:\Work\rollback\app.dll)"));
    EXPECT_EQ(machine().stat(uR"(C:\Work\root\app.dll)")->link_count, 1u);
    EXPECT_EQ(read(uR"(C:\Work\root\app.dll)"), "old");
}

TEST_F(HardLinkTest, AnExistingLinkNameIsNeverTouched) {
    write(uR"(C:\Work\rollback\app.dll)", "someone else's");
    const FileId id = id_of(uR"(C:\Work\root\app.dll)");
    auto result = create_verified_hard_link(os(), uR"(C:\Work\root\app.dll)",
                                            uR"(C:\Work\rollback\app.dll)", id);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_win32(platform::win32::already_exists));
    EXPECT_EQ(read(uR"(C:\Work\rollback\app.dll)"), "someone else's");
}

TEST_F(HardLinkTest, MissingSourceOrFolderIsTheWin32Error) {
    const FileId id = id_of(uR"(C:\Work\root\app.dll)");
    auto no_source = create_verified_hard_link(os(), uR"(C:\Work\root\gone.dll)",
                                               uR"(C:\Work\rollback\gone.dll)", id);
    ASSERT_FALSE(no_source);
    EXPECT_EQ(no_source.error().kind, platform::ErrorKind::win32);
    auto no_folder = create_verified_hard_link(os(), uR"(C:\Work\root\app.dll)",
                                               uR"(C:\Work\nowhere\app.dll)", id);
    ASSERT_FALSE(no_folder);
    EXPECT_TRUE(no_folder.error().is_win32(platform::win32::path_not_found));
}

}  // namespace
}  // namespace holvar::txn::fs::testing
