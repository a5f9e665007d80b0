// Volumes: file-system flags, folder mounts, the volume path of a path, and
// renames scheduled for the next restart.
#include "platform/sim/machine_state.hpp"
#include "platform/sim/registry_model.hpp"
#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

constexpr uint32_t kNeeded = FILE_SUPPORTS_HARD_LINKS | FILE_SUPPORTS_POSIX_UNLINK_RENAME;

class VolumeTest : public SimTest {
  protected:
    void SetUp() override {
        Sid ba = *sid_from_string(sids::administrators);
        machine->add_volume(VolumeSpec{u"E:", u"", 0xE0E0, u"FAT32"});
        machine->add_volume(VolumeSpec{u"F:", u"", 0xF0F0, u"exFAT"});
        ASSERT_TRUE(machine->make_directory(u"C:\\mnt", ba));
        machine->add_volume(VolumeSpec{u"", u"C:\\mnt\\data", 0xDADA, u"NTFS"});
        ASSERT_TRUE(machine->make_directory(u"C:\\mnt\\data\\app", ba));
    }
};

TEST_F(VolumeTest, FlagsByFileSystem) {
    struct Case {
        const char16_t* root;
        bool supported;
    };
    for (Case c : {Case{u"C:\\", true}, Case{u"E:\\", false}, Case{u"F:\\", false},
                   Case{u"C:\\mnt\\data\\", true}}) {
        auto flags = os().files.get_volume_file_system_flags(c.root);
        ASSERT_TRUE(flags.has_value());
        EXPECT_EQ((*flags & kNeeded) == kNeeded, c.supported);
    }
    EXPECT_EQ(error_of(os().files.get_volume_file_system_flags(u"C:")), win32::invalid_name);
    EXPECT_EQ(error_of(os().files.get_volume_file_system_flags(u"C:\\mnt\\")), 144u);
}

TEST_F(VolumeTest, VolumePathNames) {
    struct Case {
        const char16_t* path;
        const char16_t* mount;
    };
    for (Case c : {Case{u"C:\\Program Files\\Holvar", u"C:\\"},
                   Case{u"C:\\mnt\\data\\app\\x", u"C:\\mnt\\data\\"},
                   Case{u"c:\\MNT\\DATA", u"C:\\mnt\\data\\"}, Case{u"E:\\a\\b", u"E:\\"},
                   Case{u"C:\\mnt", u"C:\\"}}) {
        auto got = os().files.get_volume_path_name(c.path, PATH_BUFFER_UNITS);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, std::u16string(c.mount));
    }
    EXPECT_EQ(error_of(os().files.get_volume_path_name(u"C:\\mnt\\data\\app", 5)),
              win32::filename_exced_range);
}

TEST_F(VolumeTest, AFolderMountedVolumeHasItsOwnSerialAndPaths) {
    auto h = open(u"C:\\mnt\\data\\app");
    ASSERT_TRUE(h.has_value());
    EXPECT_EQ(os().files.get_file_id_info(*h)->volume_serial_number, 0xDADAu);
    EXPECT_EQ(os().files.get_final_path_name_by_handle(*h, PATH_BUFFER_UNITS, 0)->path,
              u"\\\\?\\C:\\mnt\\data\\app");
    auto mount = open(u"C:\\mnt\\data");
    EXPECT_EQ(os().files.get_file_basic_info(*mount)->file_attributes,
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    // Moving between the two volumes is refused.
    std::u16string to = u"C:\\app";
    EXPECT_EQ(error_of(os().files.move_file_ex(u"C:\\mnt\\data\\app", &to, 0)),
              win32::not_same_device);
}

TEST_F(VolumeTest, FatRefusesPosixSemanticsAndHardLinks) {
    ASSERT_TRUE(machine->write_file(u"E:\\f", bytes("x"), user_token().user));
    EXPECT_EQ(error_of(os().files.create_hard_link(u"E:\\g", u"E:\\f")), 1u);
    auto h = open(u"E:\\f", kForRename);
    ASSERT_TRUE(h.has_value());
    EXPECT_EQ(error_of(os().files.set_file_disposition_info_ex(*h, 0x13)),
              win32::invalid_parameter);
    EXPECT_EQ(error_of(os().files.set_file_rename_info_ex(*h, u"E:\\g", 0x42)),
              win32::invalid_parameter);
    EXPECT_TRUE(os().files.set_file_rename_info_ex(*h, u"E:\\g", 0).has_value());
}

TEST_F(VolumeTest, DelayedRenamesAreRecordedAndAppliedAtReboot) {
    Sid ba = *sid_from_string(sids::administrators);
    ASSERT_TRUE(machine->make_directory(u"C:\\app", ba));
    ASSERT_TRUE(machine->write_file(u"C:\\app\\locked.dll", bytes("old"), ba));
    ASSERT_TRUE(machine->write_file(u"C:\\app\\new.dll", bytes("new"), ba));
    ASSERT_TRUE(
        os().files.move_file_ex(u"C:\\app\\locked.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    std::u16string to = u"C:\\app\\locked.dll";
    ASSERT_TRUE(os().files.move_file_ex(u"C:\\app\\new.dll", &to,
                                        MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    const RegValue* v =
        reg_find_value(machine->state().registry, kSessionManagerKey, kPendingRenamesValue);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->type, REG_MULTI_SZ);
    EXPECT_EQ(v->data, multi_sz_bytes({u"\\??\\C:\\app\\locked.dll", u"", u"\\??\\C:\\app\\new.dll",
                                       u"!\\??\\C:\\app\\locked.dll"}));
    // The exact bytes: UTF-16LE strings, each NUL-terminated, one more NUL at the end.
    std::vector<uint8_t> tail(v->data.end() - 6, v->data.end());
    EXPECT_EQ(tail, (std::vector<uint8_t>{'l', 0, 0, 0, 0, 0}));
    EXPECT_EQ(contents(u"C:\\app\\locked.dll"), "old");
    auto user = spawn(user_token());
    EXPECT_EQ(error_of(user->os().files.move_file_ex(u"C:\\app\\x", nullptr,
                                                     MOVEFILE_DELAY_UNTIL_REBOOT)),
              win32::access_denied);

    machine->reboot();
    EXPECT_EQ(contents(u"C:\\app\\locked.dll"), "new");
    EXPECT_FALSE(machine->exists(u"C:\\app\\new.dll"));
    EXPECT_EQ(reg_find_value(machine->state().registry, kSessionManagerKey, kPendingRenamesValue),
              nullptr);
    EXPECT_FALSE(machine->process_alive(engine_pid));
}

TEST(MultiSz, RoundTripKeepsEmptyStrings) {
    std::vector<std::u16string> strings{u"a", u"", u"b", u""};
    EXPECT_EQ(multi_sz_strings(multi_sz_bytes(strings)), strings);
    EXPECT_TRUE(multi_sz_strings(multi_sz_bytes({})).empty());
}

}  // namespace
}  // namespace holvar::sim::testing
