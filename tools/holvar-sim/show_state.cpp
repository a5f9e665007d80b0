#include "show_state.hpp"

#include <initializer_list>
#include <string>
#include <utility>

#include "owners.hpp"
#include "platform/sim/machine_state.hpp"
#include "printing.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

std::u16string utf16_of(const std::vector<uint8_t>& data, size_t begin, size_t end) {
    std::u16string text;
    for (size_t i = begin; i + 1 < end; i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    return text;
}

// A value as text: strings decoded, a multi-string one item a quoted piece,
// numbers in decimal, anything else as its byte count.
std::string value_text(const sim::RegValue& value) {
    const auto& d = value.data;
    switch (value.type) {
        case sim::REG_SZ:
        case sim::REG_EXPAND_SZ: {
            auto text = utf16_of(d, 0, d.size());
            while (!text.empty() && text.back() == u'\0') text.pop_back();
            return "\"" + utf16_to_wtf8(text) + "\"";
        }
        case sim::REG_MULTI_SZ: {
            std::string out;
            const auto all = utf16_of(d, 0, d.size());
            size_t start = 0;
            for (size_t i = 0; i < all.size(); ++i) {
                if (all[i] != u'\0') continue;
                if (i == start && (i + 1 == all.size() || all[i + 1] == u'\0')) break;
                out += (out.empty() ? "\"" : " \"") + utf16_to_wtf8(all.substr(start, i - start)) +
                       "\"";
                start = i + 1;
            }
            return "[" + out + "]";
        }
        case sim::REG_DWORD:
            if (d.size() == 4) {
                return std::to_string(d[0] | (d[1] << 8) | (d[2] << 16) |
                                      (static_cast<uint32_t>(d[3]) << 24));
            }
            break;
        default:
            break;
    }
    return "(" + std::to_string(d.size()) + " bytes of type " + std::to_string(value.type) + ")";
}

// A number with the name Windows gives it, when it has one: "auto (2)".
std::string named(uint32_t value, std::initializer_list<std::pair<uint32_t, const char*>> names) {
    for (const auto& [number, name] : names) {
        if (number == value) return std::string(name) + " (" + std::to_string(value) + ")";
    }
    return std::to_string(value);
}

std::string quoted_list(const std::vector<std::u16string>& items) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "\"" : " \"") + utf16_to_wtf8(item) + "\"";
    return out.empty() ? "(none)" : out;
}

std::string text_or_none(const std::u16string& text) {
    return text.empty() ? "(none)" : "\"" + utf16_to_wtf8(text) + "\"";
}

}  // namespace

void print_processes(const sim::Machine& machine) {
    print_line("processes:");
    for (const auto& [pid, process] : machine.state().processes) {
        if (!process.alive) continue;
        print_line("  " + std::to_string(pid) + " " + describe_owner(process.token.user) +
                   (process.token.elevated ? " elevated " : " ") + utf16_to_wtf8(process.image));
    }
}

void print_mutexes(const sim::Machine& machine) {
    print_line("mutexes:");
    for (const auto& [name, mutex] : machine.state().mutexes) {
        std::string state = mutex.owner != 0  ? "owned by " + std::to_string(mutex.owner)
                            : mutex.abandoned ? "abandoned"
                                              : "free";
        print_line("  " + utf16_to_wtf8(name) + ": " + state);
    }
}

void print_services(const sim::Machine& machine) {
    print_line("services:");
    for (const auto& [folded, service] : machine.state().scm.services) {
        print_line("  " + utf16_to_wtf8(service.name) + " state " + std::to_string(service.state) +
                   " pid " + std::to_string(service.pid) + " start " +
                   std::to_string(service.start_type) +
                   (service.marked_for_delete ? " marked for delete " : " ") +
                   utf16_to_wtf8(service.binary_path));
    }
}

void print_service_details(const sim::Machine& machine) {
    print_line("services:");
    for (const auto& [folded, svc] : machine.state().scm.services) {
        print_line("  " + utf16_to_wtf8(svc.name));
        print_line("    state " +
                   named(svc.state, {{1, "stopped"},
                                     {2, "start_pending"},
                                     {3, "stop_pending"},
                                     {4, "running"},
                                     {5, "continue_pending"},
                                     {6, "pause_pending"},
                                     {7, "paused"}}) +
                   ", pid " + std::to_string(svc.pid) + ", win32 exit code " +
                   std::to_string(svc.win32_exit_code) + ", service exit code " +
                   std::to_string(svc.service_exit_code));
        print_line(
            "    type " +
            named(svc.service_type, {{0x10, "own_process"}, {0x20, "share_process"}}) + ", start " +
            named(svc.start_type,
                  {{0, "boot"}, {1, "system"}, {2, "auto"}, {3, "demand"}, {4, "disabled"}}) +
            ", error control " +
            named(svc.error_control,
                  {{0, "ignore"}, {1, "normal"}, {2, "severe"}, {3, "critical"}}));
        print_line("    binary path " + utf16_to_wtf8(svc.binary_path));
        print_line("    account " +
                   (svc.account ? text_or_none(*svc.account) : "(none: LocalSystem)"));
        print_line("    display name " + text_or_none(svc.display_name));
        print_line("    description " + text_or_none(svc.description));
        print_line("    dependencies " + quoted_list(svc.dependencies));
        print_line("    load order group " + text_or_none(svc.load_order_group));
        print_line(std::string("    marked for delete: ") + (svc.marked_for_delete ? "yes" : "no"));
    }
}

void print_registry(const sim::Machine& machine, bool every_key) {
    print_line(every_key ? "registry:" : "registry (keys that hold values):");
    for (const auto& [folded, key] : machine.state().registry.keys) {
        if (key.values.empty() && !every_key) continue;
        print_line("  " + utf16_to_wtf8(key.path));
        for (const auto& [name, value] : key.values) {
            print_line("    " +
                       (value.name.empty() ? std::string("(default)") : utf16_to_wtf8(value.name)) +
                       " = " + value_text(value));
        }
    }
}

}  // namespace holvar::simtool
