#include "explore_checks.hpp"

#include "txn/outcome/outcome.hpp"

namespace holvar::simtool {

Expect expectation(const std::string& outcome) {
    if (outcome == "committed" || outcome == "repaired" || outcome == "removed" ||
        outcome == "removed_reboot_pending")
        return Expect::new_state;
    if (outcome == "nothing_to_recover") return Expect::either;
    if (outcome == "committed_finalize_pending" || outcome == "recovery_pending" ||
        outcome == "remove_incomplete")
        return Expect::pending;
    return Expect::old_state;
}

std::string outcome_of_code(int code) {
    if (auto kind = txn::outcome::outcome_of_exit_code(code))
        return std::string(txn::outcome::outcome_name(*kind));
    return "unknown exit code " + std::to_string(code);
}

bool pending(int code) {
    return code == 5 || code == 20 || code == 32;
}

void EndChecks::check_end(sim::Machine& m, int code, const std::string& command,
                          const std::string& where, const std::string& call, bool report_required) {
    ++r_.states;
    std::string outcome = outcome_of(m, code, command, where, call, report_required);
    if (pending(code)) {
        // The setup program runs --recover, which must bring it to an end.
        EngineRun later = run_engine_from_stage(m, s_.txn, recover_args(s_.txn));
        settle(m);
        outcome = outcome_of(m, later.exit_code, "recover", where, call, true);
        if (pending(later.exit_code)) {
            violation(where, call, "still " + outcome + " after a later --recover", &m);
            ++r_.outcomes[outcome];
            return;
        }
        code = later.exit_code;
    }
    ++r_.outcomes[outcome];
    const std::string state = state_of(m);
    const Expect expect = expectation(outcome);
    if (state.empty()) {
        violation(
            where, call,
            "ended " + outcome + " with the machine neither the old installation nor the new one",
            &m);
        return;
    }
    if ((expect == Expect::old_state && state != "old") ||
        (expect == Expect::new_state && state != "new")) {
        violation(where, call,
                  "reported " + outcome + " but the machine is the " + state + " installation", &m);
        return;
    }
    JournalReading j = read_journal(m, s_.txn);
    if (j.present && (j.corrupt || !j.journal->has_ended())) {
        violation(where, call, "ended " + outcome + " with the journal unfinished", &m);
        return;
    }
    const MachineView settled = view_of(m, s_.txn.root);
    EngineRun second = run_engine_from_stage(m, s_.txn, recover_args(s_.txn));
    settle(m);
    if (second.exit_code != 15)
        violation(where, call, "a second --recover ended " + outcome_of_code(second.exit_code), &m);
    else if (view_of(m, s_.txn.root) != settled)
        violation(where, call, "a second --recover changed the machine", &m);
}

std::string EndChecks::outcome_of(const sim::Machine& m, int code, const std::string& command,
                                  const std::string& where, const std::string& call,
                                  bool report_required) {
    ReportReading report = read_report(m, s_.txn, command, code);
    if (report.problem.empty()) return report.outcome;
    if (report_required || !report.outcome.empty()) violation(where, call, report.problem, &m);
    return outcome_of_code(code);
}

std::string EndChecks::state_of(const sim::Machine& m) {
    const MachineView now = view_of(m, s_.txn.root);
    if (now == old_) return "old";
    if (!s_.txn.removal) return now == new_ ? "new" : "";
    return view_after_restart(m) == new_ ? "new" : "";
}

MachineView EndChecks::view_after_restart(const sim::Machine& m) {
    auto restarted = m.clone();
    restarted->reboot();
    settle(*restarted);
    return view_of(*restarted, s_.txn.root);
}

bool EndChecks::enough() const {
    return o_.stop_after_violations != 0 && r_.violation_count >= o_.stop_after_violations;
}

void EndChecks::violation(const std::string& where, const std::string& call,
                          const std::string& what, const sim::Machine* m) {
    ++r_.violation_count;
    if (r_.violations.size() >= o_.violations_kept) return;
    Violation v{where, call, what, {}, {}};
    if (m) {
        const MachineView now = view_of(*m, s_.txn.root);
        v.diff_old = view_diff(old_, now);
        v.diff_new = view_diff(new_, s_.txn.removal ? view_after_restart(*m) : now);
    }
    r_.violations.push_back(std::move(v));
}

}  // namespace holvar::simtool
