// The machine file: a round trip keeps everything a later run depends on, and
// a damaged file is refused without throwing.
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

class PersistenceTest : public SimTest {
  protected:
    // One file per test: ctest runs the tests of this suite in parallel.
    std::filesystem::path file =
        std::filesystem::path(::testing::TempDir()) /
        (std::string("machine-test-") +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
    void TearDown() override { std::filesystem::remove(file); }
};

TEST_F(PersistenceTest, RoundTripKeepsFilesProcessesAndHeldMutexes) {
    Sid ba = *sid_from_string(sids::administrators);
    ASSERT_TRUE(machine->make_directory(u"C:\\p", ba));
    ASSERT_TRUE(machine->write_file(u"C:\\p\\bin", std::vector<uint8_t>{0, 1, 2, 255, 254}, ba));
    ASSERT_TRUE(machine->make_hard_link(u"C:\\p\\bin2", u"C:\\p\\bin"));
    ASSERT_TRUE(machine->make_junction(u"C:\\p\\jn", u"C:\\Windows", user_token().user));
    std::u16string odd = u"C:\\p\\x";
    odd.push_back(char16_t(0xD800));  // an unpaired surrogate is a valid NTFS name
    ASSERT_TRUE(machine->write_file(odd, bytes("odd"), ba));
    auto holder = spawn(admin_token());
    auto m = holder->os().sync.create_mutex(u"Global\\L", true);
    ASSERT_TRUE(m.has_value());
    machine->advance(std::chrono::seconds(7));
    ASSERT_TRUE(machine->save(file));

    auto loaded = Machine::load(file);
    ASSERT_TRUE(loaded.has_value());
    Machine& again = **loaded;
    EXPECT_EQ(again.to_json(), machine->to_json());
    EXPECT_EQ(text(*again.read_file(u"C:\\p\\bin2")), text({0, 1, 2, 255, 254}));
    EXPECT_EQ(again.stat(u"C:\\p\\bin")->link_count, 2u);
    EXPECT_EQ(again.stat(u"C:\\p\\jn")->kind, NodeKind::junction);
    EXPECT_EQ(again.stat(u"C:\\p\\jn")->owner, user_token().user);
    EXPECT_TRUE(again.exists(odd));
    EXPECT_EQ(again.now(), machine->now());
    EXPECT_TRUE(again.process_alive(holder->pid()));
    // The mutex is still held by that process in the loaded machine.
    uint32_t pid = again.spawn_process(u"C:\\e.exe", admin_token());
    ProcessOs other(again, pid);
    auto mine = other.os().sync.create_mutex(u"Global\\L", false);
    ASSERT_TRUE(mine.has_value());
    EXPECT_TRUE(mine->already_existed);
    EXPECT_EQ(*other.os().sync.wait_for_single_object(mine->handle, 0), WAIT_TIMEOUT);
    again.exit_process(holder->pid(), 1);
    EXPECT_EQ(*other.os().sync.wait_for_single_object(mine->handle, 0), WAIT_ABANDONED);
}

TEST_F(PersistenceTest, DamagedFilesAreRefused) {
    std::string good = machine->to_json();
    auto replace = [&](std::string from, std::string to) {
        std::string s = good;
        auto at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) s.replace(at, from.size(), to);
        return s;
    };
    const std::string damaged[] = {
        "",
        "{",
        "[]",
        good.substr(0, good.size() / 2),
        replace("holvar-sim-machine/1", "other/9"),
        replace("\"links\"", "\"linkz\""),
        replace("\"owner\":\"S-1-5-18\"", "\"owner\":\"nobody\""),
        replace("\"root\":1", "\"root\":999"),
        replace("\"kind\":1", "\"kind\":17"),
        replace("\"next_node\"", "\"next_nodes\""),
    };
    for (const std::string& text : damaged) {
        auto m = Machine::from_json(text);
        EXPECT_FALSE(m.has_value()) << text.substr(0, 80);
    }
    EXPECT_FALSE(Machine::load(file).has_value());  // missing
    std::ofstream(file) << "not json";
    auto bad = Machine::load(file);
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().kind, ErrorKind::invalid_data);
}

TEST_F(PersistenceTest, ADirectoryThatIsItsOwnAncestorIsRefused) {
    Sid ba = *sid_from_string(sids::administrators);
    ASSERT_TRUE(machine->make_directory(u"C:\\a", ba));
    ASSERT_TRUE(machine->make_directory(u"C:\\a\\b", ba));
    auto j = nlohmann::json::parse(machine->to_json());
    uint64_t b_id = 0;
    for (const auto& n : j["nodes"])
        if (!n["links"].empty() && n["links"][0][1] == "b") b_id = n["id"];
    ASSERT_NE(b_id, 0u);
    for (auto& n : j["nodes"])
        if (!n["links"].empty() && n["links"][0][1] == "a") n["links"][0][0] = b_id;
    EXPECT_FALSE(Machine::from_json(j.dump()).has_value());
}

}  // namespace
}  // namespace holvar::sim::testing
