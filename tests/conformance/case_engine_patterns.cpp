// The open modes the engine builds on: a pinned directory cannot be moved or
// deleted, a truncating create reaches every link of a file, and no-follow
// opens behave on plain objects as ordinary ones do.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

constexpr uint32_t pin_access = FILE_READ_DATA | FILE_READ_ATTRIBUTES;  // 0x81
constexpr uint32_t pin_share = FILE_SHARE_READ | FILE_SHARE_WRITE;      // 3
constexpr uint32_t delete_access = SYNCHRONIZE | DELETE | FILE_READ_ATTRIBUTES;

class Pinning : public Case {};

TEST_F(Pinning, APinnedDirectoryCannotBeOpenedForDeletion) {
    ASSERT_OK(files().create_directory(at(u"root")));
    auto pin = open(at(u"root"), pin_access, pin_share, OPEN_NO_FOLLOW);
    ASSERT_OK(pin);
    EXPECT_WIN32(open(at(u"root"), delete_access, FILE_SHARE_ALL, OPEN_NO_FOLLOW),
                 win32::sharing_violation);
}

TEST_F(Pinning, APinnedDirectoryCannotBeMoved) {
    ASSERT_OK(files().create_directory(at(u"root")));
    auto pin = open(at(u"root"), pin_access, pin_share, OPEN_NO_FOLLOW);
    ASSERT_OK(pin);
    const std::u16string target = at(u"elsewhere");
    EXPECT_WIN32(files().move_file_ex(at(u"root"), &target, 0), win32::sharing_violation);
}

TEST_F(Pinning, ThePinStillLetsFilesInsideBeCreatedAndListed) {
    ASSERT_OK(files().create_directory(at(u"root")));
    auto pin = open(at(u"root"), pin_access, pin_share, OPEN_NO_FOLLOW);
    ASSERT_OK(pin);
    ASSERT_OK(make_file(at(u"root\\inside")));
    auto listing = files().find_files(at(u"root\\*"));
    ASSERT_OK(listing);
    EXPECT_EQ(listing->size(), 3u);
}

TEST_F(Pinning, ASecondPinIsCompatible) {
    ASSERT_OK(files().create_directory(at(u"root")));
    auto first = open(at(u"root"), pin_access, pin_share, OPEN_NO_FOLLOW);
    ASSERT_OK(first);
    EXPECT_TRUE(open(at(u"root"), pin_access, pin_share, OPEN_NO_FOLLOW).has_value());
}

TEST_F(Pinning, AfterThePinClosesTheDirectoryMoves) {
    ASSERT_OK(files().create_directory(at(u"root")));
    {
        auto pin = open(at(u"root"), pin_access, pin_share, OPEN_NO_FOLLOW);
        ASSERT_OK(pin);
    }
    const std::u16string target = at(u"elsewhere");
    EXPECT_TRUE(files().move_file_ex(at(u"root"), &target, 0).has_value());
}

class TruncatingCreate : public Case {};

TEST_F(TruncatingCreate, ReachesEveryLinkOfTheFile) {
    ASSERT_OK(make_file(at(u"original"), "precious"));
    ASSERT_OK(files().create_hard_link(at(u"planted.tmp"), at(u"original")));
    {
        auto h = files().create_file(at(u"planted.tmp"), GENERIC_WRITE, FILE_SHARE_ALL,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | OPEN_NO_FOLLOW);
        ASSERT_OK(h);
        auto info = files().get_file_information_by_handle(*h);
        ASSERT_OK(info);
        EXPECT_EQ(info->number_of_links, 2u);
    }
    auto text = read_all(at(u"original"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, "");
}

TEST_F(TruncatingCreate, NoFollowCreateMakesAPlainFile) {
    auto h = files().create_file(at(u"fresh.tmp"), GENERIC_WRITE, FILE_SHARE_ALL, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    auto info = files().get_file_information_by_handle(*h);
    ASSERT_OK(info);
    EXPECT_EQ(info->number_of_links, 1u);
    EXPECT_EQ(info->file_attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              0u);
}

TEST_F(TruncatingCreate, ADirectoryAtTheNameIsRefused) {
    ASSERT_OK(files().create_directory(at(u"name.tmp")));
    // Which code comes back is not documented; that the directory stays is.
    EXPECT_FALSE(files()
                     .create_file(at(u"name.tmp"), GENERIC_WRITE, FILE_SHARE_ALL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | OPEN_NO_FOLLOW)
                     .has_value());
    auto h = open(at(u"name.tmp"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    auto basic = files().get_file_basic_info(*h);
    ASSERT_OK(basic);
    EXPECT_NE(basic->file_attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(TruncatingCreate, DurableReplaceLeavesOnlyTheTarget) {
    ASSERT_OK(make_file(at(u"report.json"), "old"));
    ASSERT_OK(make_file(at(u"report.json.tmp"), "new"));
    {
        auto h = open(at(u"report.json.tmp"), GENERIC_WRITE, FILE_SHARE_ALL);
        ASSERT_OK(h);
        ASSERT_OK(files().flush_file_buffers(*h));
    }
    const std::u16string target = at(u"report.json");
    ASSERT_OK(files().move_file_ex(at(u"report.json.tmp"), &target,
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    auto listing = files().find_files(at(u"report.json*"));
    ASSERT_OK(listing);
    ASSERT_EQ(listing->size(), 1u);
    EXPECT_EQ(narrow((*listing)[0].file_name), "report.json");
    auto text = read_all(target);
    ASSERT_OK(text);
    EXPECT_EQ(*text, "new");
}

}  // namespace
}  // namespace holvar::conformance
