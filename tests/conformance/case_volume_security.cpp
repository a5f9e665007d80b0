// Volumes, SIDs and security descriptors.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

class Volume : public Case {};

TEST_F(Volume, TheWorkDirectoryLiesOnDriveC) {
    auto mount = files().get_volume_path_name(work(), PATH_BUFFER_UNITS);
    ASSERT_OK(mount);
    EXPECT_EQ(narrow(*mount), "C:\\");
}

TEST_F(Volume, ADriveRootIsItsOwnMountPoint) {
    auto mount = files().get_volume_path_name(u"C:\\", PATH_BUFFER_UNITS);
    ASSERT_OK(mount);
    EXPECT_EQ(narrow(*mount), "C:\\");
}

TEST_F(Volume, NtfsSupportsHardLinksAndPosixRename) {
    SKIP_ON_WINE(wine_gap::volume_flags);
    auto flags = files().get_volume_file_system_flags(u"C:\\");
    ASSERT_OK(flags);
    EXPECT_EQ(*flags & 0x400400u, 0x400400u);
}

TEST_F(Volume, NtfsKeepsAcls) {
    auto flags = files().get_volume_file_system_flags(u"C:\\");
    ASSERT_OK(flags);
    EXPECT_NE(*flags & FILE_PERSISTENT_ACLS, 0u);
}

struct WellKnownRow {
    uint32_t type;
    const char16_t* text;
};

void PrintTo(const WellKnownRow& row, std::ostream* out) {
    *out << narrow(row.text);
}

class WellKnownSids : public Case, public ::testing::WithParamInterface<WellKnownRow> {};

TEST_P(WellKnownSids, EqualTheirStringForm) {
    auto made = os().security.create_well_known_sid(GetParam().type);
    auto parsed = os().security.convert_string_sid_to_sid(GetParam().text);
    ASSERT_OK(made);
    ASSERT_OK(parsed);
    EXPECT_EQ(made->bytes, parsed->bytes);
    EXPECT_TRUE(os().security.equal_sid(*made, *parsed));
    EXPECT_EQ(sid_to_string(*made), narrow(GetParam().text));
}

const WellKnownRow well_known_rows[] = {
    {WinWorldSid, sids::everyone},           {WinAuthenticatedUserSid, sids::authenticated_users},
    {WinLocalSystemSid, sids::local_system}, {WinBuiltinAdministratorsSid, sids::administrators},
    {WinBuiltinUsersSid, sids::users},
};

INSTANTIATE_TEST_SUITE_P(Table, WellKnownSids, ::testing::ValuesIn(well_known_rows));

class Sids : public Case {};

TEST_F(Sids, DifferentSidsAreNotEqual) {
    auto system = os().security.create_well_known_sid(WinLocalSystemSid);
    auto admins = os().security.create_well_known_sid(WinBuiltinAdministratorsSid);
    ASSERT_OK(system);
    ASSERT_OK(admins);
    EXPECT_FALSE(os().security.equal_sid(*system, *admins));
}

TEST_F(Sids, MalformedSidTextIs1337) {
    EXPECT_WIN32(os().security.convert_string_sid_to_sid(u"not a sid"), win32::invalid_sid);
    EXPECT_WIN32(os().security.convert_string_sid_to_sid(u"S-1"), win32::invalid_sid);
}

TEST_F(Sids, SddlAliasesAreAccepted) {
    auto parsed = os().security.convert_string_sid_to_sid(u"BA");
    ASSERT_OK(parsed);
    EXPECT_EQ(sid_to_string(*parsed), "S-1-5-32-544");
}

constexpr const char16_t* protected_sddl =
    u"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)";

class Descriptors : public Case {};

TEST_F(Descriptors, TheProtectedRootDescriptorParses) {
    auto sd = os().security.convert_sddl_to_security_descriptor(protected_sddl, SDDL_REVISION_1);
    ASSERT_OK(sd);
    auto parts = decode_security_descriptor(*sd);
    ASSERT_OK(parts);
    ASSERT_TRUE(parts->owner.has_value());
    EXPECT_EQ(sid_to_string(*parts->owner), "S-1-5-32-544");
    ASSERT_TRUE(parts->group.has_value());
    EXPECT_EQ(sid_to_string(*parts->group), "S-1-5-32-544");
    EXPECT_TRUE(parts->dacl_protected);
    ASSERT_TRUE(parts->dacl.has_value());
    ASSERT_EQ(parts->dacl->aces.size(), 3u);
    const uint32_t masks[] = {FILE_ALL_ACCESS, FILE_ALL_ACCESS, GENERIC_READ | GENERIC_EXECUTE};
    const char* who[] = {"S-1-5-18", "S-1-5-32-544", "S-1-5-32-545"};
    for (size_t i = 0; i < 3; ++i) {
        const Ace& ace = parts->dacl->aces[i];
        EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace.flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace.mask, masks[i]);
        EXPECT_EQ(sid_to_string(ace.sid), who[i]);
    }
}

TEST_F(Descriptors, MalformedSddlFails) {
    // The code depends on which part is malformed; only the failure is fixed.
    EXPECT_FALSE(
        os().security.convert_sddl_to_security_descriptor(u"O:BAD:(garbage", 1).has_value());
}

TEST_F(Descriptors, ADirectoryCreatedWithTheDescriptorIsOwnedByAdministrators) {
    SKIP_ON_WINE(wine_gap::file_owners);
    auto sd = os().security.convert_sddl_to_security_descriptor(protected_sddl, SDDL_REVISION_1);
    ASSERT_OK(sd);
    ASSERT_OK(files().create_directory(at(u"protected"), &*sd));
    auto h =
        open(at(u"protected"), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    auto read = os().security.get_security_info(
        *h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    ASSERT_OK(read);
    auto parts = decode_security_descriptor(*read);
    ASSERT_OK(parts);
    ASSERT_TRUE(parts->owner.has_value());
    EXPECT_EQ(sid_to_string(*parts->owner), "S-1-5-32-544");
    EXPECT_TRUE(parts->dacl_protected);
}

TEST_F(Descriptors, TheOwnerOfANewFileIsReadable) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    auto read = os().security.get_security_info(*h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION);
    ASSERT_OK(read);
    auto parts = decode_security_descriptor(*read);
    ASSERT_OK(parts);
    ASSERT_TRUE(parts->owner.has_value());
    EXPECT_TRUE(sid_is_valid(parts->owner->bytes));
}

TEST_F(Descriptors, OnlyTheRequestedPartsAreReturned) {
    SKIP_ON_WINE(wine_gap::owner_only_descriptor);
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    auto read = os().security.get_security_info(*h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION);
    ASSERT_OK(read);
    auto parts = decode_security_descriptor(*read);
    ASSERT_OK(parts);
    EXPECT_FALSE(parts->group.has_value());
    EXPECT_FALSE(parts->dacl_present);
}

TEST_F(Descriptors, ReadingTheOwnerNeedsReadControl) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL, OPEN_NO_FOLLOW);
    ASSERT_OK(h);
    EXPECT_WIN32(os().security.get_security_info(*h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION),
                 win32::access_denied);
}

class Mutexes : public Case {
  protected:
    std::u16string unique_name(std::u16string_view stem) {
        const auto pid = os().processes.get_current_process_id();
        std::u16string name = u"Local\\holvar-conformance-";
        for (char c : std::to_string(pid)) name.push_back(static_cast<char16_t>(c));
        name += u"-";
        name += stem;
        return name;
    }
};

TEST_F(Mutexes, ASecondCreateOpensTheSameMutex) {
    const std::u16string name = unique_name(u"twice");
    auto first = os().sync.create_mutex(name, false);
    ASSERT_OK(first);
    EXPECT_FALSE(first->already_existed);
    auto second = os().sync.create_mutex(name, false);
    ASSERT_OK(second);
    EXPECT_TRUE(second->already_existed);
}

TEST_F(Mutexes, AFreeMutexIsTakenAtOnce) {
    auto m = os().sync.create_mutex(unique_name(u"free"), false);
    ASSERT_OK(m);
    auto waited = os().sync.wait_for_single_object(m->handle, 0);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_OBJECT_0);
}

TEST_F(Mutexes, TheNameIsReleasedWhenTheLastHandleCloses) {
    const std::u16string name = unique_name(u"released");
    {
        auto m = os().sync.create_mutex(name, false);
        ASSERT_OK(m);
    }
    auto again = os().sync.create_mutex(name, false);
    ASSERT_OK(again);
    EXPECT_FALSE(again->already_existed);
}

TEST_F(Mutexes, ABackslashInTheNameBeyondTheNamespaceIsRefused) {
    EXPECT_WIN32(os().sync.create_mutex(u"Local\\a\\b", false), win32::path_not_found);
}

}  // namespace
}  // namespace holvar::conformance
