// The trusted path walk on the simulated machine: what it accepts, each
// reason it refuses, and a path that stops being trusted between two walks.
#include <gtest/gtest.h>

#include "managed_v3/identity/path_walk.hpp"
#include "quiesce/process_fixture.hpp"

namespace holvar::testing {
namespace {

using platform::sids::administrators;
using platform::sids::users;
using v3::PathWalkFailure;
using v3::PathWalkReason;

struct PathHost : ProcessHost {
    PathHost() {
        mkdir(u"C:\\Program Files\\Holvar\\resources");
        write(u"C:\\Program Files\\Holvar\\resources\\holvar-service.exe", {1, 2, 3});
    }
    static constexpr char16_t kImage[] =
        u"C:\\Program Files\\Holvar\\resources\\holvar-service.exe";
    std::optional<PathWalkFailure> walk(std::u16string_view path) {
        auto pinned = v3::walk_trusted_path(os(), path);
        if (pinned) return std::nullopt;
        return pinned.error();
    }
};

class PathWalk : public ::testing::Test, public PathHost {};

TEST_F(PathWalk, ATrustedPathPinsEveryComponentAndReleasesThemTogether) {
    constexpr char16_t kResources[] = u"C:\\Program Files\\Holvar\\resources";
    auto other = machine().spawn_process(u"C:\\Work\\other.exe", sim::admin_token());
    sim::ProcessOs other_os(machine(), other);
    platform::Files& files = other_os.os().files;
    auto open = [&](const char16_t* path, uint32_t access) {
        return files.create_file(path, access, platform::FILE_SHARE_ALL, platform::OPEN_EXISTING,
                                 platform::OPEN_NO_FOLLOW);
    };
    auto move = [&](const char16_t* from, const char16_t* to) {
        const std::u16string target(to);
        return files.move_file_ex(from, &target, 0);
    };
    constexpr uint32_t kDelete = platform::DELETE | platform::FILE_READ_ATTRIBUTES;
    auto refused = [](const auto& result) {
        return !result && result.error().is_win32(platform::win32::sharing_violation);
    };
    {
        auto pinned = v3::walk_trusted_path(os(), kImage);
        ASSERT_TRUE(pinned);
        EXPECT_EQ(pinned->handles.size(), 5u);  // C:\, Program Files, Holvar, resources, the file
        EXPECT_EQ(engine_handles(), 5u);
        // While pinned, another process (an administrator, even) can neither
        // rename nor delete a directory of the path or the file, nor write
        // the file; it may still read the file and add to the directories.
        EXPECT_TRUE(refused(move(kResources, u"C:\\Program Files\\Holvar\\moved")));
        EXPECT_TRUE(refused(open(kResources, kDelete)));
        EXPECT_TRUE(refused(move(kImage, u"C:\\Program Files\\Holvar\\resources\\old.exe")));
        EXPECT_TRUE(refused(open(kImage, kDelete)));
        EXPECT_TRUE(refused(open(kImage, platform::GENERIC_WRITE)));
        EXPECT_TRUE(files.create_file(kImage, platform::FILE_READ_DATA, platform::FILE_SHARE_READ,
                                      platform::OPEN_EXISTING, 0));
        EXPECT_TRUE(files.create_file(u"C:\\Program Files\\Holvar\\resources\\new.dll",
                                      platform::GENERIC_WRITE, 0, platform::CREATE_NEW, 0));
        // A second walk of the same path (another holder) is compatible.
        EXPECT_TRUE(v3::walk_trusted_path(os(), kImage));
    }
    EXPECT_EQ(engine_handles(), 0u);
    EXPECT_TRUE(move(kImage, u"C:\\Program Files\\Holvar\\resources\\old.exe"));
    EXPECT_TRUE(move(kResources, u"C:\\Program Files\\Holvar\\moved"));
}

// Refused from the text alone: nothing is opened.
TEST_F(PathWalk, MalformedPathsAreRefusedBeforeAnythingIsOpened) {
    struct Row {
        std::u16string path;
        PathWalkReason reason;
        bool last;
    };
    const Row rows[] = {
        {u"", PathWalkReason::bad_prefix, false},
        {u"Program Files\\Holvar", PathWalkReason::not_absolute, false},
        {u"C:Program Files", PathWalkReason::not_absolute, false},
        {u"\\Program Files", PathWalkReason::not_absolute, false},
        {u"\\\\?\\C:\\Program Files\\Holvar", PathWalkReason::bad_prefix, false},
        {u"\\\\server\\share\\Holvar", PathWalkReason::bad_prefix, false},
        {u"\\\\.\\C:\\Holvar", PathWalkReason::bad_prefix, false},
        {u"C:\\Program Files\\..\\Windows", PathWalkReason::bad_component, false},
        {u"C:\\Program Files\\.\\Holvar", PathWalkReason::bad_component, false},
        {u"C:\\Program Files\\Holvar\\..", PathWalkReason::bad_component, true},
        {u"C:\\Program Files \\Holvar", PathWalkReason::bad_component, false},
        {u"C:\\Program Files\\Holvar.", PathWalkReason::bad_component, true},
        {u"C:\\Program Files\\a|b", PathWalkReason::bad_component, true},
        {u"C:\\Program Files\\a<b", PathWalkReason::bad_component, true},
        {u"C:\\Program Files\\a>b", PathWalkReason::bad_component, true},
        {u"C:\\Program Files\\a?b", PathWalkReason::bad_component, true},
        {u"C:\\Program Files\\a*b", PathWalkReason::bad_component, true},
        {u"C:\\Program Files\\a:stream", PathWalkReason::bad_component, true},
        {u"C:\\Program Files\\\\Holvar", PathWalkReason::bad_component, false},
        {u"C:\\Program Files\\Holvar\\", PathWalkReason::bad_component, true},
        {std::u16string(u"C:\\Program Files\\a\0b", 20), PathWalkReason::bad_component, true},
    };
    for (const Row& row : rows) {
        const uint64_t calls = machine().boundary_calls();
        auto failure = walk(row.path);
        ASSERT_TRUE(failure.has_value()) << row.path.size();
        EXPECT_EQ(failure->reason, row.reason) << row.path.size();
        EXPECT_EQ(failure->last_component, row.last) << row.path.size();
        EXPECT_EQ(machine().boundary_calls(), calls) << "opened something";
    }
}

// What the machine holds decides.
TEST_F(PathWalk, EachRefusalOfTheMachineNamesTheComponent) {
    struct Row {
        const char* what;
        void (*arrange)(PathHost&);
        PathWalkReason reason;
        bool last;
        std::optional<uint32_t> win32;
    };
    const Row rows[] = {
        {"missing file", [](PathHost& t) { ASSERT_TRUE(t.machine().remove(kImage)); },
         PathWalkReason::open_failed, true, 2u},
        {"a hard link",
         [](PathHost& t) {
             ASSERT_TRUE(
                 t.machine().make_hard_link(u"C:\\Program Files\\Holvar\\copy.exe", kImage));
         },
         PathWalkReason::link_count, true, std::nullopt},
        {"Users may modify a middle directory",
         [](PathHost& t) { t.grant(u"C:\\Program Files\\Holvar", users, 0x1301bf); },
         PathWalkReason::untrusted_writer, false, std::nullopt},
        {"Users may write the file",
         [](PathHost& t) { t.grant(kImage, users, platform::FILE_WRITE_DATA); },
         PathWalkReason::untrusted_writer, true, std::nullopt},
        {"Users may add files to a middle directory",
         [](PathHost& t) { t.grant(u"C:\\Program Files\\Holvar", users, platform::FILE_ADD_FILE); },
         PathWalkReason::untrusted_writer, false, std::nullopt},
        {"an object ACE",
         [](PathHost& t) {
             t.grant(u"C:\\Program Files\\Holvar", administrators, platform::FILE_READ_DATA, 0,
                     platform::ACCESS_ALLOWED_OBJECT_ACE_TYPE);
         },
         PathWalkReason::untrusted_writer, false, std::nullopt},
        {"owned by Users",
         [](PathHost& t) {
             ASSERT_TRUE(t.machine().set_owner(u"C:\\Program Files\\Holvar", sid(users)));
         },
         PathWalkReason::untrusted_owner, false, std::nullopt},
        {"the security query fails",
         [](PathHost& t) {
             t.machine().add_fault({std::nullopt, "get_security_info", 1359, true});
         },
         PathWalkReason::security_query_failed, false, 1359u},
        {"the information query fails",
         [](PathHost& t) {
             t.machine().add_fault({std::nullopt, "get_file_information_by_handle", 1117, true});
         },
         PathWalkReason::information_failed, false, 1117u},
        {"a trusted SID cannot be built",
         [](PathHost& t) {
             t.machine().add_fault({std::nullopt, "convert_string_sid_to_sid", 8, true});
         },
         PathWalkReason::sid_conversion_failed, false, 8u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        PathHost t;
        row.arrange(t);
        auto failure = t.walk(kImage);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->reason, row.reason);
        EXPECT_EQ(failure->last_component, row.last);
        EXPECT_EQ(failure->win32, row.win32);
        EXPECT_EQ(t.engine_handles(), 0u) << "a handle outlived the failed walk";
    }
}

TEST_F(PathWalk, AFileInTheMiddleIsNotADirectory) {
    auto failure = walk(std::u16string(kImage) + u"\\more");
    ASSERT_TRUE(failure);
    // Opening through a file fails first on the simulated machine as on Windows.
    EXPECT_TRUE(failure->reason == PathWalkReason::not_a_directory ||
                failure->reason == PathWalkReason::open_failed);
    EXPECT_FALSE(failure->last_component);
}

TEST_F(PathWalk, GrantsThatCannotChangeThePathPass) {
    struct Row {
        const char* what;
        void (*arrange)(PathHost&);
    };
    const Row rows[] = {
        {"Users may create files and folders on the volume root",
         [](PathHost& t) {
             t.grant(u"C:\\", users, platform::FILE_ADD_FILE | platform::FILE_ADD_SUBDIRECTORY);
         }},
        {"an inherit-only grant of write to Users",
         [](PathHost& t) {
             t.grant(u"C:\\Program Files\\Holvar", users, 0x1301bf,
                     platform::OBJECT_INHERIT_ACE | platform::INHERIT_ONLY_ACE);
         }},
        {"an inherit-only object ACE",
         [](PathHost& t) {
             t.grant(u"C:\\Program Files\\Holvar", users, 0x1301bf, platform::INHERIT_ONLY_ACE,
                     platform::ACCESS_ALLOWED_OBJECT_ACE_TYPE);
         }},
        {"a deny entry for Users",
         [](PathHost& t) {
             t.grant(u"C:\\Program Files\\Holvar", users, 0x1301bf, 0,
                     platform::ACCESS_DENIED_ACE_TYPE);
         }},
        {"read and execute for Users",
         [](PathHost& t) { t.grant(u"C:\\Program Files\\Holvar", users, 0x1200a9); }},
        {"TrustedInstaller owns and may write",
         [](PathHost& t) {
             ASSERT_TRUE(t.machine().set_owner(u"C:\\Program Files\\Holvar",
                                               sid(platform::sids::trusted_installer)));
             t.grant(u"C:\\Program Files\\Holvar", platform::sids::trusted_installer, 0x1F01FF);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        PathHost t;
        row.arrange(t);
        EXPECT_FALSE(t.walk(kImage).has_value());
    }
    // The same write grant on the root itself is refused.
    PathHost t;
    t.grant(u"C:\\", users, platform::FILE_WRITE_ATTRIBUTES);
    auto failure = t.walk(kImage);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->reason, PathWalkReason::untrusted_writer);
}

TEST_F(PathWalk, LinksAreReparsePointsWhateverTheyLeadTo) {
    mkdir(u"C:\\Program Files\\Real");
    write(u"C:\\Program Files\\Real\\holvar-service.exe", {1});
    ASSERT_TRUE(machine().make_junction(u"C:\\Program Files\\Holvar\\link",
                                        u"C:\\Program Files\\Real", sid(administrators)));
    ASSERT_TRUE(machine().make_symlink(u"C:\\Program Files\\Holvar\\file-link.exe",
                                       u"C:\\Program Files\\Real\\holvar-service.exe",
                                       sid(administrators)));
    auto through_junction = walk(u"C:\\Program Files\\Holvar\\link\\holvar-service.exe");
    ASSERT_TRUE(through_junction);
    EXPECT_EQ(through_junction->reason, PathWalkReason::reparse_point);
    EXPECT_FALSE(through_junction->last_component);
    auto symlink = walk(u"C:\\Program Files\\Holvar\\file-link.exe");
    ASSERT_TRUE(symlink);
    EXPECT_EQ(symlink->reason, PathWalkReason::reparse_point);
    EXPECT_TRUE(symlink->last_component);
}

// Trusted once is not trusted forever: each walk looks again.
TEST_F(PathWalk, APathThatBecomesUntrustedBetweenTwoWalksIsRejected) {
    ASSERT_FALSE(walk(kImage).has_value());
    grant(u"C:\\Program Files\\Holvar", users, 0x1301bf);
    auto failure = walk(kImage);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->reason, PathWalkReason::untrusted_writer);
    EXPECT_FALSE(failure->last_component);
}

TEST_F(PathWalk, ADirectoryReplacedByAJunctionBetweenTwoWalksIsRejected) {
    ASSERT_FALSE(walk(kImage).has_value());
    // The same names, now reached through a junction to a trusted copy.
    mkdir(u"C:\\Program Files\\Copy");
    write(u"C:\\Program Files\\Copy\\holvar-service.exe", {1, 2, 3});
    ASSERT_TRUE(machine().remove(kImage));
    ASSERT_TRUE(machine().remove(u"C:\\Program Files\\Holvar\\resources"));
    ASSERT_TRUE(machine().make_junction(u"C:\\Program Files\\Holvar\\resources",
                                        u"C:\\Program Files\\Copy", sid(administrators)));
    auto failure = walk(kImage);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->reason, PathWalkReason::reparse_point);
    EXPECT_FALSE(failure->last_component);
}

}  // namespace
}  // namespace holvar::testing
