// The root's identity as the journal records it.
#include <gtest/gtest.h>

#include "fs_fixture.hpp"
#include "txn/fs/root_identity.hpp"

namespace holvar::txn::fs::testing {
namespace {

constexpr uint64_t kSystemSerial = 0x1234abcd5678ef90u;

class RootIdentityTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\Holvar)");
        machine().add_volume(
            {.drive = u"F:", .mount_folder = u"", .serial = 0xF00DF00Du, .file_system = u"NTFS"});
    }
};

TEST_F(RootIdentityTest, ExistingRootHasItsIdAndSerial) {
    auto identity = capture_root_identity(os(), uR"(C:\Work\Holvar)", true);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->path, uR"(C:\Work\Holvar)");
    EXPECT_EQ(identity->volume_serial, kSystemSerial);
    ASSERT_TRUE(identity->file_id);
    EXPECT_EQ(*identity->file_id, id_of(uR"(C:\Work\Holvar)"));
}

TEST_F(RootIdentityTest, MissingRootTakesItsParentsSerialAndNoId) {
    struct Case {
        std::u16string path;
        uint64_t serial;
    };
    const std::vector<Case> cases = {
        {uR"(C:\Work\Holvar\New)", kSystemSerial},
        {uR"(C:\Work\Holvar\New\)", kSystemSerial},
        {uR"(F:\Holvar)", 0xF00DF00Du},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.path));
        auto identity = capture_root_identity(os(), c.path, false);
        ASSERT_TRUE(identity) << identity.error().win32;
        EXPECT_EQ(identity->path, c.path);
        EXPECT_EQ(identity->volume_serial, c.serial);
        EXPECT_FALSE(identity->file_id);
    }
}

TEST_F(RootIdentityTest, FailuresOfTheOpen) {
    auto missing = capture_root_identity(os(), uR"(C:\Work\Gone)", true);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is_win32(platform::win32::file_not_found));
    auto no_parent = capture_root_identity(os(), uR"(C:\Work\Gone\Holvar)", false);
    ASSERT_FALSE(no_parent);
    EXPECT_EQ(no_parent.error().kind, platform::ErrorKind::win32);
    auto drive_root = capture_root_identity(os(), uR"(C:\)", false);
    ASSERT_FALSE(drive_root);
    EXPECT_EQ(drive_root.error().text, "invalid path");
}

}  // namespace
}  // namespace holvar::txn::fs::testing
