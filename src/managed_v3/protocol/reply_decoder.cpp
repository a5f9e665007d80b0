#include "managed_v3/protocol/reply_decoder.hpp"

#include <utility>

namespace holvar::v3 {

bool decode_value(const Json& value, StateToken& out) {
    FieldReader fields(value);
    return fields.required("service_instance", out.service_instance) &&
           fields.required("generation", out.generation) &&
           fields.required("intent_epoch", out.intent_epoch) && fields.done();
}

bool decode_value(const Json& value, Capabilities& out) {
    FieldReader fields(value);
    return fields.required("protocol", out.protocol) && fields.required("schema", out.schema) &&
           fields.required("flags", out.flags) &&
           fields.required("build_version", out.build_version) && fields.done();
}

bool decode_value(const Json& value, LeaseStatus& out) {
    FieldReader fields(value);
    return fields.required("remaining_ms", out.remaining_ms) && fields.done();
}

bool decode_value(const Json& value, Status& out) {
    FieldReader fields(value);
    return fields.required("token", out.token) && fields.required("lifecycle", out.lifecycle) &&
           fields.optional("selected_node", out.selected_node) &&
           fields.optional("smart_split", out.smart_split) && fields.optional("error", out.error) &&
           fields.optional("lease", out.lease) && fields.optional("stop_reason", out.stop_reason) &&
           fields.done();
}

bool decode_value(const Json& value, ApplyResult& out) {
    FieldReader fields(value);
    return fields.required("outcome", out.outcome) && fields.required("status", out.status) &&
           fields.optional("error", out.error) && fields.done();
}

bool decode_value(const Json& value, NodeView& out) {
    FieldReader fields(value);
    return fields.required("name", out.name) && fields.required("kind", out.kind) &&
           fields.optional("delay_ms", out.delay_ms) &&
           fields.optional("measured_at_secs", out.measured_at_secs) && fields.done();
}

bool decode_value(const Json& value, GroupView& out) {
    FieldReader fields(value);
    return fields.required("name", out.name) && fields.required("members", out.members) &&
           fields.optional("selected", out.selected) && fields.done();
}

bool decode_value(const Json& value, NodesView& out) {
    FieldReader fields(value);
    return fields.required("nodes", out.nodes) && fields.required("groups", out.groups) &&
           fields.optional("selected_node", out.selected_node) && fields.done();
}

bool decode_value(const Json& value, ProbeResult& out) {
    FieldReader fields(value);
    return fields.optional("delay_ms", out.delay_ms) && fields.done();
}

bool decode_value(const Json& value, Metrics& out) {
    FieldReader fields(value);
    return fields.required("up", out.up) && fields.required("down", out.down) &&
           fields.required("memory", out.memory) && fields.required("sampling", out.sampling) &&
           fields.done();
}

namespace {

// Reads "data" as the record T of the reply's kind.
template <class T>
bool read_data(FieldReader& fields, ReplyData& data) {
    T record{};
    if (!fields.required("data", record)) return false;
    data = std::move(record);
    return true;
}

bool read_data_of(ReplyKind kind, FieldReader& fields, ReplyData& data) {
    switch (kind) {
        case ReplyKind::capabilities:
            return read_data<Capabilities>(fields, data);
        case ReplyKind::status:
            return read_data<Status>(fields, data);
        case ReplyKind::apply:
            return read_data<ApplyResult>(fields, data);
        case ReplyKind::nodes:
            return read_data<NodesView>(fields, data);
        case ReplyKind::probe:
            return read_data<ProbeResult>(fields, data);
        case ReplyKind::metrics:
            return read_data<Metrics>(fields, data);
        case ReplyKind::error:
            return read_data<ServiceErrorCode>(fields, data);
        case ReplyKind::done:
            data = std::monostate{};
            return fields.absent_or_null("data");
    }
    return false;
}

}  // namespace

bool decode_value(const Json& value, Reply& out) {
    FieldReader fields(value);
    return fields.required("type", out.kind) && read_data_of(out.kind, fields, out.data) &&
           fields.done();
}

platform::Result<Reply> decode_reply(const Json& result) {
    Reply reply;
    if (!decode_value(result, reply)) return invalid_frame();
    return reply;
}

platform::Result<StateToken> decode_state_token(const Json& token) {
    StateToken decoded;
    if (!decode_value(token, decoded)) return invalid_frame();
    return decoded;
}

}  // namespace holvar::v3
