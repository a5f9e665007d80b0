// Junctions (mount-point reparse points): an open follows one unless
// FILE_FLAG_OPEN_REPARSE_POINT is given; listings report the link itself;
// renaming or deleting the link leaves its target alone.
#include <algorithm>

#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

constexpr uint32_t kJunctionAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

class Junctions : public Case {
  protected:
    // work\target\inside.txt, and work\link a junction to work\target.
    void SetUp() override {
        Case::SetUp();
        target_ = at(u"target");
        link_ = at(u"link");
        ASSERT_OK(files().create_directory(target_));
        ASSERT_OK(make_file(join_path(target_, u"inside.txt"), "inside"));
        auto made = make_junction(link_, target_);
        if (!made && on_wine() && made.error().is_win32(win32::not_supported))
            GTEST_SKIP() << "wine gap: " << wine_gap::junctions;
        ASSERT_OK(made);
    }

    Result<FileIdInfo> id_following(const std::u16string& path) {
        auto h = open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, FILE_FLAG_BACKUP_SEMANTICS);
        if (!h) return std::unexpected(h.error());
        return files().get_file_id_info(*h);
    }

    Result<uint32_t> attributes_of_link(const std::u16string& path) {
        auto h = open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
        if (!h) return std::unexpected(h.error());
        auto info = files().get_file_basic_info(*h);
        if (!info) return std::unexpected(info.error());
        return info->file_attributes;
    }

    std::u16string target_;
    std::u16string link_;
};

TEST_F(Junctions, AnOpenFollowsTheJunctionToItsTarget) {
    auto through = id_following(link_);
    auto target = id_following(target_);
    ASSERT_OK(through);
    ASSERT_OK(target);
    EXPECT_EQ(through->file_id, target->file_id);
    EXPECT_EQ(through->volume_serial_number, target->volume_serial_number);
}

TEST_F(Junctions, OpenReparsePointOpensTheLinkItself) {
    auto link = file_id_of(link_);  // no-follow open
    auto target = id_following(target_);
    ASSERT_OK(link);
    ASSERT_OK(target);
    EXPECT_NE(link->file_id, target->file_id);
    auto attributes = attributes_of_link(link_);
    ASSERT_OK(attributes);
    EXPECT_EQ(*attributes & kJunctionAttributes, kJunctionAttributes);
}

TEST_F(Junctions, TheFollowedOpenSeesAPlainDirectory) {
    auto h = open(link_, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_OK(h);
    auto info = files().get_file_basic_info(*h);
    ASSERT_OK(info);
    EXPECT_TRUE(info->file_attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(info->file_attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_F(Junctions, TheLinkIsADirectoryThatNeedsBackupSemantics) {
    EXPECT_WIN32(open(link_, FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, FILE_FLAG_OPEN_REPARSE_POINT),
                 win32::access_denied);
}

TEST_F(Junctions, TheFinalPathIsTheTargets) {
    auto h = open(at(u"link\\inside.txt"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL);
    ASSERT_OK(h);
    auto final_path = files().get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0);
    ASSERT_OK(final_path);
    EXPECT_TRUE(paths_equal(final_path->path, join_path(target_, u"inside.txt")))
        << narrow(final_path->path);
}

TEST_F(Junctions, APathThroughTheJunctionReachesTheTargetsFiles) {
    auto bytes = read_all(at(u"link\\inside.txt"));
    ASSERT_OK(bytes);
    EXPECT_EQ(*bytes, "inside");
    ASSERT_OK(make_file(at(u"link\\made-through.txt"), "through"));
    auto direct = read_all(join_path(target_, u"made-through.txt"));
    ASSERT_OK(direct);
    EXPECT_EQ(*direct, "through");
}

TEST_F(Junctions, TheParentsListingReportsTheLinkAndItsTag) {
    auto entries = files().find_files(at(u"*"));
    ASSERT_OK(entries);
    bool found = false;
    for (const FindData& e : *entries) {
        if (!ascii_iequal(e.file_name, u"link")) continue;
        found = true;
        EXPECT_EQ(e.file_attributes & kJunctionAttributes, kJunctionAttributes);
        EXPECT_EQ(e.reserved0, IO_REPARSE_TAG_MOUNT_POINT);
    }
    EXPECT_TRUE(found);
}

TEST_F(Junctions, AListingThroughTheJunctionShowsTheTargetsContents) {
    auto entries = files().find_files(at(u"link\\*"));
    ASSERT_OK(entries);
    std::vector<std::string> names;
    for (const FindData& e : *entries) names.push_back(narrow(e.file_name));
    EXPECT_EQ(names.size(), 3u);
    EXPECT_NE(std::find(names.begin(), names.end(), "inside.txt"), names.end());
}

TEST_F(Junctions, CreatingADirectoryAtTheLinksNameIs183) {
    EXPECT_WIN32(files().create_directory(link_), win32::already_exists);
}

TEST_F(Junctions, MovingTheLinkMovesOnlyTheLink) {
    auto before = id_following(target_);
    ASSERT_OK(before);
    const std::u16string moved = at(u"moved-link");
    ASSERT_OK(files().move_file_ex(link_, &moved, 0));
    EXPECT_WIN32(file_id_of(link_), win32::file_not_found);
    auto attributes = attributes_of_link(moved);
    ASSERT_OK(attributes);
    EXPECT_EQ(*attributes & kJunctionAttributes, kJunctionAttributes);
    auto after = id_following(target_);
    ASSERT_OK(after);
    EXPECT_EQ(after->file_id, before->file_id);
    auto through = read_all(join_path(moved, u"inside.txt"));
    ASSERT_OK(through);
    EXPECT_EQ(*through, "inside");
}

TEST_F(Junctions, DeletingTheLinkLeavesTheTargetAndItsContents) {
    SKIP_ON_WINE(wine_gap::info_ex_classes);
    {
        auto h = open(link_, DELETE, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
        ASSERT_OK(h);
        ASSERT_OK(files().set_file_disposition_info_ex(
            *h, FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS));
    }
    EXPECT_WIN32(file_id_of(link_), win32::file_not_found);
    auto bytes = read_all(join_path(target_, u"inside.txt"));
    ASSERT_OK(bytes);
    EXPECT_EQ(*bytes, "inside");
}

TEST_F(Junctions, RenamingTheLinkByHandleLeavesTheTarget) {
    SKIP_ON_WINE(wine_gap::info_ex_classes);
    const std::u16string renamed = at(u"renamed-link");
    {
        auto h = open(link_, DELETE, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
        ASSERT_OK(h);
        ASSERT_OK(files().set_file_rename_info_ex(*h, renamed, FILE_RENAME_FLAG_POSIX_SEMANTICS));
    }
    auto attributes = attributes_of_link(renamed);
    ASSERT_OK(attributes);
    EXPECT_EQ(*attributes & kJunctionAttributes, kJunctionAttributes);
    auto target = attributes_of_link(target_);
    ASSERT_OK(target);
    EXPECT_FALSE(*target & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace
}  // namespace holvar::conformance
