// Serialization of a JSON value into a buffer that refuses to grow past a
// limit, so that an oversized message costs at most the limit in memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "managed_v3/protocol/op_encoder.hpp"

namespace holvar::v3 {

// The compact text of `value` (keys in the order written), or nothing when
// the text would be longer than `limit` bytes.
std::optional<std::string> compact_text_within(const OrderedJson& value, std::size_t limit);

}  // namespace holvar::v3
