// Stalled boundary calls and Clock::run_bounded on the virtual clock: where
// the clock stands after a bounded task, what it answers, and that an
// abandoned task still runs to its end and releases what it opened.
#include <gtest/gtest.h>

#include <vector>

#include "pipe_host.hpp"

namespace holvar::sim::testing {
namespace {

struct BoundCase {
    const char* name;
    std::vector<int> stalls_ms;  // one stalled call each, made in order by the task
    int limit_ms;
    bool in_time;
    int clock_after_ms;
};

class RunBounded : public PipeTest, public ::testing::WithParamInterface<BoundCase> {};

TEST_P(RunBounded, TheClockStopsAtTheLimitAndTheTaskRunsToItsEnd) {
    const BoundCase& c = GetParam();
    for (int ms : c.stalls_ms)
        machine->add_stall({"get_full_path_name", std::chrono::milliseconds(ms), true});
    size_t calls_made = 0;
    const Instant start = machine->now();
    const bool in_time = os().clock.run_bounded(
        [&] {
            for (size_t i = 0; i < c.stalls_ms.size(); ++i)
                if (os().files.get_full_path_name(u"a")) ++calls_made;
        },
        std::chrono::milliseconds(c.limit_ms));
    EXPECT_EQ(in_time, c.in_time);
    EXPECT_EQ(ms_since(start), c.clock_after_ms);
    EXPECT_EQ(calls_made, c.stalls_ms.size());  // every call answered, in time or not
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunBounded,
    ::testing::Values(BoundCase{"no_stall", {}, 500, true, 0},
                      BoundCase{"within", {300}, 500, true, 300},
                      BoundCase{"exactly_the_limit", {500}, 500, true, 500},
                      BoundCase{"past_the_limit", {800}, 500, false, 500},
                      BoundCase{"two_that_add_up_past_it", {300, 300}, 500, false, 500},
                      BoundCase{"three_the_last_takes_no_time", {400, 400, 400}, 500, false, 500}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunBounded, EventsAfterTheBoundWaitForTheClockToMoveOn) {
    ASSERT_TRUE(machine->write_file(u"C:\\Windows\\client.exe",
                                    program_image(R"({"kind":"client","run_ms":700})"),
                                    system_sid()));
    const uint32_t other = machine->spawn_process(u"C:\\Windows\\client.exe", user_token());
    machine->add_stall({"get_full_path_name", 800ms, true});
    EXPECT_FALSE(os().clock.run_bounded([&] { (void)os().files.get_full_path_name(u"a"); }, 500ms));
    EXPECT_TRUE(machine->process_alive(other));  // its exit at 700 ms has not come yet
    os().clock.sleep_for(200ms);
    EXPECT_FALSE(machine->process_alive(other));
}

TEST_F(RunBounded, WaitsAndSleepsInsideATaskStopAtTheBound) {
    ASSERT_TRUE(machine->write_file(u"C:\\Windows\\client.exe",
                                    program_image(R"({"kind":"client","run_ms":60000})"),
                                    system_sid()));
    const uint32_t other = machine->spawn_process(u"C:\\Windows\\client.exe", user_token());
    auto process = os().processes.open_process(0x100000, false, other);  // SYNCHRONIZE
    ASSERT_TRUE(process);
    const Instant start = machine->now();
    std::optional<uint32_t> waited;
    EXPECT_FALSE(os().clock.run_bounded(
        [&] {
            os().clock.sleep_for(300ms);
            auto w = os().sync.wait_for_single_object(*process, 1000);
            if (w) waited = *w;
            os().clock.sleep_for(300ms);  // takes no time any more
        },
        500ms));
    EXPECT_EQ(waited, WAIT_TIMEOUT);
    EXPECT_EQ(ms_since(start), 500);
    // A wait that ends before the bound leaves the task in time.
    EXPECT_TRUE(os().clock.run_bounded(
        [&] { (void)os().sync.wait_for_single_object(*process, 400); }, 500ms));
    EXPECT_EQ(ms_since(start), 900);
}

TEST_F(RunBounded, NestedTasksKeepTheTighterBound) {
    const Instant start = machine->now();
    bool inner = true;
    bool outer = os().clock.run_bounded(
        [&] {
            inner = os().clock.run_bounded([&] { os().clock.sleep_for(500ms); }, 300ms);
            os().clock.sleep_for(400ms);
        },
        1000ms);
    EXPECT_FALSE(inner);
    EXPECT_TRUE(outer);  // 300 + 400 ms
    EXPECT_EQ(ms_since(start), 700);

    outer = os().clock.run_bounded(
        [&] { inner = os().clock.run_bounded([&] { os().clock.sleep_for(1500ms); }, 2000ms); },
        1000ms);
    EXPECT_FALSE(inner);
    EXPECT_FALSE(outer);
    EXPECT_EQ(ms_since(start), 1700);
}

TEST_F(RunBounded, AnAbandonedTaskClosesWhatItOpened) {
    machine->add_stall({"get_final_path_name_by_handle", 6s, true});
    const size_t handles_before = machine->state().handles.size();
    auto opened = std::make_shared<bool>(false);
    EXPECT_FALSE(os().clock.run_bounded(
        [&os = os(), opened] {
            auto h = os.files.create_file(u"C:\\Windows", FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                          OPEN_EXISTING, OPEN_NO_FOLLOW);
            *opened = h.has_value();
            if (h) (void)os.files.get_final_path_name_by_handle(*h, 260, 0);
        },
        5s));
    EXPECT_TRUE(*opened);
    EXPECT_EQ(machine->state().handles.size(), handles_before);
}

TEST_F(RunBounded, AStallRunsTheEventsDueBeforeTheCallAnswers) {
    ASSERT_TRUE(machine->write_file(
        u"C:\\Windows\\client.exe",
        program_image(R"({"kind":"client","run_ms":100,"exit_code":3})"), system_sid()));
    const uint32_t other = machine->spawn_process(u"C:\\Windows\\client.exe", user_token());
    auto process = os().processes.open_process(PROCESS_QUERY_LIMITED_INFORMATION, false, other);
    ASSERT_TRUE(process);
    machine->add_stall({"get_exit_code_process", 300ms, true});
    const Instant start = machine->now();
    auto code = os().processes.get_exit_code_process(*process);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 3u);  // it ended during the stall
    EXPECT_EQ(ms_since(start), 300);
}

TEST_F(RunBounded, AStallOnceOrAlways) {
    machine->add_stall({"get_full_path_name", 100ms, true});
    machine->add_stall({"get_volume_path_name", 50ms, false});
    const Instant start = machine->now();
    for (int i = 0; i < 3; ++i) {
        (void)os().files.get_full_path_name(u"a");
        (void)os().files.get_volume_path_name(u"C:\\Windows", 260);
    }
    EXPECT_EQ(ms_since(start), 100 + 3 * 50);
    machine->clear_stalls();
    (void)os().files.get_volume_path_name(u"C:\\Windows", 260);
    EXPECT_EQ(ms_since(start), 250);
}

}  // namespace
}  // namespace holvar::sim::testing
