// CreateFileW on the simulated machine: dispositions, share modes, directories.
#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

class OpenTest : public SimTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(machine->make_directory(u"C:\\data", administrators_sid_for_test()));
        ASSERT_TRUE(
            machine->write_file(u"C:\\data\\f.txt", bytes("hello"), administrators_sid_for_test()));
    }
    static Sid administrators_sid_for_test() { return *sid_from_string(sids::administrators); }
};

struct ShareCase {
    uint32_t first_access, first_share, second_access, second_share;
    bool allowed;
};

// The first open stays; the second must respect its share mode and be
// respected by it. Attribute-only opens never take part.
const ShareCase kShareCases[] = {
    {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
    {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_ALL, false},
    {GENERIC_READ, FILE_SHARE_ALL, GENERIC_WRITE, FILE_SHARE_READ, true},
    {GENERIC_READ, FILE_SHARE_ALL, GENERIC_WRITE, FILE_SHARE_WRITE, false},
    {GENERIC_READ, FILE_SHARE_ALL, GENERIC_WRITE, FILE_SHARE_ALL, true},
    {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},
    {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ,
     FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    {GENERIC_READ, FILE_SHARE_READ, DELETE, FILE_SHARE_ALL, false},
    {GENERIC_READ, FILE_SHARE_ALL, DELETE, FILE_SHARE_READ, true},
    {GENERIC_READ, FILE_SHARE_ALL, DELETE, FILE_SHARE_WRITE, false},
    {DELETE, FILE_SHARE_ALL, GENERIC_READ, FILE_SHARE_READ, false},
    {DELETE, FILE_SHARE_ALL, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, true},
    {FILE_READ_ATTRIBUTES, 0, GENERIC_WRITE, 0, true},
    {GENERIC_WRITE, 0, FILE_READ_ATTRIBUTES, 0, true},
    {GENERIC_WRITE, 0, READ_CONTROL | FILE_READ_ATTRIBUTES, 0, true},
    {GENERIC_WRITE, 0, FILE_READ_DATA, FILE_SHARE_ALL, false},
    {FILE_EXECUTE, FILE_SHARE_ALL, GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
    {FILE_APPEND_DATA, FILE_SHARE_ALL, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, false},
};

TEST_F(OpenTest, ShareModesTable) {
    for (const ShareCase& c : kShareCases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.first_access << "/" << c.first_share
                                          << " then " << c.second_access << "/" << c.second_share);
        auto first = os().files.create_file(u"C:\\data\\f.txt", c.first_access, c.first_share,
                                            OPEN_EXISTING, 0);
        ASSERT_TRUE(first.has_value());
        auto other = spawn(admin_token());
        auto second = other->os().files.create_file(u"C:\\data\\f.txt", c.second_access,
                                                    c.second_share, OPEN_EXISTING, 0);
        if (c.allowed) {
            EXPECT_TRUE(second.has_value());
        } else {
            ASSERT_FALSE(second.has_value());
            EXPECT_TRUE(second.error().is_win32(win32::sharing_violation));
        }
    }
}

TEST_F(OpenTest, ConflictingOpenIsRefusedUntilTheHolderCloses) {
    auto holder = spawn(admin_token());
    auto held = holder->os().files.create_file(u"C:\\data\\f.txt", GENERIC_READ, FILE_SHARE_READ,
                                               OPEN_EXISTING, 0);
    ASSERT_TRUE(held.has_value());
    auto refused = create(u"C:\\data\\f.txt", OPEN_EXISTING);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), (Error{ErrorKind::win32, 32, "win32"}));
    held->reset();
    EXPECT_TRUE(create(u"C:\\data\\f.txt", OPEN_EXISTING).has_value());
}

TEST_F(OpenTest, HandlesOfAnEndedProcessNoLongerConflict) {
    auto holder = spawn(admin_token());
    auto held =
        holder->os().files.create_file(u"C:\\data\\f.txt", GENERIC_READ, 0, OPEN_EXISTING, 0);
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(error_of(create(u"C:\\data\\f.txt", OPEN_EXISTING)), 32u);
    machine->exit_process(holder->pid(), 1);
    EXPECT_TRUE(create(u"C:\\data\\f.txt", OPEN_EXISTING).has_value());
}

struct DispositionCase {
    const char16_t* path;
    uint32_t disposition;
    uint32_t flags;
    uint32_t error;
};

TEST_F(OpenTest, DispositionsAndMissingObjects) {
    const DispositionCase cases[] = {
        {u"C:\\data\\f.txt", CREATE_NEW, 0, win32::file_exists},
        {u"C:\\data\\new.txt", OPEN_EXISTING, 0, win32::file_not_found},
        {u"C:\\data\\new.txt", TRUNCATE_EXISTING, 0, win32::file_not_found},
        {u"C:\\nowhere\\new.txt", CREATE_NEW, 0, win32::path_not_found},
        {u"C:\\nowhere\\new.txt", OPEN_EXISTING, 0, win32::path_not_found},
        {u"C:\\data\\f.txt\\below", OPEN_EXISTING, 0, win32::path_not_found},
        {u"C:\\data", OPEN_EXISTING, 0, win32::access_denied},
        {u"C:\\data", OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0},
        {u"C:\\data", CREATE_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS, win32::access_denied},
        {u"C:\\data\\bad|name", CREATE_NEW, 0, win32::invalid_name},
        {u"C:\\data\\f.txt", 9, 0, win32::invalid_parameter},
        {u"Q:\\x", OPEN_EXISTING, 0, win32::path_not_found},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(
            ::testing::Message()
            << std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)).c_str());
        auto h =
            os().files.create_file(c.path, GENERIC_READ, FILE_SHARE_ALL, c.disposition, c.flags);
        EXPECT_EQ(error_of(h), c.error);
    }
}

TEST_F(OpenTest, CreateAlwaysTruncatesAndOpenAlwaysKeeps) {
    {
        auto h = create(u"C:\\data\\f.txt", OPEN_ALWAYS);
        ASSERT_TRUE(h.has_value());
    }
    EXPECT_EQ(contents(u"C:\\data\\f.txt"), "hello");
    {
        auto h = create(u"C:\\data\\f.txt", CREATE_ALWAYS);
        ASSERT_TRUE(h.has_value());
        write_all(*h, "new");
    }
    EXPECT_EQ(contents(u"C:\\data\\f.txt"), "new");
}

TEST_F(OpenTest, ReadAndWriteFollowThePositionAndTheAccess) {
    auto h =
        os().files.create_file(u"C:\\data\\f.txt", GENERIC_READ, FILE_SHARE_ALL, OPEN_EXISTING, 0);
    ASSERT_TRUE(h.has_value());
    std::vector<uint8_t> buf(3);
    EXPECT_EQ(*os().files.read_file(*h, buf), 3u);
    EXPECT_EQ(text(buf), "hel");
    EXPECT_EQ(*os().files.read_file(*h, buf), 2u);
    EXPECT_EQ(*os().files.read_file(*h, buf), 0u);
    EXPECT_EQ(error_of(os().files.write_file(*h, bytes("x"))), win32::access_denied);
    EXPECT_EQ(error_of(os().files.flush_file_buffers(*h)), win32::access_denied);
}

TEST_F(OpenTest, VolumeDeviceNeedsAnAdministratorToWrite) {
    auto vol = os().files.create_file(u"\\\\.\\C:", GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_TRUE(vol.has_value());
    EXPECT_TRUE(os().files.flush_file_buffers(*vol).has_value());
    auto user = spawn(user_token());
    auto denied = user->os().files.create_file(
        u"\\\\.\\C:", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    EXPECT_EQ(error_of(denied), win32::access_denied);
}

TEST_F(OpenTest, AnotherProcessCannotUseOurHandle) {
    auto h = open(u"C:\\data\\f.txt");
    ASSERT_TRUE(h.has_value());
    auto other = spawn(admin_token());
    EXPECT_EQ(error_of(other->os().files.get_file_id_info(*h)), win32::invalid_handle);
}

}  // namespace
}  // namespace holvar::sim::testing
