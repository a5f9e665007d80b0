// Process tokens on the simulated machine: open, query (TokenUser,
// TokenElevation), privilege lookup and enabling.
#include <algorithm>
#include <array>

#include "platform/sim/process_model.hpp"
#include "platform/sim/sim_process_calls.hpp"
#include "platform/sim/sim_processes.hpp"

namespace holvar::sim {

using namespace platform;

namespace {

constexpr uint32_t kBadLength = 24;
constexpr uint32_t kNoSuchPrivilege = 1313;
constexpr uint32_t kNotAllAssigned = 1300;

struct PrivilegeName {
    const char16_t* name;
    uint64_t luid;
};
// The LUIDs Windows gives these privileges.
constexpr std::array<PrivilegeName, 8> kPrivileges{{{u"SeTcbPrivilege", 7},
                                                    {u"SeTakeOwnershipPrivilege", 9},
                                                    {u"SeBackupPrivilege", 17},
                                                    {u"SeRestorePrivilege", 18},
                                                    {u"SeShutdownPrivilege", 19},
                                                    {u"SeDebugPrivilege", 20},
                                                    {u"SeChangeNotifyPrivilege", 23},
                                                    {u"SeImpersonatePrivilege", 29}}};

HandleObj* token_handle(const Caller& c, const Handle& h) {
    HandleObj* obj = find_handle(c, h);
    return obj != nullptr && obj->type == HandleType::token ? obj : nullptr;
}

}  // namespace

Result<Handle> sim_open_process_token(Caller& c, const Handle* process, uint32_t access) {
    uint32_t target = c.pid;
    if (process != nullptr) {
        HandleObj* obj = find_handle(c, *process);
        if (obj == nullptr || obj->type != HandleType::process)
            return win32_error(win32::invalid_handle);
        if (!(obj->access & (PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION)))
            return win32_error(win32::access_denied);
        target = obj->target;
        // Another process's token: anyone who may query the process may query
        // its token; changing it takes the same rights as the process itself.
        if ((access & ~TOKEN_QUERY) != 0 &&
            !process_access_allowed(c.s, c.pid, target, PROCESS_ALL_ACCESS))
            return win32_error(win32::access_denied);
    }
    HandleObj h;
    h.type = HandleType::token;
    h.target = target;
    h.access = access;
    return make_handle(c, std::move(h));
}

Result<TokenInformation> sim_get_token_information(Caller& c, const Handle& token,
                                                   uint32_t info_class, uint32_t buffer_bytes) {
    HandleObj* obj = token_handle(c, token);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (!(obj->access & TOKEN_QUERY)) return win32_error(win32::access_denied);
    const Token& t = c.s.processes.at(obj->target).token;
    std::vector<uint8_t> bytes;
    uint32_t short_error = win32::insufficient_buffer;
    if (info_class == TokenUser) {
        bytes.assign(16, 0);
        bytes[0] = 16;  // the SID's offset, where the pointer stands
        bytes.insert(bytes.end(), t.user.bytes.begin(), t.user.bytes.end());
    } else if (info_class == TokenElevation) {
        bytes = {static_cast<uint8_t>(t.elevated ? 1 : 0), 0, 0, 0};
        short_error = kBadLength;
    } else {
        return win32_error(win32::invalid_parameter);
    }
    TokenInformation out;
    out.return_length = static_cast<uint32_t>(bytes.size());
    if (buffer_bytes < bytes.size()) {
        out.last_error = short_error;
        return out;
    }
    out.bytes = std::move(bytes);
    return out;
}

Result<uint64_t> sim_lookup_privilege_value(Caller& c, const std::u16string& name) {
    (void)c;
    for (const PrivilegeName& p : kPrivileges)
        if (name == p.name) return p.luid;
    return win32_error(kNoSuchPrivilege);
}

Result<uint32_t> sim_adjust_token_privileges(Caller& c, const Handle& token, uint64_t luid,
                                             uint32_t attributes) {
    HandleObj* obj = token_handle(c, token);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (!(obj->access & TOKEN_ADJUST_PRIVILEGES)) return win32_error(win32::access_denied);
    const Token& t = c.s.processes.at(obj->target).token;
    const char16_t* name = nullptr;
    for (const PrivilegeName& p : kPrivileges)
        if (p.luid == luid) name = p.name;
    if (name == nullptr) return win32_error(win32::invalid_parameter);
    // A privilege the token does not hold is not assigned, and the call still succeeds.
    if (std::find(t.privileges.begin(), t.privileges.end(), name) == t.privileges.end())
        return kNotAllAssigned;
    auto& enabled = c.s.process_model.details[obj->target].enabled_privileges;
    auto it = std::find(enabled.begin(), enabled.end(), name);
    if ((attributes & SE_PRIVILEGE_ENABLED) && it == enabled.end()) enabled.push_back(name);
    if (!(attributes & SE_PRIVILEGE_ENABLED) && it != enabled.end()) enabled.erase(it);
    return uint32_t{0};
}

}  // namespace holvar::sim
