// The enumerations carried by v3 records and operations, in declaration order.
#pragma once

#include <cstdint>

#include "managed_v3/protocol/enum_names.hpp"

namespace holvar::v3 {

enum class LifecycleState : uint8_t {
    stopped,
    preparing,
    committing,
    ready,
    restoring,
    stopping,
    failed,
};
template <>
struct EnumNames<LifecycleState> {
    static constexpr std::array<std::string_view, 7> names = {
        "stopped", "preparing", "committing", "ready", "restoring", "stopping", "failed"};
};

enum class StopReason : uint8_t { requested, lease_expired, client_exited, failed };
template <>
struct EnumNames<StopReason> {
    static constexpr std::array<std::string_view, 4> names = {"requested", "lease_expired",
                                                              "client_exited", "failed"};
};

enum class ApplyOutcome : uint8_t { ready, preserved_previous, restored_previous, stopped };
template <>
struct EnumNames<ApplyOutcome> {
    static constexpr std::array<std::string_view, 4> names = {"ready", "preserved_previous",
                                                              "restored_previous", "stopped"};
};

enum class ProbeTarget : uint8_t { cloudflare, gstatic };
template <>
struct EnumNames<ProbeTarget> {
    static constexpr std::array<std::string_view, 2> names = {"cloudflare", "gstatic"};
};

enum class ProbePriority : uint8_t { readiness, catalog };
template <>
struct EnumNames<ProbePriority> {
    static constexpr std::array<std::string_view, 2> names = {"readiness", "catalog"};
};

enum class TlsFingerprint : uint8_t {
    chrome,
    firefox,
    safari,
    edge,
    ios,
    android,
    random,
    randomized
};
template <>
struct EnumNames<TlsFingerprint> {
    static constexpr std::array<std::string_view, 8> names = {
        "chrome", "firefox", "safari", "edge", "ios", "android", "random", "randomized"};
};

enum class Network : uint8_t { tcp, http, h2, grpc, ws };
template <>
struct EnumNames<Network> {
    static constexpr std::array<std::string_view, 5> names = {"tcp", "http", "h2", "grpc", "ws"};
};

enum class VmessCipher : uint8_t { auto_select, none, zero, aes_128_gcm, chacha20_poly1305 };
template <>
struct EnumNames<VmessCipher> {
    static constexpr std::array<std::string_view, 5> names = {"auto", "none", "zero", "aes-128-gcm",
                                                              "chacha20-poly1305"};
};

enum class ShadowsocksCipher : uint8_t {
    aes_128_gcm,
    aes_256_gcm,
    chacha20_ietf_poly1305,
    blake3_aes_128_gcm_2022,
    blake3_aes_256_gcm_2022,
    blake3_chacha20_poly1305_2022,
};
template <>
struct EnumNames<ShadowsocksCipher> {
    static constexpr std::array<std::string_view, 6> names = {"aes-128-gcm",
                                                              "aes-256-gcm",
                                                              "chacha20-ietf-poly1305",
                                                              "2022-blake3-aes-128-gcm",
                                                              "2022-blake3-aes-256-gcm",
                                                              "2022-blake3-chacha20-poly1305"};
};

// The "flow" of a vless node: the vision flow or none (the empty string).
enum class VlessFlow : uint8_t { none, xtls_rprx_vision };
template <>
struct EnumNames<VlessFlow> {
    static constexpr std::array<std::string_view, 2> names = {"", "xtls-rprx-vision"};
};

}  // namespace holvar::v3
