// Every call of an operation failed in turn: the operation fails (or, for a
// call whose failure it tolerates, goes on) and never leaves a handle open.
#include <gtest/gtest.h>

#include "scm/scm_host.hpp"

namespace holvar::txn::scm::testing {
namespace {

using namespace std::chrono_literals;

size_t engine_handles(ScmHost& host) {
    size_t n = host.state().scm.handles.size() + host.state().registry.handles.size();
    for (const auto& [raw, h] : host.state().handles)
        if (h.pid == host.pid) ++n;
    return n;
}

TEST(ScmFaultWalk, EveryFailedCallClosesEveryHandle) {
    struct Case {
        const char* what;
        bool running;
        platform::Status (*run)(platform::Os&);
    };
    const Case cases[] = {
        {"apply", false, [](platform::Os& os) { return scm_apply(os, desired_scm_config(kRoot)); }},
        {"query", false,
         [](platform::Os& os) -> platform::Status {
             auto q = scm_query(os);
             if (!q) return std::unexpected(q.error());
             return {};
         }},
        {"stop", true, [](platform::Os& os) { return scm_stop(os, 30s); }},
        {"stop, already stopped", false, [](platform::Os& os) { return scm_stop(os, 30s); }},
        {"settled snapshot", false,
         [](platform::Os& os) -> platform::Status {
             auto s = scm_snapshot_settled(os, 30s);
             if (!s) return std::unexpected(s.error());
             return {};
         }},
        {"restore", true,
         [](platform::Os& os) { return scm_restore(os, desired_scm_config(kRoot), true); }},
        {"delete", false,
         [](platform::Os& os) -> platform::Status {
             auto d = scm_delete(os);
             if (!d) return std::unexpected(d.error());
             return {};
         }},
    };
    constexpr uint32_t kInjected = 1234;
    for (const Case& c : cases) {
        uint64_t clean_calls = 0;
        {
            ScmHost host;
            if (c.running)
                host.install_running();
            else
                host.install();
            uint64_t before = host.machine->failable_calls();
            ASSERT_TRUE(c.run(host.os())) << c.what;
            clean_calls = host.machine->failable_calls() - before;
        }
        ASSERT_GT(clean_calls, 2u) << c.what;
        for (uint64_t k = 1; k <= clean_calls; ++k) {
            ScmHost host;
            if (c.running)
                host.install_running();
            else
                host.install();
            sim::FaultRule rule;
            rule.call_index = host.machine->failable_calls() + k;
            rule.win32 = kInjected;
            host.machine->add_fault(rule);
            auto st = c.run(host.os());
            if (!st) {
                // The injected code, or the identity gate's own verdict on it.
                EXPECT_TRUE(st.error().is_win32(kInjected) ||
                            st.error().has_text("service_identity_rejected") ||
                            st.error().has_text("unsafe_installation"))
                    << c.what << " call " << k << ": " << st.error().text;
            }
            EXPECT_EQ(engine_handles(host), 0u) << c.what << " call " << k;
        }
    }
}

}  // namespace
}  // namespace holvar::txn::scm::testing
