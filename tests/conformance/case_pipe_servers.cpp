// Named pipes served by a second process: who serves them, busy instances,
// overlapped reads and writes bounded by a timeout, and the end of the pipe
// when the server goes.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;
using Mode = HelperSpec::Mode;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::span<const uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

class PipeServers : public Case {
  protected:
    void SetUp() override {
        Case::SetUp();
        name_ = unique_name(u"holvar-conformance-pipe-");
    }

    Result<Child> serve(Mode mode, uint32_t instances = 1, uint32_t delay_ms = 0) {
        HelperSpec spec;
        spec.mode = mode;
        spec.name = name_;
        spec.instances = instances;
        spec.delay_ms = delay_ms;
        return start_helper(spec);
    }

    // A server of its own mode, and this process connected to it.
    struct Served {
        Child server;
        Handle pipe;
    };
    Result<Served> serve_and_connect(Mode mode, uint32_t delay_ms = 0) {
        auto server = serve(mode, 1, delay_ms);
        if (!server) return std::unexpected(server.error());
        auto pipe = connect_pipe(name_, seconds(30));
        if (!pipe) return std::unexpected(pipe.error());
        return Served{std::move(*server), std::move(*pipe)};
    }

    // One client open, no retry.
    Result<Handle> open_once() {
        return files().create_file(u"\\\\.\\pipe\\" + name_, GENERIC_READ | GENERIC_WRITE, 0,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
    }

    Status end(Child& server) {
        if (auto st = os().processes.terminate_process(server.process(), 1); !st) return st;
        if (auto code = server.wait_exit(30'000); !code) return std::unexpected(code.error());
        return {};
    }

    // Reads until `count` bytes came, each read bounded by `timeout`.
    Result<std::string> read_exactly(const Handle& pipe, size_t count, Duration timeout) {
        std::string out;
        uint8_t buffer[256];
        while (out.size() < count) {
            auto got = os().pipes.read_pipe(
                pipe, std::span<uint8_t>(buffer, std::min(sizeof buffer, count - out.size())),
                timeout);
            if (!got) return std::unexpected(got.error());
            out.append(reinterpret_cast<const char*>(buffer), *got);
        }
        return out;
    }

    std::u16string name_;
};

TEST_F(PipeServers, TheServerProcessIdIsTheHelpers) {
    auto served = serve_and_connect(Mode::pipe_silent);
    ASSERT_OK(served);
    const Handle& pipe = served->pipe;
    auto pid = os().pipes.get_named_pipe_server_process_id(pipe);
    ASSERT_OK(pid);
    EXPECT_EQ(*pid, served->server.pid());
}

// Every instance connected: the next client is refused with 231.
class BusyPipes : public PipeServers, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(BusyPipes, EveryInstanceConnectedIsBusy) {
    auto server = serve(Mode::pipe_silent, GetParam());
    ASSERT_OK(server);
    std::vector<Handle> clients;
    for (uint32_t i = 0; i < GetParam(); ++i) {
        auto client = connect_pipe(name_, seconds(30));
        ASSERT_OK(client);
        clients.push_back(std::move(*client));
    }
    EXPECT_WIN32(open_once(), win32::pipe_busy);
}

INSTANTIATE_TEST_SUITE_P(Instances, BusyPipes, ::testing::Values(1u, 2u, 3u));

TEST_F(PipeServers, PipeNamesIgnoreCase) {
    auto server = serve(Mode::pipe_silent);
    ASSERT_OK(server);
    std::u16string upper = name_;
    for (auto& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    EXPECT_TRUE(connect_pipe(upper, seconds(30)).has_value());
}

TEST_F(PipeServers, WrittenBytesComeBackFromTheEcho) {
    auto served = serve_and_connect(Mode::pipe_echo);
    ASSERT_OK(served);
    const Handle& pipe = served->pipe;
    const std::string message = "hello, pipe";
    auto written = os().pipes.write_pipe(pipe, bytes_of(message), seconds(30));
    ASSERT_OK(written);
    EXPECT_EQ(*written, message.size());
    auto echoed = read_exactly(pipe, message.size(), seconds(30));
    ASSERT_OK(echoed);
    EXPECT_EQ(*echoed, message);
}

TEST_F(PipeServers, AReadThatOutlastsItsBoundTimesOut) {
    auto served = serve_and_connect(Mode::pipe_silent);
    ASSERT_OK(served);
    const Handle& pipe = served->pipe;
    uint8_t buffer[16];
    const Instant before = os().clock.now();
    auto got = os().pipes.read_pipe(pipe, buffer, milliseconds(100));
    ASSERT_FALSE(got.has_value()) << "read " << *got << " bytes from a server that sends none";
    EXPECT_EQ(got.error().kind, ErrorKind::timed_out);
    EXPECT_EQ(got.error().win32, win32::wait_timeout);
    EXPECT_GE(os().clock.now() - before, milliseconds(100));
}

TEST_F(PipeServers, ATimedOutReadLosesNothingThatCameLater) {
    auto served = serve_and_connect(Mode::pipe_echo, 1500);
    ASSERT_OK(served);
    const Handle& pipe = served->pipe;
    ASSERT_OK(os().pipes.write_pipe(pipe, bytes_of("late"), seconds(30)));
    uint8_t buffer[16];
    auto early = os().pipes.read_pipe(pipe, buffer, milliseconds(50));
    ASSERT_FALSE(early.has_value()) << "the echo came before its delay";
    EXPECT_EQ(early.error().kind, ErrorKind::timed_out);
    auto echoed = read_exactly(pipe, 4, seconds(30));
    ASSERT_OK(echoed);
    EXPECT_EQ(*echoed, "late");
}

TEST_F(PipeServers, AReadGetsNoMoreThanItsBuffer) {
    auto served = serve_and_connect(Mode::pipe_echo);
    ASSERT_OK(served);
    const Handle& pipe = served->pipe;
    ASSERT_OK(os().pipes.write_pipe(pipe, bytes_of("abcdef"), seconds(30)));
    auto first = read_exactly(pipe, 2, seconds(30));
    ASSERT_OK(first);
    EXPECT_EQ(*first, "ab");
    auto rest = read_exactly(pipe, 4, seconds(30));
    ASSERT_OK(rest);
    EXPECT_EQ(*rest, "cdef");
}

TEST_F(PipeServers, AWriteNobodyReadsTimesOutOnceTheBufferIsFull) {
    auto served = serve_and_connect(Mode::pipe_silent);
    ASSERT_OK(served);
    const Handle& pipe = served->pipe;
    const std::string big(1 << 20, 'x');
    auto written = os().pipes.write_pipe(pipe, bytes_of(big), milliseconds(200));
    ASSERT_FALSE(written.has_value()) << "wrote " << *written << " bytes nobody reads";
    EXPECT_EQ(written.error().kind, ErrorKind::timed_out);
    EXPECT_EQ(written.error().win32, win32::wait_timeout);
}

TEST_F(PipeServers, TheServerEndingBreaksThePipe) {
    auto served = serve_and_connect(Mode::pipe_silent);
    ASSERT_OK(served);
    const Handle& pipe = served->pipe;
    ASSERT_OK(end(served->server));
    uint8_t buffer[16];
    EXPECT_WIN32(os().pipes.read_pipe(pipe, buffer, seconds(30)), win32::broken_pipe);
}

TEST_F(PipeServers, ThePipeGoesWithItsServer) {
    auto server = serve(Mode::pipe_silent);
    ASSERT_OK(server);
    ASSERT_OK(connect_pipe(name_, seconds(30)));
    ASSERT_OK(end(*server));
    EXPECT_WIN32(open_once(), win32::file_not_found);
}

TEST_F(PipeServers, AWriteAfterTheServerEndedIs232) {
    auto served = serve_and_connect(Mode::pipe_echo);
    ASSERT_OK(served);
    const Handle& pipe = served->pipe;
    ASSERT_OK(end(served->server));
    EXPECT_WIN32(os().pipes.write_pipe(pipe, bytes_of("gone"), seconds(30)),
                 232);  // ERROR_NO_DATA
}

}  // namespace
}  // namespace holvar::conformance
