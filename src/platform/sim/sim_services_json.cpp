// The service manager's database in the machine file: every service with its
// configuration and status. Handles are not kept: they belong to the run of a
// process, and a loaded machine's processes hold none.
#include <nlohmann/json.hpp>

#include "platform/sim/names.hpp"
#include "platform/sim/program_service.hpp"

namespace holvar::sim {

using nlohmann::json;

namespace {

// UTF-16 units as numbers: service texts may hold what UTF-8 cannot.
json units(const std::u16string& text) {
    json out = json::array();
    for (char16_t c : text) out.push_back(static_cast<uint16_t>(c));
    return out;
}

std::u16string text_of(const json& j) {
    std::u16string out;
    for (const auto& u : j) out.push_back(static_cast<char16_t>(u.get<uint16_t>()));
    return out;
}

}  // namespace

std::string services_to_json(const Machine::State& s) {
    json out = json::array();
    for (const auto& [folded, v] : s.scm.services) {
        json deps = json::array();
        for (const auto& d : v.dependencies) deps.push_back(units(d));
        out.push_back({{"name", units(v.name)},
                       {"type", v.service_type},
                       {"start", v.start_type},
                       {"error_control", v.error_control},
                       {"binary_path", units(v.binary_path)},
                       {"group", units(v.load_order_group)},
                       {"dependencies", deps},
                       {"account", v.account ? units(*v.account) : json(nullptr)},
                       {"display_name", units(v.display_name)},
                       {"description", units(v.description)},
                       {"marked_for_delete", v.marked_for_delete},
                       {"state", v.state},
                       {"pid", v.pid},
                       {"win32_exit_code", v.win32_exit_code},
                       {"service_exit_code", v.service_exit_code}});
    }
    return out.dump();
}

void services_from_json(Machine::State& s, const std::string& text) {
    json all = json::parse(text);
    for (const auto& j : all) {
        Service v;
        v.name = text_of(j.at("name"));
        v.service_type = j.at("type").get<uint32_t>();
        v.start_type = j.at("start").get<uint32_t>();
        v.error_control = j.at("error_control").get<uint32_t>();
        v.binary_path = text_of(j.at("binary_path"));
        v.load_order_group = text_of(j.at("group"));
        for (const auto& d : j.at("dependencies")) v.dependencies.push_back(text_of(d));
        if (!j.at("account").is_null()) v.account = text_of(j.at("account"));
        v.display_name = text_of(j.at("display_name"));
        v.description = text_of(j.at("description"));
        v.marked_for_delete = j.at("marked_for_delete").get<bool>();
        v.state = j.at("state").get<uint32_t>();
        v.pid = j.at("pid").get<uint32_t>();
        v.win32_exit_code = j.at("win32_exit_code").get<uint32_t>();
        v.service_exit_code = j.at("service_exit_code").get<uint32_t>();
        if (v.name.empty() || !s.scm.services.emplace(fold_name(v.name), std::move(v)).second)
            throw std::runtime_error("bad service");
    }
}

}  // namespace holvar::sim
