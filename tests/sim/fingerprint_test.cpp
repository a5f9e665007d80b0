// The machine's fingerprint: anything that changes what a later run meets
// changes it, and calls that change nothing do not (so an explorer can walk
// machines alike once). Its crash fingerprint changes only with what a power
// cut keeps, and not with the numbers handles and processes will take.
#include <cctype>
#include <functional>
#include <optional>

#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

class FingerprintTest;

struct Change {
    const char* what;
    bool changes;
    bool crash_changes;  // what a power cut keeps
    std::function<void(FingerprintTest&, Machine&)> act;
};

class FingerprintTest : public SimTest, public ::testing::WithParamInterface<Change> {
  public:
    // For the table's changes.
    using SimTest::create;
    using SimTest::open;
    using SimTest::os;
    using SimTest::write_all;
    std::optional<Handle> held;  // a handle a change leaves open

  protected:
    void SetUp() override {
        ASSERT_TRUE(machine->make_directory(u"C:\\f", ba));
        ASSERT_TRUE(machine->write_file(u"C:\\f\\a", bytes("contents-one"), ba));
    }
    Sid ba = *sid_from_string(sids::administrators);
};

const Change kChanges[] = {
    {"the contents written, same size", true, false,
     [](FingerprintTest& t, Machine&) {
         auto h = t.create(u"C:\\f\\a", OPEN_EXISTING);
         ASSERT_TRUE(h.has_value());
         t.write_all(*h, "contents-two");
     }},
    {"a file held open", true, false,
     [](FingerprintTest& t, Machine&) {
         auto h = t.open(u"C:\\f\\a");
         ASSERT_TRUE(h.has_value());
         t.held = std::move(*h);
     }},
    {"a file made and flushed", true, true,
     [](FingerprintTest& t, Machine&) {
         auto h = t.create(u"C:\\f\\b");
         ASSERT_TRUE(h.has_value());
         ASSERT_TRUE(t.os().files.flush_file_buffers(*h));
     }},
    {"the owner", true, true,
     [](FingerprintTest&, Machine& m) {
         ASSERT_TRUE(m.set_owner(u"C:\\f\\a", user_token().user));
     }},
    {"the clock", true, true,
     [](FingerprintTest&, Machine& m) { m.advance(std::chrono::seconds(1)); }},
    {"a process started", true, false,
     [](FingerprintTest&, Machine& m) { m.spawn_process(u"C:\\f\\a", user_token()); }},
    {"a fault armed", true, true,
     [](FingerprintTest&, Machine& m) {
         m.add_fault(FaultRule{{}, "write_file", 5, true});
     }},
    {"a power cut after an unflushed write", true, false,
     [](FingerprintTest& t, Machine& m) {
         auto h = t.create(u"C:\\f\\a", OPEN_EXISTING);
         ASSERT_TRUE(h.has_value());
         t.write_all(*h, "contents-two");
         h->reset();
         m.crash();
     }},
    // Handle values are never reused, so a handle opened and closed is a
    // change (though not to what a power cut keeps: every handle after it is
    // new); a call that opens nothing is not, though it is counted.
    {"a handle opened and closed", true, false,
     [](FingerprintTest& t, Machine&) { ASSERT_TRUE(t.open(u"C:\\f\\a").has_value()); }},
    {"a call that fails and the machine inspected", false, false,
     [](FingerprintTest& t, Machine& m) {
         EXPECT_FALSE(t.os().files.create_directory(u"C:\\f"));
         EXPECT_TRUE(m.read_file(u"C:\\f\\a").has_value());
         EXPECT_EQ(m.clone()->boundary_calls(), m.boundary_calls());
     }},
};

TEST_P(FingerprintTest, ChangesWithWhatALaterRunMeetsAndOnlyWithThat) {
    const Fingerprint before = machine->fingerprint();
    const Fingerprint crash_before = machine->crash_fingerprint();
    ASSERT_EQ(machine->clone()->fingerprint(), before);
    GetParam().act(*this, *machine);
    EXPECT_EQ(GetParam().changes, machine->fingerprint() != before);
    EXPECT_EQ(GetParam().crash_changes, machine->crash_fingerprint() != crash_before);
}

INSTANTIATE_TEST_SUITE_P(Changes, FingerprintTest, ::testing::ValuesIn(kChanges),
                         [](const auto& info) {
                             std::string name = info.param.what;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace holvar::sim::testing
