// A whole-file replacement crashed at every mutating call, under every cut of
// the metadata written since the last barrier, with unflushed contents lost or
// torn, must leave the old complete file or the new complete file. The same
// exploration run against a copy that leaves out the flush must find a torn
// result: the crash model has to be able to catch the mistake it exists for.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/sim/machine.hpp"
#include "txn/fs/durable_write.hpp"

namespace holvar::txn::fs {
namespace {

using namespace platform;
using Writer = std::function<Status(Os&, const std::u16string&, std::span<const uint8_t>)>;

const std::u16string kDir = u"C:\\ProgramData\\Holvar";
const std::u16string kTarget = kDir + u"\\txn.json";
const std::string kOld = "{\"marks\":[\"planned\"]}";
const std::string kNew = "{\"marks\":[\"planned\",\"placing\",\"committed\"]}";

// The same steps without FlushFileBuffers: the rename can reach the disk
// before the bytes it publishes.
Status write_without_flush(Os& os, const std::u16string& path, std::span<const uint8_t> bytes) {
    const std::u16string tmp = path + u".tmp";
    {
        auto file = os.files.create_file(tmp, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                         CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT);
        if (!file) return std::unexpected(file.error());
        while (!bytes.empty()) {
            auto n = os.files.write_file(*file, bytes);
            if (!n) return std::unexpected(n.error());
            bytes = bytes.subspan(*n);
        }
    }
    return os.files.move_file_ex(tmp, &path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

struct Scenario {
    bool leftover_tmp;  // a .tmp from an earlier crashed write is in the way
};

struct Run {
    std::unique_ptr<sim::Machine> machine;
    bool crashed = false;
    size_t unbarriered = 0;  // metadata operations since the last barrier at the crash
};

std::unique_ptr<sim::Machine> prepared(const Scenario& sc) {
    auto m = sim::Machine::fresh();
    Sid ba = *sid_from_string(sids::administrators);
    EXPECT_TRUE(m->make_directory(kDir, ba));
    EXPECT_TRUE(m->write_file(kTarget, {kOld.begin(), kOld.end()}, ba));
    if (sc.leftover_tmp) {
        EXPECT_TRUE(m->write_file(kTarget + u".tmp", {'{', '"'}, ba));
    }
    return m;
}

// Runs the writer with a crash armed at mutating call `n` (0: none).
Run run_until_crash(const Writer& writer, const Scenario& sc, uint64_t n) {
    Run r{prepared(sc)};
    uint32_t pid = r.machine->spawn_process(kDir + u"\\engine.exe", sim::admin_token());
    sim::ProcessOs process(*r.machine, pid);
    r.machine->arm_crash_after(n);
    std::vector<uint8_t> bytes(kNew.begin(), kNew.end());
    try {
        (void)writer(process.os(), kTarget, bytes);
    } catch (const sim::CrashInjected&) {
        r.crashed = true;
    }
    r.unbarriered = r.machine->metadata_since_barrier();
    return r;
}

uint64_t mutating_calls_of(const Writer& writer, const Scenario& sc) {
    Run r = run_until_crash(writer, sc, 0);
    EXPECT_FALSE(r.crashed);
    auto written = r.machine->read_file(kTarget);
    EXPECT_TRUE(written.has_value());
    if (written) {
        EXPECT_EQ(std::string(written->begin(), written->end()), kNew);
    }
    return r.machine->mutating_calls() - prepared(sc)->mutating_calls();
}

// Every crash point, every metadata cut, contents dropped and torn by eight
// seeds. Returns the first image that is neither the old nor the new file.
std::optional<std::string> explore(const Writer& writer, const Scenario& sc, size_t* images) {
    uint64_t calls = mutating_calls_of(writer, sc);
    EXPECT_GE(calls, 3u);
    std::vector<std::optional<uint64_t>> tears{std::nullopt};
    for (uint64_t seed = 1; seed <= 8; ++seed) tears.push_back(seed * 0x9E3779B9ull);
    // Crash points 1..calls, and calls + 1 (the run completes, the power goes after).
    for (uint64_t n = 1; n <= calls + 1; ++n) {
        size_t cuts = run_until_crash(writer, sc, n <= calls ? n : 0).unbarriered;
        for (size_t kept = 0; kept <= cuts; ++kept) {
            for (const auto& tear : tears) {
                Run r = run_until_crash(writer, sc, n <= calls ? n : 0);
                EXPECT_EQ(r.crashed, n <= calls);
                r.machine->crash(sim::CrashCut{kept, tear});
                ++*images;
                auto got = r.machine->read_file(kTarget);
                std::string text = got ? std::string(got->begin(), got->end()) : "<missing>";
                if (text != kOld && text != kNew)
                    return "crash at call " + std::to_string(n) + ", " + std::to_string(kept) +
                           " of " + std::to_string(cuts) + " kept, tear " +
                           std::to_string(tear.value_or(0)) + ": \"" + text + "\"";
            }
        }
    }
    return std::nullopt;
}

class CrashDurable : public ::testing::TestWithParam<Scenario> {};

TEST_P(CrashDurable, EveryCrashLeavesTheOldOrTheNewFile) {
    size_t images = 0;
    auto torn = explore(
        [](platform::Os& os, const std::u16string& path, std::span<const uint8_t> bytes) {
            return write_file_atomically(os, path, bytes);
        },
        GetParam(), &images);
    EXPECT_FALSE(torn.has_value()) << *torn;
    EXPECT_GT(images, 40u);
}

TEST_P(CrashDurable, TheModelCatchesAWriteThatSkipsTheFlush) {
    size_t images = 0;
    auto torn = explore(write_without_flush, GetParam(), &images);
    EXPECT_TRUE(torn.has_value()) << "no crash image exposed the missing flush";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CrashDurable,
                         ::testing::Values(Scenario{false}, Scenario{true}));

}  // namespace
}  // namespace holvar::txn::fs
