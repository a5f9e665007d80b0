// Probing objects without following links, and walking relative paths one
// plain directory at a time.
#include <gtest/gtest.h>

#include "fs_fixture.hpp"
#include "platform/win_path.hpp"
#include "platform/win_types.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/resolve_relative.hpp"

namespace holvar::txn::fs::testing {
namespace {

class ProbeTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\root)");
        mkdir(uR"(C:\Work\root\dir)");
        write(uR"(C:\Work\root\dir\file.dll)", "dll");
        mkdir(uR"(C:\Work\elsewhere)");
        write(uR"(C:\Work\elsewhere\secret.txt)", "secret");
        junction(uR"(C:\Work\root\link)", uR"(C:\Work\elsewhere)");
        ASSERT_TRUE(machine().make_symlink(uR"(C:\Work\root\sym.txt)",
                                           uR"(C:\Work\elsewhere\secret.txt)", admins()));
    }
};

TEST_F(ProbeTest, KindsAndIdsAsTheMachineHoldsThem) {
    struct Case {
        std::u16string path;
        ObjectKind kind;
    };
    const std::vector<Case> cases = {
        {uR"(C:\Work\root)", ObjectKind::directory},
        {uR"(C:\Work\root\dir\file.dll)", ObjectKind::file},
        {uR"(C:\Work\root\link)", ObjectKind::reparse},  // the junction itself
        {uR"(C:\Work\root\sym.txt)", ObjectKind::reparse},
        {uR"(\\?\C:\Work\root\dir\file.dll)", ObjectKind::file},
        {uR"(c:\work\ROOT\Dir\FILE.dll)", ObjectKind::file},
        {uR"(C:\Work\root\missing)", ObjectKind::absent},         // not found: 2
        {uR"(C:\Work\root\missing\deeper)", ObjectKind::absent},  // no path: 3
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.path));
        auto probe = probe_path(os(), c.path);
        ASSERT_TRUE(probe) << probe.error().win32;
        EXPECT_EQ(probe->kind, c.kind);
        if (c.kind != ObjectKind::absent) {
            EXPECT_EQ(probe->id, id_of(std::u16string(platform::strip_verbatim(c.path))));
        }
    }
    // The junction's probe is not its target's.
    EXPECT_NE(probe_path(os(), uR"(C:\Work\root\link)")->id, id_of(uR"(C:\Work\elsewhere)"));
}

TEST_F(ProbeTest, ReadIdentityGivesKindIdAndVolumeSerial) {
    auto handle = open_object(os(), uR"(C:\Work\root\dir\file.dll)", kProbeAccess);
    ASSERT_TRUE(handle);
    auto identity = read_identity(os(), *handle);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->kind, ObjectKind::file);
    EXPECT_EQ(identity->id, id_of(uR"(C:\Work\root\dir\file.dll)"));
    EXPECT_EQ(identity->volume_serial, 0x1234abcd5678ef90u);
    // The id is the 16 bytes read big-endian: the first byte leads the hex text.
    auto bytes = machine().stat(uR"(C:\Work\root\dir\file.dll)")->file_id;
    char lead[3];
    std::snprintf(lead, sizeof lead, "%02x", bytes[0]);
    EXPECT_EQ(identity->id.to_hex().substr(0, 2), lead);
    EXPECT_EQ(identity->id.to_bytes(), bytes);
}

TEST_F(ProbeTest, OtherOpenFailuresAreErrorsNotAbsence) {
    machine().add_fault({.call_index = std::nullopt,
                         .call_name = "create_file",
                         .win32 = platform::win32::access_denied,
                         .once = true});
    auto probe = probe_path(os(), uR"(C:\Work\root\dir\file.dll)");
    ASSERT_FALSE(probe);
    EXPECT_TRUE(probe.error().is_win32(platform::win32::access_denied));
}

TEST_F(ProbeTest, ResolveRelativeWalksPlainDirectoriesOnly) {
    struct Case {
        std::u16string rel;
        ObjectKind kind;
    };
    const std::vector<Case> cases = {
        {uR"(dir\file.dll)", ObjectKind::file},
        {uR"(dir\\file.dll\)", ObjectKind::file},  // doubled and trailing separators
        {uR"(dir/file.dll)", ObjectKind::file},
        {uR"(dir)", ObjectKind::directory},
        {uR"(link)", ObjectKind::reparse},
        {uR"(link\secret.txt)", ObjectKind::absent},  // never through the junction
        {uR"(sym.txt)", ObjectKind::reparse},
        {uR"(dir\file.dll\x)", ObjectKind::absent},  // a file is no directory
        {uR"(missing\x)", ObjectKind::absent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.rel));
        auto probe = resolve_relative(os(), uR"(C:\Work\root)", c.rel);
        ASSERT_TRUE(probe);
        EXPECT_EQ(probe->kind, c.kind);
    }
    EXPECT_EQ(resolve_relative(os(), uR"(C:\Work\root)", uR"(dir\\file.dll\)"),
              resolve_relative(os(), uR"(C:\Work\root)", uR"(dir\file.dll)"));
}

TEST_F(ProbeTest, ResolveRelativeStopsAtTheFirstNonDirectory) {
    // The probe of the junction takes an open and two queries. Every boundary
    // call after those fails, so a walk that went on behind the junction
    // would return an error instead of absent.
    uint64_t before = machine().failable_calls();
    for (uint64_t k = before + 4; k < before + 16; ++k)
        machine().add_fault({.call_index = k, .call_name = "", .win32 = 5, .once = true});
    auto probe = resolve_relative(os(), uR"(C:\Work\root)", uR"(link\a\b\c)");
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->kind, ObjectKind::absent);
}

TEST_F(ProbeTest, DirectoryReplacedByJunctionBetweenProbeAndOpenIsNeverFollowed) {
    auto first = resolve_relative(os(), uR"(C:\Work\root)", uR"(dir\file.dll)");
    ASSERT_TRUE(first);
    ASSERT_EQ(first->kind, ObjectKind::file);
    auto dir_probe = probe_path(os(), uR"(C:\Work\root\dir)");
    ASSERT_EQ(dir_probe->kind, ObjectKind::directory);

    // Someone swaps the directory for a junction to a folder holding a file
    // of the same name.
    write(uR"(C:\Work\elsewhere\file.dll)", "planted");
    ASSERT_TRUE(machine().remove(uR"(C:\Work\root\dir\file.dll)"));
    ASSERT_TRUE(machine().remove(uR"(C:\Work\root\dir)"));
    junction(uR"(C:\Work\root\dir)", uR"(C:\Work\elsewhere)");

    auto second = resolve_relative(os(), uR"(C:\Work\root)", uR"(dir\file.dll)");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->kind, ObjectKind::absent);
    auto reprobe = probe_path(os(), uR"(C:\Work\root\dir)");
    ASSERT_TRUE(reprobe);
    EXPECT_EQ(reprobe->kind, ObjectKind::reparse);
    // Opening the old path yields the junction object, not the folder behind it.
    auto handle = open_object(os(), uR"(C:\Work\root\dir)", kProbeAccess);
    ASSERT_TRUE(handle);
    EXPECT_EQ(read_identity(os(), *handle)->id, id_of(uR"(C:\Work\root\dir)"));
    EXPECT_NE(read_identity(os(), *handle)->id, id_of(uR"(C:\Work\elsewhere)"));
}

}  // namespace
}  // namespace holvar::txn::fs::testing
