// Decoding of v3 replies and records, strictly: the whole value is refused
// (the frame is invalid) for a wrong JSON type, a missing required field, a
// key the record does not list, an integer out of range or an unlisted
// enumeration text. Keys may come in any order, "data" before "type" too.
#pragma once

#include <string_view>

#include "managed_v3/protocol/reply.hpp"
#include "managed_v3/protocol/strict_json.hpp"

namespace holvar::v3 {

// The value of the response envelope's "result" key.
platform::Result<Reply> decode_reply(const Json& result);

// The value of the response envelope's "token" key.
platform::Result<StateToken> decode_state_token(const Json& token);

// Record readers, also used for the records nested in others.
bool decode_value(const Json& value, Reply& out);
bool decode_value(const Json& value, StateToken& out);
bool decode_value(const Json& value, Capabilities& out);
bool decode_value(const Json& value, LeaseStatus& out);
bool decode_value(const Json& value, Status& out);
bool decode_value(const Json& value, ApplyResult& out);
bool decode_value(const Json& value, NodeView& out);
bool decode_value(const Json& value, GroupView& out);
bool decode_value(const Json& value, NodesView& out);
bool decode_value(const Json& value, ProbeResult& out);
bool decode_value(const Json& value, Metrics& out);

}  // namespace holvar::v3
