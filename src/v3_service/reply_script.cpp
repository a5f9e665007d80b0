#include "v3_service/reply_script.hpp"

#include <string_view>

namespace holvar::v3_service {

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

constexpr std::string_view kBuildVersion = "3.0.0-sim";

// What this service announces: every capability the protocol defines.
constexpr std::string_view kFlags[] = {
    "managed_schema_2",     "client_lease",      "tun_optional",          "probe_priority",
    "tcp_bound_controller", "stop_intent_epoch", "typed_runtime_actions", "owner_ops_v1"};
// Operations of the protocol that this service does not carry out.
constexpr std::string_view kOtherActions[] = {"apply_managed",
                                              "renew",
                                              "stop",
                                              "read_nodes",
                                              "select_node",
                                              "probe_node",
                                              "read_metrics",
                                              "close_all_connections",
                                              "close_previous_node_connections"};

const json& empty_object() {
    static const json empty = json::object();
    return empty;
}

const json* find_key(const json& o, const char* key) {
    auto it = o.find(key);
    return it == o.end() ? nullptr : &*it;
}

// Script values are written into the reply exactly as given, whatever their
// JSON type, so that a test can send a wrong type as easily as a wrong value.
ordered_json verbatim(const json& j) {
    return ordered_json::parse(j.dump(-1, ' ', false, json::error_handler_t::replace));
}

// ---- the encoder: records with their keys in the protocol's order

ordered_json state_token(const ordered_json& instance) {
    ordered_json t = ordered_json::object();
    t["service_instance"] = instance;
    t["generation"] = 1;
    t["intent_epoch"] = 0;
    return t;
}

ordered_json status_record(ordered_json token, const json& script) {
    if (const json* v = find_key(script, "status_token_instance"))
        token["service_instance"] = verbatim(*v);
    ordered_json st = ordered_json::object();
    st["token"] = std::move(token);
    const json* lifecycle = find_key(script, "lifecycle");
    st["lifecycle"] = lifecycle ? verbatim(*lifecycle) : ordered_json("ready");
    st["selected_node"] = nullptr;
    st["smart_split"] = nullptr;
    st["error"] = nullptr;
    st["lease"] = nullptr;
    st["stop_reason"] = nullptr;
    return st;
}

ordered_json capabilities_record(const json& script) {
    ordered_json flags = ordered_json::array();
    for (std::string_view f : kFlags) flags.push_back(std::string(f));
    ordered_json c = ordered_json::object();
    c["protocol"] = 3;
    const json* schema = find_key(script, "schema");
    c["schema"] = schema ? verbatim(*schema) : ordered_json(2);
    const json* f = find_key(script, "flags");
    c["flags"] = f ? verbatim(*f) : flags;
    const json* b = find_key(script, "build_version");
    c["build_version"] = b ? verbatim(*b) : ordered_json(std::string(kBuildVersion));
    return c;
}

// The reply, adjacently tagged; "done" carries no record, an unknown kind null.
ordered_json reply_of(const std::string& kind, const ordered_json& error_code,
                      const ordered_json& token, const json& script) {
    ordered_json r = ordered_json::object();
    r["type"] = kind;
    if (kind == "done") return r;
    if (kind == "capabilities") {
        r["data"] = capabilities_record(script);
    } else if (kind == "status") {
        r["data"] = status_record(token, script);
    } else if (kind == "error") {
        r["data"] = error_code;
    } else if (kind == "apply") {
        r["data"] = {
            {"outcome", "ready"}, {"status", status_record(token, script)}, {"error", nullptr}};
    } else if (kind == "nodes") {
        r["data"] = {{"nodes", ordered_json::array()},
                     {"groups", ordered_json::array()},
                     {"selected_node", nullptr}};
    } else if (kind == "probe") {
        r["data"] = {{"delay_ms", 0}};
    } else if (kind == "metrics") {
        r["data"] = {{"up", 0}, {"down", 0}, {"memory", 0}, {"sampling", false}};
    } else {
        r["data"] = nullptr;
    }
    return r;
}

// The code of a scripted "error": {"code": ...}, or a bare code; else "internal".
ordered_json scripted_error_code(const json& e) {
    if (e.is_object() && e.contains("code")) return verbatim(e.at("code"));
    if (e.is_string()) return verbatim(e);
    return "internal";
}

struct Request {
    ordered_json request_id = 0;  // 0 when the request has none to echo
    std::string action;
    bool well_formed = false;
    bool protocol_3 = false;
};

Request parse_request(const std::string& payload) {
    Request r;
    json j = json::parse(payload, nullptr, false);
    if (!j.is_object()) return r;
    auto id = j.find("request_id");
    if (id != j.end() && id->is_number_unsigned()) r.request_id = id->get<uint64_t>();
    auto protocol = j.find("protocol");
    r.protocol_3 =
        protocol != j.end() && protocol->is_number_unsigned() && protocol->get<uint64_t>() == 3;
    auto op = j.find("op");
    if (op == j.end() || !op->is_object()) return r;
    auto action = op->find("action");
    if (action == op->end() || !action->is_string()) return r;
    r.action = action->get<std::string>();
    r.well_formed = id != j.end() && id->is_number_unsigned();
    return r;
}

// What kind of reply a request gets, and the error code when it is "error".
std::pair<std::string, ordered_json> choose_reply(const Request& req, const json& script) {
    if (const json* e = find_key(script, "error")) return {"error", scripted_error_code(*e)};
    if (const json* t = find_key(script, "reply_type"); t && t->is_string())
        return {t->get<std::string>(), "internal"};
    if (!req.well_formed) return {"error", "invalid_frame"};
    if (!req.protocol_3) return {"error", "unsupported_protocol"};
    if (req.action == "capabilities" || req.action == "status") return {req.action, nullptr};
    for (std::string_view a : kOtherActions)
        if (req.action == a) return {"error", "not_ready"};
    return {"error", "invalid_frame"};
}

// The response frame's payload: the envelope, changed as the script says.
std::string response_payload(const Request& req, const std::string& instance, const json& script) {
    if (const json* raw = find_key(script, "raw"); raw && raw->is_string())
        return raw->get<std::string>();
    const json* inst = find_key(script, "instance");
    const ordered_json token = state_token(inst ? verbatim(*inst) : ordered_json(instance));
    auto [kind, code] = choose_reply(req, script);
    ordered_json envelope = ordered_json::object();
    const json* protocol = find_key(script, "protocol");
    envelope["protocol"] = protocol ? verbatim(*protocol) : ordered_json(3);
    const json* id = find_key(script, "request_id");
    envelope["request_id"] = id ? verbatim(*id) : req.request_id;
    envelope["token"] = token;
    envelope["result"] = reply_of(kind, code, token, script);
    if (const json* extra = find_key(script, "extra_keys"); extra && extra->is_object())
        for (const auto& [k, v] : extra->items()) envelope[k] = verbatim(v);
    if (const json* drop = find_key(script, "drop_keys"); drop && drop->is_array())
        for (const json& k : *drop)
            if (k.is_string()) envelope.erase(k.get<std::string>());
    ordered_json body = envelope;
    if (flag_of(script, "as_array")) {
        body = ordered_json::array();
        for (const auto& [k, v] : envelope.items()) body.push_back(v);
    }
    return body.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::vector<uint8_t> length_prefix(uint32_t n) {
    return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 24)};
}

}  // namespace

const json& v3_of(const json& d) {
    if (!d.is_object()) return empty_object();
    auto it = d.find("v3");
    return it != d.end() && it->is_object() ? *it : empty_object();
}

const json& reply_script(const json& d, uint64_t index) {
    const json& v3 = v3_of(d);
    auto r = v3.find("replies");
    if (r == v3.end() || !r->is_array() || index >= r->size()) return empty_object();
    const json& e = (*r)[index];
    return e.is_object() ? e : empty_object();
}

std::optional<uint64_t> unsigned_of(const json& o, const char* key) {
    if (!o.is_object()) return std::nullopt;
    auto it = o.find(key);
    if (it == o.end() || !it->is_number_unsigned()) return std::nullopt;
    return it->get<uint64_t>();
}

bool flag_of(const json& o, const char* key) {
    if (!o.is_object()) return false;
    auto it = o.find(key);
    return it != o.end() && it->is_boolean() && it->get<bool>();
}

std::string base_instance(const json& d, const std::string& fallback) {
    const json& v3 = v3_of(d);
    if (auto it = v3.find("instance"); it != v3.end() && it->is_string())
        return it->get<std::string>();
    return fallback;
}

Reply reply_to(const std::string& payload, const std::string& instance, const json& script) {
    Reply r;
    r.restart_after = flag_of(script, "restart_after");
    if (flag_of(script, "never")) {
        r.never = true;
        return r;
    }
    const std::string text = response_payload(parse_request(payload), instance, script);
    auto length = static_cast<uint32_t>(text.size());
    bool with_payload = true;
    if (auto n = unsigned_of(script, "length"); n && *n <= 0xFFFFFFFFu) {
        length = static_cast<uint32_t>(*n);
        with_payload = length != 0 && flag_of(script, "send_payload");
    }
    r.frame = length_prefix(length);
    if (with_payload) r.frame.insert(r.frame.end(), text.begin(), text.end());
    if (auto n = unsigned_of(script, "close_after_bytes")) {
        if (*n < r.frame.size()) r.frame.resize(static_cast<size_t>(*n));
        r.close = true;
    }
    r.delay_ms = unsigned_of(script, "delay_ms").value_or(0);
    return r;
}

}  // namespace holvar::v3_service
