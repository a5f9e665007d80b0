// The setup program tries again: whatever the first run left (its outcome,
// or a power cut and a restart), it runs the same command from the same
// stage, then from a new one. A stage is used once: the first retry must be
// refused, or end pending and be brought to an end by --recover; the second
// must install (or remove) as a first run would.
#include <chrono>

#include "explore_checks.hpp"
#include "explore_walks.hpp"

namespace holvar::simtool {
namespace {

const std::string kRetryTxid = "d5d5d5d5d5d5d5d5d5d5d5d5d5d5d5d5";

class RetryWalk : EndChecks {
  public:
    RetryWalk(const Scenario& s, const ExploreOptions& o) : EndChecks(s, o), rng_(o.seed) {
        r_.scenario = s.name;
        ids_ignored_ = true;
    }

    ExploreResult run() {
        if (!learn_clean_run(&call_names_)) return r_;
        learn_installation_once_free();
        {
            auto m = s_.base->clone();
            (void)run_engine_from_stage(*m, s_.txn, s_.txn.args);
            settle(*m);
            retry(*m, "the clean run");
        }
        if (o_.crashes) {
            for (uint64_t k : sample_points(r_.clean_mutating_calls, o_.crash_points, rng_)) {
                if (enough()) return r_;
                std::string crash_call;
                auto m = restarted_crash_image(k, crash_call);
                if (m)
                    retry(*m, "a power cut at mutating call " + std::to_string(k) + " (" +
                                  crash_call + ")");
            }
        }
        if (o_.faults) fault_runs();
        return r_;
    }

  private:
    // A clean run that does not commit (a file held for a while) leaves the
    // new installation unknown, yet a retry may commit once the obstacle is
    // gone: the new installation is then what the run makes a minute later.
    void learn_installation_once_free() {
        if (!(new_ == old_)) return;
        auto m = s_.base->clone();
        m->advance(std::chrono::minutes(1));
        EngineRun run = run_engine_from_stage(*m, s_.txn, s_.txn.args);
        settle(*m);
        const ReportReading report = read_report(*m, s_.txn, s_.txn.command, run.exit_code);
        if (report.problem.empty() && expectation(report.outcome) == Expect::new_state)
            new_ = s_.txn.removal ? view_after_restart(*m) : view(*m);
    }

    // Each call of the clean run failed with a full disk, once and for good:
    // the first runs that roll back, are refused or end recovery_pending.
    void fault_runs() {
        const uint64_t first = s_.base->failable_calls();
        for (uint64_t i : sample_points(call_names_.size(), o_.fault_points, rng_)) {
            for (bool once : {true, false}) {
                if (enough()) return;
                ++r_.failed_calls;
                auto m = s_.base->clone();
                m->add_fault(sim::FaultRule{first + i, call_names_[i - 1], 112, once});
                (void)run_engine_from_stage(*m, s_.txn, s_.txn.args);
                m->clear_faults();
                settle(*m);
                retry(*m, "call " + std::to_string(i) + " (" + call_names_[i - 1] +
                              ") failed with 112" + (once ? " once" : " from then on"));
            }
        }
    }

    void retry(sim::Machine& m, const std::string& first) {
        // A run that changes nothing leaves the installation the retry found;
        // after a power cut that may be neither, and the retry must not
        // leave it so.
        txn_ = nullptr;
        kept_ = state_of(m);
        const std::string where = first + ", then " + s_.txn.command + " from the same stage";
        EngineRun same = run_engine_from_stage(m, s_.txn, s_.txn.args);
        settle(m);
        const uint64_t before = r_.violation_count;
        check_end(m, same.exit_code, s_.txn.command, where, "", true);
        if (r_.violation_count != before) return;

        // The setup program stages anew: the same payload, another txid.
        auto staged = stage_transaction(m, s_.txn.root, kRetryTxid, s_.payload);
        if (!staged) {
            violation(where, "", "staging again failed: " + staged.error().message, &m);
            return;
        }
        Transaction again = s_.txn;
        again.txid = kRetryTxid;
        again.stage = *staged;
        txn_ = &again;
        kept_ = state_of(m);
        EngineRun fresh = run_engine_from_stage(m, again, again.args);
        settle(m);
        check_end(m, fresh.exit_code, again.command, where + ", then from a new stage", "", true);
        txn_ = nullptr;
    }

    std::mt19937_64 rng_;
    std::vector<std::string> call_names_;
};

}  // namespace

ExploreResult explore_retries(const Scenario& scenario, const ExploreOptions& options) {
    return RetryWalk(scenario, options).run();
}

}  // namespace holvar::simtool
