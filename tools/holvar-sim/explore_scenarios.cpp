#include "explore_scenarios.hpp"

#include <array>
#include <chrono>

#include "demo_payloads.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/names.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/sddl.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/user_hands.hpp"
#include "platform/win_path.hpp"

namespace holvar::simtool {
namespace {

// The installations made before the explored run, one txid each.
std::string install_txid(size_t n) {
    return std::string(32, static_cast<char>('a' + n % 6));
}
const std::string kRunTxid = "b2b2b2b2b2b2b2b2b2b2b2b2b2b2b2b2";

constexpr std::array<std::string_view, 14> kNames = {
    "fresh_install",
    "fresh_install_failing_verification",
    "fresh_install_without_uninstaller_failing_verification",
    "upgrade_over_running_service",
    "upgrade_failing_verification",
    "upgrade_with_held_file",
    "upgrade_with_generated_items",
    "upgrade_with_a_service_image_users_may_change",
    "upgrade_with_a_journal_folder_users_may_write",
    "removal",
    "removal_with_held_file",
    "removal_with_client_running",
    "removal_with_logs_users_may_write",
    "repair_of_a_disabled_service"};

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

// An administrator's object given a DACL that lets Users change it.
void grant_users(sim::Machine& m, const std::u16string& path) {
    if (auto parts = sim::parse_sddl(u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)");
        parts && parts->dacl)
        (void)m.set_dacl(path, *parts->dacl, true);
}

// The service's own items with what a running service writes into them.
// The service's own folders with a file each, as the running service makes
// them: false when the machine would not take them.
bool fill_generated_items(sim::Machine& m, const std::u16string& root) {
    for (const auto* dir : {u"service-logs", u".holvar-service-v3"})
        if (!m.exists(platform::join_path(root, dir)) &&
            !m.make_directory(platform::join_path(root, dir), sim::system_sid()))
            return false;
    for (const auto* rel : {u"service-logs\\service-1.log", u".holvar-service-v3\\state.json"}) {
        const std::string text = "written by the service";
        if (!m.write_file(platform::join_path(root, rel), {text.begin(), text.end()},
                          sim::system_sid()))
            return false;
    }
    return true;
}

// An administrator disabled the service and restarted the machine: the
// repair's run, from the engine the installation keeps.
ToolResult<Scenario> repair_scenario(std::string name, const sim::Machine& machine,
                                     const std::u16string& root) {
    auto s = removal_scenario(std::move(name), machine, root, {demo("v1")});
    if (!s) return s;
    disable_service(*s->base);
    s->base->reboot();
    settle(*s->base);
    s->txn.args = {u"--repair", u"--root", root};
    s->txn.command = "repair";
    s->txn.removal = false;
    s->txn.image =
        platform::join_path(platform::join_path(root, u"resources"), u"holvar-service-install.exe");
    return s;
}

// Users may change the staged service image (a setup program that copied
// it with a careless DACL): the upgrade must be refused untouched.
ToolResult<Scenario> image_users_may_change(std::string name, const sim::Machine& machine,
                                            const std::u16string& root) {
    auto s = upgrade_scenario(std::move(name), machine, root, demo("v1"), demo("v2"));
    if (!s) return s;
    grant_users(*s->base,
                platform::join_path(s->txn.stage.stage, u"payload\\resources\\holvar-service.exe"));
    return s;
}

// The setup program made the stage's journal folder ahead of the engine,
// with a DACL that lets Users write: whoever may write there may write the
// journal a later --recover acts on, so the engine takes nothing from the
// folder and writes nothing into it, and the machine stays as it is until an
// administrator mends the folder.
ToolResult<Scenario> journal_folder_users_may_write(std::string name, const sim::Machine& machine,
                                                    const std::u16string& root) {
    auto s = upgrade_scenario(std::move(name), machine, root, demo("v1"), demo("v2"));
    if (!s) return s;
    const std::u16string journal = platform::join_path(s->txn.stage.stage, u"journal");
    (void)s->base->make_directory(journal, sim::administrators_sid());
    grant_users(*s->base, journal);
    s->journal_users_may_write = true;
    return s;
}

// The service's log folder is one users may change, and a user keeps a file
// of theirs open in it; System32 holds a file worth aiming a link at.
ToolResult<Scenario> logs_users_may_write(std::string name, const sim::Machine& machine,
                                          const std::u16string& root) {
    auto s = removal_scenario(std::move(name), machine, root, {demo("v1")});
    if (!s) return s;
    sim::Machine& m = *s->base;
    const std::string text = "MZ system";
    (void)m.write_file(u"C:\\Windows\\System32\\kernel.dll", {text.begin(), text.end()},
                       sim::system_sid());
    const std::u16string logs = platform::join_path(root, u"service-logs");
    grant_users(m, logs);
    sim::UserHands hands(m);
    (void)hands.make_directory(logs + u"\\x");
    (void)hands.write_file(logs + u"\\x\\kernel.dll", {text.begin(), text.end()});
    hold_as_user(*s, u"service-logs\\x\\kernel.dll");
    s->held_until_restart = true;
    return s;
}

}  // namespace

void disable_service(sim::Machine& machine) {
    for (auto& [folded, service] : machine.state().scm.services)
        if (sim::names_equal(service.name, u"holvar_service")) service.start_type = 4;
}

void hold_as_user(Scenario& scenario, const std::u16string& rel) {
    sim::UserHands hands(*scenario.base);
    (void)hands.hold(platform::join_path(scenario.txn.root, rel), platform::FILE_SHARE_READ);
}

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
    s.payload = to;
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
    if (name == "upgrade_with_generated_items") {
        auto s = upgrade_scenario(std::string(name), *fresh, root, demo("v1"), demo("v2"));
        if (s && !fill_generated_items(*s->base, root))
            return refused("the service's own folders could not be made");
        return s;
    }
    if (name == "upgrade_with_a_service_image_users_may_change")
        return image_users_may_change(std::string(name), *fresh, root);
    if (name == "upgrade_with_a_journal_folder_users_may_write")
        return journal_folder_users_may_write(std::string(name), *fresh, root);
    if (name == "removal_with_logs_users_may_write")
        return logs_users_may_write(std::string(name), *fresh, root);
    if (name == "repair_of_a_disabled_service")
        return repair_scenario(std::string(name), *fresh, root);
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

PayloadSource demo(std::string_view name) {
    return PayloadSource{std::nullopt, demo_payload(name)};
}

}  // namespace holvar::simtool
