#include "explore_checks.hpp"

#include <set>

#include "platform/win_path.hpp"
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

MachineView without_ids(MachineView view) {
    for (auto& [rel, line] : view.tree) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const size_t end = line.find(' ', space + 1);
        line = line.substr(0, space) + (end == std::string::npos ? "" : line.substr(end));
    }
    return view;
}

std::vector<uint64_t> sample_points(uint64_t n, size_t budget, std::mt19937_64& rng) {
    std::vector<uint64_t> out;
    if (budget == 0 || n <= budget) {
        for (uint64_t i = 1; i <= n; ++i) out.push_back(i);
        return out;
    }
    std::set<uint64_t> picked{1, n};
    while (picked.size() < budget) picked.insert(1 + rng() % n);
    return {picked.begin(), picked.end()};
}

std::unique_ptr<sim::Machine> EndChecks::restarted_crash_image(uint64_t k, std::string& call) {
    auto m = s_.base->clone();
    m->arm_crash_after(k);
    EngineRun run = run_engine_from_stage(*m, s_.txn, s_.txn.args);
    if (!run.crashed) return nullptr;
    ++r_.crash_images;
    call = run.crash_call;
    m->crash();
    if (s_.reboot_after_crash) m->reboot();
    settle(*m);
    return m;
}

bool EndChecks::learn_clean_run(std::vector<std::string>* call_names, CleanEnd* end) {
    old_ = view(*s_.base);
    auto m = s_.base->clone();
    const uint64_t mutating = m->mutating_calls();
    std::vector<std::string> names;
    m->record_call_names(call_names ? call_names : &names);
    EngineRun run = run_engine_from_stage(*m, s_.txn, s_.txn.args);
    m->record_call_names(nullptr);
    r_.clean_mutating_calls = m->mutating_calls() - mutating;
    r_.clean_boundary_calls = (call_names ? call_names : &names)->size();
    std::string command = s_.txn.command;
    if (!learn_clean_end(*m, run.exit_code, command)) return false;
    if (end) {
        end->code = run.exit_code;
        end->command = command;
        end->machine = std::move(m);
    }
    return true;
}

bool EndChecks::learn_clean_end(sim::Machine& m, int& code, std::string& command) {
    if (restart_may_end_pending_ && pending(code)) {
        code = finish_pending(m, code);
        if (!pending(code)) {
            command = "recover";
            settle(m);
            new_ = s_.txn.removal ? view_after_restart(m) : view(m);
            r_.clean_outcome = outcome_of_code(code) + " after a restart";
            return true;
        }
    }
    settle(m);
    ReportReading report = read_report(m, s_.txn, s_.txn.command, code);
    r_.clean_outcome = report.problem.empty() ? report.outcome : report.problem;
    if (report.problem.empty() && pending(code) && refused_journal(m)) {
        r_.clean_outcome += " for good: the journal folder is one others may write";
        new_ = old_;
        return true;
    }
    if (!report.problem.empty() || pending(code)) {
        violation("the clean run", "", "the clean run ended " + r_.clean_outcome, &m);
        return false;
    }
    if (expectation(report.outcome) == Expect::old_state)
        new_ = old_;  // the new installation is never reached
    else
        new_ = s_.txn.removal ? view_after_restart(m) : view(m);
    return true;
}

void EndChecks::check_end(sim::Machine& m, int code, const std::string& command,
                          const std::string& where, const std::string& call, bool report_required) {
    ++r_.states;
    std::string outcome = outcome_of(m, code, command, where, call, report_required);
    if (pending(code)) {
        // The setup program runs --recover, which must bring it to an end.
        const int later = finish_pending(m, code);
        outcome = outcome_of(m, later, "recover", where, call, true);
        if (pending(later)) {
            if (honest_pending(m)) {
                ++r_.outcomes[outcome + " for good after a person's change"];
                return;
            }
            if (refused_journal(m)) {
                ++r_.outcomes[outcome + " for good: a journal folder others may write"];
                return;
            }
            violation(where, call, "still " + outcome + " after a later --recover", &m);
            ++r_.outcomes[outcome];
            return;
        }
        code = later;
    }
    MachineView seen;  // the view state_of took of the machine as it is now
    std::string state = state_of(m, &seen);
    if (command == "repair" && outcome == "refused") {
        // A repair keeps no journal and rewrites the whole configuration at
        // each run, then starts and verifies the service: one refused half
        // way leaves the service as it was, repaired but unverified, or
        // partly reconfigured, and the setup program's next --repair
        // finishes it.
        if (!state.empty()) {
            ++r_.outcomes[outcome];
            return;
        }
        const int again = run_engine_from_stage(m, txn(), txn().args).exit_code;
        settle(m);
        outcome += ", then --repair " + outcome_of_code(again);
        state = again == 0 ? state_of(m, &seen) : "";
        if (state == "new") {
            ++r_.outcomes[outcome];
            return;
        }
    }
    ++r_.outcomes[outcome];
    const Expect expect = expectation(outcome);
    if (state.empty()) {
        violation(
            where, call,
            "ended " + outcome + " with the machine neither the old installation nor the new one",
            &m);
        return;
    }
    if ((expect == Expect::old_state && !kept_.empty() && state != kept_) ||
        (expect == Expect::new_state && state != "new")) {
        violation(where, call,
                  "reported " + outcome + " but the machine is the " + state + " installation", &m);
        return;
    }
    JournalReading j = read_journal(m, txn());
    if (j.present && (j.corrupt || !j.journal->has_ended())) {
        violation(where, call, "ended " + outcome + " with the journal unfinished", &m);
        return;
    }
    const ViewDigest settled = digest_of(seen);
    EngineRun second = run_engine_from_stage(m, txn(), recover_args(txn()));
    settle(m);
    if (second.exit_code != 15 && !(s_.journal_users_may_write && pending(second.exit_code)))
        violation(where, call, "a second --recover ended " + outcome_of_code(second.exit_code), &m);
    else if (digest(m) != settled)
        violation(where, call, "a second --recover changed the machine", &m);
}

std::string EndChecks::outcome_of(const sim::Machine& m, int code, const std::string& command,
                                  const std::string& where, const std::string& call,
                                  bool report_required) {
    ReportReading report = read_report(m, txn(), command, code);
    if (report.problem.empty()) return report.outcome;
    if (report_required || !report.outcome.empty()) violation(where, call, report.problem, &m);
    return outcome_of_code(code);
}

std::string EndChecks::state_of(const sim::Machine& m, MachineView* seen) {
    // Views are compared as they are unless a person's change or another
    // run's objects are to be left out (copying a view costs more than
    // comparing it).
    const bool as_they_are = touched_.empty() && !service_touched_ && !ids_ignored_;
    auto same = [&](const MachineView& now, const MachineView& installed) {
        return as_they_are ? now == installed : tolerated(now) == tolerated(installed);
    };
    MachineView now = view(m);
    std::string state;
    if (same(now, old_))
        state = "old";
    else if (!txn().removal)
        state = same(now, new_) ? "new" : "";
    else
        state = same(view_after_restart(m), new_) ? "new" : "";
    if (seen) *seen = std::move(now);
    return state;
}

MachineView EndChecks::tolerated(MachineView view) const {
    if (!touched_.empty())
        std::erase_if(view.tree, [&](const auto& item) {
            const std::u16string& rel = item.first;
            return rel == touched_ || (rel.size() > touched_.size() && rel.starts_with(touched_) &&
                                       rel[touched_.size()] == u'\\');
        });
    if (service_touched_) view.service.clear();
    return ids_ignored_ ? without_ids(std::move(view)) : view;
}

MachineView EndChecks::view_after_restart(const sim::Machine& m) {
    auto restarted = m.clone();
    restarted->reboot();
    settle(*restarted);
    return view(*restarted);
}

int EndChecks::finish_pending(sim::Machine& m, int code) {
    if (!pending(code)) return code;
    code = run_engine_from_stage(m, txn(), recover_args(txn())).exit_code;
    settle(m);
    if (!pending(code) || !restart_may_end_pending_) return code;
    m.reboot();
    settle(m);
    code = run_engine_from_stage(m, txn(), recover_args(txn())).exit_code;
    settle(m);
    return code;
}

bool EndChecks::honest_pending(sim::Machine& m) {
    // Only while a person's own file is in the way: a file they deleted
    // leaves nothing there to protect.
    if (touched_.empty() || !m.exists(platform::join_path(txn().root, touched_))) return false;
    return pending_again_unchanged(m);
}

bool EndChecks::pending_again_unchanged(sim::Machine& m) {
    const ViewDigest before = digest(m);
    const int again = run_engine_from_stage(m, txn(), recover_args(txn())).exit_code;
    settle(m);
    return pending(again) && digest(m) == before;
}

bool EndChecks::refused_journal(sim::Machine& m) {
    return s_.journal_users_may_write && state_of(m) == "old" && pending_again_unchanged(m);
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
        const MachineView now = view(*m);
        v.diff_old = view_diff(old_, now);
        v.diff_new = view_diff(new_, txn().removal ? view_after_restart(*m) : now);
    }
    r_.violations.push_back(std::move(v));
}

}  // namespace holvar::simtool
