// Objects swapped behind the engine's back are never moved or deleted: the
// operation fails with "foreign_identity" and everything stays where it was.
#include <functional>

#include "tree/tree_ops_test.hpp"

namespace holvar::txn::tree::testing {
namespace {

using journal::LeafKind;
using journal::Op;

class Foreign : public TreeOpsTest {};

struct Case {
    const char* what;
    // Builds the machine and returns the operation, applied first when `placed`.
    std::function<Op(Foreign&, TreeMachine&)> setup;
    bool placed;
    // Meddling after placement (or nothing).
    std::function<void(TreeMachine&)> meddle;
    bool undo;  // the undo meets the meddling; otherwise the apply does
};

std::u16string R(const std::u16string& rel) {
    return u"Holvar\\" + rel;
}
std::u16string P(const std::u16string& rel) {
    return std::u16string(kStage).substr(3) + u"\\payload\\" + rel;
}
std::u16string S(const std::u16string& rel) {
    return std::u16string(kStage).substr(3) + u"\\rollback\\" + rel;
}

TEST_F(Foreign, SwappedObjectsAreRefusedAndLeftInPlace) {
    const Case cases[] = {
        {"add: another file took the target",
         [](Foreign&, TreeMachine& m) {
             m.file(P(u"a.txt"), "new");
             m.file(R(u"a.txt"), "someone else's");
             return Op::add(u"a.txt", m.id_of(P(u"a.txt")));
         },
         false, nullptr, false},
        {"replace: the target is another file",
         [](Foreign&, TreeMachine& m) {
             m.file(P(u"a.txt"), "new");
             m.file(R(u"a.txt"), "swapped");
             return Op::replace(u"a.txt", fs::FileId{0, 999}, m.id_of(P(u"a.txt")));
         },
         false, nullptr, false},
        {"replace: a file sits in the rollback slot",
         [](Foreign&, TreeMachine& m) {
             m.file(P(u"a.txt"), "new");
             m.file(R(u"a.txt"), "old");
             m.dir(std::u16string(kStage).substr(3) + u"\\rollback");
             m.file(S(u"a.txt"), "planted");
             return Op::replace(u"a.txt", m.id_of(R(u"a.txt")), m.id_of(P(u"a.txt")));
         },
         false, nullptr, false},
        {"retire: another file at the target",
         [](Foreign&, TreeMachine& m) {
             m.file(R(u"old.txt"), "swapped");
             return Op::retire(u"old.txt", fs::FileId{0, 999}, LeafKind::file);
         },
         false, nullptr, false},
        {"retire: a file where a link was planned",
         [](Foreign&, TreeMachine& m) {
             m.file(R(u"j"), "a file now");
             return Op::retire(u"j", m.id_of(R(u"j")), LeafKind::reparse);
         },
         false, nullptr, false},
        {"mkdir: a junction where the directory goes",
         [](Foreign&, TreeMachine& m) {
             m.dir(u"Elsewhere");
             m.junction(R(u"bin"), uR"(C:\Elsewhere)");
             return Op::mkdir(u"bin");
         },
         false, nullptr, false},
        {"add: a junction in place of the folder above the target",
         [](Foreign&, TreeMachine& m) {
             m.dir(u"Elsewhere");
             m.junction(R(u"bin"), uR"(C:\Elsewhere)");
             m.dir(P(u"bin"));
             m.file(P(u"bin\\tool.exe"), "tool");
             return Op::add(u"bin\\tool.exe", m.id_of(P(u"bin\\tool.exe")));
         },
         false, nullptr, false},
        {"mkdir: a junction in place of the folder above",
         [](Foreign&, TreeMachine& m) {
             m.dir(u"Elsewhere");
             m.junction(R(u"bin"), uR"(C:\Elsewhere)");
             return Op::mkdir(u"bin\\sub");
         },
         false, nullptr, false},
        {"undo add: the added file was swapped",
         [](Foreign&, TreeMachine& m) {
             m.file(P(u"a.txt"), "new");
             return Op::add(u"a.txt", m.id_of(P(u"a.txt")));
         },
         true,
         [](TreeMachine& m) {
             m.remove(R(u"a.txt"));
             m.file(R(u"a.txt"), "swapped in");
         },
         true},
        {"undo replace: the rollback slot was swapped",
         [](Foreign&, TreeMachine& m) {
             m.file(P(u"a.txt"), "new");
             m.file(R(u"a.txt"), "old");
             return Op::replace(u"a.txt", m.id_of(R(u"a.txt")), m.id_of(P(u"a.txt")));
         },
         true,
         [](TreeMachine& m) {
             m.remove(S(u"a.txt"));
             m.file(S(u"a.txt"), "planted");
         },
         true},
        {"undo retire: the folder above the target became a junction",
         [](Foreign&, TreeMachine& m) {
             m.dir(R(u"bin"));
             m.file(R(u"bin\\old.txt"), "old");
             return Op::retire(u"bin\\old.txt", m.id_of(R(u"bin\\old.txt")), LeafKind::file);
         },
         true,
         [](TreeMachine& m) {
             m.remove(R(u"bin"));
             m.dir(u"Elsewhere");
             m.junction(R(u"bin"), uR"(C:\Elsewhere)");
         },
         true},
        {"undo mkdir: the created folder became a junction",
         [](Foreign&, TreeMachine&) { return Op::mkdir(u"logs"); }, true,
         [](TreeMachine& m) {
             m.remove(R(u"logs"));
             m.dir(u"Elsewhere");
             m.file(u"Elsewhere\\keep.txt", "keep");
             m.junction(R(u"logs"), uR"(C:\Elsewhere)");
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TreeMachine fresh;
        std::swap(m, fresh);
        Op op = c.setup(*this, m);
        if (c.placed) {
            ASSERT_TRUE(apply(op));
        }
        if (c.meddle) c.meddle(m);
        Snapshot before = m.snapshot(uR"(C:\)");
        uint64_t mutations_before = mutations();
        platform::Status result = c.undo ? undo(op) : apply(op);
        EXPECT_TRUE(is_foreign(result));
        // Only bookkeeping folders of the stage may have appeared.
        Snapshot after = m.snapshot(uR"(C:\)");
        for (auto& [rel, seen] : before) {
            auto it = after.find(rel);
            ASSERT_NE(it, after.end()) << rel << " disappeared";
            EXPECT_EQ(it->second, seen) << rel;
        }
        for (auto& [rel, seen] : after) {
            if (before.contains(rel)) continue;
            EXPECT_EQ(seen.kind, sim::NodeKind::directory) << rel << " appeared";
        }
        EXPECT_LE(mutations() - mutations_before, 2u);
    }
}

}  // namespace
}  // namespace holvar::txn::tree::testing
