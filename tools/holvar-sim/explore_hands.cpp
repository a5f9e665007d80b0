// A person between the power cut and the recovery: an administrator who
// deletes a file the run had placed, or puts another file in its place,
// reconfigures the service, or restarts the machine once or twice more
// (pending deletions applied, automatic services started) before the setup
// program runs --recover.
//
// The honest end: the recovery ends (a second --recover changes nothing and
// nothing stays pending), the journal ends, and the machine is the old or
// the new installation but for what the person changed by hand, which no
// recovery can know of; an outcome that says the old installation is back
// must not leave the new one, and the other way round. Two waits are
// honest: a service image deleted from under the service that runs it keeps
// the recovery pending until a restart ends that process, and a person's own
// file in the place of the run's keeps it pending until the person takes it
// away (the engine never overwrites it).
#include "explore_checks.hpp"
#include "explore_walks.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/names.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/win_path.hpp"

namespace holvar::simtool {
namespace {

enum class Hand { delete_placed, replace_placed, reconfigure_service, restart, two_restarts };

struct HandRow {
    Hand hand;
    const char* what;
};

constexpr HandRow kHands[] = {
    {Hand::delete_placed, "a person deleted the placed file"},
    {Hand::replace_placed, "a person replaced the placed file by another"},
    {Hand::reconfigure_service, "an administrator disabled the service"},
    {Hand::restart, "one more restart"},
    {Hand::two_restarts, "two more restarts"},
};

class HandsWalk : EndChecks {
  public:
    HandsWalk(const Scenario& s, const ExploreOptions& o) : EndChecks(s, o), rng_(o.seed) {
        r_.scenario = s.name;
    }

    ExploreResult run() {
        if (!learn_clean_run(nullptr)) return r_;
        for (uint64_t k : sample_points(r_.clean_mutating_calls, o_.crash_points, rng_)) {
            if (enough()) break;
            std::string crash_call;
            auto m = restarted_crash_image(k, crash_call);
            if (!m) continue;
            const std::string at = "power cut at mutating call " + std::to_string(k) + " of " +
                                   std::to_string(r_.clean_mutating_calls);
            for (const HandRow& row : kHands) {
                auto image = m->clone();
                if (!lend_a_hand(*image, row.hand)) continue;
                EngineRun recovered = run_engine_from_stage(*image, s_.txn, recover_args(s_.txn));
                settle(*image);
                // A service image deleted from under its running process
                // leaves that process unprovable: the recovery may wait for
                // the restart that ends it. No other hand gets that restart.
                restart_may_end_pending_ = row.hand == Hand::delete_placed;
                check_end(*image, recovered.exit_code, "recover",
                          at + ", then " + row.what +
                              (touched_.empty() ? "" : " (" + rel_text(touched_) + ")") +
                              ", then --recover",
                          crash_call, true);
                touched_.clear();
                service_touched_ = false;
                restart_may_end_pending_ = false;
            }
        }
        return r_;
    }

  private:
    static std::string rel_text(const std::u16string& rel) { return {rel.begin(), rel.end()}; }

    // False when the hand has nothing to act on in this image.
    bool lend_a_hand(sim::Machine& m, Hand hand) {
        switch (hand) {
            case Hand::delete_placed:
            case Hand::replace_placed: {
                auto rel = placed_file(m);
                if (!rel) return false;
                const std::u16string path = platform::join_path(s_.txn.root, *rel);
                if (!m.remove(path)) return false;
                touched_ = *rel;
                if (hand == Hand::replace_placed) {
                    const std::string text = "a person's own file";
                    (void)m.write_file(path, {text.begin(), text.end()}, sim::administrators_sid());
                }
                return true;
            }
            case Hand::reconfigure_service:
                disable_service(m);
                service_touched_ = true;
                return true;
            case Hand::restart:
                m.reboot();
                settle(m);
                return true;
            case Hand::two_restarts:
                m.reboot();
                settle(m);
                m.reboot();
                settle(m);
                return true;
        }
        return false;
    }

    // A file of the new installation that is in the root now and was not
    // in the old one: the service's image when it is, else the first.
    std::optional<std::u16string> placed_file(const sim::Machine& m) const {
        const MachineView now = view(m);
        std::optional<std::u16string> first;
        for (const auto& [rel, line] : new_.tree) {
            if (!line.starts_with("file")) continue;
            auto here = now.tree.find(rel);
            if (here == now.tree.end() || here->second != line) continue;
            auto before = old_.tree.find(rel);
            if (before != old_.tree.end() && before->second == line) continue;
            if (rel == u"resources\\holvar-service.exe") return rel;
            if (!first) first = rel;
        }
        return first;
    }

    std::mt19937_64 rng_;
};

}  // namespace

ExploreResult explore_hands(const Scenario& scenario, const ExploreOptions& options) {
    return HandsWalk(scenario, options).run();
}

}  // namespace holvar::simtool
