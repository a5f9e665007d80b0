// A v3 reply: the kind named by "type" and the record held in "data".
#pragma once

#include <cstdint>
#include <variant>

#include "managed_v3/protocol/records.hpp"

namespace holvar::v3 {

enum class ReplyKind : uint8_t { capabilities, status, apply, nodes, probe, metrics, done, error };
template <>
struct EnumNames<ReplyKind> {
    static constexpr std::array<std::string_view, 8> names = {
        "capabilities", "status", "apply", "nodes", "probe", "metrics", "done", "error"};
};

// "done" carries nothing (monostate); "error" carries the service's code.
using ReplyData = std::variant<std::monostate, Capabilities, Status, ApplyResult, NodesView,
                               ProbeResult, Metrics, ServiceErrorCode>;

struct Reply {
    ReplyKind kind = ReplyKind::done;
    ReplyData data;

    // The record of the reply's kind, or null for another kind.
    template <class T>
    const T* get() const {
        return std::get_if<T>(&data);
    }
    friend bool operator==(const Reply&, const Reply&) = default;
};

}  // namespace holvar::v3
