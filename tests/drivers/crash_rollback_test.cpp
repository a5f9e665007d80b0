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

struct Base {
    InstallMachine m;
    MachineView before;
    uint64_t start = 0;
    Base() {
        m.install(kTx1, runtime_v1());
        m.stage(kTx2, runtime_v2(kBrokenService));
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

TEST(CrashRollback, EveryCrashOfAFailedUpgradeEndsInTheOldInstallation) {
    uint64_t clean_calls = 0;
    {
        Base base;
        ASSERT_EQ(base.m.run(kTx2), 10);
        clean_calls = base.m.machine->mutating_calls() - base.start;
    }
    ASSERT_GT(clean_calls, 20u);
    int rolled_back = 0;
    for (uint64_t k = 1; k <= clean_calls; ++k) {
        SCOPED_TRACE("crash after mutating call " + std::to_string(k));
        Base base;
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
        if (journal && !journal->marks.empty()) {
            // The old service is configured as before, and runs again once a
            // rollback has finished (a crash leaves every process ended).
            EXPECT_EQ(after.service, base.before.service);
        }
    }
    EXPECT_GT(rolled_back, 0);
}

}  // namespace
}  // namespace holvar::drivers::testing
