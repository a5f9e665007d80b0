#include "install_machine.hpp"

#include <nlohmann/json.hpp>

#include "installer/entry.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/journal/journal_codec.hpp"

namespace holvar::drivers::testing {

namespace p = platform;

namespace {

std::vector<uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string hex(const std::array<uint8_t, 16>& id) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : id) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

const char* kind_name(sim::NodeKind kind) {
    switch (kind) {
        case sim::NodeKind::file:
            return "file";
        case sim::NodeKind::directory:
            return "dir";
        case sim::NodeKind::junction:
            return "junction";
        case sim::NodeKind::symlink:
            return "symlink";
    }
    return "?";
}

void walk(const sim::Machine& m, const std::u16string& dir, const std::u16string& rel,
          std::map<std::u16string, std::string>& out, bool contents) {
    auto listed = m.list(dir);
    if (!listed) return;
    for (const sim::NodeInfo& n : *listed) {
        if (n.name == u"." || n.name == u"..") continue;
        std::u16string path = p::join_path(dir, n.name);
        std::u16string child = rel.empty() ? n.name : rel + u"\\" + n.name;
        std::string line = std::string(kind_name(n.kind)) + " " + hex(n.file_id);
        if (n.kind == sim::NodeKind::file && contents) {
            auto data = m.read_file(path);
            if (data) line += " " + std::string(data->begin(), data->end());
        }
        out[child] = line;
        if (n.kind == sim::NodeKind::directory) walk(m, path, child, out, contents);
    }
}

}  // namespace

std::string program_text(const std::string& description_json) {
    return std::string(sim::kProgramMarker) + description_json;
}

std::string service_text(const std::string& label, const std::string& v3_json) {
    std::string d = R"({"kind":"service","start_pending_ms":200,"label":")" + label + "\"";
    if (!v3_json.empty()) d += R"(,"v3":)" + v3_json;
    return program_text(d + "}");
}

Payload runtime_v1() {
    return {
        {u"resources\\holvar-service.exe", service_text("v1")},
        {u"resources\\holvar-service-install.exe", "MZ engine v1"},
        {u"holvar-client.exe", program_text(R"({"kind":"client","exit_code":0})")},
        {u"uninstall.exe", "MZ uninstaller v1"},
        {u"locales\\en\\strings.json", "{\"hello\":\"Hello\"}"},
        {u"locales\\de\\strings.json", "{\"hello\":\"Hallo\"}"},
        {u"assets\\icons\\app.ico", "icon v1"},
        {u"assets\\old\\legacy.dat", "legacy data"},
        {u"lib\\core.dll", "core v1"},
        {u"readme.txt", "Holvar v1"},
    };
}

Payload runtime_v2(const std::optional<std::string>& service) {
    return {
        {u"resources\\holvar-service.exe", service.value_or(service_text("v2"))},
        {u"resources\\holvar-service-install.exe", "MZ engine v2"},
        {u"holvar-client.exe", program_text(R"({"kind":"client","exit_code":0})")},
        {u"uninstall.exe", "MZ uninstaller v2"},
        {u"locales\\en\\strings.json", "{\"hello\":\"Hello!\"}"},
        {u"locales\\fr\\strings.json", "{\"hello\":\"Bonjour\"}"},
        {u"assets\\icons\\app.ico", "icon v2"},
        {u"lib\\core.dll", "core v2"},
        {u"lib\\extra.dll", "extra v2"},
        {u"readme.txt", "Holvar v1"},
    };
}

Payload without_file(Payload payload, const std::u16string& rel) {
    std::erase_if(payload, [&](const auto& file) { return file.first == rel; });
    return payload;
}

std::string broken_service() {
    return service_text("broken", R"({"replies":[{"protocol":2},{"protocol":2},{"protocol":2}]})");
}

std::u16string stage_dir(const std::string& txid) {
    return kParent + u"\\.Holvar-upgrade-" + p::ascii_to_utf16(txid);
}

InstallMachine::InstallMachine(std::u16string parent_dir, bool protect_dirs)
    : machine(sim::Machine::fresh()),
      parent(std::move(parent_dir)),
      root(parent + u"\\Holvar"),
      diagnostics(parent + u"\\Holvar-Install-Diagnostics"),
      protect(protect_dirs) {
    if (!machine->exists(parent)) {
        EXPECT_TRUE(machine->make_directory(parent, sim::administrators_sid()));
    }
    make_trusted_directory(diagnostics);
}

std::u16string InstallMachine::stage_path(const std::string& txid) const {
    return parent + u"\\.Holvar-upgrade-" + p::ascii_to_utf16(txid);
}

void InstallMachine::make_trusted_directory(const std::u16string& path) {
    if (protect) {
        EXPECT_TRUE(machine->make_directory_sddl(
            path, u"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)"));
    } else {
        EXPECT_TRUE(machine->make_directory(path, sim::administrators_sid()));
    }
}

void InstallMachine::stage(const std::string& txid, const Payload& payload) {
    const p::Sid admins = sim::administrators_sid();
    std::u16string dir = stage_path(txid);
    make_trusted_directory(dir);
    ASSERT_TRUE(machine->write_file(dir + u"\\holvar-service-install.exe", bytes_of("MZ"), admins));
    ASSERT_TRUE(machine->make_directory(dir + u"\\payload", admins));
    for (const auto& [rel, contents] : payload) {
        std::u16string path = dir + u"\\payload";
        p::PathParts parts = p::split_path(rel);
        for (size_t i = 0; i + 1 < parts.components.size(); ++i) {
            path = p::join_path(path, parts.components[i]);
            if (!machine->exists(path)) {
                ASSERT_TRUE(machine->make_directory(path, admins));
            }
        }
        ASSERT_TRUE(machine->write_file(p::join_path(path, parts.components.back()),
                                        bytes_of(contents), admins));
    }
}

int InstallMachine::run(const std::string& txid, const std::u16string& mode,
                        std::optional<std::u16string> image) {
    std::u16string exe = image.value_or(stage_path(txid) + u"\\holvar-service-install.exe");
    uint32_t pid = machine->spawn_process(exe, sim::admin_token());
    int code = 0;
    {
        sim::ProcessOs process(*machine, pid);
        code = installer::run_engine(process.os(), {exe, mode, u"--root", root});
    }
    machine->exit_process(pid, static_cast<uint32_t>(code));
    return code;
}

int InstallMachine::repair(const std::u16string& root) {
    std::u16string exe =
        p::join_path(p::join_path(root, u"resources"), u"holvar-service-install.exe");
    uint32_t pid = machine->spawn_process(exe, sim::admin_token());
    int code = 0;
    {
        sim::ProcessOs process(*machine, pid);
        code = installer::run_engine(process.os(), {exe, u"--repair", u"--root", root});
    }
    machine->exit_process(pid, static_cast<uint32_t>(code));
    return code;
}

void InstallMachine::set_install_location(const std::u16string& text) {
    sim::reg_set_value(machine->state().registry,
                       u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Holvar",
                       u"InstallLocation", sim::REG_SZ, sim::sz_bytes(text));
}

void InstallMachine::install(const std::string& txid, const Payload& payload, int exit_code) {
    stage(txid, payload);
    ASSERT_EQ(run(txid), exit_code) << report(txid).value_or("no report");
}

MachineView InstallMachine::view() const {
    MachineView v;
    walk(*machine, root, u"", v.tree, true);
    const auto& services = machine->state().scm.services;
    if (auto it = services.find(u"HOLVAR_SERVICE"); it != services.end()) {
        const sim::Service& s = it->second;
        v.service = std::to_string(s.start_type) + " " + p::utf16_to_utf8_lossy(s.binary_path) +
                    " " + p::utf16_to_utf8_lossy(s.account.value_or(u"")) + " " +
                    p::utf16_to_utf8_lossy(s.display_name) + " " +
                    p::utf16_to_utf8_lossy(s.description) + " state " + std::to_string(s.state) +
                    (s.marked_for_delete ? " deleting" : "");
    } else {
        v.service = "absent";
    }
    for (const auto& [path, key] : machine->state().registry.keys) {
        std::string values;
        for (const auto& [name, value] : key.values)
            values += p::utf16_to_utf8_lossy(value.name) + "=" + std::to_string(value.type) + ":" +
                      std::string(value.data.begin(), value.data.end()) + ";";
        v.registry[path] = values;
    }
    for (const std::u16string& name : names(parent))
        if (!name.starts_with(u".Holvar-upgrade-")) v.parent.push_back(name);
    return v;
}

std::map<std::u16string, std::string> InstallMachine::payload_ids(const std::string& txid) const {
    std::map<std::u16string, std::string> out;
    walk(*machine, stage_path(txid) + u"\\payload", u"", out, false);
    return out;
}

std::map<std::u16string, std::string> InstallMachine::root_ids() const {
    std::map<std::u16string, std::string> out;
    walk(*machine, root, u"", out, false);
    return out;
}

std::optional<std::string> InstallMachine::text(const std::u16string& path) const {
    auto bytes = machine->read_file(path);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

std::optional<std::string> InstallMachine::report(const std::string& txid,
                                                  const std::string& command) const {
    return text(diagnostics + u"\\engine-" + p::ascii_to_utf16(txid) + u"-" +
                p::ascii_to_utf16(command) + u".json");
}

std::optional<txn::journal::Journal> InstallMachine::journal(const std::string& txid) const {
    auto bytes = text(stage_path(txid) + u"\\journal\\txn.json");
    if (!bytes) return std::nullopt;
    auto decoded = txn::journal::decode_journal(*bytes);
    if (!decoded) return std::nullopt;
    return std::move(*decoded);
}

std::vector<std::string> InstallMachine::marks(const std::string& txid) const {
    std::vector<std::string> out;
    if (auto j = journal(txid)) {
        for (const txn::journal::Mark& m : j->marks)
            out.emplace_back(txn::journal::mark_name(m.kind));
    }
    return out;
}

void InstallMachine::rewrite_journal(const std::string& txid,
                                     const std::function<void(txn::journal::Journal&)>& change) {
    auto j = journal(txid);
    ASSERT_TRUE(j);
    change(*j);
    auto bytes = txn::journal::encode_journal(*j);
    ASSERT_TRUE(bytes);
    write_journal_text(txid, *bytes);
}

void InstallMachine::write_journal_text(const std::string& txid, const std::string& text) {
    std::u16string dir = stage_path(txid) + u"\\journal";
    if (!machine->exists(dir)) {
        ASSERT_TRUE(machine->make_directory(dir, sim::administrators_sid()));
    }
    ASSERT_TRUE(
        machine->write_file(dir + u"\\txn.json", bytes_of(text), sim::administrators_sid()));
}

std::vector<std::u16string> InstallMachine::names(const std::u16string& dir) const {
    std::vector<std::u16string> out;
    auto listed = machine->list(dir);
    if (!listed) return out;
    for (const sim::NodeInfo& n : *listed)
        if (n.name != u"." && n.name != u"..") out.push_back(n.name);
    return out;
}

bool InstallMachine::service_running() const {
    const auto& services = machine->state().scm.services;
    auto it = services.find(u"HOLVAR_SERVICE");
    return it != services.end() && it->second.state == 4;
}

std::optional<std::u16string> InstallMachine::service_image() const {
    const auto& services = machine->state().scm.services;
    auto it = services.find(u"HOLVAR_SERVICE");
    if (it == services.end()) return std::nullopt;
    return it->second.binary_path;
}

uint32_t InstallMachine::hold_file(const std::u16string& path, std::optional<uint64_t> for_ms,
                                   uint32_t share) {
    uint32_t pid = machine->spawn_process(u"C:\\Windows\\System32\\editor.exe", sim::user_token());
    sim::hold_file(machine->state(), pid, path, p::FILE_READ_DATA, share);
    if (for_ms) sim::exit_after(machine->state(), pid, *for_ms, 0);
    return pid;
}

void InstallMachine::stage_engine(const std::string& txid) {
    const p::Sid admins = sim::administrators_sid();
    make_trusted_directory(stage_path(txid));
    ASSERT_TRUE(machine->write_file(stage_path(txid) + u"\\holvar-service-install.exe",
                                    bytes_of("MZ"), admins));
}

int InstallMachine::run_with(const std::string& txid, std::vector<std::u16string> args) {
    std::u16string exe = stage_path(txid) + u"\\holvar-service-install.exe";
    args.insert(args.begin(), exe);
    uint32_t pid = machine->spawn_process(exe, sim::admin_token());
    int code = 0;
    {
        sim::ProcessOs process(*machine, pid);
        code = installer::run_engine(process.os(), args);
    }
    machine->exit_process(pid, static_cast<uint32_t>(code));
    return code;
}

std::string report_field(const std::string& report, const std::string& pointer) {
    auto doc = nlohmann::json::parse(report, nullptr, false);
    if (doc.is_discarded()) return "<bad json>";
    auto ptr = nlohmann::json::json_pointer(pointer);
    if (!doc.contains(ptr)) return "<missing>";
    return doc[ptr].dump();
}

}  // namespace holvar::drivers::testing
