// Input that must be refused before anything reaches the operating system.
#include <gtest/gtest.h>

#include <functional>

#include "fs_fixture.hpp"
#include "txn/fs/primitives.hpp"

namespace holvar::txn::fs::testing {
namespace {

using platform::ErrorKind;
using namespace std::string_literals;

class BadInputTest : public FsTest {
  protected:
    void SetUp() override {
        mkdir(uR"(C:\Work\root)");
        write(uR"(C:\Work\root\app.dll)", "app");
    }
};

struct BadCase {
    const char* what;
    std::function<platform::Status(platform::Os&, const platform::Handle&)> call;
    ErrorKind kind;
    const char* text;
};

platform::Status status_of(const auto& result) {
    if (result) return {};
    return std::unexpected(result.error());
}

TEST_F(BadInputTest, RefusedWithTheirTextsAndNoCall) {
    const std::u16string nul = u"C:\\Work\\root\\app.dll\0.txt"s;
    const std::u16string nul_name = std::u16string(u"C:\\Work\\ro") + u'\0' + u"ot";
    const std::u16string long_path = u"C:\\Work\\" + std::u16string(0x8000, u'x');
    const std::u16string surrogate = u"C:\\Work\\Hol\xD800var";
    const FileId any{};
    RetryBudget budget(std::chrono::seconds(30));
    const std::vector<BadCase> cases = {
        {"probe, NUL", [&](platform::Os& os, auto&) { return status_of(probe_path(os, nul_name)); },
         ErrorKind::invalid_input, "embedded NUL"},
        {"open, NUL",
         [&](platform::Os& os, auto&) {
             return status_of(open_object(os, nul_name, kProbeAccess));
         },
         ErrorKind::invalid_input, "embedded NUL"},
        {"open, over-long",
         [&](platform::Os& os, auto&) {
             return status_of(open_object(os, long_path, kProbeAccess));
         },
         ErrorKind::invalid_input, "path too long"},
        {"resolve, climbing",
         [&](platform::Os& os, auto&) {
             return status_of(resolve_relative(os, uR"(C:\Work\root)", uR"(a\..\..\Windows)"));
         },
         ErrorKind::invalid_input, "invalid relative path"},
        {"resolve, rooted",
         [&](platform::Os& os, auto&) {
             return status_of(resolve_relative(os, uR"(C:\Work\root)", uR"(\Windows)"));
         },
         ErrorKind::invalid_input, "invalid relative path"},
        {"resolve, drive",
         [&](platform::Os& os, auto&) {
             return status_of(resolve_relative(os, uR"(C:\Work\root)", uR"(C:Windows)"));
         },
         ErrorKind::invalid_input, "invalid relative path"},
        {"resolve, lone dot",
         [&](platform::Os& os, auto&) {
             return status_of(resolve_relative(os, uR"(C:\Work\root)", u"."));
         },
         ErrorKind::invalid_input, "invalid relative path"},
        {"resolve, empty",
         [&](platform::Os& os, auto&) {
             return status_of(resolve_relative(os, uR"(C:\Work\root)", u""));
         },
         ErrorKind::invalid_input, "empty relative path"},
        {"resolve, NUL in rel",
         [&](platform::Os& os, auto&) {
             return status_of(resolve_relative(os, uR"(C:\Work\root)", u"a\0b"s));
         },
         ErrorKind::invalid_input, "embedded NUL"},
        {"resolve, NUL in base",
         [&](platform::Os& os, auto&) {
             return status_of(resolve_relative(os, nul_name, u"app.dll"));
         },
         ErrorKind::invalid_input, "embedded NUL"},
        {"resolve, over-long result",
         [&](platform::Os& os, auto&) {
             return status_of(
                 resolve_relative(os, uR"(C:\Work\root)", u"a\\" + std::u16string(0x8000, u'y')));
         },
         ErrorKind::invalid_input, "path too long"},
        {"rename by handle, over-long target",
         [&](platform::Os& os, const platform::Handle& h) {
             return rename_by_handle(os, h, long_path, false);
         },
         ErrorKind::invalid_input, "path too long"},
        {"rename by handle, target of exactly 0x7FFF units",
         [&](platform::Os& os, const platform::Handle& h) {
             return rename_by_handle(os, h, std::u16string(0x7FFF, u'z'), true);
         },
         ErrorKind::invalid_input, "path too long"},
        {"rename by handle, NUL target",
         [&](platform::Os& os, const platform::Handle& h) {
             return rename_by_handle(os, h, nul, false);
         },
         ErrorKind::invalid_input, "embedded NUL"},
        {"verified rename, NUL source",
         [&](platform::Os& os, auto&) {
             return verified_rename(os, nul, uR"(C:\Work\x)", ObjectKind::file, any, false);
         },
         ErrorKind::invalid_input, "embedded NUL"},
        {"verified rename, over-long target",
         [&](platform::Os& os, auto&) {
             return verified_rename(os, uR"(C:\Work\root\app.dll)", long_path, ObjectKind::file,
                                    any, false);
         },
         ErrorKind::invalid_input, "path too long"},
        {"hard link, NUL link",
         [&](platform::Os& os, auto&) {
             return create_verified_hard_link(os, uR"(C:\Work\root\app.dll)", nul, any);
         },
         ErrorKind::invalid_input, "embedded NUL"},
        {"hard link, NUL existing",
         [&](platform::Os& os, auto&) {
             return create_verified_hard_link(os, nul, uR"(C:\Work\link.dll)", any);
         },
         ErrorKind::invalid_input, "embedded NUL"},
        {"volume capabilities, NUL",
         [&](platform::Os& os, auto&) { return status_of(check_volume_capabilities(os, nul)); },
         ErrorKind::invalid_input, "embedded NUL"},
        {"volume flush, NUL", [&](platform::Os& os, auto&) { return flush_volume(os, nul); },
         ErrorKind::invalid_input, "embedded NUL"},
        {"protected directory, NUL",
         [&](platform::Os& os, auto&) { return create_protected_directory(os, nul_name); },
         ErrorKind::invalid_input, "embedded NUL"},
        {"protected directory, over-long",
         [&](platform::Os& os, auto&) { return create_protected_directory(os, long_path); },
         ErrorKind::invalid_input, "path too long"},
        {"root identity, unpaired surrogate",
         [&](platform::Os& os, auto&) {
             return status_of(capture_root_identity(os, surrogate, true));
         },
         ErrorKind::invalid_data, "invalid path"},
        {"root identity, lone low surrogate, missing root",
         [&](platform::Os& os, auto&) {
             return status_of(capture_root_identity(os, u"C:\\Work\\\xDC00", false));
         },
         ErrorKind::invalid_data, "invalid path"},
        {"open for delete, NUL",
         [&](platform::Os& os, auto&) {
             return status_of(open_for_delete_retrying(os, nul, budget));
         },
         ErrorKind::invalid_input, "embedded NUL"},
        {"open directory for delete, NUL",
         [&](platform::Os& os, auto&) {
             return status_of(open_directory_for_delete_retrying(os, nul_name, budget));
         },
         ErrorKind::invalid_input, "embedded NUL"},
    };
    auto handle = open_object(os(), uR"(C:\Work\root\app.dll)", kRenameDeleteAccess);
    ASSERT_TRUE(handle);
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        uint64_t calls = machine().boundary_calls();
        platform::Instant time = machine().now();
        auto result = c.call(os(), *handle);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, c.kind);
        EXPECT_EQ(result.error().text, c.text);
        EXPECT_EQ(machine().boundary_calls(), calls) << "the input reached the machine";
        EXPECT_EQ(machine().now(), time);
    }
    EXPECT_EQ(budget.remaining(), std::chrono::seconds(30));
    EXPECT_EQ(read(uR"(C:\Work\root\app.dll)"), "app");
}

TEST_F(BadInputTest, UnpairedSurrogatesAreLegalNamesElsewhere) {
    // Windows names may hold them: only the journal's root path must be valid
    // Unicode. Probing such a name is an ordinary question.
    const std::u16string name = u"C:\\Work\\root\\odd\xD800.dll";
    write(name, "odd");
    auto probe = probe_path(os(), name);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->kind, ObjectKind::file);
}

}  // namespace
}  // namespace holvar::txn::fs::testing
