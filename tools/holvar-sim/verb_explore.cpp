// `explore`: the crash and fault explorer for a packager's own payloads. On a
// copy of the machine it installs `--from`, stages `--to` and walks the
// upgrade, then the removal of what the upgrade leaves, through every crash
// point and failed call it is given the time for. The machine file is not
// changed.
#include <string>

#include "explore_soak.hpp"
#include "explore_walks.hpp"
#include "explorer.hpp"
#include "machine_file.hpp"
#include "printing.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"

namespace holvar::simtool {
namespace {

// Without the option: every point, but a recovery is cut at its first and
// last mutating calls only (cutting each recovery everywhere multiplies the
// walk by the recovery's length) unless --all asks for every one.
ToolResult<size_t> budget_option(const VerbArgs& args, const std::string& name) {
    const auto word = args.option(name);
    if (!word) return name == "--recovery-crash-points" && !args.has("--all") ? 2 : 0;
    auto n = number_arg(*word, name);
    if (!n) return std::unexpected(n.error());
    return *n;
}

void print_result(const std::string& title, const ExploreResult& r) {
    print_line(title + " (clean run: " + r.clean_outcome + ", " +
               std::to_string(r.clean_mutating_calls) + " mutating calls, " +
               std::to_string(r.clean_boundary_calls) + " platform calls)");
    print_line("  " + std::to_string(r.states) + " states (" + std::to_string(r.replayed) +
               " of them the machine of one already walked), " + std::to_string(r.violation_count) +
               " violations; crash points " + std::to_string(r.crash_points_walked) + " of " +
               std::to_string(r.clean_mutating_calls) + ", failed calls " +
               std::to_string(r.failed_calls_walked) + " of " +
               std::to_string(r.clean_boundary_calls) + "; " +
               std::to_string(static_cast<uint64_t>(r.seconds > 0 ? r.states / r.seconds : 0)) +
               " states/s");
    std::string outcomes = "  outcomes:";
    for (const auto& [name, count] : r.outcomes)
        outcomes += " " + name + " " + std::to_string(count);
    print_line(outcomes);
    for (const Violation& v : r.violations)
        for (const std::string& line : describe(v)) print_line("  " + line);
}

// The walks the switches ask for over one scenario; their violations.
uint64_t other_walks(const VerbArgs& args, const std::string& title, const Scenario& scenario,
                     const ExploreOptions& options) {
    uint64_t violations = 0;
    if (args.has("--retry")) {
        const ExploreResult r = explore_retries(scenario, options);
        print_result(title + ", run again", r);
        violations += r.violation_count;
    }
    if (args.has("--hands")) {
        const ExploreResult r = explore_hands(scenario, options);
        print_result(title + ", a person's hands before the recovery", r);
        violations += r.violation_count;
    }
    if (args.has("--neighbour")) {
        const NeighbourResult n = explore_neighbour(scenario, options);
        print_result(title + ", a neighbour's turn", n.result);
        print_line("  " + std::to_string(n.turns) + " turns, " + std::to_string(n.actions) +
                   " actions, " + std::to_string(n.took_effect) + " took effect");
        violations += n.result.violation_count;
    }
    return violations;
}

}  // namespace

ToolResult<int> verb_soak(const VerbArgs& args) {
    uint64_t seed = 1;
    size_t transactions = 1000;
    if (const auto word = args.option("--seed")) {
        auto n = number_arg(*word, "--seed");
        if (!n) return std::unexpected(n.error());
        seed = *n;
    }
    if (const auto word = args.option("--transactions")) {
        auto n = number_arg(*word, "--transactions");
        if (!n) return std::unexpected(n.error());
        transactions = *n;
    }
    const SoakResult r = soak(seed, transactions);
    print_line(soak_line(r));
    for (const std::string& v : r.violations) print_line("violation: " + v);
    return r.violation_count == 0 ? kExitOk : kExitViolations;
}

ToolResult<int> verb_explore(const VerbArgs& args) {
    const auto root_word = args.option("--root");
    const auto from_word = args.option("--from");
    const auto to_word = args.option("--to");
    if (!root_word || !from_word || !to_word) return usage("--root, --from and --to are required");
    const auto root = windows_path_arg(*root_word, "--root");
    if (!root) return std::unexpected(root.error());
    auto from = payload_named(*from_word);
    if (!from) return std::unexpected(from.error());
    auto to = payload_named(*to_word);
    if (!to) return std::unexpected(to.error());
    if (args.has("--all"))
        for (const char* budget :
             {"--crash-points", "--cut-points", "--recovery-crash-points", "--fault-points"})
            if (args.option(budget))
                return usage(std::string("--all walks every point: no ") + budget);
    ExploreOptions options;
    options.snapshots = !args.has("--rerun");
    options.once_per_machine = !args.has("--every-state");
    if (const auto seed = args.option("--seed")) {
        auto n = number_arg(*seed, "--seed");
        if (!n) return std::unexpected(n.error());
        options.seed = *n;
    }
    for (auto [name, field] : {std::pair{"--crash-points", &options.crash_points},
                               std::pair{"--cut-points", &options.cut_points},
                               std::pair{"--stop-after", &options.stop_after_violations},
                               std::pair{"--recovery-crash-points", &options.recovery_crash_points},
                               std::pair{"--fault-points", &options.fault_points}}) {
        auto n = budget_option(args, name);
        if (!n) return std::unexpected(n.error());
        *field = *n;
    }
    auto machine = load_machine(args.positionals[0]);
    if (!machine) return std::unexpected(machine.error());

    auto upgrade = upgrade_scenario("upgrade", **machine, *root, *from, *to);
    if (!upgrade) return std::unexpected(upgrade.error());
    const ExploreResult up = explore(*upgrade, options);
    const std::string up_title = "upgrade " + *from_word + " -> " + *to_word;
    print_result(up_title, up);
    uint64_t violations = up.violation_count + other_walks(args, up_title, *upgrade, options);

    auto removal = removal_scenario("removal", **machine, *root, {*from, *to});
    if (!removal) return std::unexpected(removal.error());
    const ExploreResult down = explore(*removal, options);
    print_result("removal after the upgrade", down);
    violations +=
        down.violation_count + other_walks(args, "removal after the upgrade", *removal, options);

    print_line(std::to_string(up.states + down.states) + " states, " + std::to_string(violations) +
               " violations");
    return violations == 0 ? kExitOk : kExitViolations;
}

}  // namespace holvar::simtool
