// The state table of an operation, and the placement check, on probes alone.
#include <gtest/gtest.h>

#include "txn/tree/op_state.hpp"
#include "txn/tree/retired_index.hpp"

namespace holvar::txn::tree {
namespace {

using fs::FileId;
using fs::ObjectKind;
using fs::ObjectProbe;
using journal::LeafKind;
using journal::Op;

const FileId kOld{0, 1};
const FileId kNew{0, 2};
const FileId kOther{0, 3};

ObjectProbe absent() {
    return {};
}
ObjectProbe file(FileId id) {
    return {ObjectKind::file, id};
}
ObjectProbe dir(FileId id = kOther) {
    return {ObjectKind::directory, id};
}
ObjectProbe link(FileId id) {
    return {ObjectKind::reparse, id};
}

struct Row {
    const char* what;
    Op op;
    ObjectProbe t, r;
    std::optional<RetiredObject> retired_here;
    OpState state;
    bool placed;
};

TEST(ClassifyOp, EveryRowOfTheTable) {
    const Op add = Op::add(u"a", kNew);
    const Op mkdir = Op::mkdir(u"d");
    const Op retire_file = Op::retire(u"f", kOld, LeafKind::file);
    const Op retire_link = Op::retire(u"j", kOld, LeafKind::reparse);
    const Op replace = Op::replace(u"r", kOld, kNew);
    const RetiredObject junction_here{ObjectKind::reparse, kOld};
    const Row rows[] = {
        {"add, nothing there", add, absent(), absent(), {}, OpState::untouched, false},
        {"add, the new file", add, file(kNew), absent(), {}, OpState::added, true},
        {"add, another file", add, file(kOther), absent(), {}, OpState::foreign, false},
        {"add, a directory", add, dir(), absent(), {}, OpState::foreign, false},
        {"add where a link still waits for its retire", add, link(kOld), absent(), junction_here,
         OpState::untouched, false},
        {"add, a link that is not the retired one", add, link(kOther), absent(), junction_here,
         OpState::foreign, false},
        {"mkdir, nothing there", mkdir, absent(), absent(), {}, OpState::untouched, false},
        {"mkdir, a directory", mkdir, dir(), absent(), {}, OpState::created, true},
        {"mkdir, a file", mkdir, file(kOther), absent(), {}, OpState::foreign, false},
        {"mkdir, a junction", mkdir, link(kOld), absent(), {}, OpState::foreign, false},
        {"mkdir where the junction still waits for its retire", mkdir, link(kOld), absent(),
         junction_here, OpState::untouched, false},
        {"retire, old object in place",
         retire_file,
         file(kOld),
         absent(),
         {},
         OpState::untouched,
         false},
        {"retire, old object in the slot",
         retire_file,
         absent(),
         file(kOld),
         {},
         OpState::retired,
         true},
        {"retire, both gone", retire_file, absent(), absent(), {}, OpState::foreign, false},
        {"retire, another file in place",
         retire_file,
         file(kOther),
         absent(),
         {},
         OpState::foreign,
         false},
        {"retire, old object at both names",
         retire_file,
         file(kOld),
         file(kOld),
         {},
         OpState::foreign,
         true},
        {"retire, a link of the wrong kind in the slot",
         retire_file,
         absent(),
         link(kOld),
         {},
         OpState::foreign,
         false},
        {"retire link, done", retire_link, absent(), link(kOld), {}, OpState::retired, true},
        {"retire link, a later mkdir on its path ran",
         retire_link,
         dir(),
         link(kOld),
         {},
         OpState::retired,
         true},
        {"retire link, a later add on its path ran",
         retire_link,
         file(kNew),
         link(kOld),
         {},
         OpState::retired,
         true},
        {"replace, untouched", replace, file(kOld), absent(), {}, OpState::untouched, false},
        {"replace, linked", replace, file(kOld), file(kOld), {}, OpState::linked, false},
        {"replace, complete", replace, file(kNew), file(kOld), {}, OpState::replaced, true},
        {"replace, target deleted by hand",
         replace,
         absent(),
         file(kOld),
         {},
         OpState::retired,
         false},
        {"replace, something else in the slot",
         replace,
         file(kOld),
         file(kOther),
         {},
         OpState::foreign,
         false},
        {"replace, new file but the slot lost",
         replace,
         file(kNew),
         absent(),
         {},
         OpState::foreign,
         true},
        {"replace, both gone", replace, absent(), absent(), {}, OpState::foreign, false},
        {"replace, a directory at the target",
         replace,
         dir(),
         file(kOld),
         {},
         OpState::foreign,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(op_state_name(classify_op(row.op, row.t, row.r, row.retired_here)),
                  op_state_name(row.state));
        EXPECT_EQ(op_is_placed(row.op, row.t, row.r), row.placed);
    }
}

TEST(RetiredIndex, FindsTheRetireOfTheSamePathWhateverTheCaseAndSeparators) {
    std::vector<Op> ops = {Op::retire(u"Data\\Link", kOld, LeafKind::reparse),
                           Op::mkdir(u"data/link"), Op::add(u"other", kNew),
                           Op::retire(u"file", kOther, LeafKind::file)};
    RetiredIndex index(ops);
    EXPECT_EQ(index.retired_here(ops[1]), (RetiredObject{ObjectKind::reparse, kOld}));
    EXPECT_EQ(index.retired_here(ops[2]), std::nullopt);
    EXPECT_EQ(index.retired_here(ops[0]), std::nullopt);  // a retire is never its own
    EXPECT_EQ(index.retired_here(Op::add(u"FILE", kNew)),
              (RetiredObject{ObjectKind::file, kOther}));
}

}  // namespace
}  // namespace holvar::txn::tree
