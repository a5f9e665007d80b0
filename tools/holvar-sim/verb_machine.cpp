// `init`, `reboot` and `show`: a fresh machine, a restart, and a look at all
// of one or at one part of it.
#include <filesystem>

#include "machine_file.hpp"
#include "platform/win_path.hpp"
#include "printing.hpp"
#include "show_state.hpp"
#include "show_views.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

constexpr std::u16string_view kDiagnosticsName = u"Holvar-Install-Diagnostics";

bool is_report_name(std::u16string_view name) {
    return name.starts_with(u"engine-") && name.ends_with(u".json");
}

struct Walk {
    const sim::Machine& machine;
    std::vector<std::u16string> reports;

    // Prints the tree under `path`; links are shown, never entered.
    void tree(const std::u16string& path, int depth) {
        const auto entries = machine.list(path);
        if (!entries) {
            print_line(std::string(static_cast<size_t>(depth) * 2, ' ') +
                       "(cannot list: " + describe(entries.error()) + ")");
            return;
        }
        const bool diagnostics =
            platform::file_name(path).has_value() &&
            platform::ascii_iequal(*platform::file_name(path), kDiagnosticsName);
        for (const auto& entry : *entries) {
            print_line(std::string(static_cast<size_t>(depth) * 2, ' ') + node_line(entry));
            const std::u16string child = platform::join_path(path, entry.name);
            if (entry.kind == sim::NodeKind::directory) tree(child, depth + 1);
            if (diagnostics && entry.kind == sim::NodeKind::file && is_report_name(entry.name)) {
                reports.push_back(child);
            }
        }
    }
};

// The whole machine: files under C:\, processes, mutexes, services, the
// registry's keys that hold values, and every report.
ToolResult<int> show_machine(const sim::Machine& machine) {
    const std::u16string top = u"C:\\";
    Walk walk{machine, {}};
    print_line("files under " + utf16_to_wtf8(top) + ":");
    walk.tree(top, 1);
    print_processes(machine);
    print_mutexes(machine);
    print_services(machine);
    print_registry(machine);
    for (const auto& report : walk.reports) {
        const auto bytes = machine.read_file(report);
        print_line("report " + utf16_to_wtf8(report) + ":");
        if (bytes) {
            print_line("  " + std::string(bytes->begin(), bytes->end()));
        } else {
            print_line("  (cannot read: " + describe(bytes.error()) + ")");
        }
    }
    return kExitOk;
}

// One part of the machine: `show MACHINE VIEW [WINPATH]`.
struct ShowView {
    std::string_view name;
    bool takes_path;
    ToolResult<int> (*print)(const sim::Machine& machine, const std::u16string& path);
};

constexpr ShowView kViews[] = {
    {"journal", true, show_journal},
    {"tree", true, show_tree},
    {"services", false,
     [](const sim::Machine& m, const std::u16string&) -> ToolResult<int> {
         print_service_details(m);
         return kExitOk;
     }},
    {"registry", false,
     [](const sim::Machine& m, const std::u16string&) -> ToolResult<int> {
         print_registry(m, true);
         return kExitOk;
     }},
    {"processes", false,
     [](const sim::Machine& m, const std::u16string&) -> ToolResult<int> {
         print_processes(m);
         return kExitOk;
     }},
};

}  // namespace

ToolResult<int> verb_init(const VerbArgs& args) {
    const std::string& file = args.positionals[0];
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, ec)) &&
        !args.has("--force")) {
        return usage("'" + file + "' exists already; it was left unchanged (--force replaces it)");
    }
    const auto machine = sim::Machine::fresh();
    if (auto saved = save_machine(*machine, file); !saved) return std::unexpected(saved.error());
    print_line("created machine " + file);
    return kExitOk;
}

ToolResult<int> verb_reboot(const VerbArgs& args) {
    const std::string& file = args.positionals[0];
    auto machine = load_machine(file);
    if (!machine) return std::unexpected(machine.error());
    (*machine)->reboot();
    if (auto saved = save_machine(**machine, file); !saved) return std::unexpected(saved.error());
    return kExitOk;
}

ToolResult<int> verb_show(const VerbArgs& args) {
    const auto& words = args.positionals;
    const ShowView* view = nullptr;
    std::u16string path;
    if (words.size() > 1) {
        for (const ShowView& v : kViews) {
            if (v.name == words[1]) view = &v;
        }
        if (view == nullptr) {
            return usage("unknown view '" + words[1] +
                         "' (one of journal, tree, services, registry, processes)");
        }
        if (view->takes_path != (words.size() == 3)) {
            return usage(std::string(view->name) +
                         (view->takes_path ? " needs a WINPATH" : " takes no WINPATH"));
        }
        if (view->takes_path) {
            auto wide = windows_path_arg(words[2], "WINPATH");
            if (!wide) return std::unexpected(wide.error());
            path = std::move(*wide);
        }
    }
    auto machine = load_machine(words[0]);
    if (!machine) return std::unexpected(machine.error());
    return view == nullptr ? show_machine(**machine) : view->print(**machine, path);
}

}  // namespace holvar::simtool
