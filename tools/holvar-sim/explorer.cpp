#include "explorer.hpp"

#include <algorithm>
#include <chrono>
#include <random>
#include <set>

#include "explore_view.hpp"
#include "platform/sim/machine_state.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::simtool {
namespace {

using txn::journal::MarkKind;

// The errors every call of the clean run is failed with: access denied, a
// sharing violation, a full disk, an I/O device error, and a parameter the
// callee refuses.
constexpr uint32_t kInjectedErrors[] = {5, 32, 112, 1117, 87};

enum class Expect { old_state, new_state, either, pending };

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

// The outcome an exit code stands for, when no report could be read.
std::string outcome_of_code(int code) {
    if (auto kind = txn::outcome::outcome_of_exit_code(code))
        return std::string(txn::outcome::outcome_name(*kind));
    return "unknown exit code " + std::to_string(code);
}

bool pending(int code) {
    return code == 5 || code == 20 || code == 32;
}

class Explorer {
  public:
    Explorer(const Scenario& s, const ExploreOptions& o) : s_(s), o_(o), rng_(o.seed) {
        r_.scenario = s.name;
    }

    ExploreResult run() {
        const auto started = std::chrono::steady_clock::now();
        if (clean_run()) {
            if (o_.crashes) crash_walk();
            if (o_.faults) fault_walk();
        }
        r_.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return r_;
    }

  private:
    // ---- the clean run: the calls to walk, and the two installations
    bool clean_run() {
        old_ = view_of(*s_.base, s_.txn.root);
        before_ids_ = file_ids_below(*s_.base, {s_.txn.root, s_.txn.stage.stage});
        auto m = s_.base->clone();
        const uint64_t mutating = m->mutating_calls();
        m->record_call_names(&call_names_);
        EngineRun run = run_engine_from_stage(*m, s_.txn, s_.txn.args);
        m->record_call_names(nullptr);
        r_.clean_mutating_calls = m->mutating_calls() - mutating;
        r_.clean_boundary_calls = call_names_.size();
        settle(*m);
        ReportReading report = read_report(*m, s_.txn, s_.txn.command, run.exit_code);
        r_.clean_outcome = report.problem.empty() ? report.outcome : report.problem;
        if (!report.problem.empty() || pending(run.exit_code)) {
            violation("the clean run", "", "the clean run ended " + r_.clean_outcome, m.get());
            return false;
        }
        if (expectation(report.outcome) == Expect::old_state) {
            new_ = old_;  // the new installation is never reached
        } else if (s_.txn.removal) {
            auto restarted = m->clone();
            restarted->reboot();
            settle(*restarted);
            new_ = view_of(*restarted, s_.txn.root);
        } else {
            new_ = view_of(*m, s_.txn.root);
        }
        check_end(*m, run.exit_code, s_.txn.command, "the clean run", "", true);
        return true;
    }

    // ---- power cuts
    void crash_walk() {
        const std::vector<uint64_t> ks = points(r_.clean_mutating_calls, o_.crash_points);
        r_.crash_points_walked = ks.size();
        if (o_.snapshots) {
            // One run, its crash images taken as it goes.
            std::vector<CrashImage> images = crash_images(*s_.base, s_.txn.args, ks);
            size_t next = 0;
            for (uint64_t k : ks) {
                if (enough()) return;
                if (next < images.size() && images[next].k == k) {
                    CrashImage& image = images[next++];
                    cut_crash_image(k, *image.machine, image.call);
                    image.machine.reset();
                } else {
                    violation(crash_point(k), "", "the run did not reach the crash point", nullptr);
                }
            }
            return;
        }
        for (uint64_t k : ks) {
            if (enough()) return;
            auto m = s_.base->clone();
            m->arm_crash_after(k);
            EngineRun run = run_engine_from_stage(*m, s_.txn, s_.txn.args);
            if (!run.crashed) {
                violation(crash_point(k), "", "the run did not reach the crash point", m.get());
                continue;
            }
            cut_crash_image(k, *m, run.crash_call);
        }
    }

    std::string crash_point(uint64_t k) const {
        return "power cut at mutating call " + std::to_string(k) + " of " +
               std::to_string(r_.clean_mutating_calls);
    }

    // The engine from the stage with `args` on a copy of `from`, the crash
    // image at each of its mutating calls `wanted` (ascending) kept.
    struct CrashImage {
        uint64_t k = 0;
        std::unique_ptr<sim::Machine> machine;
        std::string call;
    };
    std::vector<CrashImage> crash_images(const sim::Machine& from,
                                         const std::vector<std::u16string>& args,
                                         const std::vector<uint64_t>& wanted) {
        std::vector<CrashImage> images;
        auto m = from.clone();
        m->take_crash_images(
            [&](uint64_t n, std::unique_ptr<sim::Machine> image, std::string_view call) {
                images.push_back(CrashImage{n, std::move(image), std::string(call)});
            },
            [&](uint64_t n) { return std::binary_search(wanted.begin(), wanted.end(), n); });
        (void)run_engine_from_stage(*m, s_.txn, args);
        return images;
    }

    // A run frozen by a power cut at its k-th mutating call: every metadata
    // cut the crash model allows, with unflushed contents dropped and torn.
    void cut_crash_image(uint64_t k, const sim::Machine& m, const std::string& crash_call) {
        const std::string at = crash_point(k);
        // The engine deletes files of the old installation only once the
        // journal it was running with says committed or ended (and a run
        // with no journal yet has moved nothing): only before that must
        // every file still be somewhere in the root or the stage.
        JournalReading live = read_journal(m, s_.txn);
        const bool files_kept = !s_.txn.removal && live.journal && !live.journal->has_ended() &&
                                !live.journal->has_mark(MarkKind::committed);
        const size_t written = m.metadata_since_barrier();
        std::vector<std::optional<uint64_t>> contents{std::nullopt};
        if (!m.state().dirty.empty())
            contents.insert(contents.end(), o_.tear_seeds.begin(), o_.tear_seeds.end());
        for (uint64_t cut : points(written + 1, o_.cut_points)) {
            const size_t kept = static_cast<size_t>(cut - 1);
            for (const auto& tear : contents) {
                auto image = m.clone();
                image->crash(sim::CrashCut{kept, tear});
                if (s_.reboot_after_crash) image->reboot();
                settle(*image);
                std::string where = at + ", keeping " + std::to_string(kept) + " of " +
                                    std::to_string(written) + " metadata operations, " +
                                    (tear ? "contents torn (seed " + std::to_string(*tear) + ")"
                                          : std::string("unflushed contents dropped"));
                if (files_kept) check_no_file_lost(*image, where, crash_call);
                explore_image(*image, where, crash_call);
            }
        }
    }

    // A crash image: no file lost yet; --recover brings it to an end; and
    // --recover cut short anywhere is finished by the next one.
    void explore_image(const sim::Machine& image, const std::string& where,
                       const std::string& call) {
        ++r_.crash_images;
        auto recovered = image.clone();
        const uint64_t before = recovered->mutating_calls();
        // Every recovery cut wanted: the recovery's own run yields them all.
        std::vector<CrashImage> cuts;
        const bool cut_as_it_goes =
            o_.snapshots && o_.recovery_crashes && o_.recovery_crash_points == 0;
        if (cut_as_it_goes)
            recovered->take_crash_images(
                [&](uint64_t n, std::unique_ptr<sim::Machine> cut, std::string_view name) {
                    cuts.push_back(CrashImage{n, std::move(cut), std::string(name)});
                });
        EngineRun run = run_engine_from_stage(*recovered, s_.txn, recover_args(s_.txn));
        recovered->take_crash_images(nullptr);
        const uint64_t recovery_calls = recovered->mutating_calls() - before;
        settle(*recovered);
        check_end(*recovered, run.exit_code, "recover", where + ", then --recover", call, true);

        if (!o_.recovery_crashes) return;
        const std::vector<uint64_t> js = points(recovery_calls, o_.recovery_crash_points);
        if (o_.snapshots) {
            if (!cut_as_it_goes) cuts = crash_images(image, recover_args(s_.txn), js);
            for (CrashImage& cut : cuts) recovery_cut(*cut.machine, cut.k, cut.call, where, call);
            return;
        }
        for (uint64_t j : js) {
            auto m = image.clone();
            m->arm_crash_after(j);
            EngineRun cut = run_engine_from_stage(*m, s_.txn, recover_args(s_.txn));
            if (!cut.crashed) continue;
            recovery_cut(*m, j, cut.crash_call, where, call);
        }
    }

    // --recover frozen by a power cut at its j-th mutating call: the machine
    // restarts and the next --recover must finish the work.
    void recovery_cut(sim::Machine& m, uint64_t j, const std::string& cut_call,
                      const std::string& where, const std::string& call) {
        ++r_.recovery_cuts;
        m.crash();
        if (s_.reboot_after_crash) m.reboot();
        settle(m);
        EngineRun again = run_engine_from_stage(m, s_.txn, recover_args(s_.txn));
        settle(m);
        check_end(m, again.exit_code, "recover",
                  where + ", then --recover cut at its mutating call " + std::to_string(j) + " (" +
                      cut_call + "), then --recover",
                  call, true);
    }

    // Every file the machine held before the run is in the root or in the
    // stage (payload, rollback folder, trash).
    void check_no_file_lost(const sim::Machine& image, const std::string& where,
                            const std::string& call) {
        std::set<FileId> now = file_ids_below(image, {s_.txn.root, s_.txn.stage.stage});
        size_t lost = 0;
        for (const FileId& id : before_ids_) lost += now.contains(id) ? 0 : 1;
        if (lost > 0)
            violation(where, call,
                      std::to_string(lost) + " file(s) of the machine before the run are lost",
                      &image);
    }

    // ---- failed calls
    void fault_walk() {
        const uint64_t first = s_.base->boundary_calls();
        const std::vector<uint64_t> is = points(call_names_.size(), o_.fault_points);
        r_.failed_calls_walked = is.size();
        for (uint64_t i : is) {
            if (enough()) return;
            const std::string& name = call_names_[i - 1];
            for (uint32_t error : kInjectedErrors) {
                for (bool once : {true, false}) {
                    ++r_.failed_calls;
                    auto m = s_.base->clone();
                    m->add_fault(sim::FaultRule{first + i, name, error, once});
                    EngineRun run = run_engine_from_stage(*m, s_.txn, s_.txn.args);
                    m->clear_faults();
                    settle(*m);
                    std::string where = "call " + std::to_string(i) + " of " +
                                        std::to_string(call_names_.size()) + " failed with " +
                                        std::to_string(error) + (once ? " once" : " from then on");
                    check_end(*m, run.exit_code, s_.txn.command, where, name, false);
                }
            }
        }
    }

    // ---- the end of a run
    // `report_required`: a run whose calls were failed may have been unable
    // to write its report; its exit code then stands for the outcome.
    void check_end(sim::Machine& m, int code, const std::string& command, const std::string& where,
                   const std::string& call, bool report_required) {
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
            violation(where, call,
                      "ended " + outcome +
                          " with the machine neither the old installation nor the new one",
                      &m);
            return;
        }
        if ((expect == Expect::old_state && state != "old") ||
            (expect == Expect::new_state && state != "new")) {
            violation(where, call,
                      "reported " + outcome + " but the machine is the " + state + " installation",
                      &m);
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
            violation(where, call, "a second --recover ended " + outcome_of_code(second.exit_code),
                      &m);
        else if (view_of(m, s_.txn.root) != settled)
            violation(where, call, "a second --recover changed the machine", &m);
    }

    std::string outcome_of(const sim::Machine& m, int code, const std::string& command,
                           const std::string& where, const std::string& call,
                           bool report_required) {
        ReportReading report = read_report(m, s_.txn, command, code);
        if (report.problem.empty()) return report.outcome;
        if (report_required || !report.outcome.empty()) violation(where, call, report.problem, &m);
        return outcome_of_code(code);
    }

    // "old", "new" or "" (neither). A removal's end is compared after a
    // restart, when what it scheduled for the restart has gone.
    std::string state_of(const sim::Machine& m) {
        const MachineView now = view_of(m, s_.txn.root);
        if (now == old_) return "old";
        if (!s_.txn.removal) return now == new_ ? "new" : "";
        return view_after_restart(m) == new_ ? "new" : "";
    }

    MachineView view_after_restart(const sim::Machine& m) {
        auto restarted = m.clone();
        restarted->reboot();
        settle(*restarted);
        return view_of(*restarted, s_.txn.root);
    }

    bool enough() const {
        return o_.stop_after_violations != 0 && r_.violation_count >= o_.stop_after_violations;
    }

    void violation(const std::string& where, const std::string& call, const std::string& what,
                   const sim::Machine* m) {
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

    // 1..n, or `budget` of them drawn with the seed, the first and last always.
    std::vector<uint64_t> points(uint64_t n, size_t budget) {
        std::vector<uint64_t> out;
        if (budget == 0 || n <= budget) {
            for (uint64_t i = 1; i <= n; ++i) out.push_back(i);
            return out;
        }
        std::set<uint64_t> picked{1, n};
        while (picked.size() < budget) picked.insert(1 + rng_() % n);
        return {picked.begin(), picked.end()};
    }

    const Scenario& s_;
    const ExploreOptions& o_;
    std::mt19937_64 rng_;
    ExploreResult r_;
    MachineView old_, new_;
    std::set<FileId> before_ids_;
    std::vector<std::string> call_names_;
};

}  // namespace

ExploreResult explore(const Scenario& scenario, const ExploreOptions& options) {
    return Explorer(scenario, options).run();
}

std::vector<std::string> describe(const Violation& v) {
    std::vector<std::string> lines{"violation: " + v.what, "  at " + v.where};
    if (!v.call.empty()) lines.push_back("  call " + v.call);
    auto diff = [&](const char* title, const std::vector<std::string>& d) {
        if (d.empty()) {
            lines.push_back(std::string("  ") + title + ": no difference");
            return;
        }
        lines.push_back(std::string("  ") + title + ":");
        for (const auto& line : d) lines.push_back("    " + line);
    };
    diff("against the old installation", v.diff_old);
    diff("against the new installation", v.diff_new);
    return lines;
}

}  // namespace holvar::simtool
