// A simulated machine as the product's setup program leaves it, for running
// whole transactions through the real front end and drivers: stage
// directories beside "C:\Program Files\Holvar" with the engine and a payload
// built from simulated programs, the diagnostics directory, and views of the
// machine (tree, service, registry, journal, report) to compare before and
// after a run.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.hpp"
#include "txn/journal/journal.hpp"

namespace holvar::drivers::testing {

inline const std::u16string kParent = u"C:\\Program Files";
inline const std::u16string kRoot = kParent + u"\\Holvar";
inline const std::u16string kDiagnostics = kParent + u"\\Holvar-Install-Diagnostics";
inline const std::string kTx1 = "11111111111111111111111111111111";
inline const std::string kTx2 = "22222222222222222222222222222222";
inline const std::string kTx3 = "33333333333333333333333333333333";

// Relative path and contents of each payload file (folders follow from the paths).
using Payload = std::vector<std::pair<std::u16string, std::string>>;

// A simulated program's image bytes: the marker line, then its description.
std::string program_text(const std::string& description_json);
// The service's description: well-behaved, or with its v3 side as given.
std::string service_text(const std::string& label, const std::string& v3_json = "");

// The runtime in two versions: v2 changes, adds and drops files and drops a
// folder. `service` replaces the service image's text.
Payload runtime_v1();
Payload runtime_v2(const std::optional<std::string>& service = std::nullopt);

// The payload without the file at `rel` (a payload without the uninstaller).
Payload without_file(Payload payload, const std::u16string& rel);
// A v2 service that answers an older protocol: its verification always fails.
std::string broken_service();

std::u16string stage_dir(const std::string& txid);

// What the run is compared on: every object under the root, the service, the
// registry and the names in the root's parent.
struct MachineView {
    std::map<std::u16string, std::string> tree;  // rel -> "kind id [contents]"
    std::string service;                         // configuration and run state
    std::map<std::u16string, std::string> registry;
    std::vector<std::u16string> parent;  // names beside the root, stage directories left out
    friend bool operator==(const MachineView&, const MachineView&) = default;
};

struct InstallMachine {
    // The root is `parent`\Holvar, its stages and diagnostics directory beside
    // it. Under C:\Program Files every folder the fixture makes inherits a DACL
    // the engine trusts; elsewhere the stages and the diagnostics directory
    // are made with the protected DACL the guide for setup programs gives,
    // unless `protect` is false (an administrator's plain mkdir).
    explicit InstallMachine(std::u16string parent = kParent, bool protect = true);

    std::u16string stage_path(const std::string& txid) const;

    // A stage directory for `txid` with the engine and the payload.
    void stage(const std::string& txid, const Payload& payload);
    // The engine run from that stage (or from `image`) with `mode`, as an elevated process.
    int run(const std::string& txid, const std::u16string& mode = u"--apply",
            std::optional<std::u16string> image = std::nullopt);
    // `--repair --root <root>` run from <root>\resources\holvar-service-install.exe.
    int repair(const std::u16string& root = kRoot);
    // The uninstall key's "InstallLocation", written as stored text (quotes included).
    void set_install_location(const std::u16string& text);
    // stage + run --apply, expecting `exit_code`.
    void install(const std::string& txid, const Payload& payload, int exit_code = 0);
    // A stage directory for `txid` holding the engine alone, as the setup
    // program leaves it for a removal.
    void stage_engine(const std::string& txid);
    // The engine run from that stage with `args` after its own path, e.g.
    // {u"--remove", u"--root", kRoot, u"--purge-session-vault"}.
    int run_with(const std::string& txid, std::vector<std::u16string> args);

    MachineView view() const;
    // The file ids of the payload's files, by relative path, as staged.
    std::map<std::u16string, std::string> payload_ids(const std::string& txid) const;
    std::map<std::u16string, std::string> root_ids() const;

    std::optional<std::string> text(const std::u16string& path) const;
    std::optional<std::string> report(const std::string& txid,
                                      const std::string& command = "apply") const;
    std::optional<txn::journal::Journal> journal(const std::string& txid) const;
    std::vector<std::string> marks(const std::string& txid) const;
    std::vector<std::u16string> names(const std::u16string& dir) const;
    // The stage's journal changed as a crash at another moment would have
    // left it (marks cut or added), or replaced by other bytes.
    void rewrite_journal(const std::string& txid,
                         const std::function<void(txn::journal::Journal&)>& change);
    void write_journal_text(const std::string& txid, const std::string& text);

    // The service's run state and image path, when it exists.
    bool service_running() const;
    std::optional<std::u16string> service_image() const;

    // A process that keeps `path` open for reading, sharing nothing unless
    // told, for `for_ms` of virtual time (none: until it is killed).
    uint32_t hold_file(const std::u16string& path, std::optional<uint64_t> for_ms,
                       uint32_t share = 0);

    std::unique_ptr<sim::Machine> machine;
    const std::u16string parent;
    const std::u16string root;
    const std::u16string diagnostics;
    bool protect;  // stages made from now on: protected, or plain

  private:
    void make_trusted_directory(const std::u16string& path);
};

// Fields of the report, by key, as their JSON text ("\"rolled_back\"", "10", ...).
std::string report_field(const std::string& report, const std::string& pointer);

}  // namespace holvar::drivers::testing
