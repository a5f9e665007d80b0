// Moving and deleting verified objects by handle.
#include <gtest/gtest.h>

#include "fs_fixture.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/verified_rename.hpp"

namespace holvar::txn::fs::testing {
namespace {

namespace w = platform::win32;

class RenameDeleteTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\stage)");
        mkdir(uR"(C:\Work\stage\payload)");
        mkdir(uR"(C:\Work\root)");
        write(uR"(C:\Work\stage\payload\app.dll)", "new");
        write(uR"(C:\Work\root\app.dll)", "old");
    }
};

TEST_F(RenameDeleteTest, VerifiedRenameMovesTheExpectedObject) {
    const FileId id = id_of(uR"(C:\Work\stage\payload\app.dll)");
    ASSERT_TRUE(verified_rename(os(), uR"(C:\Work\stage\payload\app.dll)",
                                uR"(C:\Work\root\added.dll)", ObjectKind::file, id, false));
    EXPECT_FALSE(exists(uR"(C:\Work\stage\payload\app.dll)"));
    EXPECT_EQ(read(uR"(C:\Work\root\added.dll)"), "new");
    EXPECT_EQ(id_of(uR"(C:\Work\root\added.dll)"), id);
}

TEST_F(RenameDeleteTest, ReplaceOnlyWhenAsked) {
    const FileId id = id_of(uR"(C:\Work\stage\payload\app.dll)");
    auto refused = verified_rename(os(), uR"(C:\Work\stage\payload\app.dll)",
                                   uR"(C:\Work\root\app.dll)", ObjectKind::file, id, false);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().is_win32(w::already_exists));
    EXPECT_EQ(read(uR"(C:\Work\root\app.dll)"), "old");
    EXPECT_EQ(read(uR"(C:\Work\stage\payload\app.dll)"), "new");

    ASSERT_TRUE(verified_rename(os(), uR"(C:\Work\stage\payload\app.dll)",
                                uR"(C:\Work\root\app.dll)", ObjectKind::file, id, true));
    EXPECT_EQ(read(uR"(C:\Work\root\app.dll)"), "new");
    EXPECT_FALSE(exists(uR"(C:\Work\stage\payload\app.dll)"));
}

TEST_F(RenameDeleteTest, FileSwappedBetweenProbeAndRenameIsRefusedAndNothingMoves) {
    auto probe = probe_path(os(), uR"(C:\Work\stage\payload\app.dll)");
    ASSERT_TRUE(probe);
    ASSERT_EQ(probe->kind, ObjectKind::file);

    // Another program puts a different file under the same name.
    ASSERT_TRUE(machine().remove(uR"(C:\Work\stage\payload\app.dll)"));
    write(uR"(C:\Work\stage\payload\app.dll)", "swapped");
    const FileId swapped = id_of(uR"(C:\Work\stage\payload\app.dll)");
    ASSERT_NE(swapped, probe->id);

    for (bool replace : {false, true}) {
        auto result =
            verified_rename(os(), uR"(C:\Work\stage\payload\app.dll)", uR"(C:\Work\root\app.dll)",
                            ObjectKind::file, probe->id, replace);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().text, "foreign_identity");
        EXPECT_EQ(read(uR"(C:\Work\root\app.dll)"), "old");
        EXPECT_EQ(read(uR"(C:\Work\stage\payload\app.dll)"), "swapped");
        EXPECT_EQ(id_of(uR"(C:\Work\stage\payload\app.dll)"), swapped);
    }
}

TEST_F(RenameDeleteTest, DirectorySwappedForJunctionIsNotMoved) {
    mkdir(uR"(C:\Work\root\bin)");
    mkdir(uR"(C:\Work\precious)");
    write(uR"(C:\Work\precious\data.txt)", "precious");
    const FileId dir = id_of(uR"(C:\Work\root\bin)");
    ASSERT_TRUE(machine().remove(uR"(C:\Work\root\bin)"));
    junction(uR"(C:\Work\root\bin)", uR"(C:\Work\precious)");

    auto result = verified_rename(os(), uR"(C:\Work\root\bin)", uR"(C:\Work\stage\bin)",
                                  ObjectKind::directory, dir, false);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, "foreign_identity");
    EXPECT_EQ(machine().stat(uR"(C:\Work\root\bin)")->kind, sim::NodeKind::junction);
    EXPECT_EQ(read(uR"(C:\Work\precious\data.txt)"), "precious");
    EXPECT_FALSE(exists(uR"(C:\Work\stage\bin)"));
}

TEST_F(RenameDeleteTest, JunctionIsMovedAsItselfWhenThatIsExpected) {
    mkdir(uR"(C:\Work\precious)");
    write(uR"(C:\Work\precious\data.txt)", "precious");
    junction(uR"(C:\Work\root\link)", uR"(C:\Work\precious)");
    const FileId link = id_of(uR"(C:\Work\root\link)");
    ASSERT_TRUE(verified_rename(os(), uR"(C:\Work\root\link)", uR"(C:\Work\stage\link)",
                                ObjectKind::reparse, link, false));
    EXPECT_EQ(machine().stat(uR"(C:\Work\stage\link)")->kind, sim::NodeKind::junction);
    EXPECT_EQ(read(uR"(C:\Work\precious\data.txt)"), "precious");
    EXPECT_TRUE(exists(uR"(C:\Work\precious)"));
}

TEST_F(RenameDeleteTest, RenameByHandleErrors) {
    mkdir(uR"(C:\Work\root\sub)");
    struct Case {
        const char* what;
        std::u16string target;
        bool replace;
        uint32_t win32;
    };
    const std::vector<Case> cases = {
        {"target exists", uR"(C:\Work\root\app.dll)", false, w::already_exists},
        {"target's parent missing", uR"(C:\Work\missing\app.dll)", false, w::path_not_found},
        {"target is a directory", uR"(C:\Work\root\sub)", true, w::access_denied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto handle = open_object(os(), uR"(C:\Work\stage\payload\app.dll)", kRenameDeleteAccess);
        ASSERT_TRUE(handle);
        auto result = rename_by_handle(os(), *handle, c.target, c.replace);
        ASSERT_FALSE(result);
        EXPECT_TRUE(result.error().is_win32(c.win32)) << result.error().win32;
        EXPECT_EQ(read(uR"(C:\Work\stage\payload\app.dll)"), "new");
    }
    // Without DELETE access the handle cannot rename.
    auto weak = open_object(os(), uR"(C:\Work\stage\payload\app.dll)", kProbeAccess);
    ASSERT_TRUE(weak);
    auto result = rename_by_handle(os(), *weak, uR"(C:\Work\root\x.dll)", false);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_win32(w::access_denied));
}

TEST_F(RenameDeleteTest, RenameWorksWhileAnotherProcessHoldsTheFileWithDeleteSharing) {
    auto held = open_elsewhere(uR"(C:\Work\root\app.dll)", platform::GENERIC_READ,
                               platform::FILE_SHARE_ALL, 0);
    ASSERT_TRUE(held.handle);
    const FileId id = id_of(uR"(C:\Work\root\app.dll)");
    ASSERT_TRUE(verified_rename(os(), uR"(C:\Work\root\app.dll)", uR"(C:\Work\stage\old.dll)",
                                ObjectKind::file, id, false));
    EXPECT_EQ(read(uR"(C:\Work\stage\old.dll)"), "old");
}

TEST_F(RenameDeleteTest, OpenWithoutDeleteSharingBlocksTheVerifiedRename) {
    auto held = open_elsewhere(uR"(C:\Work\root\app.dll)", platform::GENERIC_READ,
                               platform::FILE_SHARE_READ, 0);
    ASSERT_TRUE(held.handle);
    auto result = verified_rename(os(), uR"(C:\Work\root\app.dll)", uR"(C:\Work\stage\old.dll)",
                                  ObjectKind::file, id_of(uR"(C:\Work\root\app.dll)"), false);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_win32(w::sharing_violation));
    EXPECT_EQ(read(uR"(C:\Work\root\app.dll)"), "old");
}

TEST_F(RenameDeleteTest, DeleteByHandleRemovesTheNameAtOnce) {
    auto held = open_elsewhere(uR"(C:\Work\root\app.dll)", platform::GENERIC_READ,
                               platform::FILE_SHARE_ALL, 0);
    ASSERT_TRUE(held.handle);
    {
        auto handle = open_object(os(), uR"(C:\Work\root\app.dll)", kRenameDeleteAccess);
        ASSERT_TRUE(handle);
        ASSERT_TRUE(delete_by_handle(os(), *handle));
        // POSIX semantics: gone while both handles are still open.
        EXPECT_FALSE(exists(uR"(C:\Work\root\app.dll)"));
    }
    // The name is free for a new file at once.
    write(uR"(C:\Work\root\app.dll)", "again");
    EXPECT_EQ(read(uR"(C:\Work\root\app.dll)"), "again");
}

TEST_F(RenameDeleteTest, DeleteByHandleErrors) {
    mkdir(uR"(C:\Work\root\full)");
    write(uR"(C:\Work\root\full\x)", "x");
    auto dir = open_object(os(), uR"(C:\Work\root\full)", kRenameDeleteAccess);
    ASSERT_TRUE(dir);
    auto not_empty = delete_by_handle(os(), *dir);
    ASSERT_FALSE(not_empty);
    EXPECT_TRUE(not_empty.error().is_win32(w::dir_not_empty));
    EXPECT_TRUE(exists(uR"(C:\Work\root\full)"));

    auto weak = open_object(os(), uR"(C:\Work\root\app.dll)", kProbeAccess);
    ASSERT_TRUE(weak);
    auto denied = delete_by_handle(os(), *weak);
    ASSERT_FALSE(denied);
    EXPECT_TRUE(denied.error().is_win32(w::access_denied));
    EXPECT_TRUE(exists(uR"(C:\Work\root\app.dll)"));
}

TEST_F(RenameDeleteTest, PinnedDirectoryCannotBeRenamedOrDeletedByOthers) {
    mkdir(uR"(C:\Work\root\pinned)");
    auto pin = open_object(os(), uR"(C:\Work\root\pinned)", kPinAccess, kPinShare);
    ASSERT_TRUE(pin);
    auto attempt = open_elsewhere(uR"(C:\Work\root\pinned)", platform::DELETE, kShareAll);
    ASSERT_FALSE(attempt.handle);
    EXPECT_TRUE(attempt.handle.error().is_win32(w::sharing_violation));
}

}  // namespace
}  // namespace holvar::txn::fs::testing
