// What each primitive costs in boundary calls: identity checks are one open,
// two information queries and one final-path query per object, and nothing
// is cached or repeated.
#include <gtest/gtest.h>

#include <functional>

#include "fs_fixture.hpp"
#include "txn/fs/pinned_folders.hpp"
#include "txn/fs/primitives.hpp"

namespace holvar::txn::fs::testing {
namespace {

class CallCostTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\root)");
        mkdir(uR"(C:\Work\root\bin)");
        mkdir(uR"(C:\Work\rollback)");
        write(uR"(C:\Work\root\bin\app.dll)", "app");
        write(uR"(C:\Work\root\bin\old.dll)", "old");
    }
};

TEST_F(CallCostTest, CallsPerPrimitive) {
    const FileId app = id_of(uR"(C:\Work\root\bin\app.dll)");
    const FileId old = id_of(uR"(C:\Work\root\bin\old.dll)");
    auto held = open_object(os(), uR"(C:\Work\root\bin\app.dll)", kProbeAccess);
    ASSERT_TRUE(held);
    RetryBudget budget(std::chrono::seconds(30));
    PinnedFolders pins;
    ASSERT_TRUE(pins.probe(os(), uR"(C:\Work\root\bin)"));
    uint64_t start = 0, extra_calls = 0;
    struct Case {
        const char* what;
        std::function<bool()> run;
        uint64_t calls;
    };
    const std::vector<Case> cases = {
        {"probe_path: open, id, basic",
         [&] { return probe_path(os(), uR"(C:\Work\root\bin\app.dll)").has_value(); }, 3},
        {"verify_handle: id, basic, final path",
         [&] {
             return verify_handle(os(), *held, ObjectKind::file, app,
                                  uR"(C:\Work\root\bin\app.dll)")
                 .has_value();
         },
         3},
        {"verify_handle, the identity read already: final path",
         [&] {
             auto identity = read_identity(os(), *held);
             uint64_t before = machine().boundary_calls();
             bool ok = identity && verify_handle(os(), *held, *identity, ObjectKind::file, app,
                                                 uR"(C:\Work\root\bin\app.dll)");
             // The identity's own two queries are not this row's.
             extra_calls = before - start;
             return ok;
         },
         1},
        {"resolve_relative: one probe per component",
         [&] { return resolve_relative(os(), uR"(C:\Work\root)", uR"(bin\app.dll)").has_value(); },
         6},
        {"resolve_relative past a pinned folder: the leaf alone",
         [&] {
             return resolve_relative(os(), uR"(C:\Work\root)", uR"(bin\app.dll)", &pins)
                 .has_value();
         },
         3},
        {"create_verified_hard_link: link, probe",
         [&] {
             return create_verified_hard_link(os(), uR"(C:\Work\root\bin\old.dll)",
                                              uR"(C:\Work\rollback\old.dll)", old)
                 .has_value();
         },
         4},
        {"verified_rename: open, verify, rename",
         [&] {
             return verified_rename(os(), uR"(C:\Work\root\bin\old.dll)",
                                    uR"(C:\Work\root\bin\older.dll)", ObjectKind::file, old, false)
                 .has_value();
         },
         5},
        {"check_volume_capabilities: mount point, flags",
         [&] { return check_volume_capabilities(os(), uR"(C:\Work\root)").has_value(); }, 2},
        {"flush_volume: mount point, open device, flush",
         [&] { return flush_volume(os(), uR"(C:\Work\root)").has_value(); }, 3},
        {"create_protected_directory: descriptor, directory",
         [&] { return create_protected_directory(os(), uR"(C:\Work\Holvar)").has_value(); }, 2},
        {"capture_root_identity: open, id",
         [&] { return capture_root_identity(os(), uR"(C:\Work\root)", true).has_value(); }, 2},
        {"open_for_delete_retrying: clock, open, clock",
         [&] {
             return open_for_delete_retrying(os(), uR"(C:\Work\root\bin\app.dll)", budget)
                 .has_value();
         },
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start = machine().boundary_calls();
        extra_calls = 0;
        EXPECT_TRUE(c.run());
        EXPECT_EQ(machine().boundary_calls() - start - extra_calls, c.calls);
    }
}

}  // namespace
}  // namespace holvar::txn::fs::testing
