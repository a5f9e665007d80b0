// Volume capabilities and the volume flush at commit.
#include <gtest/gtest.h>

#include "fs_fixture.hpp"
#include "txn/fs/volume.hpp"

namespace holvar::txn::fs::testing {
namespace {

class VolumeTest : public FsTest {
  protected:
    void SetUp() override {
        machine().add_volume(
            {.drive = u"D:", .mount_folder = u"", .serial = 0xD0D0, .file_system = u"FAT32"});
        machine().add_volume(
            {.drive = u"E:", .mount_folder = u"", .serial = 0xE0E0, .file_system = u"exFAT"});
        machine().add_volume(
            {.drive = u"F:", .mount_folder = u"", .serial = 0xF0F0, .file_system = u"NTFS"});
        // The volume is mounted into a new folder, C:\Work\mnt.
        machine().add_volume({.drive = u"",
                              .mount_folder = uR"(C:\Work\mnt)",
                              .serial = 0xAAAA,
                              .file_system = u"NTFS"});
    }
};

TEST_F(VolumeTest, HardLinksAndPosixRenameAreRequired) {
    struct Case {
        std::u16string path;
        bool supported;
    };
    const std::vector<Case> cases = {
        {uR"(C:\Program Files\Holvar)", true},
        {uR"(C:\)", true},
        {uR"(F:\Holvar)", true},
        {uR"(D:\Holvar)", false},  // FAT32
        {uR"(E:\Holvar)", false},  // exFAT
        {uR"(C:\Work\mnt\Holvar)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.path));
        auto supported = check_volume_capabilities(os(), c.path);
        ASSERT_TRUE(supported) << supported.error().win32;
        EXPECT_EQ(*supported, c.supported);
    }
}

TEST_F(VolumeTest, QueryFailuresAreTheirWin32Errors) {
    for (const char* call : {"get_volume_path_name", "get_volume_file_system_flags"}) {
        SCOPED_TRACE(call);
        machine().add_fault({.call_index = std::nullopt,
                             .call_name = call,
                             .win32 = 21 /* ERROR_NOT_READY */,
                             .once = true});
        auto supported = check_volume_capabilities(os(), uR"(C:\Holvar)");
        ASSERT_FALSE(supported);
        EXPECT_EQ(supported.error().kind, platform::ErrorKind::win32);
    }
}

TEST_F(VolumeTest, FlushMakesEarlierMetadataDurable) {
    ASSERT_TRUE(os().files.create_directory(uR"(C:\Work\made-before-flush)"));
    ASSERT_TRUE(flush_volume(os(), uR"(C:\Work\root-to-be)"));
    machine().crash({.metadata_kept = 0, .tear_seed = std::nullopt});
    EXPECT_TRUE(exists(uR"(C:\Work\made-before-flush)"));
}

TEST_F(VolumeTest, WithoutTheFlushTheSameDirectoryMayBeLost) {
    // The control for the test above: the crash model bites.
    ASSERT_TRUE(os().files.create_directory(uR"(C:\Work\made-without-flush)"));
    machine().crash({.metadata_kept = 0, .tear_seed = std::nullopt});
    EXPECT_FALSE(exists(uR"(C:\Work\made-without-flush)"));
}

TEST_F(VolumeTest, FolderMountedVolumeHasNoDriveLetterToFlush) {
    auto result = flush_volume(os(), uR"(C:\Work\mnt\Holvar)");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, platform::ErrorKind::invalid_input);
    EXPECT_EQ(result.error().text, "volume has no drive letter");
}

TEST_F(VolumeTest, FlushFailureIsItsWin32Error) {
    machine().add_fault({.call_index = std::nullopt,
                         .call_name = "flush_file_buffers",
                         .win32 = platform::win32::write_fault,
                         .once = true});
    auto result = flush_volume(os(), uR"(C:\Holvar)");
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_win32(platform::win32::write_fault));
}

}  // namespace
}  // namespace holvar::txn::fs::testing
