// Folders pinned for a run of operations: a plain directory is read once and
// then held, so that nobody moves it or puts a link in its place until it is
// let go; anything else is read afresh every time.
#include <gtest/gtest.h>

#include "fs_fixture.hpp"
#include "txn/fs/pinned_folders.hpp"
#include "txn/fs/primitives.hpp"

namespace holvar::txn::fs::testing {
namespace {

namespace p = platform;

class PinnedFoldersTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\root)");
        mkdir(uR"(C:\Work\root\bin)");
        mkdir(uR"(C:\Elsewhere)");
        junction(uR"(C:\Work\root\link)", uR"(C:\Elsewhere)");
        write(uR"(C:\Work\root\bin\app.dll)", "app");
    }
    // The probe's answer and the boundary calls it made.
    std::pair<ObjectKind, uint64_t> probe(PinnedFolders& pins, const std::u16string& path) {
        uint64_t before = machine().boundary_calls();
        auto probe = pins.probe(os(), path);
        EXPECT_TRUE(probe);
        return {probe ? probe->kind : ObjectKind::absent, machine().boundary_calls() - before};
    }
};

TEST_F(PinnedFoldersTest, OnlyPlainDirectoriesArePinned) {
    struct Case {
        const char* what;
        std::u16string path;
        ObjectKind kind;
        uint64_t first_calls, again_calls;
    };
    const Case cases[] = {
        {"a folder: open, id, basic, then nothing", uR"(C:\Work\root\bin)", ObjectKind::directory,
         3, 0},
        {"a junction is read as a link every time", uR"(C:\Work\root\link)", ObjectKind::reparse, 3,
         3},
        {"a file is read every time", uR"(C:\Work\root\bin\app.dll)", ObjectKind::file, 3, 3},
        {"nothing there: one open", uR"(C:\Work\root\none)", ObjectKind::absent, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PinnedFolders pins;
        EXPECT_EQ(probe(pins, c.path), std::make_pair(c.kind, c.first_calls));
        EXPECT_EQ(probe(pins, c.path), std::make_pair(c.kind, c.again_calls));
    }
}

TEST_F(PinnedFoldersTest, APinnedFolderCannotBeMovedUntilLetGo) {
    const uint32_t access = p::DELETE | p::FILE_READ_ATTRIBUTES;
    PinnedFolders pins;
    ASSERT_EQ(probe(pins, uR"(C:\Work\root\bin)").first, ObjectKind::directory);
    auto refused = open_elsewhere(uR"(C:\Work\root\bin)", access, p::FILE_SHARE_ALL);
    ASSERT_FALSE(refused.handle);
    EXPECT_TRUE(refused.handle.error().is_win32(p::win32::sharing_violation));
    // Letting go of a folder lets go of what was pinned below it.
    pins.release(uR"(C:\WORK\root)");
    auto allowed = open_elsewhere(uR"(C:\Work\root\bin)", access, p::FILE_SHARE_ALL);
    EXPECT_TRUE(allowed.handle);
}

TEST_F(PinnedFoldersTest, AFolderHeldForDeletionIsReadButNotPinned) {
    auto holder = open_elsewhere(uR"(C:\Work\root\bin)", p::DELETE | p::FILE_READ_ATTRIBUTES,
                                 p::FILE_SHARE_ALL);
    ASSERT_TRUE(holder.handle);
    PinnedFolders pins;
    EXPECT_EQ(probe(pins, uR"(C:\Work\root\bin)").first, ObjectKind::directory);
    EXPECT_EQ(probe(pins, uR"(C:\Work\root\bin)").second, 4u);  // pin refused, then a probe
}

}  // namespace
}  // namespace holvar::txn::fs::testing
