// Placement and undo of single operations on the simulated machine: the
// edge cases of a transaction interrupted, repeated or meddled with.
#include "tree/tree_ops_test.hpp"

namespace holvar::txn::tree::testing {
namespace {

using journal::LeafKind;
using journal::Op;

class Placement : public TreeOpsTest {
  protected:
    // An installed lib.dll and a new one in the payload: one replace.
    Op replace_lib() {
        m.file(root(u"lib.dll"), "old");
        m.file(payload(u"lib.dll"), "new");
        old_id = m.id_of(root(u"lib.dll"));
        new_id = m.id_of(payload(u"lib.dll"));
        return Op::replace(u"lib.dll", old_id, new_id);
    }
    fs::FileId old_id, new_id;
};

TEST_F(Placement, AReplaceKeepsTheOldFileInTheRollbackFolderAndItsUndoLosesNeither) {
    Op op = replace_lib();
    ASSERT_TRUE(apply(op));
    EXPECT_EQ(m.id_of(root(u"lib.dll")), new_id);
    EXPECT_EQ(m.read(root(u"lib.dll")), "new");
    EXPECT_EQ(m.id_of(slot(u"lib.dll")), old_id);
    EXPECT_FALSE(m.exists(payload(u"lib.dll")));
    EXPECT_EQ(state(op), OpState::replaced);

    ASSERT_TRUE(undo(op));
    EXPECT_EQ(m.id_of(root(u"lib.dll")), old_id);
    EXPECT_EQ(m.read(root(u"lib.dll")), "old");
    EXPECT_FALSE(m.exists(slot(u"lib.dll")));
    EXPECT_EQ(m.id_of(trash(u"op-0")), new_id);  // the payload's file is kept, not destroyed
    EXPECT_EQ(state(op), OpState::untouched);
}

TEST_F(Placement, ACrashBetweenLinkAndRenameIsLinkedAndCanBeResumedOrUndone) {
    for (bool resume : {true, false}) {
        SCOPED_TRACE(resume ? "resume" : "roll back");
        TreeMachine fresh;
        std::swap(m, fresh);
        Op op = replace_lib();
        m.dir(stage(u"rollback"));
        // The first change of the replace is the hard link; the crash follows it.
        m.machine().arm_crash_after(1);
        EXPECT_THROW((void)apply(op), sim::CrashInjected);
        m.machine().crash();
        m.restart_engine();
        EXPECT_EQ(state(op), OpState::linked);
        EXPECT_EQ(m.id_of(root(u"lib.dll")), old_id);
        EXPECT_EQ(m.id_of(slot(u"lib.dll")), old_id);

        uint64_t before = mutations();
        if (resume) {
            ASSERT_TRUE(apply(op));
            EXPECT_EQ(mutations() - before, 1u);  // the rename only: the link is there
            EXPECT_EQ(state(op), OpState::replaced);
            EXPECT_EQ(m.id_of(root(u"lib.dll")), new_id);
        } else {
            ASSERT_TRUE(undo(op));
            EXPECT_EQ(mutations() - before, 1u);  // the extra name goes, nothing else
            EXPECT_EQ(state(op), OpState::untouched);
            EXPECT_EQ(m.id_of(root(u"lib.dll")), old_id);
            EXPECT_FALSE(m.exists(slot(u"lib.dll")));
            EXPECT_EQ(m.id_of(payload(u"lib.dll")), new_id);
        }
    }
}

TEST_F(Placement, AReplacedFileDeletedByHandIsRetiredAndItsUndoBringsTheOldOneBack) {
    Op op = replace_lib();
    ASSERT_TRUE(apply(op));
    m.remove(root(u"lib.dll"));
    EXPECT_EQ(state(op), OpState::retired);
    ASSERT_TRUE(undo(op));
    EXPECT_EQ(m.id_of(root(u"lib.dll")), old_id);
    EXPECT_EQ(m.read(root(u"lib.dll")), "old");
    EXPECT_FALSE(m.exists(slot(u"lib.dll")));
}

TEST_F(Placement, AnAddedFileHeldOpenWithDeleteSharingStillMovesToTheTrash) {
    m.file(payload(u"new.txt"), "new");
    Op op = numbered(
        {Op::mkdir(u"x"), Op::mkdir(u"y"), Op::add(u"new.txt", m.id_of(payload(u"new.txt")))})[2];
    ASSERT_TRUE(apply(op));
    auto holder = m.other_process();
    auto held =
        holder->os().files.create_file(uR"(C:\Holvar\new.txt)", platform::GENERIC_READ,
                                       platform::FILE_SHARE_ALL, platform::OPEN_EXISTING, 0);
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(state(op), OpState::added);
    ASSERT_TRUE(undo(op));
    EXPECT_FALSE(m.exists(root(u"new.txt")));
    EXPECT_EQ(m.id_of(trash(u"op-2")), op.new_id);
    EXPECT_EQ(m.read(trash(u"op-2")), "new");
    EXPECT_EQ(state(op), OpState::untouched);
}

TEST_F(Placement, UndoingACreatedFolderKeepsWhatTheServiceWroteInTheTrash) {
    Op op = numbered({Op::mkdir(u"a"), Op::mkdir(u"b"), Op::mkdir(u"c"), Op::mkdir(u"logs")})[3];
    ASSERT_TRUE(apply(op));
    EXPECT_EQ(state(op), OpState::created);
    m.file(root(u"logs\\service.log"), "started");
    m.dir(root(u"logs\\sub"));
    m.file(root(u"logs\\sub\\x.txt"), "x");
    fs::FileId log_id = m.id_of(root(u"logs\\service.log"));
    fs::FileId sub_id = m.id_of(root(u"logs\\sub"));
    // A name left by an earlier, interrupted undo is not taken over.
    m.dir(stage(u"trash"));
    m.file(trash(u"dir-3-0"), "earlier");

    ASSERT_TRUE(undo(op));
    EXPECT_FALSE(m.exists(root(u"logs")));
    EXPECT_EQ(m.read(trash(u"dir-3-0")), "earlier");
    EXPECT_EQ(m.id_of(trash(u"dir-3-1")), log_id);
    EXPECT_EQ(m.read(trash(u"dir-3-1")), "started");
    EXPECT_EQ(m.id_of(trash(u"dir-3-2")), sub_id);
    EXPECT_EQ(m.read(trash(u"dir-3-2\\x.txt")), "x");
    EXPECT_EQ(state(op), OpState::untouched);
}

TEST_F(Placement, ALinkReplacedByAFolderIsRetiredFirstAndComesBackOnUndo) {
    m.dir(u"Elsewhere");
    m.junction(root(u"data"), uR"(C:\Elsewhere)");
    m.dir(payload(u"data"));
    m.file(payload(u"data\\a.txt"), "a");
    fs::FileId link_id = m.id_of(root(u"data"));
    auto ops = numbered({Op::retire(u"data", link_id, LeafKind::reparse), Op::mkdir(u"data"),
                         Op::add(u"data\\a.txt", m.id_of(payload(u"data\\a.txt")))});
    // Before anything ran, the mkdir sees the junction it will replace.
    EXPECT_EQ(state(ops[1], ops), OpState::untouched);
    for (const Op& op : ops) ASSERT_TRUE(apply(op)) << describe(op);
    EXPECT_EQ(m.id_of(slot(u"data")), link_id);
    EXPECT_EQ(m.read(root(u"data\\a.txt")), "a");
    EXPECT_FALSE(m.exists(u"Elsewhere\\a.txt"));
    // The rollback's first pass classifies in journal order with everything placed.
    EXPECT_EQ(state(ops[0], ops), OpState::retired);
    EXPECT_EQ(state(ops[1], ops), OpState::created);
    EXPECT_EQ(state(ops[2], ops), OpState::added);
    for (auto it = ops.rbegin(); it != ops.rend(); ++it)
        ASSERT_TRUE(undo(*it, ops)) << describe(*it);
    EXPECT_EQ(m.id_of(root(u"data")), link_id);
    EXPECT_FALSE(m.exists(slot(u"data")));
}

TEST_F(Placement, ApplyingAJournalTwiceChangesNothingTheSecondTime) {
    m.file(root(u"lib.dll"), "old lib");
    m.file(root(u"gone.txt"), "gone");
    m.file(payload(u"lib.dll"), "new lib");
    m.dir(payload(u"bin"));
    m.file(payload(u"bin\\tool.exe"), "tool");
    auto ops =
        numbered({Op::mkdir(u"bin"), Op::add(u"bin\\tool.exe", m.id_of(payload(u"bin\\tool.exe"))),
                  Op::replace(u"lib.dll", m.id_of(root(u"lib.dll")), m.id_of(payload(u"lib.dll"))),
                  Op::retire(u"gone.txt", m.id_of(root(u"gone.txt")), LeafKind::file)});
    for (const Op& op : ops) ASSERT_TRUE(apply(op)) << describe(op);
    Snapshot after_first = m.snapshot(kRoot);
    Snapshot stage_after_first = m.snapshot(kStage);
    uint64_t before = mutations();
    for (const Op& op : ops) ASSERT_TRUE(apply(op)) << describe(op);
    EXPECT_EQ(mutations(), before);
    EXPECT_EQ(m.snapshot(kRoot), after_first);
    EXPECT_EQ(m.snapshot(kStage), stage_after_first);
}

}  // namespace
}  // namespace holvar::txn::tree::testing
