// The install root's own access-control list.
#include <gtest/gtest.h>

#include "fs_fixture.hpp"
#include "platform/security_types.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/protected_directory.hpp"

namespace holvar::txn::fs::testing {
namespace {

using platform::Ace;

class ProtectedDirectoryTest : public FsTest {
  protected:
    platform::SecurityParts security_of(const std::u16string& path) {
        auto handle =
            open_object(os(), path, platform::READ_CONTROL | platform::FILE_READ_ATTRIBUTES);
        EXPECT_TRUE(handle);
        if (!handle) return {};
        auto sd = os().security.get_security_info(*handle, platform::SE_FILE_OBJECT,
                                                  platform::OWNER_SECURITY_INFORMATION |
                                                      platform::GROUP_SECURITY_INFORMATION |
                                                      platform::DACL_SECURITY_INFORMATION);
        EXPECT_TRUE(sd);
        if (!sd) return {};
        auto parts = platform::decode_security_descriptor(*sd);
        EXPECT_TRUE(parts);
        return parts ? *parts : platform::SecurityParts{};
    }
};

TEST_F(ProtectedDirectoryTest, OwnerGroupAndProtectedDacl) {
    ASSERT_TRUE(create_protected_directory(os(), uR"(C:\Work\Holvar)"));
    platform::SecurityParts parts = security_of(uR"(C:\Work\Holvar)");
    EXPECT_EQ(parts.owner, admins());
    EXPECT_EQ(parts.group, admins());
    EXPECT_TRUE(parts.dacl_protected);
    ASSERT_TRUE(parts.dacl);
    const uint8_t inherit = platform::OBJECT_INHERIT_ACE | platform::CONTAINER_INHERIT_ACE;
    struct Expected {
        const char16_t* sid;
        uint32_t mask;
    };
    const std::vector<Expected> expected = {
        {platform::sids::local_system, platform::FILE_ALL_ACCESS},
        {platform::sids::administrators, platform::FILE_ALL_ACCESS},
        {platform::sids::users, platform::GENERIC_READ | platform::GENERIC_EXECUTE},
    };
    ASSERT_EQ(parts.dacl->aces.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const Ace& ace = parts.dacl->aces[i];
        EXPECT_EQ(ace.type, platform::ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace.flags, inherit);
        EXPECT_EQ(ace.mask, expected[i].mask);
        EXPECT_EQ(ace.sid, sid(expected[i].sid));
    }
}

TEST_F(ProtectedDirectoryTest, ExistingDirectoryIsAnErrorAndKeepsItsSecurity) {
    ASSERT_TRUE(machine().make_directory(uR"(C:\Work\Holvar)", sim::user_token().user));
    auto result = create_protected_directory(os(), uR"(C:\Work\Holvar)");
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_win32(platform::win32::already_exists));
    EXPECT_EQ(machine().stat(uR"(C:\Work\Holvar)")->owner, sim::user_token().user);
}

TEST_F(ProtectedDirectoryTest, MissingParentIsPathNotFound) {
    auto result = create_protected_directory(os(), uR"(C:\Work\missing\Holvar)");
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_win32(platform::win32::path_not_found));
    EXPECT_FALSE(exists(uR"(C:\Work\missing)"));
}

}  // namespace
}  // namespace holvar::txn::fs::testing
