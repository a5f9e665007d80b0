// Named mutexes, the clock, and the security calls: owners of what a process
// creates, descriptors read back, SDDL.
#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

constexpr const char16_t* kLock = u"Global\\Holvar.ManagedInstaller.Transaction.v3";

class MutexTest : public SimTest {};

TEST_F(MutexTest, HeldBusyAbandoned) {
    auto first = os().sync.create_mutex(kLock, false);
    ASSERT_TRUE(first.has_value());
    EXPECT_FALSE(first->already_existed);
    EXPECT_EQ(*os().sync.wait_for_single_object(first->handle, 0), WAIT_OBJECT_0);
    EXPECT_EQ(*os().sync.wait_for_single_object(first->handle, 0), WAIT_OBJECT_0);  // recursive

    auto other = spawn(admin_token());
    auto second = other->os().sync.create_mutex(kLock, false);
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(second->already_existed);
    EXPECT_EQ(*other->os().sync.wait_for_single_object(second->handle, 0), WAIT_TIMEOUT);
    auto before = machine->now();
    EXPECT_EQ(*other->os().sync.wait_for_single_object(second->handle, 5000), WAIT_TIMEOUT);
    EXPECT_EQ(machine->now() - before, std::chrono::milliseconds(5000));  // virtual time only

    machine->exit_process(engine_pid, 3);
    EXPECT_EQ(*other->os().sync.wait_for_single_object(second->handle, 0), WAIT_ABANDONED);
    EXPECT_EQ(*other->os().sync.wait_for_single_object(second->handle, 0), WAIT_OBJECT_0);
}

TEST_F(MutexTest, TheLastHandleDestroysTheMutex) {
    {
        auto m = os().sync.create_mutex(kLock, true);
        ASSERT_TRUE(m.has_value());
    }
    auto again = os().sync.create_mutex(kLock, false);
    EXPECT_FALSE(again->already_existed);
    // Mutex names are case-sensitive; "Local\" names the engine's interactive
    // session, not the global namespace of "Global\".
    auto other_case =
        os().sync.create_mutex(u"Global\\holvar.managedinstaller.transaction.v3", false);
    ASSERT_TRUE(other_case.has_value());
    EXPECT_FALSE(other_case->already_existed);
    EXPECT_FALSE(os().sync.create_mutex(u"Local\\Holvar.ManagedInstaller.Transaction.v3", false)
                     ->already_existed);
    // Without OBJ_CASE_INSENSITIVE even the namespace prefix must match exactly.
    EXPECT_EQ(error_of(os().sync.create_mutex(u"global\\x", false)), win32::path_not_found);
}

TEST_F(MutexTest, AnUnprivilegedProcessCannotOpenTheEnginesMutex) {
    auto m = os().sync.create_mutex(kLock, false);
    ASSERT_TRUE(m.has_value());
    auto user = spawn(user_token());
    EXPECT_EQ(error_of(user->os().sync.create_mutex(kLock, false)), win32::access_denied);
}

TEST_F(MutexTest, ProcessFacts) {
    EXPECT_EQ(*os().processes.get_module_file_name(), u"C:\\stage\\engine.exe");
    EXPECT_EQ(os().processes.get_current_process_id(), engine_pid);
    auto t0 = os().clock.now();
    os().clock.sleep_for(std::chrono::seconds(30));
    EXPECT_EQ(os().clock.now() - t0, std::chrono::seconds(30));
}

class SecurityTest : public SimTest {};

Sid owner_of(Os& os, const std::u16string& path) {
    auto h = os.files.create_file(path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                  OPEN_EXISTING, OPEN_NO_FOLLOW);
    if (!h) return {};
    auto sd = os.security.get_security_info(*h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION);
    if (!sd) return {};
    auto parts = decode_security_descriptor(*sd);
    return parts && parts->owner ? *parts->owner : Sid{};
}

TEST_F(SecurityTest, CreatorsOwnWhatTheyCreate) {
    struct Case {
        Token token;
        const char16_t* path;
        const char16_t* owner;
    };
    const Case cases[] = {
        {admin_token(), u"C:\\by-admin", sids::administrators},
        {system_token(), u"C:\\by-system", sids::local_system},
        {user_token(), u"C:\\by-user", nullptr},
    };
    for (const Case& c : cases) {
        auto p = spawn(c.token);
        ASSERT_TRUE(p->os().files.create_directory(c.path).has_value());
        Sid expected = c.owner ? *sid_from_string(c.owner) : c.token.user;
        EXPECT_EQ(owner_of(os(), c.path), expected);
    }
}

TEST_F(SecurityTest, ProtectedDescriptorFromSddl) {
    auto sd = os().security.convert_sddl_to_security_descriptor(
        u"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)", SDDL_REVISION_1);
    ASSERT_TRUE(sd.has_value());
    ASSERT_TRUE(os().files.create_directory(u"C:\\protected", &*sd).has_value());
    ASSERT_TRUE(os().files.create_directory(u"C:\\protected\\child").has_value());
    auto h = open(u"C:\\protected\\child", READ_CONTROL);
    auto got = os().security.get_security_info(
        *h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    auto parts = decode_security_descriptor(*got);
    ASSERT_TRUE(parts && parts->dacl);
    EXPECT_FALSE(parts->dacl_protected);
    // Generic rights split the users' entry in two: one that takes effect here
    // (mapped) and one that only passes the generic rights on.
    ASSERT_EQ(parts->dacl->aces.size(), 4u);
    EXPECT_EQ(parts->dacl->aces[3].mask, GENERIC_READ | GENERIC_EXECUTE);
    EXPECT_EQ(parts->dacl->aces[3].flags & INHERIT_ONLY_ACE, INHERIT_ONLY_ACE);
    EXPECT_EQ(parts->dacl->aces[2].sid, *sid_from_string(sids::users));
    EXPECT_EQ(parts->dacl->aces[2].mask, 0x1200A9u);  // generic rights mapped
    EXPECT_EQ(parts->dacl->aces[2].flags & INHERITED_ACE, INHERITED_ACE);
    // An ordinary user may read there but not create.
    auto user = spawn(user_token());
    EXPECT_EQ(error_of(user->os().files.create_directory(u"C:\\protected\\mine")),
              win32::access_denied);
    EXPECT_TRUE(user->os().files.create_file(u"C:\\protected\\child", FILE_LIST_DIRECTORY,
                                             FILE_SHARE_ALL, OPEN_EXISTING, OPEN_NO_FOLLOW));
}

TEST_F(SecurityTest, SddlAndSidParsing) {
    struct Case {
        const char16_t* sddl;
        uint32_t error;
    };
    const Case cases[] = {
        {u"O:SYD:(A;;0x1f01ff;;;S-1-5-32-545)", 0},
        {u"D:AI(D;OICIIONP;SDRCWDWO;;;WD)(A;ID;FRFWFX;;;AU)", 0},
        {u"O:XX", win32::invalid_sid},
        {u"D:(Q;;FA;;;SY)", win32::invalid_parameter},
        {u"D:(A;;FA;;SY)", win32::invalid_parameter},
        {u"D:(A;;ZZ;;;SY)", win32::invalid_parameter},
        {u"D:(A;;FA;;;SY", win32::invalid_parameter},
        {u"Z:BA", win32::invalid_parameter},
    };
    for (const Case& c : cases) {
        std::u16string s = c.sddl;
        SCOPED_TRACE(std::string(s.begin(), s.end()));
        EXPECT_EQ(error_of(os().security.convert_sddl_to_security_descriptor(s, SDDL_REVISION_1)),
                  c.error);
    }
    EXPECT_EQ(*os().security.convert_string_sid_to_sid(u"SY"),
              *os().security.create_well_known_sid(WinLocalSystemSid));
    EXPECT_EQ(*os().security.convert_string_sid_to_sid(u"S-1-5-32-544"),
              *os().security.create_well_known_sid(WinBuiltinAdministratorsSid));
    EXPECT_EQ(error_of(os().security.convert_string_sid_to_sid(u"S-1-x")), win32::invalid_sid);
    EXPECT_FALSE(os().security.equal_sid(Sid{{1, 9}}, Sid{{1, 9}}));
}

TEST_F(SecurityTest, SetupOwnersAreReportedAndAnInvalidOwnerRefused) {
    ASSERT_TRUE(machine->make_directory(u"C:\\mine", user_token().user));
    EXPECT_EQ(owner_of(os(), u"C:\\mine"), user_token().user);
    auto sd = os().security.convert_sddl_to_security_descriptor(u"O:SYD:", SDDL_REVISION_1);
    EXPECT_EQ(error_of(os().files.create_directory(u"C:\\mine\\x", &*sd)), 1307u);
    auto h = open(u"C:\\mine", kProbe);
    EXPECT_EQ(
        error_of(os().security.get_security_info(*h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION)),
        win32::access_denied);
}

}  // namespace
}  // namespace holvar::sim::testing
