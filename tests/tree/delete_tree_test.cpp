// Tree deletion: kept paths, links deleted as themselves, locked entries
// waited for within one budget, then trashed or scheduled for the restart.
#include <chrono>

#include "tree/tree_ops_test.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/tree/delete_tree.hpp"
#include "txn/tree/reboot_schedule.hpp"
#include "txn/tree/trash.hpp"

namespace holvar::txn::tree::testing {
namespace {

using namespace std::chrono_literals;

class DeleteTree : public TreeOpsTest {
  protected:
    DeleteTree() {
        holders.query = [this](std::u16string_view path) -> HolderList {
            queried.emplace_back(path);
            return std::vector<HolderProcess>{{4242, u"other.exe"}};
        };
    }
    TreeDeletion delete_root(std::vector<std::u16string> keep, int64_t budget_seconds = 30) {
        fs::RetryBudget budget = fs::RetryBudget::seconds(budget_seconds);
        return delete_tree(os(), kRoot, keep, layout().trash, budget, holders);
    }
    // A handle of another process on root\rel with the given share mode.
    platform::Handle hold(sim::ProcessOs& p, const std::u16string& rel, uint32_t share) {
        auto h =
            p.os().files.create_file(std::u16string(kRoot) + u"\\" + rel, platform::GENERIC_READ,
                                     share, platform::OPEN_EXISTING, 0);
        EXPECT_TRUE(h.has_value());
        return h ? std::move(*h) : platform::Handle{};
    }
    std::u16string tree_name(uint32_t n) { return trash(trash_tree_name(m.engine_pid(), n)); }

    HolderSlot holders;
    std::vector<std::u16string> queried;
};

std::vector<std::string> statuses(const TreeDeletion& d) {
    std::vector<std::string> out;
    const char* names[] = {"deleted", "scheduled", "failed"};
    for (const DeletionItem& i : d.items)
        out.push_back(narrow(i.rel) + " " + names[static_cast<int>(i.status)]);
    return out;
}

TEST_F(DeleteTree, ALockedFileIsScheduledAndTheKeptUninstallerSurvivesWithItsFolders) {
    m.file(root(u"uninstall.exe"), "uninstaller");
    m.dir(root(u"bin"));
    m.file(root(u"bin\\a.dll"), "a");
    m.file(root(u"bin\\locked.dll"), "locked");
    m.dir(root(u"tools"));
    m.file(root(u"tools\\x.txt"), "x");
    m.dir(root(u"tools\\keep"));
    m.file(root(u"tools\\keep\\me.txt"), "kept");
    m.file(root(u"tools\\keep\\other.txt"), "other");
    m.file(root(u"uninstall.exe.bak"), "not kept");
    m.dir(u"Elsewhere");
    m.file(u"Elsewhere\\precious.txt", "precious");
    m.junction(root(u"link"), uR"(C:\Elsewhere)");
    auto other = m.other_process();
    // Held without delete sharing: nobody can open it for deletion or rename it.
    platform::Handle held = hold(*other, u"bin\\locked.dll", platform::FILE_SHARE_READ);
    platform::Instant start = m.machine().now();

    TreeDeletion d = delete_root({u"UNINSTALL.EXE", u"tools\\keep\\me.txt"});

    EXPECT_EQ(statuses(d), (std::vector<std::string>{
                               "bin\\a.dll deleted", "bin\\locked.dll scheduled", "bin scheduled",
                               "link deleted", "tools\\keep\\other.txt deleted",
                               "tools\\x.txt deleted", "uninstall.exe.bak deleted"}));
    EXPECT_EQ(queried, (std::vector<std::u16string>{uR"(C:\Holvar\bin\locked.dll)"}));
    ASSERT_TRUE(holders.result.has_value());
    ASSERT_TRUE(holders.result->has_value());
    EXPECT_EQ((*holders.result)->at(0).pid, 4242u);
    EXPECT_EQ(d.reboot_pending, (std::vector<std::u16string>{u"bin\\locked.dll", u"bin"}));
    EXPECT_EQ(d.schedule_error, std::nullopt);
    // The budget was spent once, on the locked file, not per entry.
    EXPECT_GE(m.machine().now() - start, 30s);
    EXPECT_LT(m.machine().now() - start, 31s);

    EXPECT_EQ(m.read(root(u"uninstall.exe")), "uninstaller");
    EXPECT_EQ(m.read(root(u"tools\\keep\\me.txt")), "kept");
    EXPECT_FALSE(m.exists(root(u"tools\\keep\\other.txt")));
    EXPECT_FALSE(m.exists(root(u"tools\\x.txt")));
    EXPECT_FALSE(m.exists(root(u"link")));
    EXPECT_EQ(m.read(u"Elsewhere\\precious.txt"), "precious");  // the junction was not followed
    EXPECT_EQ(m.pending_renames(),
              (std::vector<std::pair<std::u16string, std::u16string>>{
                  {uR"(\??\C:\Holvar\bin\locked.dll)", u""}, {uR"(\??\C:\Holvar\bin)", u""}}));

    m.machine().reboot();
    EXPECT_FALSE(m.exists(root(u"bin")));
    EXPECT_TRUE(m.exists(root(u"uninstall.exe")));
}

TEST_F(DeleteTree, AnEntryThatCannotBeDeletedButCanBeRenamedMovesToTheTrash) {
    // As a running image: opened, renamed, never deleted (every delete fails
    // with ERROR_USER_MAPPED_FILE).
    m.file(root(u"runtime.exe"), "image");
    fs::FileId id = m.id_of(root(u"runtime.exe"));
    m.dir(stage(u"trash"));
    m.file(trash(trash_tree_name(m.engine_pid(), 0)), "an earlier one");
    m.machine().add_fault(
        {std::nullopt, "set_file_disposition_info_ex", platform::win32::user_mapped_file, false});

    TreeDeletion d = delete_root({}, 1);

    EXPECT_EQ(statuses(d), (std::vector<std::string>{"runtime.exe scheduled"}));
    EXPECT_EQ(queried.size(), 1u);
    EXPECT_EQ(d.reboot_pending, (std::vector<std::u16string>{u"runtime.exe"}));
    EXPECT_FALSE(m.exists(root(u"runtime.exe")));
    EXPECT_EQ(m.id_of(tree_name(1)), id);
    EXPECT_EQ(m.pending_renames().size(), 1u);
    m.machine().clear_faults();
    m.machine().reboot();
    EXPECT_FALSE(m.exists(tree_name(1)));
    EXPECT_TRUE(m.exists(tree_name(0)));
}

TEST_F(DeleteTree, TwoLockedFilesShareOneBudgetAndOneHolderQuery) {
    m.file(root(u"a.dll"), "a");
    m.file(root(u"b.dll"), "b");
    auto other = m.other_process();
    platform::Handle ha = hold(*other, u"a.dll", platform::FILE_SHARE_READ);
    platform::Handle hb = hold(*other, u"b.dll", platform::FILE_SHARE_READ);
    platform::Instant start = m.machine().now();
    TreeDeletion d = delete_root({}, 5);
    EXPECT_EQ(statuses(d), (std::vector<std::string>{"a.dll scheduled", "b.dll scheduled"}));
    EXPECT_EQ(queried.size(), 1u);
    EXPECT_LT(m.machine().now() - start, 6s);
}

TEST_F(DeleteTree, AFileHeldOpenWithDeleteSharingIsDeletedAtOnce) {
    m.file(root(u"a.dll"), "a");
    auto other = m.other_process();
    platform::Handle held = hold(*other, u"a.dll", platform::FILE_SHARE_ALL);
    platform::Instant start = m.machine().now();
    TreeDeletion d = delete_root({});
    EXPECT_EQ(statuses(d), (std::vector<std::string>{"a.dll deleted"}));
    EXPECT_FALSE(m.exists(root(u"a.dll")));  // the name goes while the handle stays open
    EXPECT_TRUE(queried.empty());
    EXPECT_FALSE(holders.result.has_value());
    EXPECT_EQ(m.machine().now(), start);
}

TEST_F(DeleteTree, ABaseThatIsNotAPlainDirectoryIsOneFailedItem) {
    m.remove(u"Holvar");
    m.dir(u"Elsewhere");
    m.file(u"Elsewhere\\precious.txt", "precious");
    m.junction(u"Holvar", uR"(C:\Elsewhere)");
    TreeDeletion d = delete_root({});
    EXPECT_EQ(statuses(d), (std::vector<std::string>{". failed"}));
    EXPECT_EQ(m.read(u"Elsewhere\\precious.txt"), "precious");
    m.remove(u"Holvar");
    d = delete_root({});
    EXPECT_EQ(statuses(d), (std::vector<std::string>{". failed"}));
}

TEST_F(DeleteTree, AFolderIsScheduledOnlyWhenEverythingLeftInsideIsScheduled) {
    m.dir(root(u"d"));
    m.file(root(u"d\\a.txt"), "a");
    m.file(root(u"d\\b.txt"), "b");
    RebootSchedule schedule;
    auto dir = std::u16string(kRoot) + u"\\d";
    EXPECT_TRUE(schedule.schedule_delete_at_reboot(os(), dir + u"\\a.txt"));
    auto refused = schedule.schedule_directory_at_reboot(os(), dir);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().is_win32(platform::win32::dir_not_empty));
    EXPECT_EQ(m.pending_renames().size(), 1u);
    EXPECT_TRUE(schedule.schedule_delete_at_reboot(os(), dir + u"\\B.TXT"));
    EXPECT_TRUE(schedule.schedule_directory_at_reboot(os(), dir));
    EXPECT_EQ(m.pending_renames().size(), 3u);
    m.machine().reboot();
    EXPECT_FALSE(m.exists(root(u"d")));
}

TEST_F(DeleteTree, MoveToTrashTakesTheFirstFreeNameAndGivesUpAfterAThousand) {
    m.file(root(u"x"), "x");
    m.dir(stage(u"trash"));
    for (uint32_t n = 0; n < kTreeTrashNames; ++n)
        m.file(trash(trash_tree_name(m.engine_pid(), n)), "taken");
    auto h = fs::open_object(os(), std::u16string(kRoot) + u"\\x", fs::kRenameDeleteAccess);
    ASSERT_TRUE(h.has_value());
    auto moved = move_to_trash(os(), *h, layout().trash);
    ASSERT_FALSE(moved);
    EXPECT_TRUE(moved.error().is_win32(platform::win32::already_exists) ||
                moved.error().is_win32(platform::win32::file_exists));
    EXPECT_EQ(m.read(root(u"x")), "x");

    m.remove(trash(trash_tree_name(m.engine_pid(), 7)));
    moved = move_to_trash(os(), *h, layout().trash);
    ASSERT_TRUE(moved.has_value());
    EXPECT_EQ(*moved, layout().trash + u"\\" + trash_tree_name(m.engine_pid(), 7));
    EXPECT_EQ(m.read(trash(trash_tree_name(m.engine_pid(), 7))), "x");
}

}  // namespace
}  // namespace holvar::txn::tree::testing
