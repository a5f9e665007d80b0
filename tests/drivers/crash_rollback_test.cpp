// A power cut at any mutating call of an upgrade that fails (and rolls itself
// back), followed by the rollback run again from the journal alone, as a
// recovery runs it: the machine ends with the old installation, running.
#include <gtest/gtest.h>

#include "install_machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/unicode.hpp"
#include "txn/drivers/context.hpp"
#include "txn/drivers/rollback.hpp"
#include "txn/journal/journal_store.hpp"

namespace holvar::drivers::testing {
namespace {

namespace p = platform;

const std::string kBrokenService =
    service_text("broken", R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})");

struct Failure {
    const char* name;
    bool upgrade;  // over v1, else a fresh install (whose rollback deletes the root it made)
};

// A fresh install from a payload without the uninstaller: once a rollback
// has undone every operation, nothing on disk says that anything was placed.
const Failure kFailures[] = {{"upgrade", true}, {"fresh_install_without_uninstaller", false}};

void PrintTo(const Failure& row, std::ostream* os) {
    *os << row.name;
}

struct Base {
    InstallMachine m;
    MachineView before;
    uint64_t start = 0;
    explicit Base(const Failure& f) {
        if (f.upgrade) m.install(kTx1, runtime_v1());
        m.stage(kTx2, f.upgrade ? runtime_v2(kBrokenService)
                                : without_file(runtime_v2(kBrokenService), u"uninstall.exe"));
        before = m.view();
        start = m.machine->mutating_calls();
    }
};

// The rollback as a later run performs it: a new engine process, the context
// built afresh, the journal read from the stage.
std::optional<txn::outcome::Fault> roll_back_from_journal(InstallMachine& m) {
    uint32_t pid = m.machine->spawn_process(stage_dir(kTx2) + u"\\holvar-service-install.exe",
                                            sim::admin_token());
    sim::ProcessOs process(*m.machine, pid);
    auto ctx = txn::drivers::build_context(process.os(), kRoot, stage_dir(kTx2));
    EXPECT_TRUE(ctx);
    auto journal = txn::journal::read_journal(process.os(), stage_dir(kTx2));
    EXPECT_TRUE(journal);
    if (!ctx || !journal) return std::nullopt;
    ctx->journal = std::move(*journal);
    return txn::drivers::rollback(process.os(), *ctx);
}

class CrashRollback : public ::testing::TestWithParam<Failure> {};

TEST_P(CrashRollback, EveryCrashOfAFailedInstallEndsInTheOldInstallation) {
    uint64_t clean_calls = 0;
    {
        Base base(GetParam());
        ASSERT_EQ(base.m.run(kTx2), 10);
        clean_calls = base.m.machine->mutating_calls() - base.start;
    }
    ASSERT_GT(clean_calls, 20u);
    int rolled_back = 0;
    for (uint64_t k = 1; k <= clean_calls; ++k) {
        SCOPED_TRACE("crash after mutating call " + std::to_string(k));
        Base base(GetParam());
        InstallMachine& m = base.m;
        m.machine->arm_crash_after(k);
        bool crashed = false;
        try {
            m.run(kTx2);
        } catch (const sim::CrashInjected&) {
            crashed = true;
        }
        ASSERT_TRUE(crashed);
        m.machine->crash();
        auto journal = m.journal(kTx2);
        if (journal && !journal->marks.empty() && !journal->has_ended()) {
            auto failed = roll_back_from_journal(m);
            ASSERT_FALSE(failed) << "rollback failed: phase " << int(failed->phase) << " reason "
                                 << int(failed->reason) << " rel "
                                 << p::utf16_to_utf8_lossy(failed->rel.value_or(u""));
            ++rolled_back;
        }
        MachineView after = m.view();
        EXPECT_EQ(after.tree, base.before.tree);
        EXPECT_EQ(m.machine->exists(kRoot), GetParam().upgrade);
        if (journal && !journal->marks.empty()) {
            // The old service is configured as before, and runs again once a
            // rollback has finished (a crash leaves every process ended).
            EXPECT_EQ(after.service, base.before.service);
        }
        // The setup program retries from the same stage. Once a run has
        // planned from it, the retry is refused and changes nothing; before
        // that, it is a whole new attempt, which fails and rolls back again.
        const bool unplanned = !journal && m.machine->exists(stage_dir(kTx2) + u"\\payload");
        EXPECT_EQ(m.run(kTx2), unplanned ? 10 : 11) << m.report(kTx2).value_or("no report");
        EXPECT_EQ(m.view().tree, base.before.tree);
    }
    EXPECT_GT(rolled_back, 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, CrashRollback, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace holvar::drivers::testing
