// Every primitive, made to fail at each of its boundary calls in turn: it
// returns that call's error (or copes with it), leaves no handle open, and
// leaves every object at its old place or its new one.
#include <gtest/gtest.h>

#include <functional>

#include "fs_fixture.hpp"
#include "txn/fs/primitives.hpp"

namespace holvar::txn::fs::testing {
namespace {

constexpr uint32_t kInjected = 1117;  // ERROR_IO_DEVICE: no primitive treats it specially

struct Scenario {
    const char* name;
    std::function<void(SimHost&)> set_up;
    std::function<platform::Status(SimHost&)> run;
    // Checked after every run, failed or not.
    std::function<void(SimHost&, bool succeeded)> check;
};

platform::Status status_of(const auto& result) {
    if (result) return {};
    return std::unexpected(result.error());
}

void standard_tree(SimHost& h) {
    h.mkdir(uR"(C:\Work\root)");
    h.mkdir(uR"(C:\Work\root\bin)");
    h.mkdir(uR"(C:\Work\rollback)");
    h.write(uR"(C:\Work\root\bin\app.dll)", "app");
}

std::vector<Scenario> scenarios() {
    return {
        {"probe_path", standard_tree,
         [](SimHost& h) { return status_of(probe_path(h.os(), uR"(C:\Work\root\bin\app.dll)")); },
         [](SimHost&, bool) {}},
        {"resolve_relative", standard_tree,
         [](SimHost& h) {
             return status_of(resolve_relative(h.os(), uR"(C:\Work\root)", uR"(bin\app.dll)"));
         },
         [](SimHost&, bool) {}},
        {"verified_rename", standard_tree,
         [](SimHost& h) {
             return verified_rename(h.os(), uR"(C:\Work\root\bin\app.dll)",
                                    uR"(C:\Work\rollback\app.dll)", ObjectKind::file,
                                    h.id_of(uR"(C:\Work\root\bin\app.dll)"), false);
         },
         [](SimHost& h, bool ok) {
             EXPECT_NE(h.exists(uR"(C:\Work\root\bin\app.dll)"),
                       h.exists(uR"(C:\Work\rollback\app.dll)"));
             EXPECT_EQ(h.exists(uR"(C:\Work\rollback\app.dll)"), ok);
         }},
        {"create_verified_hard_link", standard_tree,
         [](SimHost& h) {
             return create_verified_hard_link(h.os(), uR"(C:\Work\root\bin\app.dll)",
                                              uR"(C:\Work\rollback\app.dll)",
                                              h.id_of(uR"(C:\Work\root\bin\app.dll)"));
         },
         [](SimHost& h, bool ok) {
             EXPECT_EQ(h.read(uR"(C:\Work\root\bin\app.dll)"), "app");
             if (ok) {
                 EXPECT_EQ(h.read(uR"(C:\Work\rollback\app.dll)"), "app");
             }
         }},
        {"create_verified_hard_link to a swapped file",
         [](SimHost& h) {
             standard_tree(h);
             h.write(uR"(C:\Work\recorded.dll)", "recorded");
         },
         [](SimHost& h) {
             return create_verified_hard_link(h.os(), uR"(C:\Work\root\bin\app.dll)",
                                              uR"(C:\Work\rollback\app.dll)",
                                              h.id_of(uR"(C:\Work\recorded.dll)"));
         },
         [](SimHost& h, bool ok) {
             EXPECT_FALSE(ok) << "a link to the wrong file never succeeds";
             EXPECT_EQ(h.read(uR"(C:\Work\root\bin\app.dll)"), "app");
             EXPECT_EQ(h.read(uR"(C:\Work\recorded.dll)"), "recorded");
         }},
        {"check_volume_capabilities", standard_tree,
         [](SimHost& h) {
             return status_of(check_volume_capabilities(h.os(), uR"(C:\Work\root)"));
         },
         [](SimHost&, bool) {}},
        {"flush_volume", standard_tree,
         [](SimHost& h) { return flush_volume(h.os(), uR"(C:\Work\root)"); },
         [](SimHost&, bool) {}},
        {"create_protected_directory", standard_tree,
         [](SimHost& h) { return create_protected_directory(h.os(), uR"(C:\Work\Holvar)"); },
         [](SimHost& h, bool ok) { EXPECT_EQ(h.exists(uR"(C:\Work\Holvar)"), ok); }},
        {"capture_root_identity", standard_tree,
         [](SimHost& h) {
             return status_of(capture_root_identity(h.os(), uR"(C:\Work\root)", true));
         },
         [](SimHost&, bool) {}},
        {"open and delete, retrying", standard_tree,
         [](SimHost& h) -> platform::Status {
             RetryBudget budget(std::chrono::seconds(0));
             auto handle = open_for_delete_retrying(h.os(), uR"(C:\Work\root\bin\app.dll)", budget);
             if (!handle) return std::unexpected(handle.error());
             if (auto v = verify_handle(h.os(), *handle, ObjectKind::file,
                                        h.id_of(uR"(C:\Work\root\bin\app.dll)"),
                                        uR"(C:\Work\root\bin\app.dll)");
                 !v)
                 return v;
             return delete_by_handle_retrying(h.os(), *handle, budget);
         },
         [](SimHost& h, bool ok) { EXPECT_EQ(h.exists(uR"(C:\Work\root\bin\app.dll)"), !ok); }},
        {"open directory for delete, retrying", standard_tree,
         [](SimHost& h) {
             RetryBudget budget(std::chrono::seconds(0));
             return status_of(
                 open_directory_for_delete_retrying(h.os(), uR"(C:\Work\root\bin)", budget));
         },
         [](SimHost&, bool) {}},
    };
}

TEST(FaultWalk, EveryCallOfEveryPrimitiveFailsCleanly) {
    for (const Scenario& sc : scenarios()) {
        SCOPED_TRACE(sc.name);
        uint64_t calls = 0;
        {
            SimHost clean;
            sc.set_up(clean);
            size_t handles = clean.engine_handles();
            uint64_t before = clean.machine().failable_calls();
            platform::Status result = sc.run(clean);
            calls = clean.machine().failable_calls() - before;
            sc.check(clean, result.has_value());
            EXPECT_EQ(clean.engine_handles(), handles);
        }
        ASSERT_GT(calls, 0u);
        for (uint64_t k = 1; k <= calls; ++k) {
            SCOPED_TRACE(k);
            SimHost host;
            sc.set_up(host);
            size_t handles = host.engine_handles();
            host.machine().add_fault({.call_index = host.machine().failable_calls() + k,
                                      .call_name = "",
                                      .win32 = kInjected,
                                      .once = true});
            platform::Status result = sc.run(host);
            if (!result && result.error().kind == platform::ErrorKind::win32) {
                EXPECT_EQ(result.error().win32, kInjected);
            }
            sc.check(host, result.has_value());
            EXPECT_EQ(host.engine_handles(), handles) << "a handle was left open";
        }
    }
}

}  // namespace
}  // namespace holvar::txn::fs::testing
