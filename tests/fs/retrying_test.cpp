// Opens and deletions that wait out another program's lock within one shared
// budget, on the machine's virtual clock.
#include <gtest/gtest.h>

#include <chrono>

#include "fs_fixture.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/retrying.hpp"

namespace holvar::txn::fs::testing {
namespace {

using namespace std::chrono_literals;
namespace w = platform::win32;

class RetryingTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\tree)");
        write(uR"(C:\Work\tree\locked.dll)", "x");
    }
    void fail_every(const char* call, uint32_t code) {
        machine().add_fault(
            {.call_index = std::nullopt, .call_name = call, .win32 = code, .once = false});
    }
    void fail_once(const char* call, uint32_t code) {
        machine().add_fault(
            {.call_index = std::nullopt, .call_name = call, .win32 = code, .once = true});
    }
};

TEST_F(RetryingTest, HolderWithoutDeleteSharingCostsTheWholeBudgetAndNoMore) {
    auto held = open_elsewhere(uR"(C:\Work\tree\locked.dll)", platform::GENERIC_READ,
                               platform::FILE_SHARE_READ, 0);
    ASSERT_TRUE(held.handle);
    // No budget: one attempt. Otherwise sleeps of 100 ms and a last short one,
    // all on the virtual clock, until the budget is spent.
    for (platform::Duration allowance :
         {platform::Duration(0s), platform::Duration(250ms), platform::Duration(1s)}) {
        SCOPED_TRACE(allowance.count());
        RetryBudget budget(allowance);
        platform::Instant start = machine().now();
        auto handle = open_for_delete_retrying(os(), uR"(C:\Work\tree\locked.dll)", budget);
        ASSERT_FALSE(handle);
        EXPECT_TRUE(handle.error().is_win32(w::sharing_violation));
        EXPECT_EQ(machine().now() - start, allowance);
        EXPECT_TRUE(budget.exhausted());
    }
}

TEST_F(RetryingTest, RetryableErrorsAreRetriedOthersAreNot) {
    struct Case {
        uint32_t code;
        bool retried;
    };
    const std::vector<Case> cases = {
        {w::access_denied, true},      {w::sharing_violation, true}, {w::lock_violation, true},
        {w::user_mapped_file, true},   {w::file_not_found, false},   {w::path_not_found, false},
        {w::invalid_parameter, false}, {w::dir_not_empty, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        machine().clear_faults();
        fail_once("create_file", c.code);
        RetryBudget budget(1s);
        platform::Instant start = machine().now();
        auto handle = open_for_delete_retrying(os(), uR"(C:\Work\tree\locked.dll)", budget);
        if (c.retried) {
            ASSERT_TRUE(handle) << handle.error().win32;
            EXPECT_EQ(machine().now() - start, 100ms);
            EXPECT_EQ(budget.remaining(), 900ms);
        } else {
            ASSERT_FALSE(handle);
            EXPECT_TRUE(handle.error().is_win32(c.code));
            EXPECT_EQ(machine().now(), start);
            EXPECT_EQ(budget.remaining(), 1s);
        }
    }
}

TEST_F(RetryingTest, OneBudgetIsSharedByConsecutiveCalls) {
    RetryBudget budget(1s);
    fail_once("create_file", w::sharing_violation);
    auto first = open_for_delete_retrying(os(), uR"(C:\Work\tree\locked.dll)", budget);
    ASSERT_TRUE(first);
    EXPECT_EQ(budget.remaining(), 900ms);

    fail_every("set_file_disposition_info_ex", w::sharing_violation);
    platform::Instant start = machine().now();
    auto deleted = delete_by_handle_retrying(os(), *first, budget);
    ASSERT_FALSE(deleted);
    EXPECT_TRUE(deleted.error().is_win32(w::sharing_violation));
    EXPECT_EQ(machine().now() - start, 900ms);
    EXPECT_TRUE(budget.exhausted());
    EXPECT_TRUE(exists(uR"(C:\Work\tree\locked.dll)"));
}

TEST_F(RetryingTest, DeletionWithZeroBudgetFailsAtOnceWith32) {
    auto handle = open_object(os(), uR"(C:\Work\tree\locked.dll)", kDeleteRetryAccess);
    ASSERT_TRUE(handle);
    fail_every("set_file_disposition_info_ex", w::sharing_violation);
    RetryBudget budget(0s);
    uint64_t before = machine().boundary_calls();
    platform::Instant start = machine().now();
    auto deleted = delete_by_handle_retrying(os(), *handle, budget);
    ASSERT_FALSE(deleted);
    EXPECT_TRUE(deleted.error().is_win32(w::sharing_violation));
    EXPECT_EQ(machine().now(), start);
    // One attempt, plus at most the clock readings around it.
    EXPECT_LE(machine().boundary_calls() - before, 3u);
}

TEST_F(RetryingTest, DeletionSucceedsOnceTheLockGoes) {
    auto handle = open_object(os(), uR"(C:\Work\tree\locked.dll)", kDeleteRetryAccess);
    ASSERT_TRUE(handle);
    fail_once("set_file_disposition_info_ex", w::lock_violation);
    RetryBudget budget(30s);
    ASSERT_TRUE(delete_by_handle_retrying(os(), *handle, budget));
    EXPECT_FALSE(exists(uR"(C:\Work\tree\locked.dll)"));
    EXPECT_EQ(budget.remaining(), 30s - 100ms);
}

TEST_F(RetryingTest, DirectoryOpenKeepsOthersFromMovingIt) {
    RetryBudget budget(0s);
    auto dir = open_directory_for_delete_retrying(os(), uR"(C:\Work\tree)", budget);
    ASSERT_TRUE(dir);
    auto attempt = open_elsewhere(uR"(C:\Work\tree)", platform::DELETE, kShareAll);
    ASSERT_FALSE(attempt.handle);
    EXPECT_TRUE(attempt.handle.error().is_win32(w::sharing_violation));
}

}  // namespace
}  // namespace holvar::txn::fs::testing
