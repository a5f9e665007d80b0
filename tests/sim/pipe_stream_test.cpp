// The byte streams of simulated pipe connections on the virtual clock: what a
// read or a write waits for, where the clock stands when it gives up, and what
// a closed or ended server looks like from the client's end.
#include <gtest/gtest.h>

#include "pipe_host.hpp"

namespace holvar::sim::testing {
namespace {

constexpr char16_t kEcho[] = u"\\\\.\\pipe\\echo";

class PipeStream : public PipeTest {};

bool timed_out(const Error& e) {
    return e.kind == ErrorKind::timed_out && e.win32 == win32::wait_timeout;
}

TEST_F(PipeStream, AnEchoArrivesAfterItsDelayAndBufferedBytesAtOnce) {
    start_companion(R"({"kind":"companion","pipe":"echo","echo":true,"echo_delay_ms":300})");
    auto h = connect(kEcho);
    ASSERT_TRUE(h);
    const Instant start = machine->now();
    auto w = write(*h, "hello");
    ASSERT_TRUE(w);
    EXPECT_EQ(*w, 5u);
    EXPECT_EQ(ms_since(start), 0);  // the server reads: the write completes at once

    auto first = read(*h, 2);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, "he");
    EXPECT_EQ(ms_since(start), 300);
    auto rest = read(*h, 100);
    ASSERT_TRUE(rest);
    EXPECT_EQ(*rest, "llo");
    EXPECT_EQ(ms_since(start), 300);  // already buffered
}

struct TimeoutCase {
    const char* name;
    int echo_delay_ms;
    int timeout_ms;
    bool arrives;
    int clock_after_ms;
};

class ReadTimeout : public PipeTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(ReadTimeout, TheClockEndsAtTheArrivalOrExactlyAtTheTimeout) {
    const TimeoutCase& c = GetParam();
    start_companion(R"({"kind":"companion","pipe":"echo","echo":true,"echo_delay_ms":)" +
                    std::to_string(c.echo_delay_ms) + "}");
    auto h = connect(kEcho);
    ASSERT_TRUE(h);
    ASSERT_TRUE(write(*h, "x"));
    const Instant start = machine->now();
    auto r = read(*h, 16, std::chrono::milliseconds(c.timeout_ms));
    EXPECT_EQ(r.has_value(), c.arrives);
    if (!r) {
        EXPECT_TRUE(timed_out(r.error()));
    }
    EXPECT_EQ(ms_since(start), c.clock_after_ms);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadTimeout,
                         ::testing::Values(TimeoutCase{"well_before", 100, 2000, true, 100},
                                           TimeoutCase{"at_the_deadline", 2000, 2000, true, 2000},
                                           TimeoutCase{"just_after", 2001, 2000, false, 2000},
                                           TimeoutCase{"long_after", 60000, 1500, false, 1500},
                                           TimeoutCase{"zero_timeout", 1, 0, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PipeStream, ATimedOutReadLosesNothing) {
    start_companion(R"({"kind":"companion","pipe":"echo","echo":true,"echo_delay_ms":1500})");
    auto h = connect(kEcho);
    ASSERT_TRUE(write(*h, "late"));
    auto early = read(*h, 16, 1000ms);
    ASSERT_FALSE(early);
    auto later = read(*h, 16, 1000ms);
    ASSERT_TRUE(later);
    EXPECT_EQ(*later, "late");
}

TEST_F(PipeStream, AServerThatEndsBreaksThePipeAfterWhatItSent) {
    const uint32_t server =
        start_companion(R"({"kind":"companion","pipe":"echo","echo":true,"run_ms":400})");
    auto h = connect(kEcho);
    ASSERT_TRUE(write(*h, "sent"));
    const Instant start = machine->now();
    auto [bytes, end] = read_to_end(*h);
    EXPECT_EQ(bytes, "sent");  // buffered before the server ended: still readable
    EXPECT_TRUE(end.is_win32(win32::broken_pipe));
    EXPECT_EQ(ms_since(start), 400);  // the read waited for the end, not for its timeout
    EXPECT_FALSE(machine->process_alive(server));
    // Writing to a server that is gone: ERROR_NO_DATA.
    EXPECT_TRUE(write(*h, "more").error().is_win32(win32::no_data));
}

TEST_F(PipeStream, AServerThatNeverReadsFillsTheBufferThenTheWriteWaits) {
    start_companion(R"({"kind":"companion","pipe":"echo"})");
    auto h = connect(kEcho);
    const Instant start = machine->now();
    auto fits = write(*h, std::string(kPipeBufferBytes, 'a'));
    ASSERT_TRUE(fits);
    EXPECT_EQ(*fits, kPipeBufferBytes);
    auto blocked = write(*h, "b", 2000ms);
    ASSERT_FALSE(blocked);
    EXPECT_TRUE(timed_out(blocked.error()));
    EXPECT_EQ(ms_since(start), 2000);

    auto fresh = connect(kEcho);
    ASSERT_FALSE(fresh);  // one instance, held by the first client
    h->reset();
    fresh = connect(kEcho);
    ASSERT_TRUE(fresh);
    auto large = write(*fresh, std::string(kPipeBufferBytes + 1, 'c'), 500ms);
    ASSERT_FALSE(large);
    EXPECT_TRUE(timed_out(large.error()));
}

TEST_F(PipeStream, ConnectFindsNoServerABusyOneOrALateOne) {
    EXPECT_EQ(error_of(connect(kEcho)), win32::file_not_found);
    start_companion(R"({"kind":"companion","pipe":"echo","pipe_instances":1,"pipe_after_ms":500})");
    EXPECT_EQ(error_of(connect(kEcho)), win32::file_not_found);
    machine->advance(500ms);
    auto first = connect(kEcho);
    ASSERT_TRUE(first);
    EXPECT_EQ(error_of(connect(kEcho)), win32::pipe_busy);
    first->reset();  // closing the client's handle frees the instance
    EXPECT_TRUE(connect(kEcho));
}

TEST_F(PipeStream, ABlockingHandleWaitsPastItsTimeout) {
    start_companion(R"({"kind":"companion","pipe":"echo","echo":true,"echo_delay_ms":5000})");
    auto h = connect(kEcho, 0);  // no FILE_FLAG_OVERLAPPED: ReadFile blocks
    ASSERT_TRUE(write(*h, "slow"));
    const Instant start = machine->now();
    auto r = read(*h, 16, 100ms);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, "slow");
    EXPECT_EQ(ms_since(start), 5000);
    // With nothing on the way it would block for ever: the machine says so.
    auto never = read(*h, 16, 100ms);
    ASSERT_FALSE(never);
    EXPECT_EQ(never.error().text, "wait would never end");
}

TEST_F(PipeStream, EventsOfOtherProcessesHappenWhileAReadWaits) {
    start_companion(R"({"kind":"companion","pipe":"echo","echo":true,"echo_delay_ms":900})");
    ASSERT_TRUE(machine->write_file(u"C:\\Windows\\client.exe",
                                    program_image(R"({"kind":"client","run_ms":300})"),
                                    system_sid()));
    const uint32_t other = machine->spawn_process(u"C:\\Windows\\client.exe", user_token());
    auto h = connect(kEcho);
    ASSERT_TRUE(write(*h, "x"));
    ASSERT_TRUE(read(*h, 1));
    EXPECT_FALSE(machine->process_alive(other));
}

struct AccessCase {
    const char* name;
    uint32_t access;
    bool can_read;
    bool can_write;
};

class PipeAccess : public PipeTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(PipeAccess, ReadsAndWritesNeedTheirRights) {
    const AccessCase& c = GetParam();
    start_companion(R"({"kind":"companion","pipe":"echo","echo":true})");
    auto h = os().files.create_file(kEcho, c.access, FILE_SHARE_ALL, OPEN_EXISTING, kPipeFlags);
    ASSERT_TRUE(h);
    auto w = write(*h, "x");
    EXPECT_EQ(w.has_value(), c.can_write);
    if (!w) {
        EXPECT_TRUE(w.error().is_win32(win32::access_denied));
    }
    auto r = read(*h, 1, 10ms);
    if (c.can_read) {
        EXPECT_TRUE(r.has_value() || timed_out(r.error()));
    } else {
        EXPECT_TRUE(r.error().is_win32(win32::access_denied));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PipeAccess,
    ::testing::Values(AccessCase{"engine_mask", kPipeAccess, true, true},
                      AccessCase{"generic_read_write", GENERIC_READ | GENERIC_WRITE, true, true},
                      AccessCase{"attributes_only", FILE_READ_ATTRIBUTES | 0x00100000, false,
                                 false},
                      AccessCase{"read_only", FILE_READ_DATA, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PipeStream, AFileHandleIsNoPipe) {
    ASSERT_TRUE(machine->write_file(u"C:\\Windows\\plain.txt", bytes("x"), system_sid()));
    auto h = open(u"C:\\Windows\\plain.txt", FILE_READ_DATA);
    ASSERT_TRUE(h);
    std::vector<uint8_t> buffer(4);
    EXPECT_TRUE(os().pipes.read_pipe(*h, buffer, 1s).error().is_win32(1));
}

}  // namespace
}  // namespace holvar::sim::testing
