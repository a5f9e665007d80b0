// Rename and delete by handle (FileRenameInfoEx, FileDispositionInfoEx) with
// POSIX semantics: the name goes at once, whoever else holds the object open.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

constexpr uint32_t rename_posix =
    FILE_RENAME_FLAG_POSIX_SEMANTICS | FILE_RENAME_FLAG_IGNORE_READONLY_ATTRIBUTE;
constexpr uint32_t delete_posix = FILE_DISPOSITION_FLAG_DELETE |
                                  FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                  FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;
constexpr uint32_t for_delete = DELETE | FILE_READ_ATTRIBUTES;

class ByHandle : public Case {
  protected:
    void SetUp() override {
        Case::SetUp();
        if (on_wine()) GTEST_SKIP() << "wine gap: " << wine_gap::info_ex_classes;
    }
    Result<Handle> open_for_delete(const std::u16string& path) {
        return open(path, for_delete, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    }
};

TEST_F(ByHandle, RenameMovesTheOpenObject) {
    ASSERT_OK(make_file(at(u"a"), "x"));
    auto h = open_for_delete(at(u"a"));
    ASSERT_OK(h);
    ASSERT_OK(files().set_file_rename_info_ex(*h, at(u"b"), rename_posix));
    EXPECT_WIN32(open(at(u"a"), GENERIC_READ, FILE_SHARE_ALL), win32::file_not_found);
    auto final_path = files().get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0);
    ASSERT_OK(final_path);
    EXPECT_TRUE(paths_equal(final_path->path, at(u"b"))) << narrow(final_path->path);
}

TEST_F(ByHandle, RenameOntoAnExistingNameWithoutReplaceIs183) {
    ASSERT_OK(make_file(at(u"a")));
    ASSERT_OK(make_file(at(u"b")));
    auto h = open_for_delete(at(u"a"));
    ASSERT_OK(h);
    EXPECT_WIN32(files().set_file_rename_info_ex(*h, at(u"b"), rename_posix),
                 win32::already_exists);
}

TEST_F(ByHandle, PosixReplaceSucceedsWhileTheTargetIsOpen) {
    ASSERT_OK(make_file(at(u"a"), "new"));
    ASSERT_OK(make_file(at(u"b"), "old"));
    auto reader = open(at(u"b"), GENERIC_READ, FILE_SHARE_ALL);
    ASSERT_OK(reader);
    auto h = open_for_delete(at(u"a"));
    ASSERT_OK(h);
    ASSERT_OK(files().set_file_rename_info_ex(*h, at(u"b"),
                                              rename_posix | FILE_RENAME_FLAG_REPLACE_IF_EXISTS));
    h->reset();
    auto text = read_all(at(u"b"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, "new");
}

TEST_F(ByHandle, RenameIntoAMissingDirectoryIs3) {
    ASSERT_OK(make_file(at(u"a")));
    auto h = open_for_delete(at(u"a"));
    ASSERT_OK(h);
    EXPECT_WIN32(files().set_file_rename_info_ex(*h, at(u"nodir\\b"), rename_posix),
                 win32::path_not_found);
}

TEST_F(ByHandle, RenameWithoutDeleteAccessIs5) {
    ASSERT_OK(make_file(at(u"a")));
    auto h = open(at(u"a"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    EXPECT_WIN32(files().set_file_rename_info_ex(*h, at(u"b"), rename_posix), win32::access_denied);
}

TEST_F(ByHandle, PosixDeleteRemovesTheNameWhileOthersHoldIt) {
    ASSERT_OK(make_file(at(u"a"), "x"));
    auto reader = open(at(u"a"), GENERIC_READ, FILE_SHARE_ALL);
    ASSERT_OK(reader);
    auto h = open_for_delete(at(u"a"));
    ASSERT_OK(h);
    ASSERT_OK(files().set_file_disposition_info_ex(*h, delete_posix));
    h->reset();
    EXPECT_WIN32(open(at(u"a"), GENERIC_READ, FILE_SHARE_ALL), win32::file_not_found);
    // The name is free again at once.
    ASSERT_OK(make_file(at(u"a"), "again"));
}

TEST_F(ByHandle, DeletingOneLinkLowersTheCount) {
    ASSERT_OK(make_file(at(u"a")));
    ASSERT_OK(files().create_hard_link(at(u"b"), at(u"a")));
    {
        auto h = open_for_delete(at(u"b"));
        ASSERT_OK(h);
        ASSERT_OK(files().set_file_disposition_info_ex(*h, delete_posix));
    }
    auto h = open(at(u"a"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    auto info = files().get_file_information_by_handle(*h);
    ASSERT_OK(info);
    EXPECT_EQ(info->number_of_links, 1u);
}

TEST_F(ByHandle, DeletingANonEmptyDirectoryIs145) {
    ASSERT_OK(files().create_directory(at(u"d")));
    ASSERT_OK(make_file(at(u"d\\f")));
    auto h = open_for_delete(at(u"d"));
    ASSERT_OK(h);
    EXPECT_WIN32(files().set_file_disposition_info_ex(*h, delete_posix), win32::dir_not_empty);
}

TEST_F(ByHandle, DeletingAnEmptyDirectoryWorks) {
    ASSERT_OK(files().create_directory(at(u"d")));
    {
        auto h = open_for_delete(at(u"d"));
        ASSERT_OK(h);
        ASSERT_OK(files().set_file_disposition_info_ex(*h, delete_posix));
    }
    EXPECT_WIN32(open(at(u"d"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW),
                 win32::file_not_found);
}

TEST_F(ByHandle, ReadOnlyFilesGoWithIgnoreReadOnly) {
    auto created =
        files().create_file(at(u"ro"), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY);
    ASSERT_OK(created);
    created->reset();
    auto h = open_for_delete(at(u"ro"));
    ASSERT_OK(h);
    ASSERT_OK(files().set_file_disposition_info_ex(*h, delete_posix));
}

TEST_F(ByHandle, DeleteWithoutDeleteAccessIs5) {
    ASSERT_OK(make_file(at(u"a")));
    auto h = open(at(u"a"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    EXPECT_WIN32(files().set_file_disposition_info_ex(*h, delete_posix), win32::access_denied);
}

}  // namespace
}  // namespace holvar::conformance
