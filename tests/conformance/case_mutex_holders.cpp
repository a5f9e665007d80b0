// Named mutexes held by a second process: busy while it holds them, handed
// over when it releases, abandoned when it ends still holding one.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;
using Mode = HelperSpec::Mode;

class HeldMutexes : public Case {
  protected:
    void SetUp() override {
        Case::SetUp();
        name_ = unique_name(u"holvar-conformance-held-");
    }

    // Starts a helper that takes the mutex, and waits until it has it.
    Result<Child> holder(Mode mode, uint32_t hold_ms) {
        HelperSpec spec;
        spec.mode = mode;
        spec.name = name_;
        spec.delay_ms = hold_ms;
        spec.file = at(u"ready");
        auto child = start_helper(spec);
        if (!child) return child;
        if (!wait_for_file(spec.file, std::chrono::seconds(30)))
            return fail(ErrorKind::other, "the helper never took the mutex");
        return child;
    }

    std::u16string name_;
};

TEST_F(HeldMutexes, AMutexHeldByAnotherProcessIsBusy) {
    auto child = holder(Mode::mutex_hold, 60'000);
    ASSERT_OK(child);
    auto mine = os().sync.create_mutex(name_, false);
    ASSERT_OK(mine);
    for (uint32_t timeout : {0u, 50u}) {
        auto waited = os().sync.wait_for_single_object(mine->handle, timeout);
        ASSERT_OK(waited);
        EXPECT_EQ(*waited, WAIT_TIMEOUT) << "timeout " << timeout;
    }
}

TEST_F(HeldMutexes, AReleasedMutexIsTakenByTheWaiter) {
    auto child = holder(Mode::mutex_hold, 300);
    ASSERT_OK(child);
    auto mine = os().sync.create_mutex(name_, false);
    ASSERT_OK(mine);
    auto waited = os().sync.wait_for_single_object(mine->handle, 30'000);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_OBJECT_0);
}

TEST_F(HeldMutexes, AnAbandonedMutexIsReportedOnceThenOwned) {
    // This process holds a handle first, so the object outlives the helper.
    auto mine = os().sync.create_mutex(name_, false);
    ASSERT_OK(mine);
    EXPECT_FALSE(mine->already_existed);
    auto child = holder(Mode::mutex_abandon, 0);
    ASSERT_OK(child);
    auto code = child->wait_exit(30'000);
    ASSERT_OK(code);
    EXPECT_EQ(*code, 0u);
    auto first = os().sync.wait_for_single_object(mine->handle, 0);
    ASSERT_OK(first);
    EXPECT_EQ(*first, WAIT_ABANDONED);
    // The waiter owns it now: a second wait is an ordinary recursive take.
    auto second = os().sync.wait_for_single_object(mine->handle, 0);
    ASSERT_OK(second);
    EXPECT_EQ(*second, WAIT_OBJECT_0);
}

TEST_F(HeldMutexes, AWaitOutlastingTheHolderSeesTheAbandonment) {
    auto mine = os().sync.create_mutex(name_, false);
    ASSERT_OK(mine);
    auto child = holder(Mode::mutex_abandon, 0);
    ASSERT_OK(child);
    auto waited = os().sync.wait_for_single_object(mine->handle, 30'000);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_ABANDONED);
}

TEST_F(HeldMutexes, TheNameGoesWithTheHoldersLastHandle) {
    auto child = holder(Mode::mutex_abandon, 0);
    ASSERT_OK(child);
    ASSERT_OK(child->wait_exit(30'000));
    // Nobody else held it: the abandoned object went with the process.
    auto fresh = os().sync.create_mutex(name_, false);
    ASSERT_OK(fresh);
    EXPECT_FALSE(fresh->already_existed);
    auto waited = os().sync.wait_for_single_object(fresh->handle, 0);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_OBJECT_0);
}

// An interactive process: "Local\" and no prefix name its session's
// namespace, "Global\" the global one.
TEST_F(HeldMutexes, GlobalAndLocalAreTwoNamespaces) {
    auto global = os().sync.create_mutex(u"Global\\" + name_, false);
    ASSERT_OK(global);
    auto local = os().sync.create_mutex(u"Local\\" + name_, false);
    ASSERT_OK(local);
    EXPECT_FALSE(local->already_existed);
    auto bare = os().sync.create_mutex(name_, false);
    ASSERT_OK(bare);
    EXPECT_TRUE(bare->already_existed);
}

// Another process holds the mutex: this one opens the same object
// (ERROR_ALREADY_EXISTS), whatever it asks for, without taking it.
struct OpenOfAHeldMutex {
    const char16_t* prefix;
    bool initial_owner;
};

class HeldMutexOpens : public HeldMutexes,
                       public ::testing::WithParamInterface<OpenOfAHeldMutex> {};

TEST_P(HeldMutexOpens, OpensTheHoldersMutexWithoutTakingIt) {
    name_ = GetParam().prefix + name_;
    auto child = holder(Mode::mutex_hold, 60'000);
    ASSERT_OK(child);
    auto mine = os().sync.create_mutex(name_, GetParam().initial_owner);
    ASSERT_OK(mine);
    EXPECT_TRUE(mine->already_existed);
    auto waited = os().sync.wait_for_single_object(mine->handle, 0);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(Table, HeldMutexOpens,
                         ::testing::Values(OpenOfAHeldMutex{u"", false},
                                           OpenOfAHeldMutex{u"", true},
                                           OpenOfAHeldMutex{u"Local\\", false},
                                           OpenOfAHeldMutex{u"Global\\", false},
                                           OpenOfAHeldMutex{u"Global\\", true}));

}  // namespace
}  // namespace holvar::conformance
