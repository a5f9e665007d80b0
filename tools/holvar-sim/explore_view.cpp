#include "explore_view.hpp"

#include <cstdio>

#include "platform/sim/machine_state.hpp"
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

// Size and a 64-bit FNV-1a digest: two files differ in the view when their
// bytes differ, and a diff stays readable.
std::string contents_digest(const std::vector<uint8_t>& data) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : data) h = (h ^ b) * 0x100000001b3ull;
    char text[40];
    std::snprintf(text, sizeof text, "%zu bytes %016llx", data.size(),
                  static_cast<unsigned long long>(h));
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

void view_walk(const sim::Machine& m, const std::u16string& dir, const std::u16string& rel,
               std::map<std::u16string, std::string>& out) {
    auto listed = m.list(dir);
    if (!listed) return;
    for (const sim::NodeInfo& n : *listed) {
        std::u16string path = platform::join_path(dir, n.name);
        std::u16string child = rel.empty() ? n.name : rel + u"\\" + n.name;
        std::string line = kind_name(n.kind);
        if (!generated_by_service(child)) {
            line += " " + file_id_hex(n.file_id);
            if (n.kind == sim::NodeKind::file) {
                if (auto data = m.read_file(path)) line += " " + contents_digest(*data);
            } else if (n.kind != sim::NodeKind::directory) {
                line += " -> " + utf16_to_wtf8(n.reparse_target);
            }
        }
        out[child] = std::move(line);
        if (n.kind == sim::NodeKind::directory) view_walk(m, path, child, out);
    }
}

void collect_ids(const sim::Machine& m, const std::u16string& dir, std::set<FileId>& out) {
    auto listed = m.list(dir);
    if (!listed) return;
    for (const sim::NodeInfo& n : *listed) {
        if (n.kind == sim::NodeKind::file) out.insert(n.file_id);
        if (n.kind == sim::NodeKind::directory)
            collect_ids(m, platform::join_path(dir, n.name), out);
    }
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

MachineView view_of(const sim::Machine& machine, const std::u16string& root) {
    MachineView v;
    view_walk(machine, root, u"", v.tree);
    const auto& services = machine.state().scm.services;
    auto it = services.find(u"HOLVAR_SERVICE");
    v.service = it == services.end() ? "absent" : service_line(it->second);
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
        v.registry[path] = values;
    }
    if (auto parent = platform::parent_path(root)) {
        if (auto names = machine.list(*parent)) {
            for (const sim::NodeInfo& n : *names)
                if (!n.name.starts_with(u".Holvar-upgrade-")) v.parent.push_back(n.name);
        }
    }
    return v;
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
    for (const std::u16string& dir : dirs) collect_ids(machine, dir, out);
    return out;
}

}  // namespace holvar::simtool
