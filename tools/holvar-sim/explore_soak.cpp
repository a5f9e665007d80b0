#include "explore_soak.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <set>

#include "demo_payloads.hpp"
#include "explore_checks.hpp"
#include "explore_scenarios.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

namespace p = platform;

const std::u16string& kRoot = kExploreRoot;
const std::u16string kSessionManager = u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr uint32_t kErrors[] = {5, 32, 112, 1117, 87};
constexpr const char* kPayloads[] = {"v1", "v2", "v2-broken"};

std::string txid_of(size_t n) {
    char text[40];
    std::snprintf(text, sizeof text, "%032zx", n + 1);
    return text;
}

// The view without object ids (every run makes new ones) and without the
// service's start type and run state (an administrator's to change): the
// files, their bytes, the service's image and account, the registry.
std::string shape(const MachineView& view) {
    const MachineView v = without_ids(view);
    std::string out;
    for (const auto& [rel, line] : v.tree) out += utf16_to_wtf8(rel) + ": " + line + "\n";
    const size_t image = v.service.find(" image ");
    const size_t name = v.service.find(" name ");
    out += "service" +
           (image == std::string::npos ? v.service : v.service.substr(image, name - image)) + "\n";
    for (const auto& [key, values] : v.registry) out += utf16_to_wtf8(key) + " " + values + "\n";
    return out;
}

// The lines of `a` that `b` lacks, marked; the first one in `first`.
size_t lines_missing(const std::string& a, const std::string& b, const char* mark,
                     std::string& first) {
    size_t count = 0;
    for (size_t at = 0; at < a.size();) {
        const size_t end = a.find('\n', at);
        const std::string line = a.substr(at, end - at);
        if (b.find(line + "\n") == std::string::npos) {
            if (first.empty()) first = mark + line;
            ++count;
        }
        at = end + 1;
    }
    return count;
}

// The first line on which `now` differs from the nearest defined state.
std::string first_difference(const std::set<std::string>& defined, const std::string& now) {
    std::string best;
    size_t best_count = SIZE_MAX;
    for (const std::string& d : defined) {
        std::string first;
        const size_t count =
            lines_missing(now, d, "+ ", first) + lines_missing(d, now, "- ", first);
        if (count < best_count) {
            best_count = count;
            best = first;
        }
    }
    return best;
}

void delete_tree(sim::Machine& m, const std::u16string& path) {
    if (auto listed = m.list(path))
        for (const sim::NodeInfo& n : *listed)
            if (n.name != u"." && n.name != u"..") {
                const std::u16string child = p::join_path(path, n.name);
                if (n.kind == sim::NodeKind::directory)
                    delete_tree(m, child);
                else
                    (void)m.remove(child);
            }
    (void)m.remove(path);
}

class Soak {
  public:
    Soak(uint64_t seed, size_t n) : rng_(seed), m_(sim::Machine::fresh()) {
        r_.seed = seed;
        r_.transactions = n;
    }

    SoakResult run() {
        learn_installations();
        for (size_t n = 0; n < r_.transactions && r_.violation_count < 20; ++n) transaction(n);
        leftovers();
        return r_;
    }

  private:
    // The defined states: nothing installed, and each payload that installs.
    void learn_installations() {
        if (auto listed = m_->list(p::parent_path(kRoot).value_or(u"C:\\")))
            for (const sim::NodeInfo& n : *listed) base_names_.insert(n.name);
        defined_.insert(shape(view_of(*m_, kRoot)));
        for (const char* payload : {"v1", "v2"}) {
            auto m = m_->clone();
            auto staged = stage_transaction(*m, kRoot, txid_of(1'000'000), demo(payload));
            if (!staged) continue;
            Transaction t{
                kRoot, txid_of(1'000'000), *staged, {u"--apply", u"--root", kRoot}, "apply"};
            (void)run_engine_from_stage(*m, t, t.args);
            settle(*m);
            defined_.insert(shape(view_of(*m, kRoot)));
            // And removed again: the product's registry key stays, emptied.
            auto removal = stage_transaction(*m, kRoot, txid_of(1'000'001), std::nullopt);
            if (!removal) continue;
            Transaction r{kRoot,    txid_of(1'000'001),
                          *removal, {u"--remove", u"--root", kRoot},
                          "remove", true};
            (void)run_engine_from_stage(*m, r, r.args);
            m->reboot();
            settle(*m);
            defined_.insert(shape(view_of(*m, kRoot)));
        }
    }

    uint64_t below(uint64_t n) { return rng_() % n; }

    void transaction(size_t n) {
        const std::string txid = txid_of(n);
        const bool installed =
            m_->exists(p::join_path(kRoot, u"resources\\holvar-service-install.exe"));
        std::string what;
        std::optional<PayloadSource> payload;
        std::vector<std::u16string> args;
        std::string command;
        const uint64_t op = below(10);
        if (op < 5) {
            const char* name = kPayloads[below(std::size(kPayloads))];
            payload = demo(name);
            args = {u"--apply", u"--root", kRoot};
            command = "apply";
            what = std::string("apply ") + name;
        } else if (op < 7 || (op < 9 && !installed)) {
            args = {u"--remove", u"--root", kRoot};
            command = "remove";
            what = "remove";
        } else if (op < 9) {
            args = {u"--repair", u"--root", kRoot};
            command = "repair";
            what = "repair";
        } else {
            command = "recover";
            what = "recover";
        }
        auto staged = stage_transaction(*m_, kRoot, txid, payload);
        if (!staged) {
            fail(n, what, "staging failed: " + staged.error().message);
            return;
        }
        Transaction t{kRoot, txid, *staged, args, command, command == "remove"};
        if (command == "recover") t.args = recover_args(t);
        if (command == "repair")
            t.image = p::join_path(kRoot, u"resources\\holvar-service-install.exe");

        what += disturb();
        EngineRun run = run_engine_from_stage(*m_, t, t.args);
        m_->clear_faults();
        m_->arm_crash_after(0);
        int code = run.exit_code;
        if (run.crashed) {
            ++r_.outcomes["power_cut"];
            m_->crash();
            m_->reboot();
        }
        settle(*m_);
        // The setup program recovers what did not end: at once, a minute
        // later, then after the restart it asks for (what a user holds for
        // good lets go only then), and after one more.
        for (int tries = 0; (run.crashed || pending(code)) && tries < 4; ++tries) {
            run.crashed = false;
            if (tries == 1) m_->advance(std::chrono::minutes(1));
            if (tries >= 2) m_->reboot();
            settle(*m_);
            EngineRun later = run_engine_from_stage(*m_, t, recover_args(t));
            settle(*m_);
            code = later.exit_code;
        }
        const std::string outcome = outcome_of_code(code);
        ++r_.outcomes[outcome];
        if (pending(code))
            fail(n, what, "still " + outcome + " after four recoveries and two restarts");

        const std::string now = shape(view_of(*m_, kRoot));
        if (!defined_.contains(now)) {
            auto restarted = m_->clone();
            restarted->reboot();
            settle(*restarted);
            if (!defined_.contains(shape(view_of(*restarted, kRoot))))
                fail(n, what,
                     "ended " + outcome + " with the machine in no defined state (" +
                         first_difference(defined_, now) + ")");
        }
        // Its transaction ended, the setup program deletes the stage.
        if (!pending(code)) delete_tree(*m_, t.stage.stage);
    }

    // Something that happens to this run: a failed call, a power cut, a file
    // held, an administrator's change, a restart, or nothing.
    std::string disturb() {
        switch (below(8)) {
            case 0: {
                const uint64_t at = 1 + below(300);
                const uint32_t error = kErrors[below(std::size(kErrors))];
                const bool once = below(2) == 0;
                m_->add_fault(sim::FaultRule{m_->failable_calls() + at, "", error, once});
                return ", call " + std::to_string(at) + " failed with " + std::to_string(error) +
                       (once ? " once" : " from then on");
            }
            case 1: {
                const uint64_t at = 1 + below(250);
                m_->arm_crash_after(at);
                return ", a power cut at mutating call " + std::to_string(at);
            }
            case 2: {
                auto files = installed_files();
                if (files.empty()) return "";
                const std::u16string rel = files[below(files.size())];
                const uint32_t pid =
                    m_->spawn_process(u"C:\\Windows\\System32\\holder.exe", sim::user_token());
                sim::hold_file(m_->state(), pid, p::join_path(kRoot, rel), p::FILE_READ_DATA, 0);
                const uint64_t ms = below(3) == 0 ? 600'000 : below(60'000);
                sim::exit_after(m_->state(), pid, ms, 0);
                return ", " + utf16_to_wtf8(rel) + " held for " + std::to_string(ms) + " ms";
            }
            case 3:
                // Disabled while it runs on, or disabled and then stopped by
                // a restart: a rollback puts either back as it was.
                disable_service(*m_);
                if (below(2) == 0) return ", the service disabled by an administrator while it ran";
                m_->reboot();
                settle(*m_);
                return ", the service disabled by an administrator and the machine restarted";
            case 4:
                m_->reboot();
                settle(*m_);
                return ", a restart before";
            default:
                return "";
        }
    }

    std::vector<std::u16string> installed_files() const {
        std::vector<std::u16string> out;
        for (const auto& [rel, line] : view_of(*m_, kRoot).tree)
            if (line.starts_with("file")) out.push_back(rel);
        return out;
    }

    void fail(size_t n, const std::string& what, const std::string& problem) {
        ++r_.violation_count;
        if (r_.violations.size() < 5)
            r_.violations.push_back("transaction " + std::to_string(n + 1) + " (" + what +
                                    "): " + problem);
    }

    // After a last restart: what the transactions left.
    void leftovers() {
        m_->reboot();
        settle(*m_);
        auto& left = r_.left;
        left["stage directories"] = 0;
        left["trash entries"] = 0;
        left["other names beside the root"] = 0;
        const std::u16string parent = p::parent_path(kRoot).value_or(u"C:\\");
        if (auto listed = m_->list(parent))
            for (const sim::NodeInfo& n : *listed) {
                if (n.name == u"." || n.name == u"..") continue;
                const std::u16string path = p::join_path(parent, n.name);
                if (n.name.starts_with(u".Holvar-upgrade-")) {
                    ++left["stage directories"];
                    if (auto trash = m_->list(p::join_path(path, u"trash")))
                        for (const sim::NodeInfo& t : *trash)
                            left["trash entries"] += t.name != u"." && t.name != u"..";
                } else if (!p::paths_equal(path, kRoot) &&
                           n.name != u"Holvar-Install-Diagnostics" &&
                           !base_names_.contains(n.name)) {
                    ++left["other names beside the root"];
                }
            }
        const sim::RegValue* pending = sim::reg_find_value(m_->state().registry, kSessionManager,
                                                           u"PendingFileRenameOperations");
        left["pending file rename operations"] =
            pending ? sim::multi_sz_strings(pending->data).size() / 2 : 0;
        left["services"] = m_->state().scm.services.size();
        left["registry keys of the product"] = 0;
        for (const auto& [path, key] : m_->state().registry.keys)
            left["registry keys of the product"] +=
                utf16_to_wtf8(key.path).find("Holvar") != std::string::npos;
        left["processes"] = 0;
        for (const auto& [pid, process] : m_->state().processes)
            left["processes"] += process.alive && pid != 4;
        left["installation"] = m_->exists(kRoot);
    }

    std::mt19937_64 rng_;
    std::unique_ptr<sim::Machine> m_;
    SoakResult r_;
    std::set<std::string> defined_;
    std::set<std::u16string> base_names_;
};

}  // namespace

SoakResult soak(uint64_t seed, size_t transactions) {
    return Soak(seed, transactions).run();
}

std::string soak_line(const SoakResult& r) {
    std::string line = "soak: seed " + std::to_string(r.seed) + ", " +
                       std::to_string(r.transactions) + " transactions, outcomes";
    for (const auto& [name, count] : r.outcomes) line += " " + name + " " + std::to_string(count);
    line += ", " + std::to_string(r.violation_count) + " violations, left at the end:";
    bool first = true;
    for (const auto& [what, count] : r.left) {
        line += std::string(first ? " " : ", ") + std::to_string(count) + " " + what;
        first = false;
    }
    return line;
}

}  // namespace holvar::simtool
