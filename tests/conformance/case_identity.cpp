// File ids, final paths by handle and directory listings.
#include <algorithm>

#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

class Identity : public Case {};

TEST_F(Identity, TwoHandlesToOneFileShareItsId) {
    ASSERT_OK(make_file(at(u"f")));
    auto a = open(at(u"f"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL);
    auto b = open(at(u"F"), GENERIC_READ, FILE_SHARE_ALL);
    ASSERT_OK(a);
    ASSERT_OK(b);
    auto id_a = files().get_file_id_info(*a);
    auto id_b = files().get_file_id_info(*b);
    ASSERT_OK(id_a);
    ASSERT_OK(id_b);
    EXPECT_EQ(id_a->file_id, id_b->file_id);
    EXPECT_EQ(id_a->volume_serial_number, id_b->volume_serial_number);
}

TEST_F(Identity, DistinctFilesHaveDistinctIds) {
    ASSERT_OK(make_file(at(u"f")));
    ASSERT_OK(make_file(at(u"g")));
    ASSERT_OK(files().create_directory(at(u"d")));
    auto f = file_id_of(at(u"f"));
    auto g = file_id_of(at(u"g"));
    auto d = file_id_of(at(u"d"));
    ASSERT_OK(f);
    ASSERT_OK(g);
    ASSERT_OK(d);
    EXPECT_NE(f->file_id, g->file_id);
    EXPECT_NE(f->file_id, d->file_id);
}

TEST_F(Identity, TheIdSurvivesARename) {
    ASSERT_OK(make_file(at(u"f")));
    auto before = file_id_of(at(u"f"));
    ASSERT_OK(before);
    const std::u16string target = at(u"g");
    ASSERT_OK(files().move_file_ex(at(u"f"), &target, 0));
    auto after = file_id_of(target);
    ASSERT_OK(after);
    EXPECT_EQ(before->file_id, after->file_id);
}

TEST_F(Identity, FinalPathIsVerbatimWithStoredCase) {
    ASSERT_OK(make_file(at(u"Stored.Case")));
    auto h = open(at(u"stored.case"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL);
    ASSERT_OK(h);
    auto final_path = files().get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0);
    ASSERT_OK(final_path);
    const std::u16string expected = u"\\\\?\\" + at(u"Stored.Case");
    EXPECT_EQ(narrow(final_path->path), narrow(expected));
    EXPECT_EQ(final_path->length, expected.size());
}

TEST_F(Identity, FinalPathOfADirectory) {
    ASSERT_OK(files().create_directory(at(u"Dir")));
    auto h = open(at(u"DIR"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    auto final_path = files().get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0);
    ASSERT_OK(final_path);
    EXPECT_EQ(narrow(final_path->path), narrow(u"\\\\?\\" + at(u"Dir")));
}

TEST_F(Identity, FinalPathWithATooSmallBufferGivesTheSizeNeeded) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL);
    ASSERT_OK(h);
    auto full = files().get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0);
    ASSERT_OK(full);
    auto small = files().get_final_path_name_by_handle(*h, 4, 0);
    ASSERT_OK(small);
    EXPECT_EQ(small->length, full->length + 1);  // with the NUL
    EXPECT_TRUE(small->path.empty());
}

TEST_F(Identity, FinalPathFollowsARenameOfTheOpenFile) {
    SKIP_ON_WINE(wine_gap::final_path_after_rename);
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL);
    ASSERT_OK(h);
    const std::u16string target = at(u"moved");
    ASSERT_OK(files().move_file_ex(at(u"f"), &target, 0));
    auto final_path = files().get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0);
    ASSERT_OK(final_path);
    EXPECT_EQ(narrow(final_path->path), narrow(u"\\\\?\\" + target));
}

TEST_F(Identity, AttributesTellFilesFromDirectories) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL);
    ASSERT_OK(h);
    auto basic = files().get_file_basic_info(*h);
    ASSERT_OK(basic);
    EXPECT_EQ(basic->file_attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    auto info = files().get_file_information_by_handle(*h);
    ASSERT_OK(info);
    EXPECT_EQ(info->file_size_low, 4u);  // "data"
    EXPECT_EQ(info->number_of_links, 1u);
}

class Listing : public Case {
  protected:
    std::vector<std::string> names(const std::vector<FindData>& entries) {
        std::vector<std::string> out;
        for (const FindData& e : entries) out.push_back(narrow(e.file_name));
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(Listing, ListsDotsFilesAndDirectories) {
    ASSERT_OK(files().create_directory(at(u"d")));
    ASSERT_OK(make_file(at(u"d\\a.txt")));
    ASSERT_OK(make_file(at(u"d\\B.txt"), "12345"));
    ASSERT_OK(files().create_directory(at(u"d\\sub")));
    auto listing = files().find_files(at(u"d\\*"));
    ASSERT_OK(listing);
    EXPECT_EQ(names(*listing), (std::vector<std::string>{".", "..", "B.txt", "a.txt", "sub"}));
    for (const FindData& e : *listing) {
        const bool is_dir = (e.file_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        EXPECT_EQ(is_dir, e.file_name == u"." || e.file_name == u".." || e.file_name == u"sub")
            << narrow(e.file_name);
        if (e.file_name == u"B.txt") {
            EXPECT_EQ(e.file_size, 5u);
        }
    }
}

TEST_F(Listing, AnEmptyDirectoryHasOnlyTheDots) {
    ASSERT_OK(files().create_directory(at(u"d")));
    auto listing = files().find_files(at(u"d\\*"));
    ASSERT_OK(listing);
    EXPECT_EQ(names(*listing), (std::vector<std::string>{".", ".."}));
}

TEST_F(Listing, APatternMatchingNothingIs2) {
    ASSERT_OK(files().create_directory(at(u"d")));
    EXPECT_WIN32(files().find_files(at(u"d\\*.none")), win32::file_not_found);
}

TEST_F(Listing, AMissingDirectoryIs3) {
    EXPECT_WIN32(files().find_files(at(u"missing\\*")), win32::path_not_found);
}

TEST_F(Listing, AnExactNameFindsOneEntryInStoredCase) {
    ASSERT_OK(make_file(at(u"Exact.Name")));
    auto listing = files().find_files(at(u"EXACT.NAME"));
    ASSERT_OK(listing);
    EXPECT_EQ(names(*listing), (std::vector<std::string>{"Exact.Name"}));
}

}  // namespace
}  // namespace holvar::conformance
