// CreateFileW and CreateDirectoryW: dispositions, missing names and
// directories, and what backup semantics and the reparse flag change.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

class OpenCreate : public Case {};

TEST_F(OpenCreate, OpenExistingOfAMissingFileIs2) {
    EXPECT_WIN32(open(at(u"missing.txt"), GENERIC_READ, FILE_SHARE_ALL), win32::file_not_found);
}

TEST_F(OpenCreate, AMissingIntermediateDirectoryIs3) {
    EXPECT_WIN32(open(at(u"nodir\\file.txt"), GENERIC_READ, FILE_SHARE_ALL), win32::path_not_found);
    EXPECT_WIN32(files().create_file(at(u"nodir\\file.txt"), GENERIC_WRITE, 0, CREATE_NEW, 0),
                 win32::path_not_found);
}

TEST_F(OpenCreate, CreateNewOnAnExistingFileIs80) {
    ASSERT_OK(make_file(at(u"f.txt")));
    EXPECT_WIN32(files().create_file(at(u"f.txt"), GENERIC_WRITE, 0, CREATE_NEW, 0),
                 win32::file_exists);
}

TEST_F(OpenCreate, CreateAlwaysTruncatesAnExistingFile) {
    ASSERT_OK(make_file(at(u"f.txt"), "old contents"));
    {
        auto h = files().create_file(at(u"f.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
        ASSERT_OK(h);
    }
    auto text = read_all(at(u"f.txt"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, "");
}

TEST_F(OpenCreate, TruncateExistingOfAMissingFileIs2) {
    EXPECT_WIN32(files().create_file(at(u"f.txt"), GENERIC_WRITE, 0, TRUNCATE_EXISTING, 0),
                 win32::file_not_found);
}

TEST_F(OpenCreate, OpenAlwaysKeepsContents) {
    ASSERT_OK(make_file(at(u"f.txt"), "kept"));
    {
        auto h = files().create_file(at(u"f.txt"), GENERIC_WRITE, 0, OPEN_ALWAYS, 0);
        ASSERT_OK(h);
    }
    auto text = read_all(at(u"f.txt"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, "kept");
}

TEST_F(OpenCreate, WrittenBytesReadBackAfterFlush) {
    const std::string bytes(10000, 'x');
    ASSERT_OK(make_file(at(u"big.bin"), bytes));
    {
        auto h = open(at(u"big.bin"), GENERIC_WRITE, 0);
        ASSERT_OK(h);
        ASSERT_OK(files().flush_file_buffers(*h));
    }
    auto text = read_all(at(u"big.bin"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, bytes);
}

TEST_F(OpenCreate, NamesAreCaseInsensitiveAndCasePreserving) {
    ASSERT_OK(make_file(at(u"MixedCase.TXT"), "m"));
    auto text = read_all(at(u"mixedcase.txt"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, "m");
    EXPECT_WIN32(files().create_file(at(u"MIXEDCASE.txt"), GENERIC_WRITE, 0, CREATE_NEW, 0),
                 win32::file_exists);
    auto listing = files().find_files(at(u"mixedcase.*"));
    ASSERT_OK(listing);
    ASSERT_EQ(listing->size(), 1u);
    EXPECT_EQ(narrow((*listing)[0].file_name), "MixedCase.TXT");
}

TEST_F(OpenCreate, CreateDirectoryTwiceIs183) {
    ASSERT_OK(files().create_directory(at(u"d")));
    EXPECT_WIN32(files().create_directory(at(u"d")), win32::already_exists);
}

TEST_F(OpenCreate, CreateDirectoryOverAFileIs183) {
    ASSERT_OK(make_file(at(u"f")));
    EXPECT_WIN32(files().create_directory(at(u"f")), win32::already_exists);
}

TEST_F(OpenCreate, CreateDirectoryUnderAMissingParentIs3) {
    EXPECT_WIN32(files().create_directory(at(u"a\\b")), win32::path_not_found);
}

TEST_F(OpenCreate, ADirectoryNeedsBackupSemantics) {
    ASSERT_OK(files().create_directory(at(u"d")));
    EXPECT_WIN32(open(at(u"d"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL), win32::access_denied);
    auto h = open(at(u"d"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_OK(h);
    auto basic = files().get_file_basic_info(*h);
    ASSERT_OK(basic);
    EXPECT_EQ(basic->file_attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(OpenCreate, NoFollowOpensOfAPlainFileAndDirectoryAreThemselves) {
    ASSERT_OK(files().create_directory(at(u"d")));
    ASSERT_OK(make_file(at(u"f")));
    auto dir = open(at(u"d"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    auto file = open(at(u"f"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(dir);
    ASSERT_OK(file);
    auto dir_info = files().get_file_basic_info(*dir);
    auto file_info = files().get_file_basic_info(*file);
    ASSERT_OK(dir_info);
    ASSERT_OK(file_info);
    EXPECT_EQ(dir_info->file_attributes & 0x410u, 0x10u);
    EXPECT_EQ(file_info->file_attributes & 0x410u, 0u);
}

TEST_F(OpenCreate, AFileUsedAsADirectoryIs3) {
    ASSERT_OK(make_file(at(u"f")));
    EXPECT_WIN32(open(at(u"f\\g"), GENERIC_READ, FILE_SHARE_ALL), win32::path_not_found);
}

}  // namespace
}  // namespace holvar::conformance
