// The processes holding a file, as the Restart Manager reports them.
#include <gtest/gtest.h>

#include <functional>

#include "quiesce/process_fixture.hpp"
#include "txn/quiesce/holders.hpp"

namespace holvar::testing {
namespace {

constexpr char16_t kFile[] = u"C:\\Program Files\\Holvar\\data.bin";

class Holders : public ::testing::Test, public ProcessHost {
  protected:
    Holders() { write(kFile, {1, 2, 3}); }
    // A process of the machine that keeps the file open.
    uint32_t hold(const std::u16string& image) {
        uint32_t pid = machine().spawn_process(image, sim::user_token());
        holders_.push_back(std::make_unique<sim::ProcessOs>(machine(), pid));
        auto h = holders_.back()->os().files.create_file(
            kFile, platform::FILE_READ_DATA, platform::FILE_SHARE_READ, platform::OPEN_EXISTING, 0);
        EXPECT_TRUE(h);
        if (h) handles_.push_back(std::move(*h));
        return pid;
    }
    std::vector<std::unique_ptr<sim::ProcessOs>> holders_;
    std::vector<platform::Handle> handles_;
};

TEST_F(Holders, NoHolderIsAnEmptyList) {
    auto list = txn::quiesce::list_file_holders(os(), kFile);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
}

TEST_F(Holders, EveryHolderIsListedByPidAndImageName) {
    const uint32_t a = hold(u"C:\\Work\\editor.exe");
    const uint32_t b = hold(u"C:\\Work\\backup/agent.exe");
    auto list = txn::quiesce::list_file_holders(os(), kFile);
    ASSERT_TRUE(list);
    std::vector<txn::outcome::ProcessEntry> expected{{a, u"editor.exe"}, {b, u"agent.exe"}};
    EXPECT_EQ(*list, expected);
}

TEST_F(Holders, ARunningImageIsHeldByItsProcess) {
    write_program(kCompanion, R"({"kind":"companion"})");
    const uint32_t pid = start(kCompanion);
    auto list = txn::quiesce::list_file_holders(os(), kCompanion);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0], (txn::outcome::ProcessEntry{pid, u"holvar-mihomo.exe"}));
}

TEST_F(Holders, AnImageNameThatIsNotValidUtf16IsReplaced) {
    std::u16string image = u"C:\\Work\\bad";
    image.push_back(char16_t(0xD800));
    image += u"name.exe";
    const uint32_t pid = hold(image);
    auto list = txn::quiesce::list_file_holders(os(), kFile);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0].pid, pid);
    EXPECT_EQ((*list)[0].image, u"bad\uFFFDname.exe");
}

TEST_F(Holders, AHolderThatIsGoneBeforeItsImageIsReadFailsTheWholeQuery) {
    hold(u"C:\\Work\\one.exe");
    hold(u"C:\\Work\\two.exe");
    // The second holder exits between the list and its open: OpenProcess
    // answers ERROR_INVALID_PARAMETER for a process that is no more.
    machine().add_fault({std::nullopt, "open_process", 87, true});
    auto list = txn::quiesce::list_file_holders(os(), kFile);
    ASSERT_FALSE(list);
    EXPECT_TRUE(list.error().is_win32(87));
    EXPECT_EQ(engine_handles(), 0u);
}

TEST_F(Holders, AHolderThatExitedIsNoLongerListed) {
    const uint32_t pid = hold(u"C:\\Work\\one.exe");
    machine().exit_process(pid, 0);
    auto list = txn::quiesce::list_file_holders(os(), kFile);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
}

TEST_F(Holders, FailuresOfTheRestartManagerAreItsCodes) {
    struct Row {
        const char* call;
        uint32_t code;
    };
    const Row rows[] = {{"rm_start_session", 353},
                        {"rm_register_resources", 5},
                        {"rm_get_list", 29},
                        {"rm_end_session", 6}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call);
        machine().add_fault({std::nullopt, row.call, row.code, true});
        auto list = txn::quiesce::list_file_holders(os(), kFile);
        ASSERT_FALSE(list);
        EXPECT_TRUE(list.error().is_win32(row.code));
    }
}

// The machine's Restart Manager, with processes that open the file between
// the call that sizes the list and the call that fills it.
class GrowingList : public platform::RestartManager {
  public:
    GrowingList(platform::RestartManager& rm, std::function<void()> grow, int growths)
        : rm_(rm), grow_(std::move(grow)), growths_(growths) {}
    platform::Result<uint32_t> rm_start_session() override { return rm_.rm_start_session(); }
    platform::Status rm_register_resources(uint32_t session,
                                           const std::vector<std::u16string>& files) override {
        return rm_.rm_register_resources(session, files);
    }
    platform::RmList rm_get_list(uint32_t session, uint32_t capacity) override {
        if (capacity > 0 && growths_ > 0) {
            --growths_;
            grow_();
        }
        return rm_.rm_get_list(session, capacity);
    }
    platform::Status rm_end_session(uint32_t session) override {
        return rm_.rm_end_session(session);
    }

  private:
    platform::RestartManager& rm_;
    std::function<void()> grow_;
    int growths_;
};

TEST_F(Holders, AListThatGrowsWhileItIsReadIsAskedForAgain) {
    struct Row {
        int growths;
        bool listed;  // else ERROR_MORE_DATA
    };
    for (const Row& row : {Row{1, true}, Row{7, true}, Row{8, false}}) {
        SCOPED_TRACE(row.growths);
        handles_.clear();  // before the processes whose handles they are
        holders_.clear();
        hold(u"C:\\Work\\first.exe");
        int made = 0;
        GrowingList growing(
            os().restart_manager,
            [&] {
                hold(u"C:\\Work\\late" + std::u16string(1, static_cast<char16_t>(u'a' + made++)) +
                     u".exe");
            },
            row.growths);
        platform::Os& o = os();
        platform::Os wrapped{o.files,    o.security, o.sync,  o.clock, o.processes,
                             o.services, o.registry, growing, o.pipes};
        auto list = txn::quiesce::list_file_holders(wrapped, kFile);
        if (!row.listed) {
            ASSERT_FALSE(list);
            EXPECT_TRUE(list.error().is_win32(platform::win32::more_data));
            continue;
        }
        ASSERT_TRUE(list);
        EXPECT_EQ(list->size(), static_cast<size_t>(1 + row.growths));
    }
}

TEST_F(Holders, APathWithANulIsRefusedBeforeASessionStarts) {
    const uint64_t calls = machine().boundary_calls();
    auto list = txn::quiesce::list_file_holders(os(), std::u16string(u"C:\\a\0b", 6));
    ASSERT_FALSE(list);
    EXPECT_TRUE(list.error().is_win32(87));
    EXPECT_EQ(machine().boundary_calls(), calls);
}

}  // namespace
}  // namespace holvar::testing
