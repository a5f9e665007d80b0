// The service's side of the v3 protocol, shared by the simulated service and
// the real one built for Windows: how a request frame is read, and the reply
// frame a script asks for. It is written from the protocol's description, not
// from the engine's decoder, so that the two sides check each other.
//
// A script is the "v3" object of a service's description (the simulated
// machine's program_service.hpp documents its keys); each request of a
// process gets the entry of "replies" at its index, or {} (a normal reply).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace holvar::v3_service {

inline constexpr char kPipeName[] = "holvar-service-v3";
inline constexpr uint32_t kMaxRequestBytes = 8 * 1024 * 1024;  // a larger request is refused
inline constexpr uint32_t kDefaultInstances = 4;

// The "v3" object of a description; anything else reads as {}.
const nlohmann::json& v3_of(const nlohmann::json& description);

// The script of the index-th request of a process (0-based).
const nlohmann::json& reply_script(const nlohmann::json& description, uint64_t index);

// A number or a flag of a script; a value of another type reads as absent.
std::optional<uint64_t> unsigned_of(const nlohmann::json& o, const char* key);
bool flag_of(const nlohmann::json& o, const char* key);

// The service_instance of its tokens: the scripted "instance", else `fallback`.
std::string base_instance(const nlohmann::json& description, const std::string& fallback);

// What the bytes received so far make of the request frame: a 4-byte
// little-endian length, then that many bytes. `Bytes` is any indexable
// sequence of uint8_t (the simulated pipe keeps a deque).
enum class FrameState : uint8_t {
    incomplete,  // more bytes are needed
    refused,     // a length of 0 or beyond 8 MiB: close without answering
    complete,    // the whole frame is there
};

template <class Bytes>
uint32_t declared_length(const Bytes& received) {
    return static_cast<uint32_t>(received[0]) | static_cast<uint32_t>(received[1]) << 8 |
           static_cast<uint32_t>(received[2]) << 16 | static_cast<uint32_t>(received[3]) << 24;
}

template <class Bytes>
FrameState frame_state(const Bytes& received) {
    if (received.size() < 4) return FrameState::incomplete;
    const uint32_t length = declared_length(received);
    if (length == 0 || length > kMaxRequestBytes) return FrameState::refused;
    return received.size() - 4 < length ? FrameState::incomplete : FrameState::complete;
}

// The payload of a complete frame (bytes after it are ignored).
template <class Bytes>
std::string frame_payload(const Bytes& received) {
    if (frame_state(received) != FrameState::complete) return {};
    return std::string(received.begin() + 4, received.begin() + 4 + declared_length(received));
}

// What the service does with one request.
struct Reply {
    bool never = false;          // no answer at all; the connection stays open
    bool restart_after = false;  // the process restarts once the client lets go
    std::vector<uint8_t> frame;  // the bytes to send
    bool close = false;          // the service closes its end after sending them
    uint64_t delay_ms = 0;       // how long after the request they are sent
};
Reply reply_to(const std::string& request_payload, const std::string& instance,
               const nlohmann::json& script);

}  // namespace holvar::v3_service
