// The answers the Wine adapter rewrites (owner and ACE SIDs, another
// process's token user), checked as the pure rewrites they are.
#include <gtest/gtest.h>

#include <cstring>

#include "../../tools/windows/wine_shims/answer_rewrites.hpp"

namespace holvar::wine_shims {
namespace {

using platform::Ace;
using platform::Sid;

Sid sid(const char16_t* text) {
    return *platform::sid_from_string(text);
}

const char16_t* kWineUser = u"S-1-5-21-1004336348-1177238915-682003330-1000";

platform::SecurityDescriptor descriptor(const Sid& owner, std::vector<Sid> ace_sids) {
    platform::SecurityParts parts;
    parts.owner = owner;
    parts.dacl_present = true;
    parts.dacl = platform::Acl{};
    for (Sid& s : ace_sids) parts.dacl->aces.push_back(Ace{0, 0, 0, 0x1F01FF, std::move(s)});
    return platform::encode_security_descriptor(parts);
}

TEST(WineAnswers, TheWineUserIsReadAsAdministratorsWhereverItStands) {
    const Sid wine = sid(kWineUser), admins = sid(platform::sids::administrators),
              users = sid(platform::sids::users);
    struct Row {
        const char* what;
        Sid owner;
        std::vector<Sid> aces;
        Sid owner_after;
        std::vector<Sid> aces_after;
    };
    const Row rows[] = {
        {"owner and first ACE", wine, {wine, users}, admins, {admins, users}},
        {"ACE only", users, {users, wine}, users, {users, admins}},
        {"not named", users, {users}, users, {users}},
    };
    for (const Row& r : rows) {
        const auto sd = descriptor(r.owner, r.aces);
        auto mapped = reassign_sid(sd, wine, admins);
        ASSERT_TRUE(mapped) << r.what;
        auto parts = platform::decode_security_descriptor(*mapped);
        ASSERT_TRUE(parts && parts->owner && parts->dacl) << r.what;
        EXPECT_EQ(*parts->owner, r.owner_after) << r.what;
        ASSERT_EQ(parts->dacl->aces.size(), r.aces_after.size()) << r.what;
        for (size_t i = 0; i < r.aces_after.size(); ++i) {
            EXPECT_EQ(parts->dacl->aces[i].sid, r.aces_after[i]) << r.what;
            EXPECT_EQ(parts->dacl->aces[i].size, 8 + r.aces_after[i].bytes.size()) << r.what;
            EXPECT_EQ(parts->dacl->aces[i].mask, 0x1F01FFu) << r.what;
        }
        if (r.owner == r.owner_after && r.aces == r.aces_after) {
            EXPECT_EQ(mapped->bytes, sd.bytes) << r.what;  // untouched, byte for byte
        }
    }
    EXPECT_FALSE(reassign_sid(platform::SecurityDescriptor{{1, 2, 3}}, wine, admins));
}

TEST(WineAnswers, AnotherProcesssTokenUserIsReadAsLocalSystem) {
    const Sid wine = sid(kWineUser), system = sid(platform::sids::local_system);
    platform::TokenInformation real;
    real.bytes.assign(16, 0);
    const uint64_t offset = 16;
    const uint32_t attributes = 0;
    std::memcpy(real.bytes.data(), &offset, 8);
    std::memcpy(real.bytes.data() + 8, &attributes, 4);
    real.bytes.insert(real.bytes.end(), wine.bytes.begin(), wine.bytes.end());
    real.return_length = static_cast<uint32_t>(real.bytes.size());

    auto mapped = token_user_as(real, system);
    ASSERT_EQ(mapped.bytes.size(), 16 + system.bytes.size());
    EXPECT_EQ(Sid{std::vector<uint8_t>(mapped.bytes.begin() + 16, mapped.bytes.end())}, system);
    EXPECT_EQ(mapped.return_length, mapped.bytes.size());
    EXPECT_TRUE(std::equal(real.bytes.begin(), real.bytes.begin() + 16, mapped.bytes.begin()));

    platform::TokenInformation probe;  // a size probe: no bytes, 122
    probe.last_error = 122;
    probe.return_length = real.return_length;
    auto kept = token_user_as(probe, system);
    EXPECT_EQ(kept.last_error, 122u);
    EXPECT_EQ(kept.return_length, real.return_length);
    EXPECT_TRUE(kept.bytes.empty());
}

}  // namespace
}  // namespace holvar::wine_shims
