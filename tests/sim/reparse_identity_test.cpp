// Reparse points, file ids and final paths: what the engine's identity
// checks read from an open handle.
#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

class ReparseTest : public SimTest {
  protected:
    void SetUp() override {
        Sid ba = *sid_from_string(sids::administrators);
        ASSERT_TRUE(machine->make_directory(u"C:\\Real", ba));
        ASSERT_TRUE(machine->make_directory(u"C:\\Real\\Sub", ba));
        ASSERT_TRUE(machine->write_file(u"C:\\Real\\Sub\\File.TXT", bytes("data"), ba));
        ASSERT_TRUE(machine->make_junction(u"C:\\jn", u"C:\\Real", ba));
        ASSERT_TRUE(machine->make_symlink(u"C:\\Real\\rel-link", u"Sub\\File.TXT", ba));
        ASSERT_TRUE(machine->make_junction(u"C:\\dangling", u"C:\\Nowhere", ba));
        ASSERT_TRUE(machine->make_junction(u"C:\\loop", u"C:\\loop", ba));
    }
    std::u16string final_path(const Handle& h) {
        auto f = os().files.get_final_path_name_by_handle(h, PATH_BUFFER_UNITS, 0);
        return f ? f->path : u"<error>";
    }
    uint32_t attributes(const Handle& h) {
        auto info = os().files.get_file_basic_info(h);
        return info ? info->file_attributes : 0xFFFFFFFF;
    }
};

TEST_F(ReparseTest, IntermediateJunctionsAreFollowed) {
    auto h = open(u"C:\\jn\\Sub\\file.txt", kProbe, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_TRUE(h.has_value());
    EXPECT_EQ(final_path(*h), u"\\\\?\\C:\\Real\\Sub\\File.TXT");
}

TEST_F(ReparseTest, TheLastJunctionIsFollowedUnlessOpenReparsePoint) {
    auto followed = open(u"C:\\jn", kProbe, FILE_SHARE_ALL, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_TRUE(followed.has_value());
    EXPECT_EQ(attributes(*followed), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(final_path(*followed), u"\\\\?\\C:\\Real");

    auto itself = open(u"C:\\jn", kProbe, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_TRUE(itself.has_value());
    EXPECT_EQ(attributes(*itself), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(final_path(*itself), u"\\\\?\\C:\\jn");
    EXPECT_NE(os().files.get_file_id_info(*itself)->file_id,
              os().files.get_file_id_info(*followed)->file_id);
}

TEST_F(ReparseTest, RelativeSymlinksResolveFromTheirDirectory) {
    auto via = open(u"C:\\Real\\rel-link", GENERIC_READ, FILE_SHARE_ALL, 0);
    ASSERT_TRUE(via.has_value());
    EXPECT_EQ(final_path(*via), u"\\\\?\\C:\\Real\\Sub\\File.TXT");
    auto itself = open(u"C:\\Real\\rel-link", kProbe, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_TRUE(itself.has_value());
    EXPECT_EQ(attributes(*itself), FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_F(ReparseTest, DanglingAndLoopingLinks) {
    EXPECT_EQ(error_of(open(u"C:\\dangling", kProbe, FILE_SHARE_ALL, FILE_FLAG_BACKUP_SEMANTICS)),
              win32::file_not_found);
    EXPECT_EQ(error_of(open(u"C:\\dangling\\x", kProbe, FILE_SHARE_ALL, OPEN_NO_FOLLOW)),
              win32::path_not_found);
    EXPECT_EQ(error_of(open(u"C:\\loop\\x", kProbe, FILE_SHARE_ALL, OPEN_NO_FOLLOW)), 1921u);
    EXPECT_TRUE(open(u"C:\\dangling", kProbe, FILE_SHARE_ALL, OPEN_NO_FOLLOW).has_value());
}

TEST_F(ReparseTest, CreatingThroughAPlantedLinkWritesTheTarget) {
    // Why the engine opens without following: a link planted at a name
    // redirects a create to wherever it points.
    Sid user = user_token().user;
    ASSERT_TRUE(machine->make_symlink(u"C:\\Real\\planted.tmp", u"C:\\Real\\victim", user));
    auto h = create(u"C:\\Real\\planted.tmp", CREATE_ALWAYS);
    ASSERT_TRUE(h.has_value());
    EXPECT_TRUE(machine->exists(u"C:\\Real\\victim"));
    auto no_follow =
        os().files.create_file(u"C:\\Real\\planted.tmp", GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_ALL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    ASSERT_TRUE(no_follow.has_value());
    EXPECT_EQ(attributes(*no_follow) & FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_F(ReparseTest, FileIdsAreUniquePerVolumeAndStable) {
    auto a = open(u"C:\\Real\\Sub\\File.TXT");
    auto b = open(u"C:\\Real\\Sub");
    ASSERT_TRUE(a && b);
    auto ia = os().files.get_file_id_info(*a);
    auto ib = os().files.get_file_id_info(*b);
    EXPECT_EQ(ia->volume_serial_number, 0x1234abcd5678ef90u);
    EXPECT_NE(ia->file_id, ib->file_id);
    std::u16string to = u"C:\\Real\\moved.txt";
    a->reset();
    ASSERT_TRUE(os().files.move_file_ex(u"C:\\Real\\Sub\\File.TXT", &to, 0));
    auto again = open(to);
    EXPECT_EQ(os().files.get_file_id_info(*again)->file_id, ia->file_id);
}

TEST_F(ReparseTest, FinalPathKeepsStoredCaseAndReportsTheNeededLength) {
    auto h = open(u"c:\\REAL\\sub\\file.txt");
    ASSERT_TRUE(h.has_value());
    const std::u16string expected = u"\\\\?\\C:\\Real\\Sub\\File.TXT";
    auto exact = os().files.get_final_path_name_by_handle(*h, expected.size() + 1, 0);
    EXPECT_EQ(exact->length, expected.size());
    EXPECT_EQ(exact->path, expected);
    auto small = os().files.get_final_path_name_by_handle(*h, expected.size(), 0);
    EXPECT_EQ(small->length, expected.size() + 1);
    EXPECT_TRUE(small->path.empty());
}

TEST_F(ReparseTest, NamesFoldBeyondAscii) {
    Sid ba = *sid_from_string(sids::administrators);
    ASSERT_TRUE(machine->write_file(u"C:\\Real\\\u00c9t\u00e9", bytes("x"), ba));
    EXPECT_TRUE(machine->exists(u"C:\\real\\\u00e9T\u00c9"));
    EXPECT_EQ(error_of(create(u"C:\\Real\\\u00e9T\u00c9")), win32::file_exists);
}

TEST_F(ReparseTest, ListingIncludesDotEntriesAndReparseTags) {
    auto entries = os().files.find_files(u"C:\\Real\\*");
    ASSERT_TRUE(entries.has_value());
    std::vector<std::u16string> names;
    for (const auto& e : *entries) names.push_back(e.file_name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u".", u"..", u"rel-link", u"Sub"}));
    EXPECT_EQ((*entries)[2].reserved0, IO_REPARSE_TAG_SYMLINK);
    auto root = os().files.find_files(u"C:\\*");
    ASSERT_TRUE(root.has_value());
    EXPECT_NE(root->front().file_name, u".");  // a volume root has no dot entries
    EXPECT_EQ(error_of(os().files.find_files(u"C:\\Real\\*.none")), win32::file_not_found);
    EXPECT_EQ(error_of(os().files.find_files(u"C:\\Missing\\*")), win32::path_not_found);
    auto via_junction = os().files.find_files(u"C:\\jn\\Sub\\*.txt");
    ASSERT_TRUE(via_junction.has_value());
    EXPECT_EQ(via_junction->back().file_name, u"File.TXT");
}

}  // namespace
}  // namespace holvar::sim::testing
