// `service-start`: what an administrator does in the services console, the
// start type of an installed service changed by hand (the case a repair
// puts right).
#include "machine_file.hpp"
#include "platform/sim/machine_state.hpp"
#include "verb_support.hpp"
#include "verbs.hpp"

namespace holvar::simtool {

ToolResult<int> verb_service_start(const VerbArgs& args) {
    const std::string& type = args.positionals[1];
    uint32_t start_type = 0;
    if (type == "auto") {
        start_type = 2;
    } else if (type == "demand") {
        start_type = 3;
    } else if (type == "disabled") {
        start_type = 4;
    } else {
        return usage("the start type is auto, demand or disabled, not " + type);
    }
    const std::string& file = args.positionals[0];
    auto machine = load_machine(file);
    if (!machine) return std::unexpected(machine.error());
    sim::Machine& m = **machine;
    auto& services = m.state().scm.services;
    auto it = services.find(u"HOLVAR_SERVICE");
    if (it == services.end()) return refused("no service holvar_service");
    it->second.start_type = start_type;
    if (auto saved = save_machine(m, file); !saved) return std::unexpected(saved.error());
    return kExitOk;
}

}  // namespace holvar::simtool
