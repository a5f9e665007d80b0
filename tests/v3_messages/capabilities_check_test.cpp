// The capabilities a started service must declare, and the bounds checked
// before them.
#include <gtest/gtest.h>

#include "managed_v3/protocol/capabilities_check.hpp"
#include "managed_v3/protocol/envelope.hpp"

namespace holvar::v3 {
namespace {

std::vector<std::string> required_flags() {
    return {kRequiredCapabilityFlags.begin(), kRequiredCapabilityFlags.end()};
}

Capabilities good() {
    return Capabilities{3, 2, required_flags(), "1.0.0"};
}

struct CapabilityCase {
    const char* why;
    Capabilities capabilities;
    std::string_view expected;  // empty: accepted
};

std::vector<CapabilityCase> cases() {
    std::vector<CapabilityCase> table;
    table.push_back({"all required flags", good(), ""});
    Capabilities reversed = good();
    std::reverse(reversed.flags.begin(), reversed.flags.end());
    reversed.flags.push_back("owner_ops_v1");
    reversed.flags.push_back("future_flag");
    table.push_back({"any order, others ignored", reversed, ""});
    Capabilities schema1 = good();
    schema1.schema = 1;
    table.push_back({"schema 1", schema1, kCapabilitiesRequired});
    Capabilities protocol2 = good();
    protocol2.protocol = 2;
    table.push_back({"protocol 2", protocol2, kCapabilitiesRequired});
    table.push_back({"no flags", Capabilities{3, 2, {}, ""}, kCapabilitiesRequired});
    for (std::size_t i = 0; i < kRequiredCapabilityFlags.size(); ++i) {
        Capabilities missing = good();
        missing.flags.erase(missing.flags.begin() + static_cast<std::ptrdiff_t>(i));
        table.push_back({"one required flag missing", missing, kCapabilitiesRequired});
    }
    Capabilities cased = good();
    cased.flags[0] = "Managed_schema_2";
    table.push_back({"flag in another case", cased, kCapabilitiesRequired});
    Capabilities padded = good();
    padded.flags[0] += " ";
    table.push_back({"flag with a trailing space", padded, kCapabilitiesRequired});
    Capabilities flags32 = good();
    while (flags32.flags.size() < 32) flags32.flags.push_back("x");
    table.push_back({"32 flags", flags32, ""});
    Capabilities flags33 = flags32;
    flags33.flags.push_back("x");
    table.push_back({"33 flags, all required present", flags33, kInvalidV3Response});
    Capabilities flag64 = good();
    flag64.flags.push_back(std::string(64, 'f'));
    table.push_back({"flag of 64 bytes", flag64, ""});
    Capabilities flag65 = good();
    flag65.flags.push_back(std::string(65, 'f'));
    table.push_back({"flag of 65 bytes", flag65, kInvalidV3Response});
    Capabilities build128 = good();
    build128.build_version = std::string(128, 'b');
    table.push_back({"build version of 128 bytes", build128, ""});
    Capabilities build129 = good();
    build129.build_version = std::string(129, 'b');
    table.push_back({"build version of 129 bytes", build129, kInvalidV3Response});
    Capabilities both = flags33;
    both.schema = 1;
    table.push_back({"size bounds come before the schema", both, kInvalidV3Response});
    return table;
}

TEST(CapabilitiesCheck, Table) {
    for (const CapabilityCase& c : cases()) {
        SCOPED_TRACE(c.why);
        const platform::Status checked = check_capabilities(c.capabilities);
        if (c.expected.empty()) {
            EXPECT_TRUE(checked.has_value());
        } else {
            ASSERT_FALSE(checked.has_value());
            EXPECT_EQ(checked.error().text, c.expected);
        }
    }
}

}  // namespace
}  // namespace holvar::v3
