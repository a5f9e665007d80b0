// Trusted directories and atomic whole-file writes on the simulated machine.
#include <gtest/gtest.h>

#include <functional>

#include "platform/sim/machine.hpp"
#include "txn/fs/durable_write.hpp"
#include "txn/fs/trusted_directory.hpp"

namespace holvar::txn::fs {
namespace {

using namespace platform;

Sid administrators() {
    return *sid_from_string(sids::administrators);
}
Sid local_system() {
    return *sid_from_string(sids::local_system);
}
Sid ordinary_user() {
    return sim::user_token().user;
}

const std::u16string base = u"C:\\Work";
const std::u16string dir = base + u"\\dir";
const std::u16string target = dir + u"\\txn.json";
const std::u16string tmp = target + u".tmp";
const std::u16string elsewhere = base + u"\\elsewhere";
const std::u16string victim = elsewhere + u"\\victim.txt";

std::vector<uint8_t> bytes_of(std::string_view text) {
    return {text.begin(), text.end()};
}

// A machine with an elevated engine process and a folder to work in.
struct Bench {
    std::unique_ptr<sim::Machine> machine = sim::Machine::fresh();
    uint32_t pid = 0;
    std::unique_ptr<sim::ProcessOs> process;

    Bench() {
        EXPECT_TRUE(machine->make_directory(base, administrators()));
        EXPECT_TRUE(machine->make_directory(dir, administrators()));
        EXPECT_TRUE(machine->make_directory(elsewhere, administrators()));
        EXPECT_TRUE(machine->write_file(victim, bytes_of("victim"), administrators()));
        pid = machine->spawn_process(u"C:\\Work\\engine.exe", sim::admin_token());
        process = std::make_unique<sim::ProcessOs>(*machine, pid);
    }
    Os& os() { return process->os(); }
    std::optional<std::string> text(const std::u16string& path) const {
        auto b = machine->read_file(path);
        if (!b) return std::nullopt;
        return std::string(b->begin(), b->end());
    }
    Status write(std::string_view text) {
        std::vector<uint8_t> b = bytes_of(text);
        return write_file_atomically(os(), target, b);
    }
    // Every handle of the write was closed: nobody else holds the file.
    bool exclusively_openable(const std::u16string& path) {
        return os()
            .files.create_file(path, GENERIC_READ | DELETE, 0, OPEN_EXISTING, OPEN_NO_FOLLOW)
            .has_value();
    }
};

struct TrustCase {
    const char* name;
    std::function<void(sim::Machine&, const std::u16string&)> make;
    std::optional<Error> expected;  // none = trusted
};

Error foreign() {
    return Error{ErrorKind::other, 0, "foreign_identity"};
}

// The owner and the DACL decide together. The work folder lies directly
// under C:\, so what is made in it plainly inherits the drive root's grant of
// modify rights to every authenticated user.
TEST(TrustedDirectory, OwnerAndDaclDecide) {
    const auto sddl = [](const char16_t* text) {
        return [text](sim::Machine& m, auto& p) { ASSERT_TRUE(m.make_directory_sddl(p, text)); };
    };
    const std::vector<TrustCase> cases = {
        {"administrators_protected",
         sddl(u"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)"), std::nullopt},
        {"system_protected", sddl(u"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"), std::nullopt},
        {"trusted_installer_protected",
         sddl(u"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464G:SYD:P(A;;FA;;;SY)"
              u"(A;;FA;;;BA)"),
         std::nullopt},
        // Users may only pass write rights on to what is created inside.
        {"users_write_inherit_only", sddl(u"O:BAG:BAD:P(A;;FA;;;BA)(A;OICIIO;0x1301bf;;;BU)"),
         std::nullopt},
        {"administrators_under_drive_root",
         [](sim::Machine& m, auto& p) { ASSERT_TRUE(m.make_directory(p, administrators())); },
         foreign()},
        {"system_under_drive_root",
         [](sim::Machine& m, auto& p) { ASSERT_TRUE(m.make_directory(p, local_system())); },
         foreign()},
        {"users_may_add_files", sddl(u"O:BAG:BAD:P(A;;FA;;;BA)(A;;0x2;;;BU)"), foreign()},
        {"everyone_may_change_the_dacl", sddl(u"O:BAG:BAD:P(A;;FA;;;BA)(A;;0x40000;;;WD)"),
         foreign()},
        {"user",
         [](sim::Machine& m, auto& p) { ASSERT_TRUE(m.make_directory(p, ordinary_user())); },
         foreign()},
        {"system_junction_to_trusted",
         [](sim::Machine& m, auto& p) { ASSERT_TRUE(m.make_junction(p, dir, local_system())); },
         foreign()},
        {"file",
         [](sim::Machine& m, auto& p) { ASSERT_TRUE(m.write_file(p, {}, administrators())); },
         foreign()},
        {"missing", [](sim::Machine&, auto&) {}, Error{ErrorKind::win32, 2, "win32"}},
    };
    for (const TrustCase& c : cases) {
        Bench b;
        const std::u16string path = base + u"\\probe";
        c.make(*b.machine, path);
        Status result = is_trusted_directory(b.os(), path);
        if (c.expected) {
            ASSERT_FALSE(result) << c.name;
            EXPECT_EQ(result.error().kind, c.expected->kind) << c.name;
            EXPECT_EQ(result.error().win32, c.expected->win32) << c.name;
            EXPECT_EQ(result.error().text, c.expected->text) << c.name;
        } else {
            EXPECT_TRUE(result) << c.name;
        }
        if (b.machine->exists(path)) {
            EXPECT_TRUE(b.exclusively_openable(path)) << c.name;
        }
    }
}

TEST(TrustedDirectory, MissingParentIsAWin32Error) {
    Bench b;
    Status result = is_trusted_directory(b.os(), u"C:\\Nowhere\\x");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ErrorKind::win32);
}

TEST(DurableWrite, CreatesAndReplacesWholeFiles) {
    Bench b;
    EXPECT_TRUE(b.write("first"));
    EXPECT_EQ(b.text(target), "first");
    EXPECT_TRUE(b.write("second, longer"));
    EXPECT_EQ(b.text(target), "second, longer");
    EXPECT_TRUE(b.write(""));
    EXPECT_EQ(b.text(target), "");
    EXPECT_FALSE(b.machine->exists(tmp));
    EXPECT_TRUE(b.exclusively_openable(target));
}

TEST(DurableWrite, LeftoverFromACrashIsOverwritten) {
    Bench b;
    ASSERT_TRUE(b.machine->write_file(target, bytes_of("old"), administrators()));
    ASSERT_TRUE(
        b.machine->write_file(tmp, bytes_of("half-written leftover, long"), administrators()));
    EXPECT_TRUE(b.write("new"));
    EXPECT_EQ(b.text(target), "new");
    EXPECT_FALSE(b.machine->exists(tmp));
}

struct PlantCase {
    const char* name;
    std::function<void(sim::Machine&)> plant;
};

TEST(DurableWrite, PlantedTemporaryIsDeletedNeverWrittenThrough) {
    const std::vector<PlantCase> cases = {
        {"hard_link_to_file_elsewhere",
         [](sim::Machine& m) { ASSERT_TRUE(m.make_hard_link(tmp, victim)); }},
        {"symlink_to_file_elsewhere",
         [](sim::Machine& m) { ASSERT_TRUE(m.make_symlink(tmp, victim, ordinary_user())); }},
        {"junction_to_directory_elsewhere",
         [](sim::Machine& m) { ASSERT_TRUE(m.make_junction(tmp, elsewhere, ordinary_user())); }},
        {"directory", [](sim::Machine& m) { ASSERT_TRUE(m.make_directory(tmp, ordinary_user())); }},
        {"dangling_symlink",
         [](sim::Machine& m) {
             ASSERT_TRUE(m.make_symlink(tmp, elsewhere + u"\\new.txt", ordinary_user()));
         }},
    };
    for (const PlantCase& c : cases) {
        Bench b;
        ASSERT_TRUE(b.machine->write_file(target, bytes_of("old"), administrators()));
        c.plant(*b.machine);
        EXPECT_TRUE(b.write("new")) << c.name;
        EXPECT_EQ(b.text(target), "new") << c.name;
        EXPECT_EQ(b.text(victim), "victim") << c.name;
        EXPECT_FALSE(b.machine->exists(tmp)) << c.name;
        EXPECT_FALSE(b.machine->exists(elsewhere + u"\\new.txt")) << c.name;
        auto victim_info = b.machine->stat(victim);
        ASSERT_TRUE(victim_info) << c.name;
        EXPECT_EQ(victim_info->link_count, 1u) << c.name;
        auto target_info = b.machine->stat(target);
        ASSERT_TRUE(target_info) << c.name;
        EXPECT_EQ(target_info->kind, sim::NodeKind::file) << c.name;
        EXPECT_EQ(target_info->link_count, 1u) << c.name;
    }
}

TEST(DurableWrite, LinkPlantedAtTheTargetNameIsReplacedNotWrittenThrough) {
    const std::vector<PlantCase> cases = {
        {"hard_link", [](sim::Machine& m) { ASSERT_TRUE(m.make_hard_link(target, victim)); }},
        {"symlink",
         [](sim::Machine& m) { ASSERT_TRUE(m.make_symlink(target, victim, ordinary_user())); }},
    };
    for (const PlantCase& c : cases) {
        Bench b;
        c.plant(*b.machine);
        EXPECT_TRUE(b.write("new")) << c.name;
        EXPECT_EQ(b.text(target), "new") << c.name;
        EXPECT_EQ(b.text(victim), "victim") << c.name;
        auto target_info = b.machine->stat(target);
        ASSERT_TRUE(target_info) << c.name;
        EXPECT_EQ(target_info->kind, sim::NodeKind::file) << c.name;
    }
}

struct FailureCase {
    const char* name;
    std::string call;
    uint32_t win32;
};

TEST(DurableWrite, AFailedWriteLeavesTheTargetAsItWas) {
    const std::vector<FailureCase> cases = {
        {"create", "create_file", 5},
        {"write", "write_file", 112},
        {"flush", "flush_file_buffers", 29},
        {"move", "move_file_ex", 5},
    };
    for (const FailureCase& c : cases) {
        Bench b;
        ASSERT_TRUE(b.machine->write_file(target, bytes_of("old"), administrators()));
        sim::FaultRule rule;
        rule.call_name = c.call;
        rule.win32 = c.win32;
        b.machine->add_fault(rule);
        Status result = b.write("new");
        ASSERT_FALSE(result) << c.name;
        EXPECT_TRUE(result.error().is_win32(c.win32)) << c.name;
        EXPECT_EQ(b.text(target), "old") << c.name;
        b.machine->clear_faults();
        EXPECT_TRUE(b.exclusively_openable(target)) << c.name;
        if (b.machine->exists(tmp)) {
            EXPECT_TRUE(b.exclusively_openable(tmp)) << c.name;
        }
        // The next write succeeds over whatever the failure left.
        EXPECT_TRUE(b.write("again")) << c.name;
        EXPECT_EQ(b.text(target), "again") << c.name;
    }
}

TEST(DurableWrite, TemporaryHeldOpenByAnotherProcessIsASharingViolation) {
    Bench b;
    ASSERT_TRUE(b.machine->write_file(target, bytes_of("old"), administrators()));
    ASSERT_TRUE(b.machine->write_file(tmp, bytes_of("x"), administrators()));
    uint32_t other_pid = b.machine->spawn_process(u"C:\\Work\\other.exe", sim::admin_token());
    sim::ProcessOs other(*b.machine, other_pid);
    {
        auto held = other.os().files.create_file(tmp, GENERIC_READ, 0, OPEN_EXISTING, 0);
        ASSERT_TRUE(held);
        Status result = b.write("new");
        ASSERT_FALSE(result);
        EXPECT_TRUE(result.error().is_win32(win32::sharing_violation));
        EXPECT_EQ(b.text(target), "old");
    }
    EXPECT_TRUE(b.write("new"));
    EXPECT_EQ(b.text(target), "new");
}

TEST(DurableWrite, MissingDirectoryIsAWin32Error) {
    Bench b;
    std::vector<uint8_t> data = bytes_of("x");
    Status result = write_file_atomically(b.os(), u"C:\\Work\\missing\\txn.json", data);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ErrorKind::win32);
}

}  // namespace
}  // namespace holvar::txn::fs
