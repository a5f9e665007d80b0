// The whole machine as one JSON file. Derived fields (directory entries, open
// handle counts) are rebuilt on load rather than trusted, and a file that does
// not describe a consistent machine is refused. Between two saves everything
// has long reached the disk, so a loaded machine starts fully durable.
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/sim/machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/names.hpp"
#include "platform/sim/program_service.hpp"
#include "platform/sim/sim_processes.hpp"
#include "platform/win_path.hpp"

namespace holvar::sim {

using nlohmann::json;
using namespace platform;

namespace {

constexpr const char* kFormat = "holvar-sim-machine/1";

// Text is UTF-8 when it is valid UTF-16; otherwise (unpaired surrogates) the
// raw code units, so every Windows name survives the round trip.
json j16(const std::u16string& s) {
    if (!is_valid_utf16(s)) return json{{"u16", std::vector<uint16_t>(s.begin(), s.end())}};
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string u16(const json& j) {
    if (j.is_object()) {
        std::u16string out;
        for (const auto& unit : j.at("u16"))
            out.push_back(static_cast<char16_t>(unit.get<uint16_t>()));
        return out;
    }
    const std::string& s = j.get_ref<const std::string&>();
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        auto b = static_cast<uint8_t>(s[i]);
        uint32_t c;
        size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (i + len > s.size()) throw std::runtime_error("bad utf-8");
        c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
        i += len;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const std::vector<uint8_t>& in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t v = static_cast<uint32_t>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<uint32_t>(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= in[i + 2];
        out.push_back(kB64[(v >> 18) & 63]);
        out.push_back(kB64[(v >> 12) & 63]);
        out.push_back(i + 1 < in.size() ? kB64[(v >> 6) & 63] : '=');
        out.push_back(i + 2 < in.size() ? kB64[v & 63] : '=');
    }
    return out;
}

std::vector<uint8_t> unbase64(const std::string& in) {
    if (in.size() % 4 != 0) throw std::runtime_error("bad base64");
    std::vector<uint8_t> out;
    auto val = [](char c) -> uint32_t {
        const char* p = std::char_traits<char>::find(kB64, 64, c);
        if (p == nullptr) throw std::runtime_error("bad base64");
        return static_cast<uint32_t>(p - kB64);
    };
    for (size_t i = 0; i < in.size(); i += 4) {
        uint32_t v = (val(in[i]) << 18) | (val(in[i + 1]) << 12);
        if (in[i + 2] != '=') v |= val(in[i + 2]) << 6;
        if (in[i + 3] != '=') v |= val(in[i + 3]);
        out.push_back(static_cast<uint8_t>(v >> 16));
        if (in[i + 2] != '=') out.push_back(static_cast<uint8_t>(v >> 8));
        if (in[i + 3] != '=') out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

json jsid(const Sid& sid) {
    return sid_to_string(sid);
}
Sid sidj(const json& j) {
    auto sid = sid_from_string(u16(j));
    if (!sid) throw std::runtime_error("bad sid");
    return *sid;
}

json jlink(const Link& l) {
    return json::array({l.parent, j16(l.name)});
}
Link linkj(const json& j) {
    return Link{j.at(0).get<NodeId>(), u16(j.at(1))};
}

json node_json(NodeId id, const Node& n) {
    json dacl = nullptr;
    if (n.dacl) {
        dacl = json::array();
        for (const Ace& a : n.dacl->aces)
            dacl.push_back(json::array({a.type, a.flags, a.mask, jsid(a.sid)}));
    }
    json links = json::array();
    for (const Link& l : n.links) links.push_back(jlink(l));
    json j = {{"id", id},
              {"kind", static_cast<int>(n.kind)},
              {"volume", n.volume},
              {"index", n.file_index},
              {"owner", jsid(n.owner)},
              {"group", jsid(n.group)},
              {"dacl", dacl},
              {"protected", n.dacl_protected},
              {"attributes", n.attributes},
              {"ctime", n.creation_time},
              {"wtime", n.write_time},
              {"links", links}};
    if (!n.reparse_target.empty()) j["target"] = j16(n.reparse_target);
    if (n.mounts) j["mounts"] = *n.mounts;
    if (!n.data.empty()) j["data"] = base64(n.data);
    if (n.delete_pending) j["delete_pending"] = jlink(*n.delete_pending);
    return j;
}

Node json_node(const json& j) {
    Node n;
    int kind = j.at("kind").get<int>();
    if (kind < 0 || kind > 3) throw std::runtime_error("bad kind");
    n.kind = static_cast<NodeKind>(kind);
    n.volume = j.at("volume").get<uint32_t>();
    n.file_index = j.at("index").get<uint64_t>();
    n.owner = sidj(j.at("owner"));
    n.group = sidj(j.at("group"));
    if (!j.at("dacl").is_null()) {
        n.dacl = Acl{};
        for (const auto& a : j.at("dacl")) {
            Ace ace;
            ace.type = a.at(0).get<uint8_t>();
            ace.flags = a.at(1).get<uint8_t>();
            ace.mask = a.at(2).get<uint32_t>();
            ace.sid = sidj(a.at(3));
            ace.size = static_cast<uint16_t>(8 + ace.sid.bytes.size());
            n.dacl->aces.push_back(std::move(ace));
        }
    }
    n.dacl_protected = j.at("protected").get<bool>();
    n.attributes = j.at("attributes").get<uint32_t>();
    n.creation_time = j.at("ctime").get<int64_t>();
    n.write_time = j.at("wtime").get<int64_t>();
    for (const auto& l : j.at("links")) n.links.push_back(linkj(l));
    if (j.contains("target")) n.reparse_target = u16(j.at("target"));
    if (j.contains("mounts")) n.mounts = j.at("mounts").get<uint32_t>();
    if (j.contains("data")) n.data = unbase64(j.at("data").get<std::string>());
    if (j.contains("delete_pending")) n.delete_pending = linkj(j.at("delete_pending"));
    return n;
}

void require(bool ok) {
    if (!ok) throw std::runtime_error("inconsistent machine");
}

}  // namespace

std::string Machine::to_json() const {
    const State& s = *state_;
    json j;
    j["format"] = kFormat;
    j["clock_ns"] = s.clock.count();
    j["next_node"] = s.next_node;
    j["next_handle"] = s.next_handle;
    j["next_pid"] = s.next_pid;
    json vols = json::array();
    for (const Volume& v : s.volumes)
        vols.push_back({{"drive", j16(v.drive)},
                        {"mount_folder", j16(v.mount_folder)},
                        {"serial", v.serial},
                        {"file_system", j16(v.file_system)},
                        {"flags", v.flags},
                        {"root", v.root},
                        {"next_index", v.next_index}});
    j["volumes"] = vols;
    // Nodes in id order, so the same machine always saves to the same bytes.
    std::vector<NodeId> ids;
    for (const auto& [id, n] : s.live.nodes.all()) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    json nodes = json::array();
    for (NodeId id : ids) nodes.push_back(node_json(id, s.live.nodes.at(id)));
    j["nodes"] = std::move(nodes);
    json handles = json::array();
    for (const auto& [raw, h] : s.handles) {
        // Process, job, token, snapshot and pipe handles belong to a run of
        // the engine and end with it; they are not kept in the machine file.
        if (h.type > HandleType::mutex) continue;
        handles.push_back({{"raw", raw},
                           {"pid", h.pid},
                           {"type", static_cast<int>(h.type)},
                           {"node", h.node},
                           {"volume", h.volume},
                           {"mutex", j16(h.mutex)},
                           {"access", h.access},
                           {"share", h.share},
                           {"flags", h.flags},
                           {"position", h.position},
                           {"opened_as", jlink(h.opened_as)}});
    }
    j["handles"] = handles;
    json procs = json::array();
    for (const auto& [pid, p] : s.processes) {
        json privs = json::array();
        for (const auto& pr : p.token.privileges) privs.push_back(j16(pr));
        procs.push_back({{"pid", pid},
                         {"image", j16(p.image)},
                         {"user", jsid(p.token.user)},
                         {"elevated", p.token.elevated},
                         {"privileges", privs},
                         {"cwd", j16(p.current_directory)},
                         {"alive", p.alive},
                         {"exit_code", p.exit_code},
                         {"image_node", p.image_node}});
    }
    j["processes"] = procs;
    json mutexes = json::array();
    for (const auto& [name, m] : s.mutexes)
        mutexes.push_back({{"name", j16(name)},
                           {"owner", m.owner},
                           {"recursion", m.recursion},
                           {"abandoned", m.abandoned},
                           {"admin_only", m.admin_only}});
    j["mutexes"] = mutexes;
    j["process_model"] = json::parse(process_model_to_json(s));
    json keys = json::array();
    for (const auto& [folded, k] : s.registry.keys) {
        json values = json::array();
        for (const auto& [vf, v] : k.values)
            values.push_back({{"name", j16(v.name)}, {"type", v.type}, {"data", base64(v.data)}});
        keys.push_back({{"path", j16(k.path)}, {"values", values}});
    }
    j["registry"] = keys;
    j["services"] = json::parse(services_to_json(s));
    return j.dump();
}

Result<std::unique_ptr<Machine>> Machine::from_json(const std::string& text) {
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return invalid_data("machine file is not JSON");
    std::unique_ptr<Machine> m(new Machine());
    State& s = *m->state_;
    try {
        require(j.at("format") == kFormat);
        s.clock = Instant(j.at("clock_ns").get<int64_t>());
        s.next_node = j.at("next_node").get<NodeId>();
        s.next_handle = j.at("next_handle").get<uint64_t>();
        s.next_pid = j.at("next_pid").get<uint32_t>();
        for (const auto& v : j.at("volumes")) {
            Volume vol;
            vol.drive = u16(v.at("drive"));
            vol.mount_folder = u16(v.at("mount_folder"));
            vol.serial = v.at("serial").get<uint64_t>();
            vol.file_system = u16(v.at("file_system"));
            vol.flags = v.at("flags").get<uint32_t>();
            vol.root = v.at("root").get<NodeId>();
            vol.next_index = v.at("next_index").get<uint64_t>();
            s.volumes.push_back(std::move(vol));
        }
        for (const auto& jn : j.at("nodes")) {
            NodeId id = jn.at("id").get<NodeId>();
            require(id != 0 && id < s.next_node && !s.live.nodes.contains(id));
            s.live.nodes.set(id, json_node(jn));
        }
        // Directory entries come from the names; every name must lead to a
        // directory of the same volume, and every volume root must exist.
        for (const Volume& v : s.volumes) {
            const Node* root = s.live.nodes.find(v.root);
            require(root && root->kind == NodeKind::directory && root->links.empty());
        }
        for (const auto& [id, node] : s.live.nodes.all()) {
            const Node& n = *node;
            require(n.volume < s.volumes.size());
            require(!n.mounts || *n.mounts < s.volumes.size());
            for (const Link& l : n.links) {
                Node* p = s.live.nodes.find_to_edit(l.parent);
                require(p && p->kind == NodeKind::directory && p->volume == n.volume &&
                        is_valid_name(l.name));
                require(p->children.emplace(fold_name(l.name), id).second);
            }
            require(n.kind == NodeKind::file || n.links.size() <= 1);
        }
        // Every name leads up to a volume root: no directory is its own ancestor.
        for (const auto& [id, n] : s.live.nodes.all()) {
            NodeId at = id;
            size_t steps = 0;
            while (!s.live.nodes.at(at).links.empty()) {
                at = s.live.nodes.at(at).links.front().parent;
                require(++steps <= s.live.nodes.size());
            }
            require(at == id || s.volumes.at(s.live.nodes.at(at).volume).root == at);
        }
        for (const auto& jp : j.at("processes")) {
            Process p;
            p.image = u16(jp.at("image"));
            p.token.user = sidj(jp.at("user"));
            p.token.elevated = jp.at("elevated").get<bool>();
            for (const auto& pr : jp.at("privileges")) p.token.privileges.push_back(u16(pr));
            p.current_directory = u16(jp.at("cwd"));
            p.alive = jp.at("alive").get<bool>();
            p.exit_code = jp.at("exit_code").get<uint32_t>();
            p.image_node = jp.at("image_node").get<NodeId>();
            if (p.image_node != 0) {
                Node* image = s.live.nodes.find_to_edit(p.image_node);
                require(p.alive && image && image->kind == NodeKind::file);
                ++image->open_handles;
            }
            s.processes[jp.at("pid").get<uint32_t>()] = std::move(p);
        }
        if (j.contains("process_model")) process_model_from_json(s, j.at("process_model").dump());
        if (j.contains("services")) services_from_json(s, j.at("services").dump());
        for (const auto& jm : j.at("mutexes")) {
            MutexObj mx;
            mx.owner = jm.at("owner").get<uint32_t>();
            mx.recursion = jm.at("recursion").get<uint32_t>();
            mx.abandoned = jm.at("abandoned").get<bool>();
            mx.admin_only = jm.at("admin_only").get<bool>();
            require(mx.owner == 0 || s.processes.count(mx.owner));
            s.mutexes[u16(jm.at("name"))] = mx;
        }
        for (const auto& jh : j.at("handles")) {
            HandleObj h;
            uint64_t raw = jh.at("raw").get<uint64_t>();
            h.pid = jh.at("pid").get<uint32_t>();
            int type = jh.at("type").get<int>();
            require(type >= 0 && type <= 2 && raw < s.next_handle);
            h.type = static_cast<HandleType>(type);
            h.node = jh.at("node").get<NodeId>();
            h.volume = jh.at("volume").get<uint32_t>();
            h.mutex = u16(jh.at("mutex"));
            h.access = jh.at("access").get<uint32_t>();
            h.share = jh.at("share").get<uint32_t>();
            h.flags = jh.at("flags").get<uint32_t>();
            h.position = jh.at("position").get<uint64_t>();
            h.opened_as = linkj(jh.at("opened_as"));
            auto proc = s.processes.find(h.pid);
            require(proc != s.processes.end() && proc->second.alive);
            if (h.type == HandleType::file) {
                Node* n = s.live.nodes.find_to_edit(h.node);
                require(n);
                ++n->open_handles;
            } else if (h.type == HandleType::mutex) {
                auto mx = s.mutexes.find(h.mutex);
                require(mx != s.mutexes.end());
                ++mx->second.handles;
            } else {
                require(h.volume < s.volumes.size());
            }
            require(s.handles.emplace(raw, std::move(h)).second);
        }
        for (const auto& [name, mx] : s.mutexes) require(mx.handles > 0);
        for (const auto& [id, n] : s.live.nodes.all())
            require(!n->links.empty() || n->open_handles > 0 || s.volumes.at(n->volume).root == id);
        for (const auto& jk : j.at("registry")) {
            RegKey k;
            k.path = u16(jk.at("path"));
            for (const auto& jv : jk.at("values")) {
                RegValue v;
                v.name = u16(jv.at("name"));
                v.type = jv.at("type").get<uint32_t>();
                v.data = unbase64(jv.at("data").get<std::string>());
                k.values[fold_name(v.name)] = std::move(v);
            }
            s.registry.keys[fold_name(k.path)] = std::move(k);
        }
    } catch (const std::exception&) {
        return invalid_data("machine file is malformed");
    }
    s.durable = s.live;
    return m;
}

Status Machine::save(const std::filesystem::path& file) const {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return fail(ErrorKind::other, "cannot write machine file");
    out << to_json();
    out.close();
    if (!out) return fail(ErrorKind::other, "cannot write machine file");
    return {};
}

Result<std::unique_ptr<Machine>> Machine::load(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail(ErrorKind::other, "cannot read machine file");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return fail(ErrorKind::other, "cannot read machine file");
    return from_json(text.str());
}

}  // namespace holvar::sim
