// Writing txn.json. The output is built by hand rather than through a JSON
// tree: the key order is part of the format, and a journal of many thousands
// of operations is rewritten for every mark.
#include <charconv>

#include "txn/journal/journal_codec.hpp"
#include "txn/journal/text_codec.hpp"

namespace holvar::txn::journal {

namespace {

void append_file_id(std::string& out, const FileId& id) {
    out.push_back('"');
    append_hex(out, id.high, 16);
    append_hex(out, id.low, 16);
    out.push_back('"');
}

void append_number(std::string& out, uint64_t value) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec;  // 24 characters always hold a 64-bit number
    out.append(buf, end);
}

bool append_root_identity(std::string& out, const RootIdentity& id) {
    out += "{\"path\":";
    if (!append_json_string(out, id.path)) return false;
    out += ",\"volume_serial\":\"";
    append_hex(out, id.volume_serial, 16);
    out += "\",\"file_id\":";
    if (id.file_id) {
        append_file_id(out, *id.file_id);
    } else {
        out += "null";
    }
    out.push_back('}');
    return true;
}

constexpr std::string_view op_names[] = {"replace", "add", "retire", "mkdir"};

bool append_op(std::string& out, const Op& op) {
    out += "{\"op\":\"";
    out += op_names[static_cast<size_t>(op.type)];
    out += "\",\"seq\":";
    append_number(out, op.seq);
    out += ",\"rel\":";
    if (!append_json_string(out, op.rel)) return false;
    switch (op.type) {
        case OpType::replace:
            out += ",\"old\":";
            append_file_id(out, op.old_id);
            out += ",\"new\":";
            append_file_id(out, op.new_id);
            break;
        case OpType::add:
            out += ",\"new\":";
            append_file_id(out, op.new_id);
            break;
        case OpType::retire:
            out += ",\"old\":";
            append_file_id(out, op.old_id);
            out += op.leaf_kind == LeafKind::file ? ",\"kind\":\"file\"" : ",\"kind\":\"reparse\"";
            break;
        case OpType::mkdir:
            break;
    }
    out.push_back('}');
    return true;
}

void append_mark(std::string& out, const Mark& mark) {
    out.push_back('"');
    out += mark_name(mark.kind);
    if (mark.kind == MarkKind::root_created) {
        out.push_back(':');
        append_hex(out, mark.root_id.high, 16);
        append_hex(out, mark.root_id.low, 16);
    }
    out.push_back('"');
}

bool append_journal(std::string& out, const Journal& j) {
    out += "{\"format\":";
    append_number(out, j.format);
    out += j.kind == JournalKind::apply ? ",\"kind\":\"apply\"" : ",\"kind\":\"remove\"";
    out += ",\"txid\":";
    append_json_string_utf8(out, j.txid);  // validated: 32 hex digits
    out += ",\"engine_version\":";
    if (!utf8_to_utf16(j.engine_version)) return false;
    append_json_string_utf8(out, j.engine_version);
    out += ",\"root\":";
    if (!append_root_identity(out, j.root)) return false;
    out += ",\"stage\":";
    if (!append_root_identity(out, j.stage)) return false;
    out += ",\"scm_before\":";
    if (j.scm_before) {
        if (!scm::append_scm_config_json(out, *j.scm_before)) return false;
    } else {
        out += "null";
    }
    out += j.service_running_before ? ",\"service_running_before\":true"
                                    : ",\"service_running_before\":false";
    out += ",\"generated_before\":[";
    for (size_t i = 0; i < j.generated_before.size(); ++i) {
        if (i != 0) out.push_back(',');
        if (!append_json_string(out, j.generated_before[i])) return false;
    }
    out += j.options.purge_session_vault ? "],\"options\":{\"purge_session_vault\":true}"
                                         : "],\"options\":{\"purge_session_vault\":false}";
    out += ",\"ops\":[";
    for (size_t i = 0; i < j.ops.size(); ++i) {
        if (i != 0) out.push_back(',');
        if (!append_op(out, j.ops[i])) return false;
    }
    out += "],\"marks\":[";
    for (size_t i = 0; i < j.marks.size(); ++i) {
        if (i != 0) out.push_back(',');
        append_mark(out, j.marks[i]);
    }
    out += "]}";
    return true;
}

}  // namespace

platform::Result<std::string> encode_journal(const Journal& journal) {
    if (validate_journal(journal)) return platform::invalid_input("invalid journal");
    std::string out;
    size_t estimate = 1024;
    for (const Op& op : journal.ops) estimate += 112 + op.rel.size();
    out.reserve(estimate);
    if (!append_journal(out, journal)) return platform::invalid_input("invalid journal");
    return out;
}

}  // namespace holvar::txn::journal
