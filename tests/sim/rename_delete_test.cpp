// Rename and delete by handle (POSIX semantics), MoveFileExW and hard links:
// the error codes the engine's identity-checked moves rely on.
#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

constexpr uint32_t kPosixRename =
    FILE_RENAME_FLAG_POSIX_SEMANTICS | FILE_RENAME_FLAG_IGNORE_READONLY_ATTRIBUTE;
constexpr uint32_t kPosixDelete = FILE_DISPOSITION_FLAG_DELETE |
                                  FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                  FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;

class RenameTest : public SimTest {
  protected:
    void SetUp() override {
        Sid ba = *sid_from_string(sids::administrators);
        machine->add_volume(VolumeSpec{u"D:", u"", 0x1111, u"NTFS"});
        ASSERT_TRUE(machine->make_directory(u"C:\\r", ba));
        ASSERT_TRUE(machine->make_directory(u"C:\\r\\dir", ba));
        ASSERT_TRUE(machine->make_directory(u"C:\\r\\full", ba));
        ASSERT_TRUE(machine->write_file(u"C:\\r\\full\\x", bytes("x"), ba));
        ASSERT_TRUE(machine->write_file(u"C:\\r\\a", bytes("A"), ba));
        ASSERT_TRUE(machine->write_file(u"C:\\r\\b", bytes("B"), ba));
    }
    uint32_t rename(const std::u16string& from, const std::u16string& to, uint32_t flags,
                    uint32_t access = kForRename) {
        auto h = open(from, access);
        if (!h) return 1000 + h.error().win32;
        return error_of(os().files.set_file_rename_info_ex(*h, to, flags));
    }
};

struct RenameCase {
    const char* what;
    const char16_t* from;
    const char16_t* to;
    uint32_t flags;
    uint32_t error;
};

TEST_F(RenameTest, RenameByHandleErrorCodes) {
    const RenameCase cases[] = {
        {"target exists, no replace", u"C:\\r\\a", u"C:\\r\\b", kPosixRename,
         win32::already_exists},
        {"other volume", u"C:\\r\\a", u"D:\\a", kPosixRename | 1, win32::not_same_device},
        {"target parent missing", u"C:\\r\\a", u"C:\\r\\none\\a", kPosixRename | 1,
         win32::path_not_found},
        {"target is a directory", u"C:\\r\\a", u"C:\\r\\dir", kPosixRename | 1,
         win32::access_denied},
        {"directory below itself", u"C:\\r\\dir", u"C:\\r\\dir\\sub", kPosixRename,
         win32::sharing_violation},
        {"bare name renames in place", u"C:\\r\\a", u"a2", kPosixRename, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rename(c.from, c.to, c.flags), c.error);
    }
    EXPECT_TRUE(machine->exists(u"C:\\r\\a2"));
    EXPECT_EQ(rename(u"C:\\r\\a2", u"C:\\r\\b", kPosixRename, kProbe), win32::access_denied);
}

TEST_F(RenameTest, ReplaceKeepsOpenHandlesOfTheReplacedFileWorking) {
    auto reader = open(u"C:\\r\\b", GENERIC_READ, FILE_SHARE_ALL, 0);
    ASSERT_TRUE(reader.has_value());
    EXPECT_EQ(rename(u"C:\\r\\a", u"C:\\r\\b", kPosixRename | FILE_RENAME_FLAG_REPLACE_IF_EXISTS),
              0u);
    EXPECT_EQ(contents(u"C:\\r\\b"), "A");
    EXPECT_FALSE(machine->exists(u"C:\\r\\a"));
    std::vector<uint8_t> buf(4);
    EXPECT_EQ(*os().files.read_file(*reader, buf), 1u);
    EXPECT_EQ(buf[0], 'B');  // the replaced file lives on for its handle
}

TEST_F(RenameTest, ReplacingATargetOpenWithoutShareDeleteIsDenied) {
    auto other = spawn(admin_token());
    auto holder = other->os().files.create_file(
        u"C:\\r\\b", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(rename(u"C:\\r\\a", u"C:\\r\\b", kPosixRename | 1), win32::access_denied);
    holder->reset();
    EXPECT_EQ(rename(u"C:\\r\\a", u"C:\\r\\b", kPosixRename | 1), 0u);
}

TEST_F(RenameTest, ADirectoryHeldWithoutShareDeleteCannotBeMovedButItsChildrenCan) {
    // Pinning a directory (read | write sharing) keeps it in place; what is
    // inside stays movable: share modes are per object.
    auto pin = open(u"C:\\r\\full", FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(pin.has_value());
    auto other = spawn(admin_token());
    auto mover = other->os().files.create_file(u"C:\\r\\full", kForRename, FILE_SHARE_ALL,
                                               OPEN_EXISTING, OPEN_NO_FOLLOW);
    EXPECT_EQ(error_of(mover), win32::sharing_violation);
    std::u16string moved = u"C:\\r\\moved";
    EXPECT_EQ(error_of(other->os().files.move_file_ex(u"C:\\r\\full", &moved, 0)),
              win32::sharing_violation);
    EXPECT_EQ(rename(u"C:\\r\\full\\x", u"C:\\r\\x", kPosixRename), 0u);
}

TEST_F(RenameTest, CaseOnlyRenameChangesTheStoredName) {
    EXPECT_EQ(rename(u"C:\\r\\a", u"C:\\r\\A", kPosixRename), 0u);
    auto info = machine->stat(u"C:\\r\\a");
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->name, u"A");
}

TEST_F(RenameTest, PosixDeleteRemovesTheNameAtOnce) {
    auto reader = open(u"C:\\r\\a", GENERIC_READ, FILE_SHARE_ALL, 0);
    ASSERT_TRUE(reader.has_value());
    auto h = open(u"C:\\r\\a", kForRename);
    ASSERT_TRUE(h.has_value());
    ASSERT_TRUE(os().files.set_file_disposition_info_ex(*h, kPosixDelete).has_value());
    EXPECT_FALSE(machine->exists(u"C:\\r\\a"));
    // The name is free again while the data lives on for the open handles.
    EXPECT_TRUE(create(u"C:\\r\\a").has_value());
    std::vector<uint8_t> buf(4);
    EXPECT_EQ(*os().files.read_file(*reader, buf), 1u);
    EXPECT_EQ(buf[0], 'A');
    auto final = os().files.get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0);
    ASSERT_TRUE(final.has_value());
    EXPECT_NE(final->path, u"\\\\?\\C:\\r\\a");
}

TEST_F(RenameTest, DeleteByHandleErrorCodes) {
    auto full = open(u"C:\\r\\full", kForRename);
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(error_of(os().files.set_file_disposition_info_ex(*full, kPosixDelete)),
              win32::dir_not_empty);
    auto no_delete = open(u"C:\\r\\a", kProbe);
    ASSERT_TRUE(no_delete.has_value());
    EXPECT_EQ(error_of(os().files.set_file_disposition_info_ex(*no_delete, kPosixDelete)),
              win32::access_denied);
    auto empty = open(u"C:\\r\\dir", kForRename);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(os().files.set_file_disposition_info_ex(*empty, kPosixDelete).has_value());
    EXPECT_FALSE(machine->exists(u"C:\\r\\dir"));
}

TEST_F(RenameTest, ClassicDeleteWaitsForTheLastHandle) {
    {
        auto h = open(u"C:\\r\\a", kForRename);
        ASSERT_TRUE(h.has_value());
        ASSERT_TRUE(os().files.set_file_disposition_info_ex(*h, FILE_DISPOSITION_FLAG_DELETE));
        EXPECT_TRUE(machine->exists(u"C:\\r\\a"));
        EXPECT_EQ(error_of(open(u"C:\\r\\a")), win32::access_denied);  // delete pending
    }
    EXPECT_FALSE(machine->exists(u"C:\\r\\a"));
}

TEST_F(RenameTest, MoveFileExErrorCodes) {
    std::u16string b = u"C:\\r\\b", d = u"D:\\b", dir = u"C:\\r\\dir", gone = u"C:\\r\\zz";
    EXPECT_EQ(error_of(os().files.move_file_ex(u"C:\\r\\a", &b, 0)), win32::already_exists);
    EXPECT_EQ(error_of(os().files.move_file_ex(u"C:\\r\\a", &d, MOVEFILE_REPLACE_EXISTING)),
              win32::not_same_device);
    EXPECT_EQ(error_of(os().files.move_file_ex(u"C:\\r\\a", &dir, MOVEFILE_REPLACE_EXISTING)),
              win32::access_denied);
    EXPECT_EQ(error_of(os().files.move_file_ex(u"C:\\r\\none", &gone, 0)), win32::file_not_found);
    EXPECT_EQ(error_of(os().files.move_file_ex(u"C:\\r\\a", &b,
                                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)),
              0u);
    EXPECT_EQ(contents(u"C:\\r\\b"), "A");
}

TEST_F(RenameTest, HardLinksShareOneObject) {
    ASSERT_TRUE(os().files.create_hard_link(u"C:\\r\\a-link", u"C:\\r\\a").has_value());
    auto a = machine->stat(u"C:\\r\\a");
    auto l = machine->stat(u"C:\\r\\a-link");
    ASSERT_TRUE(a && l);
    EXPECT_EQ(a->file_id, l->file_id);
    EXPECT_EQ(a->link_count, 2u);
    auto h = open(u"C:\\r\\a-link");
    auto info = os().files.get_file_information_by_handle(*h);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->number_of_links, 2u);
    // The final path names the link the handle was opened by.
    auto final = os().files.get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0);
    EXPECT_EQ(final->path, u"\\\\?\\C:\\r\\a-link");
    EXPECT_EQ(error_of(os().files.create_hard_link(u"C:\\r\\b", u"C:\\r\\a")),
              win32::already_exists);
    EXPECT_EQ(error_of(os().files.create_hard_link(u"D:\\a", u"C:\\r\\a")), win32::not_same_device);
    EXPECT_EQ(error_of(os().files.create_hard_link(u"C:\\r\\d2", u"C:\\r\\dir")),
              win32::access_denied);
    EXPECT_EQ(error_of(os().files.create_hard_link(u"C:\\r\\n2", u"C:\\r\\none")),
              win32::file_not_found);
    ASSERT_TRUE(machine->remove(u"C:\\r\\a"));
    EXPECT_EQ(machine->stat(u"C:\\r\\a-link")->link_count, 1u);
    EXPECT_EQ(contents(u"C:\\r\\a-link"), "A");
}

TEST_F(RenameTest, ARunningImageCanBeRenamedButNotWrittenDeletedOrReplaced) {
    Sid ba = *sid_from_string(sids::administrators);
    ASSERT_TRUE(machine->write_file(u"C:\\r\\svc.exe", bytes("image"), ba));
    uint32_t pid = machine->spawn_process(u"C:\\r\\svc.exe", system_token());
    EXPECT_EQ(error_of(create(u"C:\\r\\svc.exe", OPEN_EXISTING)), win32::sharing_violation);
    EXPECT_TRUE(open(u"C:\\r\\svc.exe", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0));
    auto h = open(u"C:\\r\\svc.exe", kForRename);
    ASSERT_TRUE(h.has_value());
    EXPECT_EQ(error_of(os().files.set_file_disposition_info_ex(*h, kPosixDelete)),
              win32::access_denied);
    EXPECT_EQ(rename(u"C:\\r\\a", u"C:\\r\\svc.exe", kPosixRename | 1), win32::access_denied);
    EXPECT_TRUE(os().files.set_file_rename_info_ex(*h, u"C:\\r\\svc.old", kPosixRename));
    machine->exit_process(pid, 0);
    EXPECT_TRUE(os().files.set_file_disposition_info_ex(*h, kPosixDelete));
    EXPECT_FALSE(machine->exists(u"C:\\r\\svc.old"));
}

}  // namespace
}  // namespace holvar::sim::testing
