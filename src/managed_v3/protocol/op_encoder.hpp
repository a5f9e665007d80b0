// Encoding of the operations a client requests: the object for the request
// envelope's "op" key, internally tagged by its first key "action", the
// fields following in protocol order, compact.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "managed_v3/protocol/request_op.hpp"
#include "platform/error.hpp"

namespace holvar::v3 {

// Keeps keys in the order they are written.
using OrderedJson = nlohmann::ordered_json;

// The operation as a JSON value, to be embedded in the envelope. Fails with
// "invalid_frame" when a text of the operation is not valid UTF-8 (JSON
// cannot carry it).
platform::Result<OrderedJson> encode_op(const RequestOp& op);

// The operation as compact JSON text, e.g. {"action":"status"}.
platform::Result<std::string> encode_op_text(const RequestOp& op);

// Compact JSON text of a value built by the encoders (keys in the order
// written, no whitespace, UTF-8 as is).
std::string compact_text(const OrderedJson& value);

}  // namespace holvar::v3
