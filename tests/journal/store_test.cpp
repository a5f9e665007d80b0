// The journal on a simulated machine: appending marks, failures that must
// leave txn.json and the in-memory journal as they were, reading back, and
// which stage directories count as unfinished.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"
#include "platform/sim/sddl.hpp"
#include "reference_journals.hpp"
#include "txn/fs/protected_directory.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/journal/journal_store.hpp"

namespace holvar::txn::journal {
namespace {

using namespace testing;

const std::u16string stage = u"C:\\.Holvar-upgrade-0123456789abcdef0123456789abcdef";
const std::u16string txn_json = stage + u"\\journal\\txn.json";

platform::Sid admins() {
    return *platform::sid_from_string(platform::sids::administrators);
}

class JournalStore : public ::testing::Test {
  protected:
    JournalStore() : machine_(sim::Machine::fresh()) {
        // As a setup program makes it under a drive root: nobody else may change it.
        EXPECT_TRUE(
            machine_->make_directory_sddl(stage, std::u16string(fs::kProtectedDirectorySddl)));
        pid_ = machine_->spawn_process(stage + u"\\holvar-service-install.exe", sim::admin_token());
        process_ = std::make_unique<sim::ProcessOs>(*machine_, pid_);
    }

    platform::Os& os() { return process_->os(); }
    sim::Machine& machine() { return *machine_; }

    std::optional<std::string> file_text(const std::u16string& path) {
        auto bytes = machine_->read_file(path);
        if (!bytes) return std::nullopt;
        return std::string(bytes->begin(), bytes->end());
    }
    void put_file(const std::u16string& path, const std::string& text) {
        if (!machine_->exists(stage + u"\\journal")) {
            ASSERT_TRUE(machine_->make_directory(stage + u"\\journal", admins()));
        }
        ASSERT_TRUE(
            machine_->write_file(path, std::vector<uint8_t>(text.begin(), text.end()), admins()));
    }

    // An install journal for this stage directory, as planning creates it.
    static Journal planned_journal() {
        Journal j = upgrade_journal();
        j.stage.path = stage;
        j.marks.clear();
        return j;
    }

  private:
    std::unique_ptr<sim::Machine> machine_;
    uint32_t pid_ = 0;
    std::unique_ptr<sim::ProcessOs> process_;
};

TEST_F(JournalStore, WithoutJournalNothingIsWritten) {
    std::optional<Journal> slot;
    auto written = append_mark(os(), stage, slot, MarkKind::planned);
    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().has_text("missing journal"));
    EXPECT_FALSE(machine().exists(stage + u"\\journal"));
}

TEST_F(JournalStore, FirstMarkCreatesTheFileAndEachMarkRewritesIt) {
    std::optional<Journal> slot = planned_journal();
    ASSERT_TRUE(append_mark(os(), stage, slot, MarkKind::planned));
    EXPECT_EQ(file_text(txn_json), encode_journal(*slot).value());
    ASSERT_TRUE(append_mark(os(), stage, slot, Mark::root_created(FileId{7, 8})));
    ASSERT_TRUE(append_mark(os(), stage, slot, MarkKind::fenced));
    EXPECT_EQ(file_text(txn_json), encode_journal(*slot).value());
    EXPECT_FALSE(machine().exists(txn_json + u".tmp"));

    auto read = read_journal(os(), stage);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, *slot);
    EXPECT_EQ(read->marks.size(), 3u);
}

TEST_F(JournalStore, InvalidJournalIsNotWrittenAndTheMarkIsPopped) {
    std::optional<Journal> slot = planned_journal();
    ASSERT_TRUE(append_mark(os(), stage, slot, MarkKind::planned));
    std::string before = *file_text(txn_json);
    slot->options.purge_session_vault = true;  // only a removal may purge
    auto written = append_mark(os(), stage, slot, MarkKind::fenced);
    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().has_text("invalid journal"));
    EXPECT_EQ(slot->marks, std::vector<Mark>{MarkKind::planned});
    EXPECT_EQ(file_text(txn_json), before);
}

struct Failure {
    const char* call;
    uint32_t win32;
};

// The disk fills up, or the volume fails, at each step of the write: the
// previous txn.json stays byte for byte, and memory agrees with it.
const Failure failures[] = {
    {"write_file", 112},                                      // ERROR_DISK_FULL
    {"write_file", 39},                                       // ERROR_HANDLE_DISK_FULL
    {"flush_file_buffers", 112}, {"flush_file_buffers", 29},  // ERROR_WRITE_FAULT
    {"create_file", 112},        {"move_file_ex", 5},
    {"get_security_info", 5},  // the journal folder's trust check
};

class AppendFailure : public JournalStore, public ::testing::WithParamInterface<Failure> {};

TEST_P(AppendFailure, LeavesFileAndMarksUnchanged) {
    std::optional<Journal> slot = planned_journal();
    ASSERT_TRUE(append_mark(os(), stage, slot, MarkKind::planned));
    ASSERT_TRUE(append_mark(os(), stage, slot, MarkKind::fenced));
    std::string before = *file_text(txn_json);
    std::vector<Mark> marks_before = slot->marks;

    machine().add_fault(sim::FaultRule{std::nullopt, GetParam().call, GetParam().win32, false});
    auto written = append_mark(os(), stage, slot, MarkKind::placing);
    machine().clear_faults();

    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().is_win32(GetParam().win32)) << written.error().win32;
    EXPECT_EQ(slot->marks, marks_before);
    EXPECT_EQ(file_text(txn_json), before);
    auto read = read_journal(os(), stage);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, *slot);

    // The next write succeeds over whatever the failed one left behind.
    ASSERT_TRUE(append_mark(os(), stage, slot, MarkKind::placing));
    EXPECT_EQ(read_journal(os(), stage).value(), *slot);
}

INSTANTIATE_TEST_SUITE_P(Faults, AppendFailure, ::testing::ValuesIn(failures),
                         [](const auto& info) {
                             return std::string(info.param.call) + "_" +
                                    std::to_string(info.param.win32);
                         });

TEST_F(JournalStore, ReadErrorsAreTold) {
    auto missing = read_journal(os(), stage);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is_not_found());

    put_file(txn_json, removal_text.substr(0, 100));
    auto corrupt = read_journal(os(), stage);
    ASSERT_FALSE(corrupt);
    EXPECT_EQ(corrupt.error().kind, JournalReadError::Kind::corrupt);

    std::string v2 = removal_text;
    v2.replace(v2.find("\"format\":1"), 10, "\"format\":2");
    put_file(txn_json, v2);
    auto unsupported = read_journal(os(), stage);
    ASSERT_FALSE(unsupported);
    EXPECT_EQ(unsupported.error().kind, JournalReadError::Kind::unsupported);
}

std::string with_marks(const std::string& text, const std::string& marks) {
    size_t at = text.rfind("\"marks\":[");
    return text.substr(0, at) + "\"marks\":[" + marks + "]}";
}

struct UnfinishedCase {
    const char* name;
    std::optional<std::string> text;  // none: no txn.json at all
    bool unfinished;
};

std::vector<UnfinishedCase> unfinished_cases() {
    const std::string& up = upgrade_text;
    const std::string& rm = removal_text;
    return {
        {"no_file", std::nullopt, false},
        {"empty_file", "", true},
        {"truncated_file", up.substr(0, up.size() - 3), true},
        {"format_2",
         [&] {
             std::string t = up;
             t.replace(t.find("\"format\":1"), 10, "\"format\":2");
             return t;
         }(),
         true},
        {"install_planned_only", with_marks(up, R"("planned")"), true},
        {"install_committed_not_finalized",
         with_marks(up, R"("planned","placing","committed","finalizing")"), true},
        {"install_finalized", with_marks(up, R"("planned","committed","finalizing","finalized")"),
         false},
        {"install_last_mark_rolled_back",
         with_marks(up, R"("planned","placing","rolling_back","rolled_back")"), false},
        {"install_rolling_back", with_marks(up, R"("planned","placing","rolling_back")"), true},
        {"install_aborted_is_not_an_end", with_marks(up, R"("planned","aborted")"), true},
        {"removal_root_done_without_finalized",
         with_marks(rm, R"("planned","service_deleted","tree_done","root_done")"), true},
        {"removal_finalized", with_marks(rm, R"("planned","root_done","finalized")"), false},
        {"removal_aborted", with_marks(rm, R"("planned","aborted")"), false},
        {"removal_rolled_back_is_not_an_end", with_marks(rm, R"("planned","rolled_back")"), true},
    };
}

class Unfinished : public JournalStore, public ::testing::WithParamInterface<UnfinishedCase> {};

TEST_P(Unfinished, FollowsTheJournal) {
    if (GetParam().text) put_file(txn_json, *GetParam().text);
    EXPECT_EQ(journal_is_unfinished(os(), stage), GetParam().unfinished);
}

INSTANTIATE_TEST_SUITE_P(Rows, Unfinished, ::testing::ValuesIn(unfinished_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A journal is instructions: one that anybody but the system and the
// administrators could have written is never read as one, and never written
// through a link.
struct UntrustedCase {
    const char* name;
    std::function<void(sim::Machine&)> plant;
    std::u16string_view object;  // what the read names
};

std::vector<UntrustedCase> untrusted_cases() {
    const std::u16string folder = stage + u"\\journal";
    const auto users_may_change = [](sim::Machine& m, const std::u16string& path) {
        auto parts = sim::parse_sddl(u"D:P(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)");
        ASSERT_TRUE(parts && parts->dacl);
        ASSERT_TRUE(m.set_dacl(path, *parts->dacl, true));
    };
    return {
        {"folder_users_may_change", [=](sim::Machine& m) { users_may_change(m, folder); },
         kJournalFolderRel},
        {"folder_is_a_junction",
         [=](sim::Machine& m) {
             ASSERT_TRUE(m.remove(txn_json));
             ASSERT_TRUE(m.remove(folder));
             ASSERT_TRUE(m.make_directory(u"C:\\elsewhere", admins()));
             ASSERT_TRUE(m.make_junction(folder, u"C:\\elsewhere", admins()));
         },
         kJournalFolderRel},
        {"file_users_may_change", [=](sim::Machine& m) { users_may_change(m, txn_json); },
         kJournalFileRel},
        {"file_with_a_second_name",
         [](sim::Machine& m) { ASSERT_TRUE(m.make_hard_link(u"C:\\copy.json", txn_json)); },
         kJournalFileRel},
    };
}

class UntrustedJournal : public JournalStore,
                         public ::testing::WithParamInterface<UntrustedCase> {};

TEST_P(UntrustedJournal, IsNeverReadNorWrittenThrough) {
    std::optional<Journal> slot = planned_journal();
    ASSERT_TRUE(append_mark(os(), stage, slot, MarkKind::planned));
    GetParam().plant(machine());
    auto read = read_journal(os(), stage);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, JournalReadError::Kind::untrusted);
    EXPECT_EQ(read.error().object, GetParam().object);
    EXPECT_TRUE(journal_is_unfinished(os(), stage));
    if (GetParam().object == kJournalFolderRel) {
        EXPECT_FALSE(append_mark(os(), stage, slot, MarkKind::fenced));
        EXPECT_FALSE(machine().exists(u"C:\\elsewhere\\txn.json"));
        EXPECT_FALSE(machine().exists(u"C:\\elsewhere\\txn.json.tmp"));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, UntrustedJournal, ::testing::ValuesIn(untrusted_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JournalStore, NoJournalFolderIsFinished) {
    EXPECT_FALSE(journal_is_unfinished(os(), stage));
    EXPECT_FALSE(journal_is_unfinished(os(), u"C:\\no-such-stage"));
}

TEST_F(JournalStore, UnreadableJournalIsUnfinished) {
    // A directory where the file should be cannot be read.
    ASSERT_TRUE(machine().make_directory(stage + u"\\journal", admins()));
    ASSERT_TRUE(machine().make_directory(txn_json, admins()));
    EXPECT_TRUE(journal_is_unfinished(os(), stage));
}

TEST_F(JournalStore, JournalLockedByAnotherProcessIsUnfinished) {
    put_file(txn_json, with_marks(upgrade_text, R"("planned","finalized")"));
    EXPECT_FALSE(journal_is_unfinished(os(), stage));
    uint32_t other =
        machine().spawn_process(u"C:\\Windows\\System32\\other.exe", sim::admin_token());
    sim::ProcessOs holder(machine(), other);
    auto h = holder.os().files.create_file(txn_json, platform::GENERIC_READ, 0,
                                           platform::OPEN_EXISTING, 0);
    ASSERT_TRUE(h);
    EXPECT_TRUE(journal_is_unfinished(os(), stage));
}

TEST_F(JournalStore, LinkNamedTxnJsonIsNotFollowed) {
    // A finished journal elsewhere, reached through a symbolic link, must not
    // make this stage directory look finished.
    ASSERT_TRUE(machine().make_directory(u"C:\\elsewhere", admins()));
    std::string done = with_marks(upgrade_text, R"("planned","finalized")");
    ASSERT_TRUE(machine().write_file(u"C:\\elsewhere\\txn.json",
                                     std::vector<uint8_t>(done.begin(), done.end()), admins()));
    ASSERT_TRUE(machine().make_directory(stage + u"\\journal", admins()));
    ASSERT_TRUE(machine().make_symlink(txn_json, u"C:\\elsewhere\\txn.json", admins()));
    EXPECT_TRUE(journal_is_unfinished(os(), stage));
}

}  // namespace
}  // namespace holvar::txn::journal
