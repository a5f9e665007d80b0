// CreateHardLinkW and MoveFileExW by name.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

class HardLinks : public Case {
  protected:
    Result<uint32_t> link_count(const std::u16string& path) {
        auto h = open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
        if (!h) return std::unexpected(h.error());
        auto info = files().get_file_information_by_handle(*h);
        if (!info) return std::unexpected(info.error());
        return info->number_of_links;
    }
};

TEST_F(HardLinks, ALinkIsTheSameFileAndCountsLinks) {
    ASSERT_OK(make_file(at(u"a"), "same"));
    auto count = link_count(at(u"a"));
    ASSERT_OK(count);
    EXPECT_EQ(*count, 1u);
    ASSERT_OK(files().create_hard_link(at(u"b"), at(u"a")));
    count = link_count(at(u"a"));
    ASSERT_OK(count);
    EXPECT_EQ(*count, 2u);
    auto id_a = file_id_of(at(u"a"));
    auto id_b = file_id_of(at(u"b"));
    ASSERT_OK(id_a);
    ASSERT_OK(id_b);
    EXPECT_EQ(id_a->file_id, id_b->file_id);
    auto text = read_all(at(u"b"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, "same");
}

TEST_F(HardLinks, ALinkOverAnExistingNameIs183) {
    ASSERT_OK(make_file(at(u"a")));
    ASSERT_OK(make_file(at(u"b")));
    EXPECT_WIN32(files().create_hard_link(at(u"b"), at(u"a")), win32::already_exists);
}

TEST_F(HardLinks, ALinkToAMissingFileIs2) {
    EXPECT_WIN32(files().create_hard_link(at(u"b"), at(u"missing")), win32::file_not_found);
}

TEST_F(HardLinks, ALinkIntoAMissingDirectoryIs3) {
    ASSERT_OK(make_file(at(u"a")));
    EXPECT_WIN32(files().create_hard_link(at(u"nodir\\b"), at(u"a")), win32::path_not_found);
}

TEST_F(HardLinks, ADirectoryCannotBeLinked) {
    ASSERT_OK(files().create_directory(at(u"d")));
    EXPECT_WIN32(files().create_hard_link(at(u"e"), at(u"d")), win32::access_denied);
}

class MoveFileEx : public Case {};

TEST_F(MoveFileEx, MovesToAFreeName) {
    ASSERT_OK(make_file(at(u"a"), "moved"));
    auto before = file_id_of(at(u"a"));
    ASSERT_OK(before);
    const std::u16string target = at(u"b");
    ASSERT_OK(files().move_file_ex(at(u"a"), &target, 0));
    EXPECT_WIN32(open(at(u"a"), GENERIC_READ, FILE_SHARE_ALL), win32::file_not_found);
    auto after = file_id_of(target);
    ASSERT_OK(after);
    EXPECT_EQ(before->file_id, after->file_id);
}

TEST_F(MoveFileEx, AnExistingTargetWithoutReplaceIs183) {
    ASSERT_OK(make_file(at(u"a"), "new"));
    ASSERT_OK(make_file(at(u"b"), "old"));
    const std::u16string target = at(u"b");
    EXPECT_WIN32(files().move_file_ex(at(u"a"), &target, 0), win32::already_exists);
    auto text = read_all(target);
    ASSERT_OK(text);
    EXPECT_EQ(*text, "old");
}

TEST_F(MoveFileEx, ReplaceExistingReplacesTheTarget) {
    ASSERT_OK(make_file(at(u"a"), "new"));
    ASSERT_OK(make_file(at(u"b"), "old"));
    const std::u16string target = at(u"b");
    ASSERT_OK(files().move_file_ex(at(u"a"), &target,
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    auto text = read_all(target);
    ASSERT_OK(text);
    EXPECT_EQ(*text, "new");
    EXPECT_WIN32(open(at(u"a"), GENERIC_READ, FILE_SHARE_ALL), win32::file_not_found);
}

TEST_F(MoveFileEx, ReplacingAnOpenTargetWithoutShareDeleteFails) {
    ASSERT_OK(make_file(at(u"a"), "new"));
    ASSERT_OK(make_file(at(u"b"), "old"));
    const std::u16string target = at(u"b");
    auto holder = open(target, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_OK(holder);
    EXPECT_WIN32(files().move_file_ex(at(u"a"), &target, MOVEFILE_REPLACE_EXISTING),
                 win32::access_denied);
}

TEST_F(MoveFileEx, ReplaceExistingOntoADirectoryIs5) {
    ASSERT_OK(make_file(at(u"a")));
    ASSERT_OK(files().create_directory(at(u"d")));
    const std::u16string target = at(u"d");
    EXPECT_WIN32(files().move_file_ex(at(u"a"), &target, MOVEFILE_REPLACE_EXISTING),
                 win32::access_denied);
}

TEST_F(MoveFileEx, AMissingSourceIs2) {
    const std::u16string target = at(u"b");
    EXPECT_WIN32(files().move_file_ex(at(u"missing"), &target, 0), win32::file_not_found);
}

TEST_F(MoveFileEx, ADirectoryMovesWithItsContents) {
    ASSERT_OK(files().create_directory(at(u"d")));
    ASSERT_OK(make_file(at(u"d\\inside"), "in"));
    const std::u16string target = at(u"e");
    ASSERT_OK(files().move_file_ex(at(u"d"), &target, 0));
    auto text = read_all(at(u"e\\inside"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, "in");
}

TEST_F(MoveFileEx, ChangingOnlyTheCaseRenames) {
    SKIP_ON_WINE(wine_gap::case_only_rename);
    ASSERT_OK(make_file(at(u"name")));
    const std::u16string target = at(u"NAME");
    ASSERT_OK(files().move_file_ex(at(u"name"), &target, 0));
    auto listing = files().find_files(at(u"name"));
    ASSERT_OK(listing);
    ASSERT_EQ(listing->size(), 1u);
    EXPECT_EQ(narrow((*listing)[0].file_name), "NAME");
}

// A directory cannot be renamed while anything below it, at any depth, is
// open, whatever that handle shares (5); what is open beside it, or the
// directory itself opened sharing deletion, does not stop it.
class DirectoryMoves : public Case {
  protected:
    void SetUp() override {
        Case::SetUp();
        ASSERT_OK(files().create_directory(at(u"d")));
        ASSERT_OK(files().create_directory(at(u"d\\sub")));
        ASSERT_OK(make_file(at(u"d\\f")));
        ASSERT_OK(make_file(at(u"d\\sub\\g")));
        ASSERT_OK(make_file(at(u"beside")));
    }
    Status move(const std::u16string& from, const std::u16string& to) {
        return files().move_file_ex(from, &to, 0);
    }
};

TEST_F(DirectoryMoves, ADirectoryWithAnOpenBelowItIsNotRenamed) {
    SKIP_ON_WINE(wine_gap::directory_with_open_files);
    struct Row {
        const char16_t* held;
        uint32_t share;
    };
    const Row rows[] = {
        {u"d\\f", FILE_SHARE_ALL},
        {u"d\\f", FILE_SHARE_READ},
        {u"d\\sub\\g", FILE_SHARE_ALL},
        {u"d\\sub", FILE_SHARE_ALL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(narrow(row.held));
        auto held = open(at(row.held), FILE_READ_ATTRIBUTES | FILE_READ_DATA, row.share,
                         FILE_FLAG_BACKUP_SEMANTICS);
        ASSERT_OK(held);
        EXPECT_WIN32(move(at(u"d"), at(u"e")), win32::access_denied);
        // By handle too, with or without POSIX semantics.
        auto dir = open(at(u"d"), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                        FILE_FLAG_BACKUP_SEMANTICS);
        ASSERT_OK(dir);
        EXPECT_WIN32(files().set_file_rename_info_ex(*dir, at(u"e"), 0), win32::access_denied);
        EXPECT_WIN32(
            files().set_file_rename_info_ex(*dir, at(u"e"), FILE_RENAME_FLAG_POSIX_SEMANTICS),
            win32::access_denied);
        dir->reset();
        held->reset();
        ASSERT_OK(move(at(u"d"), at(u"e")));
        ASSERT_OK(move(at(u"e"), at(u"d")));
    }
}

TEST_F(DirectoryMoves, WhatIsOpenBesideItOrTheDirectoryItselfDoesNotStopIt) {
    auto beside = open(at(u"beside"), GENERIC_READ, 0);
    ASSERT_OK(beside);
    auto itself = open(at(u"d"), FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                       FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_OK(itself);
    ASSERT_OK(move(at(u"d"), at(u"e")));
    auto text = read_all(at(u"e\\sub\\g"));
    ASSERT_OK(text);
}

}  // namespace
}  // namespace holvar::conformance
