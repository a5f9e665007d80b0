#include "platform/sim/registry_model.hpp"

#include "platform/sim/names.hpp"

namespace holvar::sim {

RegKey& reg_create_key(Registry& r, const std::u16string& path) {
    auto folded = fold_name(path);
    auto it = r.keys.find(folded);
    if (it != r.keys.end()) return it->second;
    // Ancestors first, so that every key's parent exists.
    size_t cut = path.rfind(u'\\');
    if (cut != std::u16string::npos && cut > 0) reg_create_key(r, path.substr(0, cut));
    RegKey& k = r.keys[folded];
    k.path = path;
    return k;
}

RegKey* reg_find_key(Registry& r, const std::u16string& path) {
    auto it = r.keys.find(fold_name(path));
    return it == r.keys.end() ? nullptr : &it->second;
}

const RegKey* reg_find_key(const Registry& r, const std::u16string& path) {
    auto it = r.keys.find(fold_name(path));
    return it == r.keys.end() ? nullptr : &it->second;
}

void reg_set_value(Registry& r, const std::u16string& key, const std::u16string& name,
                   uint32_t type, std::vector<uint8_t> data) {
    RegKey& k = reg_create_key(r, key);
    RegValue& v = k.values[fold_name(name)];
    v.name = name;
    v.type = type;
    v.data = std::move(data);
}

const RegValue* reg_find_value(const Registry& r, const std::u16string& key,
                               const std::u16string& name) {
    const RegKey* k = reg_find_key(r, key);
    if (k == nullptr) return nullptr;
    auto it = k->values.find(fold_name(name));
    return it == k->values.end() ? nullptr : &it->second;
}

bool reg_delete_value(Registry& r, const std::u16string& key, const std::u16string& name) {
    RegKey* k = reg_find_key(r, key);
    return k != nullptr && k->values.erase(fold_name(name)) > 0;
}

bool reg_delete_tree(Registry& r, const std::u16string& path) {
    std::u16string folded = fold_name(path);
    if (!r.keys.count(folded)) return false;
    std::u16string below = folded + u"\\";
    for (auto it = r.keys.begin(); it != r.keys.end();) {
        if (it->first == folded || it->first.compare(0, below.size(), below) == 0) {
            it = r.keys.erase(it);
        } else {
            ++it;
        }
    }
    return true;
}

std::optional<RegValue> reg_read_value(const Registry& r, const std::u16string& key,
                                       const std::u16string& name) {
    const RegValue* v = reg_find_value(r, key, name);
    if (v == nullptr) return std::nullopt;
    RegValue out = *v;
    for (const RegReadFilter& f : r.filters) {
        if (names_equal(f.key, key) && names_equal(f.name, name)) {
            out.type = f.type;
            out.data = f.data;
        }
    }
    return out;
}

void reg_add_read_filter(Registry& r, const std::u16string& key, const std::u16string& name,
                         uint32_t type, std::vector<uint8_t> data) {
    r.filters.push_back(RegReadFilter{key, name, type, std::move(data)});
}

std::vector<uint8_t> sz_bytes(const std::u16string& text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<uint8_t> multi_sz_bytes(const std::vector<std::u16string>& strings) {
    std::vector<uint8_t> out;
    auto put = [&](char16_t c) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    };
    for (const auto& s : strings) {
        for (char16_t c : s) put(c);
        put(0);
    }
    put(0);
    return out;
}

std::vector<std::u16string> multi_sz_strings(const std::vector<uint8_t>& bytes) {
    std::vector<std::u16string> out;
    std::u16string cur;
    bool pending = false;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) {
            // An empty string followed by the final NUL ends the list.
            if (!pending && cur.empty() && i + 2 >= bytes.size()) break;
            out.push_back(std::move(cur));
            cur.clear();
            pending = false;
        } else {
            cur.push_back(c);
            pending = true;
        }
    }
    if (pending) out.push_back(std::move(cur));
    return out;
}

void append_pending_rename(Machine::State& s, const std::u16string& source,
                           const std::u16string& target) {
    std::vector<std::u16string> strings;
    if (const RegValue* v = reg_find_value(s.registry, kSessionManagerKey, kPendingRenamesValue))
        strings = multi_sz_strings(v->data);
    strings.push_back(source);
    strings.push_back(target);
    reg_set_value(s.registry, kSessionManagerKey, kPendingRenamesValue, REG_MULTI_SZ,
                  multi_sz_bytes(strings));
}

}  // namespace holvar::sim
