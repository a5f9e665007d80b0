// The crash model: metadata durable in order up to the last barrier plus a
// prefix of what followed; contents durable only once flushed; and the
// injection of crashes and faults.
#include <set>

#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

class CrashTest : public SimTest {
  protected:
    void SetUp() override {
        Sid ba = *sid_from_string(sids::administrators);
        ASSERT_TRUE(machine->make_directory(u"C:\\c", ba));
        ASSERT_TRUE(machine->write_file(u"C:\\c\\old", bytes("old-contents"), ba));
    }
    // Three metadata operations after the last barrier: a directory, a file
    // (created and written, never flushed), a rename.
    void three_operations() {
        ASSERT_TRUE(os().files.create_directory(u"C:\\c\\d1"));
        auto h = create(u"C:\\c\\f1");
        ASSERT_TRUE(h.has_value());
        write_all(*h, "unflushed");
        h->reset();
        std::u16string to = u"C:\\c\\f2";
        ASSERT_TRUE(os().files.move_file_ex(u"C:\\c\\f1", &to, 0));
    }
    void flush(const std::u16string& path) {
        auto h = os().files.create_file(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_ALL,
                                        OPEN_EXISTING, OPEN_NO_FOLLOW);
        ASSERT_TRUE(h.has_value());
        ASSERT_TRUE(os().files.flush_file_buffers(*h));
    }
};

TEST_F(CrashTest, MetadataSurvivesAsAPrefixInIssueOrder) {
    struct Case {
        std::optional<size_t> kept;
        bool d1, f1, f2;
    };
    const Case cases[] = {
        {0, false, false, false}, {1, true, false, false},           {2, true, true, false},
        {3, true, false, true},   {std::nullopt, true, false, true}, {99, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kept ? int(*c.kept) : -1);
        auto m = Machine::fresh();
        machine = std::move(m);
        SetUp();
        engine_pid = machine->spawn_process(u"C:\\e.exe", admin_token());
        engine = std::make_unique<ProcessOs>(*machine, engine_pid);
        three_operations();
        machine->crash(CrashCut{c.kept, std::nullopt});
        EXPECT_EQ(machine->exists(u"C:\\c\\d1"), c.d1);
        EXPECT_EQ(machine->exists(u"C:\\c\\f1"), c.f1);
        EXPECT_EQ(machine->exists(u"C:\\c\\f2"), c.f2);
        // Never flushed: the file that survives is empty.
        if (c.f2) {
            EXPECT_EQ(contents(u"C:\\c\\f2"), "");
        }
        EXPECT_EQ(contents(u"C:\\c\\old"), "old-contents");
    }
}

TEST_F(CrashTest, AFlushIsABarrierForAllMetadataAndItsOwnContents) {
    three_operations();
    flush(u"C:\\c\\f2");
    ASSERT_TRUE(os().files.create_directory(u"C:\\c\\after"));
    machine->crash(CrashCut{0, std::nullopt});
    EXPECT_TRUE(machine->exists(u"C:\\c\\d1"));
    EXPECT_EQ(contents(u"C:\\c\\f2"), "unflushed");
    EXPECT_FALSE(machine->exists(u"C:\\c\\after"));
}

TEST_F(CrashTest, AWriteThroughMoveIsABarrierButNotAFlushOfContents) {
    auto h = create(u"C:\\c\\old", TRUNCATE_EXISTING);
    ASSERT_TRUE(h.has_value());
    write_all(*h, "NEW");
    h->reset();
    std::u16string to = u"C:\\c\\moved";
    ASSERT_TRUE(os().files.move_file_ex(u"C:\\c\\old", &to, MOVEFILE_WRITE_THROUGH));
    machine->crash(CrashCut{0, std::nullopt});
    EXPECT_FALSE(machine->exists(u"C:\\c\\old"));
    EXPECT_EQ(contents(u"C:\\c\\moved"),
              "old-contents");  // truncation and write never reached disk
}

TEST_F(CrashTest, ClosingIsNotAFlushAndTornWritesMixOldAndNew) {
    auto h = create(u"C:\\c\\old", OPEN_EXISTING);
    ASSERT_TRUE(h.has_value());
    write_all(*h, "NEW-CONTENTS-LONGER");
    h->reset();
    std::set<std::string> seen;
    for (uint64_t seed = 0; seed < 40; ++seed) {
        auto m = Machine::fresh();
        machine = std::move(m);
        SetUp();
        engine_pid = machine->spawn_process(u"C:\\e.exe", admin_token());
        engine = std::make_unique<ProcessOs>(*machine, engine_pid);
        auto w = create(u"C:\\c\\old", OPEN_EXISTING);
        write_all(*w, "NEW-CONTENTS-LONGER");
        w->reset();
        machine->crash(CrashCut{std::nullopt, seed});
        std::string got = contents(u"C:\\c\\old");
        size_t k = 0;
        while (k < got.size() && got[k] == "NEW-CONTENTS-LONGER"[k]) ++k;
        // A prefix of the new bytes, then the old bytes from there on.
        EXPECT_EQ(got.substr(k), std::string("old-contents").substr(std::min<size_t>(k, 12)))
            << got;
        seen.insert(got);
    }
    EXPECT_GT(seen.size(), 3u);
    machine->crash();
    EXPECT_NE(contents(u"C:\\c\\old"), "NEW-CONTENTS-LONGER");
}

TEST_F(CrashTest, ArmedCrashFiresAfterTheNthMutatingCall) {
    uint64_t before = machine->mutating_calls();
    machine->arm_crash_after(2);
    ASSERT_TRUE(os().files.create_directory(u"C:\\c\\one"));
    try {
        (void)os().files.create_directory(u"C:\\c\\two");
        FAIL() << "no crash";
    } catch (const CrashInjected& crash) {
        EXPECT_EQ(crash.call_index, before + 2);
    }
    // Until the crash image is taken the run is unwinding: any call rethrows.
    EXPECT_THROW((void)os().files.create_directory(u"C:\\c\\three"), CrashInjected);
    machine->crash();
    EXPECT_TRUE(machine->exists(u"C:\\c\\two"));  // its effect happened before the crash
    EXPECT_FALSE(machine->exists(u"C:\\c\\three"));
    EXPECT_FALSE(machine->process_alive(engine_pid));
}

TEST_F(CrashTest, ACrashEndsProcessesHandlesAndMutexes) {
    auto m = os().sync.create_mutex(u"Global\\L", true);
    ASSERT_TRUE(m.has_value());
    auto pin = open(u"C:\\c", FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ);
    ASSERT_TRUE(pin.has_value());
    machine->crash();
    uint32_t pid = machine->spawn_process(u"C:\\e.exe", admin_token());
    ProcessOs after(*machine, pid);
    auto again = after.os().sync.create_mutex(u"Global\\L", false);
    EXPECT_FALSE(again->already_existed);
    EXPECT_TRUE(after.os().files.create_file(u"C:\\c", DELETE, FILE_SHARE_ALL, OPEN_EXISTING,
                                             OPEN_NO_FOLLOW));
}

TEST_F(CrashTest, FaultsByIndexAndByName) {
    // The clock's calls, which never fail, shift no index: the explorer
    // fails the K-th call of a run's list of the calls that can fail.
    uint64_t next = machine->failable_calls() + 2;
    machine->add_fault(FaultRule{next, "", win32::disk_full, true});
    (void)os().clock.now();
    EXPECT_TRUE(open(u"C:\\c\\old").has_value());
    os().clock.sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(error_of(open(u"C:\\c\\old")), win32::disk_full);
    EXPECT_TRUE(open(u"C:\\c\\old").has_value());

    machine->add_fault(FaultRule{std::nullopt, "flush_file_buffers", win32::write_fault, false});
    auto h = create(u"C:\\c\\old", OPEN_EXISTING);
    EXPECT_EQ(error_of(os().files.flush_file_buffers(*h)), win32::write_fault);
    EXPECT_EQ(error_of(os().files.flush_file_buffers(*h)), win32::write_fault);
    machine->clear_faults();
    EXPECT_TRUE(os().files.flush_file_buffers(*h));
    // A failed call changed nothing and is no mutating call.
    uint64_t mutating = machine->mutating_calls();
    machine->add_fault(FaultRule{std::nullopt, "create_directory", win32::access_denied, true});
    EXPECT_EQ(error_of(os().files.create_directory(u"C:\\c\\nope")), win32::access_denied);
    EXPECT_FALSE(machine->exists(u"C:\\c\\nope"));
    EXPECT_EQ(machine->mutating_calls(), mutating);
}

}  // namespace
}  // namespace holvar::sim::testing
