// Files held open by a second process: its share mode binds this one, the
// Restart Manager names it, and a running image cannot be written.
#include <optional>

#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;
using Mode = HelperSpec::Mode;
using std::chrono::seconds;

class HeldFiles : public Case {
  protected:
    void SetUp() override {
        Case::SetUp();
        held_ = at(u"held.dll");
        ASSERT_OK(make_file(held_, "held"));
        HelperSpec spec;
        spec.mode = Mode::file_holder;
        spec.file = held_;
        auto child = start_helper(spec);
        ASSERT_OK(child);
        holder_.emplace(std::move(*child));
        ASSERT_TRUE(wait_for_file(held_ + u".held", seconds(30)));
    }

    void TearDown() override {
        holder_.reset();
        Case::TearDown();
    }

    std::u16string held_;
    std::optional<Child> holder_;
};

// The holder reads and shares reading only.
TEST_F(HeldFiles, TheHoldersShareModeBindsThisProcess) {
    EXPECT_TRUE(open(held_, GENERIC_READ, FILE_SHARE_ALL).has_value());
    EXPECT_WIN32(open(held_, GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE),
                 win32::sharing_violation);
    EXPECT_WIN32(open(held_, GENERIC_WRITE, FILE_SHARE_ALL), win32::sharing_violation);
    EXPECT_WIN32(open(held_, DELETE, FILE_SHARE_ALL), win32::sharing_violation);
    EXPECT_TRUE(open(held_, FILE_READ_ATTRIBUTES, 0).has_value());
}

TEST_F(HeldFiles, AHeldFileCannotBeMovedOrReplaced) {
    const std::u16string moved = at(u"moved.dll");
    EXPECT_WIN32(files().move_file_ex(held_, &moved, 0), win32::sharing_violation);
    ASSERT_OK(make_file(at(u"new.dll"), "new"));
    EXPECT_WIN32(files().move_file_ex(at(u"new.dll"), &held_, MOVEFILE_REPLACE_EXISTING),
                 win32::access_denied);
}

TEST_F(HeldFiles, TheFileIsFreeOnceTheHolderEnds) {
    ASSERT_OK(os().processes.terminate_process(holder_->process(), 1));
    ASSERT_OK(holder_->wait_exit(30'000));
    EXPECT_TRUE(open(held_, GENERIC_WRITE | DELETE, 0).has_value());
}

TEST_F(HeldFiles, TheRestartManagerNamesTheHolder) {
    SKIP_ON_WINE(wine_gap::restart_manager);
    auto session = os().restart_manager.rm_start_session();
    ASSERT_OK(session);
    ASSERT_OK(os().restart_manager.rm_register_resources(*session, {held_}));
    RmList probe = os().restart_manager.rm_get_list(*session, 0);
    EXPECT_EQ(probe.status, win32::more_data);
    EXPECT_EQ(probe.proc_info_needed, 1u);
    RmList list = os().restart_manager.rm_get_list(*session, 4);
    EXPECT_EQ(list.status, 0u);
    ASSERT_EQ(list.records.size(), 1u);
    EXPECT_EQ(list.records[0].process_id, holder_->pid());
    EXPECT_NE(list.records[0].process_start_time, 0u);
    EXPECT_TRUE(os().restart_manager.rm_end_session(*session).has_value());
}

class RunningImage : public Case {};

// The helper runs from a copy in the work directory, which the case may rename.
TEST_F(RunningImage, CannotBeWrittenButCanBeRenamed) {
    HelperSpec spec;
    spec.mode = Mode::exit_code;
    spec.run_ms = 600'000;
    const std::u16string copy = at(u"copy.exe");
    auto child = start_helper_copy(spec, copy);
    ASSERT_OK(child);

    EXPECT_WIN32(open(copy, GENERIC_WRITE, FILE_SHARE_ALL), win32::sharing_violation);
    const std::u16string renamed = at(u"renamed.exe");
    ASSERT_OK(files().move_file_ex(copy, &renamed, 0));
    EXPECT_WIN32(open(renamed, GENERIC_WRITE, FILE_SHARE_ALL), win32::sharing_violation);

    ASSERT_OK(os().processes.terminate_process(child->process(), 1));
    ASSERT_OK(child->wait_exit(30'000));
    EXPECT_TRUE(open(renamed, GENERIC_WRITE, FILE_SHARE_ALL).has_value());
}

}  // namespace
}  // namespace holvar::conformance
