#include "explorer.hpp"

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "explore_checks.hpp"
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

// What a machine walked once stands for, mixed into its fingerprint: a crash
// image (recovered, and its recovery cut everywhere), one whose files must
// all be kept, a recovery cut (recovered), a run's end (its exit code added).
constexpr uint64_t kImage = 1, kImageKeepingFiles = 2, kRecoveryCut = 3, kRunEnd = 0x100;

class Explorer : EndChecks {
  public:
    Explorer(const Scenario& s, const ExploreOptions& o) : EndChecks(s, o), rng_(o.seed) {
        r_.scenario = s.name;
    }

    ExploreResult run() {
        const auto started = std::chrono::steady_clock::now();
        if (clean_run()) {
            if (o_.crashes) crash_walk();
            r_.crash_seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (o_.faults) fault_walk();
        }
        r_.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return r_;
    }

  private:
    // ---- the clean run: the calls to walk, and the two installations
    bool clean_run() {
        before_ids_ = file_ids_below(*s_.base, {s_.txn.root, s_.txn.stage.stage});
        CleanEnd end;
        if (!learn_clean_run(&call_names_, &end)) return false;
        check_end(*end.machine, end.code, end.command, "the clean run", "", true);
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
    // `machine` none: the power cut leaves the machine another cut with the
    // same crash fingerprint (`disk`) left, which is walked first.
    struct CrashImage {
        uint64_t k = 0;
        std::unique_ptr<sim::Machine> machine;
        std::string call;
        std::optional<sim::Fingerprint> disk;
    };
    sim::Machine::CrashImageSink kept_in(std::vector<CrashImage>& images) {
        return [&images, this](uint64_t n, std::unique_ptr<sim::Machine> image,
                               std::string_view call) {
            images.push_back(CrashImage{n, std::move(image), std::string(call), disk_});
            disk_.reset();
        };
    }
    std::vector<CrashImage> crash_images(const sim::Machine& from,
                                         const std::vector<std::u16string>& args,
                                         const std::vector<uint64_t>& wanted) {
        std::vector<CrashImage> images;
        auto m = from.clone();
        m->take_crash_images(kept_in(images), [&](uint64_t n, const sim::Machine&) {
            return std::binary_search(wanted.begin(), wanted.end(), n);
        });
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
                once_per_machine(*image, files_kept ? kImageKeepingFiles : kImage, [&] {
                    if (files_kept) check_no_file_lost(*image, where, crash_call);
                    explore_image(*image, where, crash_call);
                });
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
        // Otherwise the first and the last are taken on the way when the
        // last is where the previous image's recovery ended (the cuts and
        // tears of one crash point mostly recover alike); a second run
        // takes them when the guess missed.
        const bool guess_cuts = o_.snapshots && o_.recovery_crashes && !cut_as_it_goes;
        std::unordered_set<sim::Fingerprint, sim::FingerprintHash> disks_this_run;
        if (cut_as_it_goes)
            recovered->take_crash_images(kept_in(cuts), [&](uint64_t n, const sim::Machine& now) {
                // A cut whose disk is one already cut is not copied: it is
                // the same machine after the power cut.
                if (!o_.once_per_machine) return true;
                const sim::Fingerprint disk = now.crash_fingerprint();
                if (!o_.check_fingerprints &&
                    (after_cut_.contains(disk) || disks_this_run.contains(disk))) {
                    cuts.push_back(
                        CrashImage{n, nullptr, std::string(now.state().current_call), disk});
                    return false;
                }
                disks_this_run.insert(disk);
                disk_ = disk;
                return true;
            });
        else if (guess_cuts)
            recovered->take_crash_images(kept_in(cuts), [&](uint64_t n, const sim::Machine&) {
                return n == 1 || n == last_recovery_calls_;
            });
        EngineRun run = run_engine_from_stage(*recovered, s_.txn, recover_args(s_.txn));
        recovered->take_crash_images(nullptr);
        const uint64_t recovery_calls = recovered->mutating_calls() - before;
        last_recovery_calls_ = recovery_calls;
        settle(*recovered);
        check_end(*recovered, run.exit_code, "recover", where + ", then --recover", call, true);

        if (!o_.recovery_crashes) return;
        const std::vector<uint64_t> js = points(recovery_calls, o_.recovery_crash_points);
        if (o_.snapshots) {
            if (guess_cuts) {
                std::erase_if(cuts, [&](const CrashImage& c) {
                    return !std::binary_search(js.begin(), js.end(), c.k);
                });
                if (cuts.size() != js.size()) cuts = crash_images(image, recover_args(s_.txn), js);
            }
            for (CrashImage& cut : cuts) {
                if (cut.machine)
                    recovery_cut(*cut.machine, cut.k, cut.call, where, call, cut.disk);
                else
                    recovery_cut_again(*cut.disk);
            }
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
    // `disk`: the cut's crash fingerprint, when it was taken.
    void recovery_cut(sim::Machine& m, uint64_t j, const std::string& cut_call,
                      const std::string& where, const std::string& call,
                      std::optional<sim::Fingerprint> disk = std::nullopt) {
        ++r_.recovery_cuts;
        m.crash();
        if (s_.reboot_after_crash) m.reboot();
        settle(m);
        auto walk = [&] {
            EngineRun again = run_engine_from_stage(m, s_.txn, recover_args(s_.txn));
            settle(m);
            check_end(m, again.exit_code, "recover",
                      where + ", then --recover cut at its mutating call " + std::to_string(j) +
                          " (" + cut_call + "), then --recover",
                      call, true);
        };
        if (!o_.once_per_machine) return walk();
        const sim::Fingerprint key = key_of(m, kRecoveryCut);
        once_per_machine(key, m, walk);
        if (!disk) return;
        // A cut of a disk cut before comes here only when fingerprints are
        // checked (otherwise it is counted, not copied): its machine may
        // differ from that one's in the numbers it hands out next, and it
        // must end as that one did.
        auto [known, fresh] = after_cut_.emplace(*disk, key);
        if (fresh || known->second == key) return;
        if (same_ends(walked_.at(known->second), walked_.at(key)))
            ++r_.cuts_compared;
        else
            violation(where + ", then --recover cut at its mutating call " + std::to_string(j),
                      cut_call, "two power cuts of one disk ended differently", &m);
    }

    // A recovery cut whose disk is one already cut: it ends as that one did.
    void recovery_cut_again(const sim::Fingerprint& disk) {
        ++r_.recovery_cuts;
        replay(walked_.at(after_cut_.at(disk)));
    }

    // ---- machines alike walked once
    // What walking one machine added to the result.
    struct Effect {
        uint64_t states = 0, crash_images = 0, recovery_cuts = 0, violations = 0;
        std::vector<std::pair<std::string, uint64_t>> outcomes;
        size_t saved = 0;  // the saved machine's hash, when fingerprints are checked
    };
    static bool same_ends(const Effect& a, const Effect& b) {
        return a.states == b.states && a.crash_images == b.crash_images &&
               a.recovery_cuts == b.recovery_cuts && a.violations == b.violations &&
               a.outcomes == b.outcomes;
    }
    Effect counts() const {
        Effect e{r_.states, r_.crash_images, r_.recovery_cuts, r_.violation_count, {}, 0};
        e.outcomes.assign(r_.outcomes.begin(), r_.outcomes.end());
        return e;
    }

    // `walk` explores `m` (with `salt`, anything else it depends on); a
    // machine with the same fingerprint and salt as one walked before ends
    // as that one did, so its ends are counted again instead. The simulated
    // machine is deterministic: the same state runs the same calls to the
    // same end.
    sim::Fingerprint key_of(const sim::Machine& m, uint64_t salt) const {
        sim::Fingerprint key = m.fingerprint();
        key.b ^= salt * 0x9E3779B97F4A7C15ull;
        return key;
    }
    template <class Walk>
    void once_per_machine(const sim::Machine& m, uint64_t salt, Walk&& walk) {
        if (!o_.once_per_machine) return walk();
        once_per_machine(key_of(m, salt), m, walk);
    }
    void replay(const Effect& e) {
        r_.states += e.states;
        r_.replayed += e.states;
        r_.crash_images += e.crash_images;
        r_.recovery_cuts += e.recovery_cuts;
        r_.violation_count += e.violations;
        for (const auto& [outcome, n] : e.outcomes) r_.outcomes[outcome] += n;
    }
    template <class Walk>
    void once_per_machine(const sim::Fingerprint& key, const sim::Machine& m, Walk&& walk) {
        if (!o_.once_per_machine) return walk();
        if (auto it = walked_.find(key); it != walked_.end()) {
            if (o_.check_fingerprints && it->second.saved != std::hash<std::string>{}(m.to_json()))
                violation("a machine taken for one already walked", "",
                          "two machines with one fingerprint differ", &m);
            replay(it->second);
            return;
        }
        const size_t saved = o_.check_fingerprints ? std::hash<std::string>{}(m.to_json()) : 0;
        const Effect before = counts();
        walk();
        Effect e = counts();
        e.states -= before.states;
        e.crash_images -= before.crash_images;
        e.recovery_cuts -= before.recovery_cuts;
        e.violations -= before.violations;
        e.saved = saved;
        std::erase_if(e.outcomes, [&](auto& o) {
            for (const auto& [outcome, n] : before.outcomes)
                if (outcome == o.first) o.second -= n;
            return o.second == 0;
        });
        walked_.emplace(key, std::move(e));
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
        const uint64_t first = s_.base->failable_calls();
        const std::vector<uint64_t> is = points(call_names_.size(), o_.fault_points);
        r_.failed_calls_walked = is.size();
        for (uint64_t i : is) {
            if (enough()) return;
            const std::string& name = call_names_[i - 1];
            for (uint32_t error : kInjectedErrors) {
                // The call failed once; then from then on, unless the run that
                // failed it once never made a call of that name again: failing
                // them all is then the same run, to the same machine.
                std::optional<sim::Fingerprint> alike;
                for (bool once : {true, false}) {
                    ++r_.failed_calls;
                    if (alike && !o_.check_fingerprints) {
                        replay(walked_.at(*alike));
                        continue;
                    }
                    std::string where = "call " + std::to_string(i) + " of " +
                                        std::to_string(call_names_.size()) + " failed with " +
                                        std::to_string(error) + (once ? " once" : " from then on");
                    auto m = s_.base->clone();
                    m->add_fault(sim::FaultRule{first + i, name, error, once});
                    std::vector<std::string> calls;
                    if (once && o_.once_per_machine) m->record_call_names(&calls);
                    EngineRun run = run_engine_from_stage(*m, s_.txn, s_.txn.args);
                    m->record_call_names(nullptr);
                    // The run is the clean one up to that call: a rule still
                    // armed failed nothing, and the state is no failed call's.
                    const auto& armed = m->state().faults;
                    if (once && std::any_of(armed.begin(), armed.end(), [&](const auto& f) {
                            return f.call_index == first + i && f.call_name == name;
                        }))
                        violation(where, name, "the call to fail was never made", m.get());
                    m->clear_faults();
                    settle(*m);
                    // Its end and exit code decide the checks: a failed call's
                    // state is a run's end, not a crash image.
                    const sim::Fingerprint key =
                        key_of(*m, kRunEnd + static_cast<uint32_t>(run.exit_code));
                    if (alike && key != *alike)
                        violation(where, name,
                                  "failing a call never made again left another machine", m.get());
                    once_per_machine(key, *m, [&] {
                        check_end(*m, run.exit_code, s_.txn.command, where, name, false);
                    });
                    if (calls.size() >= i && std::find(calls.begin() + static_cast<long>(i),
                                                       calls.end(), name) == calls.end())
                        alike = key;
                }
            }
        }
    }

    // 1..n, or `budget` of them drawn with the seed, the first and last always.
    std::vector<uint64_t> points(uint64_t n, size_t budget) {
        return sample_points(n, budget, rng_);
    }

    std::mt19937_64 rng_;
    uint64_t last_recovery_calls_ = 0;  // how many mutating calls the last recovery made
    std::set<FileId> before_ids_;
    std::vector<std::string> call_names_;
    std::unordered_map<sim::Fingerprint, Effect, sim::FingerprintHash> walked_;
    // A recovery cut's crash fingerprint -> the key of the machine it left.
    std::unordered_map<sim::Fingerprint, sim::Fingerprint, sim::FingerprintHash> after_cut_;
    std::optional<sim::Fingerprint> disk_;  // of the image the sink gets next
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
