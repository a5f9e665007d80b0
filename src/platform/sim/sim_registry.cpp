// HKEY_LOCAL_MACHINE as the engine sees it: keys opened and created by path,
// typed values as raw bytes, trees deleted. Only administrators may change
// HKLM (its keys grant write access to SYSTEM and Administrators only); every
// process may read. The machine models the 64-bit view alone, which is what a
// 64-bit process sees with or without KEY_WOW64_64KEY.
#include "platform/sim/sim_registry.hpp"

#include <cstring>

#include "platform/sim/names.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"

namespace holvar::sim {

using namespace platform;

namespace {

constexpr uint32_t kKeyDeleted = 1018;  // ERROR_KEY_DELETED
constexpr uint32_t kBadPathname = 161;  // ERROR_BAD_PATHNAME

// Rights that change a key or its values.
constexpr uint32_t kKeyWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x20 /*KEY_CREATE_LINK*/ |
                                     DELETE | WRITE_DAC | WRITE_OWNER;
constexpr uint32_t kAllKeyRights = 0xF003F;  // KEY_ALL_ACCESS

// Generic rights as the registry maps them.
uint32_t map_generic(uint32_t mask) {
    uint32_t out = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (mask & GENERIC_READ) out |= 0x20019;     // KEY_READ
    if (mask & GENERIC_WRITE) out |= 0x20006;    // KEY_WRITE
    if (mask & GENERIC_EXECUTE) out |= 0x20019;  // KEY_EXECUTE
    if (mask & GENERIC_ALL) out |= kAllKeyRights;
    return out;
}

std::u16string full_path(const std::u16string& path) {
    return path.empty() ? std::u16string(u"HKLM") : u"HKLM\\" + path;
}

}  // namespace

Result<RegHandleObj*> SimRegistry::key_of(const Handle& h, uint32_t needed) {
    Machine::State& s = machine_.state();
    if (!h.valid() || h.kind() != HandleKind::registry_key)
        return win32_error(win32::invalid_handle);
    auto it = s.registry.handles.find(h.raw());
    if (it == s.registry.handles.end() || it->second.pid != pid_)
        return win32_error(win32::invalid_handle);
    if ((it->second.access & needed) != needed) return win32_error(win32::access_denied);
    if (reg_find_key(s.registry, it->second.key) == nullptr) return win32_error(kKeyDeleted);
    return &it->second;
}

Result<Handle> SimRegistry::open(const std::u16string& path, uint32_t access, bool create) {
    Machine::State& s = machine_.state();
    if ((access & KEY_WOW64_64KEY) && (access & KEY_WOW64_32KEY))
        return win32_error(win32::invalid_parameter);
    if (path.find(u'\0') != std::u16string::npos) return win32_error(win32::file_not_found);
    if (!path.empty() && (path.front() == u'\\' || path.back() == u'\\'))
        return win32_error(kBadPathname);
    if (path.find(u"\\\\") != std::u16string::npos) return win32_error(kBadPathname);
    uint32_t granted = map_generic(access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY));
    if (granted & 0x02000000 /*MAXIMUM_ALLOWED*/)
        granted =
            token_is_admin(machine_.state().processes.at(pid_).token) ? kAllKeyRights : 0x20019;
    granted &= kAllKeyRights;
    bool admin = token_is_admin(s.processes.at(pid_).token);
    std::u16string key = full_path(path);
    bool exists = reg_find_key(s.registry, key) != nullptr;
    if (!exists && !create) return win32_error(win32::file_not_found);
    if ((granted & kKeyWriteRights) && !admin) return win32_error(win32::access_denied);
    if (!exists) {
        if (!admin) return win32_error(win32::access_denied);
        sim::reg_create_key(s.registry, key);
    }
    uint64_t raw = s.next_handle;
    s.next_handle += 4;
    s.registry.handles.emplace(raw, RegHandleObj{pid_, key, granted});
    Handle h(closer_, HandleKind::registry_key, raw);
    if (!exists) mutated(s);
    return h;
}

Result<Handle> SimRegistry::reg_create_key(const std::u16string& path, uint32_t access) {
    if (auto e = enter("reg_create_key")) return std::unexpected(*e);
    return open(path, access, true);
}

Result<Handle> SimRegistry::reg_open_key(const std::u16string& path, uint32_t access) {
    if (auto e = enter("reg_open_key")) return std::unexpected(*e);
    return open(path, access, false);
}

Status SimRegistry::reg_set_value(const Handle& key, const std::u16string& name, uint32_t type,
                                  std::span<const uint8_t> data) {
    if (auto e = enter("reg_set_value")) return std::unexpected(*e);
    auto k = key_of(key, KEY_SET_VALUE);
    if (!k) return std::unexpected(k.error());
    if (name.find(u'\0') != std::u16string::npos) return win32_error(win32::invalid_parameter);
    Machine::State& s = machine_.state();
    sim::reg_set_value(s.registry, (*k)->key, name, type,
                       std::vector<uint8_t>(data.begin(), data.end()));
    mutated(s);
    return {};
}

Result<RegValueInfo> SimRegistry::reg_query_value(const Handle& key, const std::u16string& name,
                                                  std::span<uint8_t> buffer) {
    if (auto e = enter("reg_query_value")) return std::unexpected(*e);
    auto k = key_of(key, KEY_QUERY_VALUE);
    if (!k) return std::unexpected(k.error());
    auto v = reg_read_value(machine_.state().registry, (*k)->key, name);
    if (!v) return win32_error(win32::file_not_found);
    RegValueInfo info{v->type, static_cast<uint32_t>(v->data.size())};
    if (buffer.data() == nullptr) return info;
    if (buffer.size() < v->data.size()) return win32_error(win32::more_data);
    if (!v->data.empty()) std::memcpy(buffer.data(), v->data.data(), v->data.size());
    return info;
}

Status SimRegistry::reg_delete_tree(const Handle& key, const std::u16string& subkey) {
    if (auto e = enter("reg_delete_tree")) return std::unexpected(*e);
    auto k = key_of(key, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
    if (!k) return std::unexpected(k.error());
    Machine::State& s = machine_.state();
    if (subkey.empty()) {
        // No subkey: the key's values and every key below it go; the key stays.
        RegKey* self = reg_find_key(s.registry, (*k)->key);
        self->values.clear();
        std::u16string below = fold_name((*k)->key) + u"\\";
        for (auto it = s.registry.keys.begin(); it != s.registry.keys.end();) {
            bool under = it->first.compare(0, below.size(), below) == 0;
            it = under ? s.registry.keys.erase(it) : std::next(it);
        }
        mutated(s);
        return {};
    }
    if (subkey.front() == u'\\' || subkey.find(u'\0') != std::u16string::npos)
        return win32_error(kBadPathname);
    if (!sim::reg_delete_tree(s.registry, (*k)->key + u"\\" + subkey))
        return win32_error(win32::file_not_found);
    mutated(s);
    return {};
}

Status SimRegistry::reg_delete_value(const Handle& key, const std::u16string& name) {
    if (auto e = enter("reg_delete_value")) return std::unexpected(*e);
    auto k = key_of(key, KEY_SET_VALUE);
    if (!k) return std::unexpected(k.error());
    Machine::State& s = machine_.state();
    if (!sim::reg_delete_value(s.registry, (*k)->key, name))
        return win32_error(win32::file_not_found);
    mutated(s);
    return {};
}

void SimRegistry::close(uint64_t raw) noexcept {
    auto& handles = machine_.state().registry.handles;
    auto it = handles.find(raw);
    if (it != handles.end() && it->second.pid == pid_) handles.erase(it);
}

}  // namespace holvar::sim
