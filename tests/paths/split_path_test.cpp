// How a Windows path is cut into prefix, root and components, and the
// parent/file-name/join rules built on the same cut.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win_path.hpp"

namespace holvar::platform {
namespace {

struct SplitCase {
    std::u16string path;
    PathPrefix kind;
    std::u16string prefix;
    bool has_root;
    std::vector<std::u16string> components;
};

TEST(SplitPath, CutsPrefixRootAndComponents) {
    const std::vector<SplitCase> cases = {
        {uR"(C:\Holvar\resources)", PathPrefix::drive, u"C:", true, {u"Holvar", u"resources"}},
        {uR"(c:/Holvar/x)", PathPrefix::drive, u"c:", true, {u"Holvar", u"x"}},
        {uR"(C:Holvar)", PathPrefix::drive, u"C:", false, {u"Holvar"}},
        {uR"(C:\)", PathPrefix::drive, u"C:", true, {}},
        {uR"(C:)", PathPrefix::drive, u"C:", false, {}},
        {uR"(C:\a\\b\\\)", PathPrefix::drive, u"C:", true, {u"a", u"b"}},
        {uR"(C:\a\.\b\.)", PathPrefix::drive, u"C:", true, {u"a", u"b"}},
        {uR"(C:\a\..\b)", PathPrefix::drive, u"C:", true, {u"a", u"..", u"b"}},
        {uR"(\\?\C:\Holvar\x)", PathPrefix::verbatim_drive, uR"(\\?\C:)", true, {u"Holvar", u"x"}},
        // Verbatim paths split on '\' only and keep "." and ".." as written.
        {uR"(\\?\C:\a/b\.\..)",
         PathPrefix::verbatim_drive,
         uR"(\\?\C:)",
         true,
         {u"a/b", u".", u".."}},
        {uR"(\\?\UNC\srv\share\x)",
         PathPrefix::verbatim_unc,
         uR"(\\?\UNC\srv\share)",
         true,
         {u"x"}},
        {uR"(\\?\Volume{0b1e}\x)", PathPrefix::verbatim, uR"(\\?\Volume{0b1e})", true, {u"x"}},
        {uR"(\\srv\share\dir\f)", PathPrefix::unc, uR"(\\srv\share)", true, {u"dir", u"f"}},
        {uR"(//srv/share/dir)", PathPrefix::unc, uR"(//srv/share)", true, {u"dir"}},
        {uR"(\\srv\share)", PathPrefix::unc, uR"(\\srv\share)", false, {}},
        {uR"(\\.\C:)", PathPrefix::device, uR"(\\.\C:)", false, {}},
        {uR"(\\.\pipe\holvar-service-v3)",
         PathPrefix::device,
         uR"(\\.\pipe)",
         true,
         {u"holvar-service-v3"}},
        {uR"(\a\b)", PathPrefix::none, u"", true, {u"a", u"b"}},
        {uR"(a\b\)", PathPrefix::none, u"", false, {u"a", u"b"}},
        {uR"(.\a)", PathPrefix::none, u"", false, {u".", u"a"}},
        {uR"(a\.\b)", PathPrefix::none, u"", false, {u"a", u"b"}},
        {uR"(..\a)", PathPrefix::none, u"", false, {u"..", u"a"}},
        {u"", PathPrefix::none, u"", false, {}},
        // "1:" is no drive: only ASCII letters name drives.
        {uR"(1:\a)", PathPrefix::none, u"", false, {u"1:", u"a"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path));
        PathParts parts = split_path(c.path);
        EXPECT_EQ(parts.prefix_kind, c.kind);
        EXPECT_EQ(parts.prefix, c.prefix);
        EXPECT_EQ(parts.has_root, c.has_root);
        EXPECT_EQ(parts.components, c.components);
    }
}

struct ParentCase {
    std::u16string path;
    std::optional<std::u16string> parent;
    std::optional<std::u16string> name;
};

TEST(SplitPath, ParentAndFileNameFollowTheSameCut) {
    const std::vector<ParentCase> cases = {
        {uR"(C:\Holvar\resources)", uR"(C:\Holvar)", u"resources"},
        {uR"(C:\Holvar)", uR"(C:\)", u"Holvar"},
        {uR"(C:\Holvar\)", uR"(C:\)", u"Holvar"},
        {uR"(C:\a\\b\\)", uR"(C:\a)", u"b"},
        {uR"(C:/a/b)", uR"(C:\a)", u"b"},
        {uR"(C:\)", std::nullopt, std::nullopt},
        {uR"(C:)", std::nullopt, std::nullopt},
        {uR"(\\?\C:\Holvar)", uR"(\\?\C:\)", u"Holvar"},
        {uR"(\\?\C:\)", std::nullopt, std::nullopt},
        {uR"(\\srv\share\x)", uR"(\\srv\share\)", u"x"},
        {uR"(\\srv\share)", std::nullopt, std::nullopt},
        {uR"(C:\a\..)", uR"(C:\a)", std::nullopt},
        {uR"(a)", u"", u"a"},
        {uR"(a\b)", u"a", u"b"},
    };
    for (const ParentCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path));
        EXPECT_EQ(parent_path(c.path), c.parent);
        EXPECT_EQ(file_name(c.path), c.name);
    }
}

struct JoinCase {
    std::u16string base;
    std::u16string name;
    std::u16string joined;
};

TEST(SplitPath, JoinAddsOneSeparator) {
    const std::vector<JoinCase> cases = {
        {uR"(C:\Holvar)", u"x", uR"(C:\Holvar\x)"},
        {uR"(C:\Holvar\)", u"x", uR"(C:\Holvar\x)"},
        {uR"(C:\Holvar/)", u"x", uR"(C:\Holvar/x)"},
        {uR"(C:\)", u"x", uR"(C:\x)"},
        {uR"(C:)", u"x", uR"(C:x)"},
        {uR"(\\?\C:\r)", u"payload", uR"(\\?\C:\r\payload)"},
        {u"", u"x", u"x"},
    };
    for (const JoinCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.base + u" + " + c.name));
        EXPECT_EQ(join_path(c.base, c.name), c.joined);
        // What join produced splits back into base's components plus the name.
        std::vector<std::u16string> expected = split_path(c.base).components;
        expected.push_back(c.name);
        EXPECT_EQ(split_path(c.joined).components, expected);
    }
}

TEST(SplitPath, AbsoluteMeansIndependentOfCurrentDirectoryAndDrive) {
    const std::vector<std::pair<std::u16string, bool>> cases = {
        {uR"(C:\x)", true},          {uR"(C:/x)", true},
        {uR"(C:x)", false},          {uR"(C:)", false},
        {uR"(\x)", false},           {uR"(x\y)", false},
        {uR"(\\srv\share\x)", true}, {uR"(\\?\C:\x)", true},
        {uR"(\\.\C:)", true},        {u"", false},
    };
    for (const auto& [path, absolute] : cases) {
        SCOPED_TRACE(testing::PrintToString(path));
        EXPECT_EQ(is_absolute_path(path), absolute);
    }
}

TEST(SplitPath, RenderGivesBackTheNormalForm) {
    EXPECT_EQ(render_path(split_path(uR"(C:/a//b/)")), uR"(C:\a\b)");
    EXPECT_EQ(render_path(split_path(uR"(\\?\C:\a)")), uR"(\\?\C:\a)");
    EXPECT_EQ(render_path(split_path(uR"(\\srv\share\a\)")), uR"(\\srv\share\a)");
}

}  // namespace
}  // namespace holvar::platform
