// The process's own facts and the monotonic clock.
#include <atomic>
#include <memory>

#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

class ProcessFacts : public Case {};

TEST_F(ProcessFacts, TheModuleFileNameIsTheAbsoluteImagePath) {
    auto image = os().processes.get_module_file_name();
    ASSERT_OK(image);
    EXPECT_TRUE(is_absolute_path(*image)) << narrow(*image);
    auto name = file_name(*image);
    ASSERT_TRUE(name.has_value());
    EXPECT_TRUE(ascii_iequal(*name, u"conformance-tests.exe")) << narrow(*image);
    auto full = files().get_full_path_name(*image);
    ASSERT_OK(full);
    EXPECT_EQ(narrow(*full), narrow(*image));
}

TEST_F(ProcessFacts, TheProcessIdIsStable) {
    const uint32_t pid = os().processes.get_current_process_id();
    EXPECT_NE(pid, 0u);
    EXPECT_EQ(os().processes.get_current_process_id(), pid);
}

class MonotonicClock : public Case {};

TEST_F(MonotonicClock, NeverGoesBack) {
    Instant last = os().clock.now();
    for (int i = 0; i < 100; ++i) {
        const Instant next = os().clock.now();
        EXPECT_GE(next, last);
        last = next;
    }
}

TEST_F(MonotonicClock, ASleepLastsAtLeastItsDuration) {
    const Instant before = os().clock.now();
    os().clock.sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(os().clock.now() - before, std::chrono::milliseconds(20));
}

TEST_F(MonotonicClock, ANonPositiveSleepReturnsAtOnce) {
    const Instant before = os().clock.now();
    os().clock.sleep_for(Duration::zero());
    os().clock.sleep_for(-std::chrono::seconds(1));
    EXPECT_LT(os().clock.now() - before, std::chrono::seconds(1));
}

class BoundedTasks : public Case {};

// A blocking step a deadline must outrun: a task that ends within its bound is
// true and has run; one that outlasts it is false at the bound, long before it
// ends, and runs on to its end by itself.
TEST_F(BoundedTasks, InTimeIsTrueAndAnOverrunIsFalseAtTheBound) {
    auto ended = std::make_shared<std::atomic<int>>(0);
    platform::Clock& clock = os().clock;
    EXPECT_TRUE(clock.run_bounded([ended] { ended->fetch_add(1); }, std::chrono::seconds(10)));
    EXPECT_EQ(ended->load(), 1);

    const Instant before = clock.now();
    EXPECT_FALSE(clock.run_bounded(
        [ended, &clock] {
            clock.sleep_for(std::chrono::seconds(2));
            ended->fetch_add(1);
        },
        std::chrono::milliseconds(50)));
    const Duration waited = clock.now() - before;
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::seconds(2));
    // The abandoned task ends on its own; waiting here keeps it from outliving
    // the case's machine.
    clock.sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(ended->load(), 2);
}

class OwnedMutexes : public Case {};

TEST_F(OwnedMutexes, TheOwnerMayWaitAgain) {
    std::u16string name = u"Local\\holvar-conformance-owned-";
    for (char c : std::to_string(os().processes.get_current_process_id())) {
        name.push_back(static_cast<char16_t>(c));
    }
    auto m = os().sync.create_mutex(name, true);
    ASSERT_OK(m);
    auto waited = os().sync.wait_for_single_object(m->handle, 0);
    ASSERT_OK(waited);
    EXPECT_EQ(*waited, WAIT_OBJECT_0);
}

}  // namespace
}  // namespace holvar::conformance
