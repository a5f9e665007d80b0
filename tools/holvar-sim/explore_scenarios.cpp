#include "explore_scenarios.hpp"

#include <array>
#include <chrono>

#include "demo_payloads.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/win_path.hpp"

namespace holvar::simtool {
namespace {

// The installations made before the explored run, one txid each.
std::string install_txid(size_t n) {
    return std::string(32, static_cast<char>('a' + n % 6));
}
const std::string kRunTxid = "b2b2b2b2b2b2b2b2b2b2b2b2b2b2b2b2";

constexpr std::array<std::string_view, 9> kNames = {
    "fresh_install",
    "fresh_install_failing_verification",
    "fresh_install_without_uninstaller_failing_verification",
    "upgrade_over_running_service",
    "upgrade_failing_verification",
    "upgrade_with_held_file",
    "removal",
    "removal_with_held_file",
    "removal_with_client_running"};

PayloadSource demo(std::string_view name) {
    return PayloadSource{std::nullopt, demo_payload(name)};
}

// A demo payload without one of its files.
PayloadSource demo_without(std::string_view name, std::string_view path) {
    PayloadSource source = demo(name);
    if (source.files)
        std::erase_if(*source.files, [&](const DemoFile& f) { return f.path == path; });
    return source;
}

// The first installation must commit; a later one may roll back or be
// refused (a broken or reshaped upgrade leaves the installation before it).
ToolResult<void> install(sim::Machine& m, const std::u16string& root, const PayloadSource& from,
                         size_t n) {
    const std::string txid = install_txid(n);
    auto staged = stage_transaction(m, root, txid, from);
    if (!staged) return std::unexpected(staged.error());
    Transaction install{root, txid, *staged, {u"--apply", u"--root", root}, "apply"};
    EngineRun run = run_engine_from_stage(m, install, install.args);
    const bool kept_old = n > 0 && (run.exit_code == 10 || run.exit_code == 11);
    if (run.crashed || !(run.exit_code == 0 || kept_old))
        return refused("installing the old payload ended with exit code " +
                       std::to_string(run.exit_code));
    settle(m);
    return {};
}

}  // namespace

std::span<const std::string_view> builtin_scenario_names() {
    return kNames;
}

ToolResult<Scenario> upgrade_scenario(std::string name, const sim::Machine& machine,
                                      const std::u16string& root,
                                      const std::optional<PayloadSource>& from,
                                      const PayloadSource& to) {
    Scenario s;
    s.name = std::move(name);
    s.base = machine.clone();
    if (from) {
        if (auto installed = install(*s.base, root, *from, 0); !installed)
            return std::unexpected(installed.error());
    }
    auto staged = stage_transaction(*s.base, root, kRunTxid, to);
    if (!staged) return std::unexpected(staged.error());
    s.txn = Transaction{root, kRunTxid, *staged, {u"--apply", u"--root", root}, "apply"};
    return s;
}

ToolResult<Scenario> removal_scenario(std::string name, const sim::Machine& machine,
                                      const std::u16string& root,
                                      const std::vector<PayloadSource>& installed) {
    Scenario s;
    s.name = std::move(name);
    s.base = machine.clone();
    for (size_t n = 0; n < installed.size(); ++n) {
        if (auto made = install(*s.base, root, installed[n], n); !made)
            return std::unexpected(made.error());
    }
    auto staged = stage_transaction(*s.base, root, kRunTxid, std::nullopt);
    if (!staged) return std::unexpected(staged.error());
    s.txn = Transaction{root, kRunTxid, *staged, {u"--remove", u"--root", root}, "remove", true};
    return s;
}

void hold_installed_file(Scenario& scenario, const std::u16string& rel,
                         std::optional<uint64_t> for_ms) {
    sim::Machine& m = *scenario.base;
    const uint32_t pid = m.spawn_process(u"C:\\Windows\\System32\\holder.exe", sim::user_token());
    sim::hold_file(m.state(), pid, platform::join_path(scenario.txn.root, rel),
                   platform::FILE_READ_DATA, 0);
    if (for_ms) sim::exit_after(m.state(), pid, *for_ms, 0);
}

ToolResult<Scenario> builtin_scenario(std::string_view name) {
    auto fresh = sim::Machine::fresh();
    const std::u16string& root = kExploreRoot;
    if (name == "fresh_install")
        return upgrade_scenario(std::string(name), *fresh, root, {}, demo("v1"));
    if (name == "fresh_install_failing_verification")
        return upgrade_scenario(std::string(name), *fresh, root, {}, demo("v2-broken"));
    // No uninstaller in the payload: a rollback run again after a power cut
    // must still take away the root and what the new service made.
    if (name == "fresh_install_without_uninstaller_failing_verification")
        return upgrade_scenario(std::string(name), *fresh, root, {},
                                demo_without("v2-broken", "uninstall.exe"));
    if (name == "upgrade_over_running_service")
        return upgrade_scenario(std::string(name), *fresh, root, demo("v1"), demo("v2"));
    if (name == "upgrade_failing_verification")
        return upgrade_scenario(std::string(name), *fresh, root, demo("v1"), demo("v2-broken"));
    if (name == "upgrade_with_held_file") {
        auto s = upgrade_scenario(std::string(name), *fresh, root, demo("v1"), demo("v2"));
        // Held past the placement's 30-second budget: the upgrade rolls back.
        if (s) hold_installed_file(*s, u"resources\\geoip.dat", 45'000);
        return s;
    }
    if (name == "removal") return removal_scenario(std::string(name), *fresh, root, {demo("v1")});
    if (name == "removal_with_held_file") {
        auto s = removal_scenario(std::string(name), *fresh, root, {demo("v1")});
        // Held for good: the file goes at the next restart.
        if (s) hold_installed_file(*s, u"resources\\geoip.dat", std::nullopt);
        return s;
    }
    if (name == "removal_with_client_running") {
        auto s = removal_scenario(std::string(name), *fresh, root, {demo("v1")});
        // The desktop client runs from the root, as a signed-in user started it.
        if (s)
            (void)s->base->spawn_process(platform::join_path(root, u"holvar-client.exe"),
                                         sim::user_token());
        return s;
    }
    return usage("unknown scenario '" + std::string(name) + "'");
}

}  // namespace holvar::simtool
