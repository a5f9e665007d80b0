// A simulated machine with the service installed under its root, its
// program scripted through the "v3" part of its description, and the
// engine's process ready to verify it.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "managed_v3/transport/v3_error.hpp"
#include "scm/scm_host.hpp"

namespace holvar::testing {

using txn::scm::testing::kImage;

// The service program: running after `start_pending_ms`, its v3 behaviour as given.
inline std::string service_program(const nlohmann::json& v3, uint64_t start_pending_ms = 200) {
    nlohmann::json d = {{"kind", "service"}, {"start_pending_ms", start_pending_ms}};
    if (!v3.is_null()) d["v3"] = v3;
    return d.dump();
}

struct VerifyHost : txn::scm::testing::ScmHost {
    explicit VerifyHost(const std::string& program) : ScmHost(program) {
        install();
        calls.clear();
        status_polls.clear();
    }
    platform::Instant now() { return machine->now(); }
};

inline std::string shown(const v3::V3Error& e) {
    return e.display();
}

}  // namespace holvar::testing
