// The Wine adapter's seven shims, each shown under Wine: the real call answers
// with the known gap, the adapter with what Windows answers. On Windows the
// adapter is inert and these cases skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/security_types.hpp"
#include "platform/win32/windows_api.hpp"
#include "platform/win_path.hpp"
#include "wine_shims/wine_shimmed_os.hpp"

namespace holvar::wine_shims {
namespace {

using namespace platform;

std::u16string decimal(uint64_t value) {
    std::u16string out;
    for (char c : std::to_string(value)) out.push_back(static_cast<char16_t>(c));
    return out;
}

class Shims : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!shimmed_.state().active()) GTEST_SKIP() << "not under Wine: the adapter is inert";
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
        static int serial = 0;
        work_ = join_path(holvar::win32::from_wide(temp, n),
                          u"holvar-shims-" + decimal(GetCurrentProcessId()) + u"-" +
                              decimal(static_cast<uint64_t>(++serial)));
        ASSERT_TRUE(files().create_directory(work_, nullptr));
    }
    Files& files() { return shimmed_.os().files; }
    uint64_t uses(Shim shim) { return shimmed_.state().uses()[static_cast<size_t>(shim)]; }
    std::u16string at(std::u16string_view rel) const { return join_path(work_, rel); }
    Result<Handle> open(const std::u16string& path, uint32_t access, uint32_t flags = 0) {
        return files().create_file(path, access, FILE_SHARE_ALL, OPEN_EXISTING, flags, nullptr);
    }
    bool exists(const std::u16string& path) {
        return open(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS).has_value();
    }
    void make_file(const std::u16string& path) {
        auto h = files().create_file(path, GENERIC_WRITE, 0, CREATE_NEW, 0, nullptr);
        ASSERT_TRUE(h);
    }
    Sid owner_of(const std::u16string& path) {
        auto h = open(path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS);
        EXPECT_TRUE(h);
        if (!h) return {};
        auto sd = shimmed_.os().security.get_security_info(*h, platform::SE_FILE_OBJECT,
                                                           OWNER_SECURITY_INFORMATION);
        EXPECT_TRUE(sd);
        if (!sd) return {};
        auto parts = decode_security_descriptor(*sd);
        EXPECT_TRUE(parts && parts->owner);
        return parts && parts->owner ? *parts->owner : Sid{};
    }

    WineShimmedOs shimmed_;
    std::u16string work_;
};

TEST_F(Shims, AnExRenameFallsBackToTheOlderClassForAFullPath) {
    make_file(at(u"a"));
    make_file(at(u"old"));
    auto h = open(at(u"a"), DELETE | FILE_READ_ATTRIBUTES);
    ASSERT_TRUE(h);
    ASSERT_TRUE(files().set_file_rename_info_ex(
        *h, at(u"old"), FILE_RENAME_FLAG_POSIX_SEMANTICS | FILE_RENAME_FLAG_REPLACE_IF_EXISTS));
    EXPECT_EQ(uses(Shim::rename_ex), 1u);
    h->reset();
    EXPECT_FALSE(exists(at(u"a")));
    EXPECT_TRUE(exists(at(u"old")));
    // Without replace an existing target is still refused; a bare name is not passed on.
    make_file(at(u"b"));
    auto b = open(at(u"b"), DELETE | FILE_READ_ATTRIBUTES);
    ASSERT_TRUE(b);
    auto refused = files().set_file_rename_info_ex(*b, at(u"old"), 0);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().is_win32(platform::win32::already_exists));
    auto bare = files().set_file_rename_info_ex(*b, u"c", 0);
    ASSERT_FALSE(bare);
    EXPECT_TRUE(bare.error().is_win32(platform::win32::invalid_parameter));
}

TEST_F(Shims, AnExDispositionFallsBackToTheOlderClass) {
    make_file(at(u"doomed"));
    auto h = open(at(u"doomed"), DELETE | FILE_READ_ATTRIBUTES);
    ASSERT_TRUE(h);
    ASSERT_TRUE(files().set_file_disposition_info_ex(
        *h, FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS));
    EXPECT_EQ(uses(Shim::disposition_ex), 1u);
    h->reset();  // older semantics: the name goes with the last handle
    EXPECT_FALSE(exists(at(u"doomed")));
}

TEST_F(Shims, TheVolumeReportsHardLinksAndPosixRenames) {
    auto flags = files().get_volume_file_system_flags(u"C:\\");
    ASSERT_TRUE(flags);
    EXPECT_EQ(*flags & (FILE_SUPPORTS_HARD_LINKS | platform::FILE_SUPPORTS_POSIX_UNLINK_RENAME),
              FILE_SUPPORTS_HARD_LINKS | platform::FILE_SUPPORTS_POSIX_UNLINK_RENAME);
    EXPECT_EQ(uses(Shim::volume_flags), 1u);
}

TEST_F(Shims, AVolumeFlushSucceedsAndAFileFlushIsStillChecked) {
    auto volume = files().create_file(
        u"\\\\.\\C:", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(volume);
    EXPECT_TRUE(files().flush_file_buffers(*volume));
    EXPECT_EQ(uses(Shim::volume_flush), 1u);
    make_file(at(u"f"));
    auto reader = open(at(u"f"), GENERIC_READ);
    ASSERT_TRUE(reader);
    auto flushed = files().flush_file_buffers(*reader);
    ASSERT_FALSE(flushed);
    EXPECT_TRUE(flushed.error().is_win32(platform::win32::access_denied));
}

TEST_F(Shims, TheWineUserOwnsAsAdministratorsUnlessMarkedAnOrdinaryUsers) {
    ASSERT_TRUE(files().create_directory(at(u"admin"), nullptr));
    ASSERT_TRUE(files().create_directory(at(u"user"), nullptr));
    auto marked = open(at(u"user"), FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_TRUE(marked);
    auto id = files().get_file_id_info(*marked);
    ASSERT_TRUE(id);
    shimmed_.state().mark_ordinary_user(*id);
    EXPECT_EQ(sid_to_string(owner_of(at(u"admin"))), "S-1-5-32-544");
    EXPECT_GE(uses(Shim::owner_sids), 1u);
    EXPECT_EQ(owner_of(at(u"user")), shimmed_.state().wine_user());
}

TEST_F(Shims, AnotherProcesssTokenBelongsToLocalSystem) {
    Security& security = shimmed_.os().security;
    auto process = shimmed_.os().processes.open_process(
        PROCESS_QUERY_LIMITED_INFORMATION, false, shimmed_.os().processes.get_current_process_id());
    ASSERT_TRUE(process);
    auto other = security.open_process_token(&*process, TOKEN_QUERY);
    ASSERT_TRUE(other);
    auto user = security.get_token_information(*other, platform::TokenUser, 256);
    ASSERT_TRUE(user);
    ASSERT_GT(user->bytes.size(), 16u);
    EXPECT_EQ(sid_to_string(Sid{{user->bytes.begin() + 16, user->bytes.end()}}), "S-1-5-18");
    EXPECT_EQ(uses(Shim::other_token_user), 1u);
    // The engine's own token stays the Wine user's.
    auto own = security.open_process_token(nullptr, TOKEN_QUERY);
    ASSERT_TRUE(own);
    auto own_user = security.get_token_information(*own, platform::TokenUser, 256);
    ASSERT_TRUE(own_user);
    EXPECT_EQ(Sid{std::vector<uint8_t>(own_user->bytes.begin() + 16, own_user->bytes.end())},
              shimmed_.state().wine_user());
}

TEST_F(Shims, AFolderHeldOpenForDeleteIsListedThroughAHandleThatSharesDelete) {
    ASSERT_TRUE(files().create_directory(at(u"d"), nullptr));
    make_file(at(u"d\\one"));
    ASSERT_TRUE(files().create_directory(at(u"d\\two"), nullptr));
    // As the removal's tree walk holds each folder it is about to empty.
    auto held = files().create_file(at(u"d"), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_TRUE(held);
    auto listed = files().find_files(at(u"d\\*"));
    ASSERT_TRUE(listed);
    EXPECT_EQ(uses(Shim::list_shared), 1u);
    std::vector<std::u16string> names;
    for (const auto& e : *listed) names.push_back(e.file_name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u".", u"..", u"one", u"two"}));
    // Any other pattern keeps Wine's own answer.
    EXPECT_FALSE(files().find_files(at(u"d\\o*")));
    EXPECT_EQ(uses(Shim::list_shared), 1u);
}

}  // namespace
}  // namespace holvar::wine_shims
