// Access checks on the fresh machine's DACLs: what an ordinary user can and
// cannot do beside the engine (the attacks the engine must withstand happen
// where users may write).
#include "platform/sim/user_hands.hpp"
#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

class AccessTest : public SimTest {
  protected:
    void SetUp() override {
        Sid ba = *sid_from_string(sids::administrators);
        ASSERT_TRUE(machine->make_directory(u"C:\\Program Files\\Holvar", ba));
        ASSERT_TRUE(machine->write_file(u"C:\\Program Files\\Holvar\\app.exe", bytes("app"), ba));
        ASSERT_TRUE(machine->make_directory(u"C:\\Open", ba));  // inherits C:\'s user rights
        ASSERT_TRUE(machine->write_file(u"C:\\Open\\admin.txt", bytes("a"), ba));
        user = spawn(user_token());
    }
    uint32_t user_open(const std::u16string& path, uint32_t access,
                       uint32_t disposition = OPEN_EXISTING) {
        return error_of(user->os().files.create_file(path, access, FILE_SHARE_ALL, disposition,
                                                     OPEN_NO_FOLLOW));
    }
    std::unique_ptr<ProcessOs> user;
};

TEST_F(AccessTest, WhatAnOrdinaryUserMayDo) {
    struct Case {
        const char* what;
        const char16_t* path;
        uint32_t access;
        uint32_t disposition;
        uint32_t error;
    };
    const Case cases[] = {
        {"read a program file", u"C:\\Program Files\\Holvar\\app.exe", GENERIC_READ, OPEN_EXISTING,
         0},
        {"write a program file", u"C:\\Program Files\\Holvar\\app.exe", GENERIC_WRITE,
         OPEN_EXISTING, win32::access_denied},
        {"delete a program file", u"C:\\Program Files\\Holvar\\app.exe", DELETE, OPEN_EXISTING,
         win32::access_denied},
        {"create in the install root", u"C:\\Program Files\\Holvar\\x.dll", GENERIC_WRITE,
         CREATE_NEW, win32::access_denied},
        {"create in a folder under C:\\", u"C:\\Open\\mine.txt", GENERIC_WRITE, CREATE_NEW, 0},
        {"modify an administrator's file there", u"C:\\Open\\admin.txt", GENERIC_WRITE,
         OPEN_EXISTING, 0},
        {"delete it", u"C:\\Open\\admin.txt", DELETE, OPEN_EXISTING, 0},
        {"read its owner", u"C:\\Open\\admin.txt", READ_CONTROL, OPEN_EXISTING, 0},
        {"change its DACL", u"C:\\Open\\admin.txt", WRITE_DAC, OPEN_EXISTING, win32::access_denied},
        {"attributes anywhere", u"C:\\Windows", FILE_READ_ATTRIBUTES, OPEN_EXISTING, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(user_open(c.path, c.access, c.disposition), c.error);
    }
    EXPECT_EQ(error_of(user->os().files.create_directory(u"C:\\Program Files\\Evil")),
              win32::access_denied);
    EXPECT_TRUE(user->os().files.create_directory(u"C:\\Evil").has_value());
}

// Overwriting a file keeps its security descriptor: an administrator's file
// that users may write stays the administrator's, whatever they wrote in it.
TEST_F(AccessTest, AUserWhoRewritesAnAdministratorsFileLeavesItTheAdministrators) {
    UserHands hands(*machine);
    ASSERT_TRUE(hands.write_file(u"C:\\Open\\admin.txt", bytes("mine")));
    EXPECT_EQ(hands.read_file(u"C:\\Open\\admin.txt").value_or(std::vector<uint8_t>{}),
              bytes("mine"));
    EXPECT_EQ(machine->stat(u"C:\\Open\\admin.txt")->owner, *sid_from_string(sids::administrators));
    ASSERT_TRUE(
        machine->make_directory_sddl(u"C:\\Closed", u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
    ASSERT_TRUE(machine->write_file(u"C:\\Closed\\admin.txt", bytes("a"),
                                    *sid_from_string(sids::administrators)));
    EXPECT_EQ(error_of(hands.read_file(u"C:\\Closed\\admin.txt")), win32::access_denied);
}

TEST_F(AccessTest, TheElevatedEngineMayChangeProgramFiles) {
    EXPECT_TRUE(create(u"C:\\Program Files\\Holvar\\new.dll").has_value());
    EXPECT_TRUE(open(u"C:\\Program Files\\Holvar\\app.exe", kForRename).has_value());
    // The same administrator unelevated is an ordinary user.
    Token unelevated = admin_token();
    unelevated.elevated = false;
    auto plain = spawn(unelevated);
    EXPECT_EQ(
        error_of(plain->os().files.create_file(u"C:\\Program Files\\Holvar\\app.exe", DELETE,
                                               FILE_SHARE_ALL, OPEN_EXISTING, OPEN_NO_FOLLOW)),
        win32::access_denied);
}

}  // namespace
}  // namespace holvar::sim::testing
