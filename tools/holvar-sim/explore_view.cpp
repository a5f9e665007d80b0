#include "explore_view.hpp"

#include <cstdio>

#include "platform/sim/machine_state.hpp"
#include "platform/sim/names.hpp"
#include "platform/sim/namespace_ops.hpp"
#include "platform/sim/sim_paths.hpp"
#include "platform/win_path.hpp"
#include "printing.hpp"
#include "txn/plan/name_rules.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

bool generated_by_service(const std::u16string& rel) {
    static const std::vector<std::u16string> items = txn::plan::default_generated_items();
    for (const std::u16string& item : items) {
        if (rel.size() >= item.size() &&
            platform::ascii_iequal(std::u16string_view(rel).substr(0, item.size()), item) &&
            (rel.size() == item.size() || rel[item.size()] == u'\\'))
            return true;
    }
    return false;
}

// Size and a 64-bit digest: two files differ in the view when their bytes
// differ, and a diff stays readable. The digest is the one the simulated
// machine keeps with the shared contents, so the copies of a machine that the
// explorer looks at hash each file once.
std::string contents_digest(const sim::Bytes& data) {
    char text[40];
    std::snprintf(text, sizeof text, "%zu bytes %016llx", data.size(),
                  static_cast<unsigned long long>(data.hash().a));
    return text;
}

// Text values as text (a multi-string's NULs as "|"), anything else in hex.
std::string listed_value_text(const sim::RegValue& value) {
    const auto& d = value.data;
    if (value.type == 1 || value.type == 2 || value.type == 7) {
        std::u16string units;
        for (size_t i = 0; i + 1 < d.size(); i += 2)
            units.push_back(static_cast<char16_t>(d[i] | (d[i + 1] << 8)));
        std::string out;
        for (char16_t c : units)
            out += c == 0 ? std::string("|") : utf16_to_wtf8(std::u16string(1, c));
        return out;
    }
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : d) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

// The restart-time operations, but those on a stage directory's leftovers:
// a stage the engine could not empty is scheduled to go at the next restart,
// and the stage is no part of either installation.
std::string pending_outside_stages(const std::string& text) {
    std::vector<std::string> strings;
    size_t start = 0;
    for (size_t bar = text.find('|'); bar != std::string::npos; bar = text.find('|', start)) {
        strings.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    std::string kept;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i].find("\\.Holvar-upgrade-") != std::string::npos) continue;
        kept += strings[i] + "|" + strings[i + 1] + "|";
    }
    return kept;
}

// The objects of a directory as Machine::list gives them (by folded name,
// each under the name it was stored with), read from the model itself: the
// explorer looks at every state it walks several times, and a path lookup per
// object would cost more than the rest of the look.
template <class F>
void each_child(const sim::Machine::State& s, sim::NodeId dir, F&& f) {
    for (const auto& [folded, id] : s.live.nodes.at(dir).children) {
        const sim::Node& n = s.live.nodes.at(id);
        for (const sim::Link& l : n.links)
            if (l.parent == dir && sim::fold_name(l.name) == folded) f(id, n, l.name);
    }
}

// The directory a path names, links followed, as Machine::list finds it.
std::optional<sim::NodeId> directory_at(const sim::Machine& m, const std::u16string& path) {
    auto t = sim::resolve_path(m.state(), path, u"C:\\", true);
    if (!t || t->kind != sim::Target::Kind::object || !t->node) return std::nullopt;
    if (m.state().live.nodes.at(*t->node).kind != sim::NodeKind::directory) return std::nullopt;
    return *t->node;
}

constexpr uint64_t kIndexMask = (uint64_t{1} << 48) - 1;

// Every object below `dir` as (path under the root, line) to `put`.
template <class Put>
void view_walk(const sim::Machine::State& s, sim::NodeId dir, const std::u16string& rel,
               uint64_t dirs_made_from, Put& put) {
    each_child(s, dir, [&](sim::NodeId id, const sim::Node& n, const std::u16string& name) {
        std::u16string child = rel.empty() ? name : rel + u"\\" + name;
        std::string line = kind_name(n.kind);
        if (n.kind == sim::NodeKind::directory && (n.file_index & kIndexMask) >= dirs_made_from) {
            line += " made by the run";
        } else if (!generated_by_service(child)) {
            line += " " + file_id_hex(sim::file_id_bytes(n.file_index));
            if (n.kind == sim::NodeKind::file)
                line += " " + contents_digest(n.data);
            else if (n.kind != sim::NodeKind::directory)
                line += " -> " + utf16_to_wtf8(n.reparse_target);
        }
        put.tree(child, std::move(line));
        if (n.kind == sim::NodeKind::directory) view_walk(s, id, child, dirs_made_from, put);
    });
}

void collect_ids(const sim::Machine::State& s, sim::NodeId dir, std::set<FileId>& out) {
    each_child(s, dir, [&](sim::NodeId id, const sim::Node& n, const std::u16string&) {
        if (n.kind == sim::NodeKind::file) out.insert(sim::file_id_bytes(n.file_index));
        if (n.kind == sim::NodeKind::directory) collect_ids(s, id, out);
    });
}

std::string service_line(const sim::Service& s) {
    auto text = [](const std::u16string& t) { return utf16_to_wtf8(t); };
    return "start " + std::to_string(s.start_type) + " image " + text(s.binary_path) + " account " +
           text(s.account.value_or(u"")) + " name " + text(s.display_name) + " description " +
           text(s.description) + " state " + std::to_string(s.state) +
           (s.marked_for_delete ? " deleting" : "");
}

template <class Map>
void diff_maps(const Map& expected, const Map& actual, const std::string& what,
               std::vector<std::string>& out, size_t limit) {
    for (const auto& [key, line] : expected) {
        auto it = actual.find(key);
        if (it != actual.end() && it->second == line) continue;
        if (out.size() < limit) out.push_back("- " + what + utf16_to_wtf8(key) + ": " + line);
        if (it != actual.end() && out.size() < limit)
            out.push_back("+ " + what + utf16_to_wtf8(key) + ": " + it->second);
    }
    for (const auto& [key, line] : actual)
        if (!expected.contains(key) && out.size() < limit)
            out.push_back("+ " + what + utf16_to_wtf8(key) + ": " + line);
}

}  // namespace

uint64_t next_object_index(const sim::Machine& machine, const std::u16string& root) {
    for (const sim::Volume& volume : machine.state().volumes)
        if (!volume.drive.empty() && platform::ascii_iequal(root.substr(0, 2), volume.drive))
            return volume.next_index + 1;
    return UINT64_MAX;
}

namespace {

// The view of a machine, each of its parts to `put`.
template <class Put>
void look_at(const sim::Machine& machine, const std::u16string& root, uint64_t dirs_made_from,
             Put& put) {
    if (auto dir = directory_at(machine, root))
        view_walk(machine.state(), *dir, u"", dirs_made_from, put);
    const auto& services = machine.state().scm.services;
    auto it = services.find(u"HOLVAR_SERVICE");
    put.service(it == services.end() ? "absent" : service_line(it->second));
    for (const auto& [path, key] : machine.state().registry.keys) {
        std::string values;
        for (const auto& [name, value] : key.values) {
            std::string text = listed_value_text(value);
            if (value.name == u"PendingFileRenameOperations") {
                text = pending_outside_stages(text);
                if (text.empty()) continue;
            }
            values +=
                utf16_to_wtf8(value.name) + "=" + std::to_string(value.type) + ":" + text + ";";
        }
        put.registry(path, std::move(values));
    }
    if (auto parent = platform::parent_path(root)) {
        if (auto names = machine.list(*parent)) {
            size_t at = 0;
            for (const sim::NodeInfo& n : *names)
                if (!n.name.starts_with(u".Holvar-upgrade-")) put.parent(at++, n.name);
        }
    }
}

struct ViewBuilder {
    MachineView v;
    void tree(const std::u16string& rel, std::string line) { v.tree[rel] = std::move(line); }
    void service(std::string line) { v.service = std::move(line); }
    void registry(const std::u16string& path, std::string values) {
        v.registry[path] = std::move(values);
    }
    void parent(size_t, const std::u16string& name) { v.parent.push_back(name); }
};

// Each part hashed on its own and the hashes summed: the digest does not
// depend on the order the parts come in, so a view and the machine it was
// taken from give the same one.
struct Digester {
    ViewDigest d;
    void add(uint64_t tag, std::u16string_view key, std::string_view value) {
        const sim::Fingerprint k = sim::fingerprint_of(tag, key.data(), key.size() * 2);
        const sim::Fingerprint v = sim::fingerprint_of(k.a ^ k.b, value.data(), value.size());
        d.a += v.a;
        d.b += v.b;
    }
    void tree(const std::u16string& rel, const std::string& line) { add(1, rel, line); }
    void service(const std::string& line) { add(2, u"", line); }
    void registry(const std::u16string& path, const std::string& values) { add(3, path, values); }
    void parent(size_t at, const std::u16string& name) { add(4 + (uint64_t{at} << 8), name, ""); }
};

}  // namespace

MachineView view_of(const sim::Machine& machine, const std::u16string& root,
                    uint64_t dirs_made_from) {
    ViewBuilder b;
    look_at(machine, root, dirs_made_from, b);
    return std::move(b.v);
}

ViewDigest view_digest(const sim::Machine& machine, const std::u16string& root,
                       uint64_t dirs_made_from) {
    Digester d;
    look_at(machine, root, dirs_made_from, d);
    return d.d;
}

ViewDigest digest_of(const MachineView& view) {
    Digester d;
    for (const auto& [rel, line] : view.tree) d.tree(rel, line);
    d.service(view.service);
    for (const auto& [path, values] : view.registry) d.registry(path, values);
    for (size_t at = 0; at < view.parent.size(); ++at) d.parent(at, view.parent[at]);
    return d.d;
}

std::vector<std::string> view_diff(const MachineView& expected, const MachineView& actual,
                                   size_t limit) {
    std::vector<std::string> out;
    diff_maps(expected.tree, actual.tree, "root\\", out, limit);
    if (expected.service != actual.service && out.size() + 1 < limit) {
        out.push_back("- service: " + expected.service);
        out.push_back("+ service: " + actual.service);
    }
    diff_maps(expected.registry, actual.registry, "registry ", out, limit);
    if (expected.parent != actual.parent && out.size() < limit) {
        std::string names = "names beside the root differ:";
        for (const auto& n : actual.parent) names += " " + utf16_to_wtf8(n);
        out.push_back(names);
    }
    return out;
}

std::set<FileId> file_ids_below(const sim::Machine& machine,
                                const std::vector<std::u16string>& dirs) {
    std::set<FileId> out;
    for (const std::u16string& path : dirs)
        if (auto dir = directory_at(machine, path)) collect_ids(machine.state(), *dir, out);
    return out;
}

}  // namespace holvar::simtool
