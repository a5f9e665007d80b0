// verify_handle: the kind, the id (files and links) and the final path of an
// open handle must all be what the caller expects.
#include <gtest/gtest.h>

#include "fs_fixture.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/verify_handle.hpp"

namespace holvar::txn::fs::testing {
namespace {

class VerifyHandleTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\Root)");
        mkdir(u"C:\\Work\\Root\\\u00C4rger");  // "Ärger"
        write(uR"(C:\Work\Root\App.dll)", "app");
        write(uR"(C:\Work\Root\Other.dll)", "other");
        junction(uR"(C:\Work\Root\Link)", uR"(C:\Work)");
    }

    platform::Status verify(const std::u16string& open_path, ObjectKind kind, const FileId& id,
                            const std::u16string& expected_path) {
        auto handle = open_object(os(), open_path, kProbeAccess);
        EXPECT_TRUE(handle);
        if (!handle) return std::unexpected(handle.error());
        return verify_handle(os(), *handle, kind, id, expected_path);
    }
};

TEST_F(VerifyHandleTest, Table) {
    const FileId app = id_of(uR"(C:\Work\Root\App.dll)");
    const FileId other = id_of(uR"(C:\Work\Root\Other.dll)");
    const FileId root = id_of(uR"(C:\Work\Root)");
    const FileId link = id_of(uR"(C:\Work\Root\Link)");
    const FileId umlaut = id_of(u"C:\\Work\\Root\\\u00C4rger");
    struct Case {
        const char* what;
        std::u16string open_path;
        ObjectKind kind;
        FileId id;
        std::u16string expected_path;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"file as recorded", uR"(C:\Work\Root\App.dll)", ObjectKind::file, app,
         uR"(C:\Work\Root\App.dll)", true},
        {"verbatim expected path", uR"(C:\Work\Root\App.dll)", ObjectKind::file, app,
         uR"(\\?\C:\Work\Root\App.dll)", true},
        {"ASCII case differs", uR"(C:\Work\Root\App.dll)", ObjectKind::file, app,
         uR"(c:\work\root\APP.DLL)", true},
        {"file with another id at the path", uR"(C:\Work\Root\App.dll)", ObjectKind::file, other,
         uR"(C:\Work\Root\App.dll)", false},
        {"right id, other path", uR"(C:\Work\Root\App.dll)", ObjectKind::file, app,
         uR"(C:\Work\Root\Other.dll)", false},
        {"path is a prefix of the expected one", uR"(C:\Work\Root)", ObjectKind::directory, root,
         uR"(C:\Work\Root\App.dll)", false},
        {"file expected, directory found", uR"(C:\Work\Root)", ObjectKind::file, root,
         uR"(C:\Work\Root)", false},
        {"absent expected", uR"(C:\Work\Root\App.dll)", ObjectKind::absent, app,
         uR"(C:\Work\Root\App.dll)", false},
        {"directory with another id at the same path", uR"(C:\Work\Root)", ObjectKind::directory,
         other, uR"(C:\Work\Root)", true},
        {"directory, ASCII case differs", uR"(C:\Work\Root)", ObjectKind::directory, root,
         uR"(C:\WORK\root)", true},
        {"directory, non-ASCII case differs", u"C:\\Work\\Root\\\u00C4rger", ObjectKind::directory,
         umlaut, u"C:\\Work\\Root\\\u00E4rger", false},
        {"directory, exact non-ASCII", u"C:\\Work\\Root\\\u00C4rger", ObjectKind::directory, umlaut,
         u"C:\\Work\\Root\\\u00C4rger", true},
        {"junction as itself", uR"(C:\Work\Root\Link)", ObjectKind::reparse, link,
         uR"(C:\Work\Root\Link)", true},
        {"junction taken for its target", uR"(C:\Work\Root\Link)", ObjectKind::directory, link,
         uR"(C:\Work)", false},
        {"junction with another id", uR"(C:\Work\Root\Link)", ObjectKind::reparse, root,
         uR"(C:\Work\Root\Link)", false},
        {"trailing separator", uR"(C:\Work\Root)", ObjectKind::directory, root, uR"(C:\Work\Root\)",
         true},
        {"text prefix is no path prefix", uR"(C:\Work\Root)", ObjectKind::directory, root,
         uR"(C:\Work\Roo)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto result = verify(c.open_path, c.kind, c.id, c.expected_path);
        if (c.accepted) {
            EXPECT_TRUE(result) << result.error().text << " " << result.error().win32;
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error().text, "foreign_identity");
        }
    }
}

TEST_F(VerifyHandleTest, SecondHardLinkIsAnotherPlace) {
    ASSERT_TRUE(machine().make_hard_link(uR"(C:\Work\Root\Twin.dll)", uR"(C:\Work\Root\App.dll)"));
    const FileId app = id_of(uR"(C:\Work\Root\App.dll)");
    // Same file, same id; opened through the second name it is at that name.
    EXPECT_TRUE(
        verify(uR"(C:\Work\Root\Twin.dll)", ObjectKind::file, app, uR"(C:\Work\Root\Twin.dll)"));
    EXPECT_FALSE(
        verify(uR"(C:\Work\Root\Twin.dll)", ObjectKind::file, app, uR"(C:\Work\Root\App.dll)"));
}

TEST_F(VerifyHandleTest, QueryFailureIsReturnedAsItsWin32Error) {
    auto handle = open_object(os(), uR"(C:\Work\Root\App.dll)", kProbeAccess);
    ASSERT_TRUE(handle);
    machine().add_fault({.call_index = std::nullopt,
                         .call_name = "get_final_path_name_by_handle",
                         .win32 = platform::win32::not_enough_memory,
                         .once = true});
    auto result = verify_handle(os(), *handle, ObjectKind::file, id_of(uR"(C:\Work\Root\App.dll)"),
                                uR"(C:\Work\Root\App.dll)");
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_win32(platform::win32::not_enough_memory));
}

TEST_F(VerifyHandleTest, FinalPathBeyondTheBufferIsInvalidData) {
    // A file nested just within the longest nameable path is opened; then an
    // ancestor is renamed to a longer name, so the open file's final path no
    // longer fits the 0x8000-unit buffer.
    std::u16string deep = uR"(C:\Work\a)";
    mkdir(deep);
    const std::u16string segment(250, u'd');
    while (deep.size() + 1 + segment.size() + 10 < 0x7FFF) {
        deep += u"\\" + segment;
        mkdir(deep);
    }
    const std::u16string leaf = deep + u"\\l.txt";
    write(leaf, "leaf");
    const FileId leaf_id = id_of(leaf);
    auto handle = open_object(os(), leaf, kProbeAccess);
    ASSERT_TRUE(handle) << handle.error().win32;
    {
        auto top = open_object(os(), uR"(C:\Work\a)", kRenameDeleteAccess);
        ASSERT_TRUE(top);
        auto renamed =
            rename_by_handle(os(), *top, u"C:\\Work\\" + std::u16string(250, u'a'), false);
        if (!renamed) GTEST_SKIP() << "the machine refuses to rename a folder with open files";
    }
    auto result = verify_handle(os(), *handle, ObjectKind::file, leaf_id, leaf);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, platform::ErrorKind::invalid_data);
    EXPECT_EQ(result.error().text, "final path too long");
}

}  // namespace
}  // namespace holvar::txn::fs::testing
