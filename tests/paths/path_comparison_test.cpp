// The engine's one path comparison: equality and "lies under".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win_path.hpp"

namespace holvar::platform {
namespace {

struct CompareCase {
    std::u16string a;
    std::u16string b;
    bool equal;
};

TEST(PathComparison, EqualityTable) {
    const std::vector<CompareCase> cases = {
        {uR"(C:\Holvar)", uR"(C:\Holvar)", true},
        // ASCII letters fold, nothing else does.
        {uR"(C:\Holvar\Resources)", uR"(c:\HOLVAR\resources)", true},
        {u"C:\\Holvar\\\u00C4pfel", u"C:\\Holvar\\\u00E4pfel", false},  // Ä vs ä
        {u"C:\\\u0130", u"C:\\i", false},                               // dotted I
        {u"C:\\\u212A", u"C:\\k", false},                               // Kelvin sign
        // The verbatim marker on one side only.
        {uR"(\\?\C:\Holvar\x)", uR"(C:\Holvar\x)", true},
        {uR"(\\?\c:\holvar)", uR"(C:\Holvar)", true},
        {uR"(\\?\UNC\srv\share\x)", uR"(\\srv\share\x)", true},
        {uR"(\\?\UNC\srv\share\x)", uR"(\\?\UNC\SRV\share\x)", true},
        // Trailing, repeated and forward separators.
        {uR"(C:\Holvar\)", uR"(C:\Holvar)", true},
        {uR"(C:\\Holvar\\\x)", uR"(C:\Holvar\x)", true},
        {uR"(C:/Holvar/x)", uR"(C:\Holvar\x)", true},
        {uR"(//srv/share/x)", uR"(\\srv\share\x)", true},
        // "." and ".." as Windows normalises them.
        {uR"(C:\Holvar\.\x)", uR"(C:\Holvar\x)", true},
        {uR"(C:\Holvar\..\Holvar\x)", uR"(C:\Holvar\x)", true},
        {uR"(C:\..\Holvar)", uR"(C:\Holvar)", true},
        // ...but never in a verbatim path, which Windows does not normalise.
        {uR"(\\?\C:\Holvar\..\Holvar)", uR"(C:\Holvar)", false},
        {uR"(\\?\C:\Holvar\.)", uR"(\\?\C:\Holvar\.)", false},
        {uR"(\\?\C:\Holvar\..\x)", uR"(\\?\C:\Holvar\..\x)", false},
        {uR"(\\?\C:\Holvar\x)", uR"(\\?\C:\Holvar\x)", true},
        {uR"(C:\Holvar\..\x)", uR"(C:\Holvar\..\x)", true},
        // Different places.
        {uR"(C:\Holvar2)", uR"(C:\Holvar)", false},
        {uR"(C:\Holvar\x)", uR"(C:\Holvar)", false},
        {uR"(D:\Holvar)", uR"(C:\Holvar)", false},
        {uR"(C:Holvar)", uR"(C:\Holvar)", false},
        {uR"(\Holvar)", uR"(C:\Holvar)", false},
        {uR"(\\srv\share\x)", uR"(\\srv\other\x)", false},
        {uR"(\\.\C:)", uR"(C:)", false},
        // Trailing dots and spaces are names of their own here.
        {uR"(C:\Holvar.)", uR"(C:\Holvar)", false},
    };
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.a + u" vs " + c.b));
        EXPECT_EQ(paths_equal(c.a, c.b), c.equal);
        EXPECT_EQ(paths_equal(c.b, c.a), c.equal) << "equality is symmetric";
        if (c.equal) {
            EXPECT_TRUE(path_lies_under(c.a, c.b));
            EXPECT_TRUE(path_lies_under(c.b, c.a));
        }
    }
}

struct UnderCase {
    std::u16string path;
    std::u16string ancestor;
    bool under;
};

TEST(PathComparison, LiesUnderIsAComponentPrefix) {
    const std::vector<UnderCase> cases = {
        {uR"(C:\Holvar\resources\x.dll)", uR"(C:\Holvar)", true},
        {uR"(C:\Holvar)", uR"(C:\Holvar)", true},
        {uR"(C:\Holvar)", uR"(C:\)", true},
        {uR"(C:\Holvar2)", uR"(C:\Holvar)", false},
        {uR"(C:\Holvar2\x)", uR"(C:\Holvar)", false},
        {uR"(C:\Holvar)", uR"(C:\Holvar\x)", false},
        {uR"(c:\HOLVAR\x)", uR"(\\?\C:\Holvar\)", true},
        {uR"(C:\Holvar\..\Windows)", uR"(C:\Holvar)", false},
        {uR"(C:\Holvar\..\Holvar\x)", uR"(C:\Holvar)", true},
        {uR"(\\?\C:\Holvar\..\Windows)", uR"(C:\Holvar)", false},
        {uR"(D:\Holvar\x)", uR"(C:\Holvar)", false},
        {uR"(uninstall.exe)", uR"(uninstall.exe)", true},
        {uR"(bin\uninstall.exe)", uR"(BIN)", true},
        {uR"(binary\x)", uR"(bin)", false},
        {u"C:\\\u00C4\\x", u"C:\\\u00E4", false},
    };
    for (const UnderCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path + u" under " + c.ancestor));
        EXPECT_EQ(path_lies_under(c.path, c.ancestor), c.under);
    }
}

TEST(PathComparison, ExactComparisonFoldsNothing) {
    EXPECT_TRUE(paths_equal_exact(uR"(C:\Holvar\x)", uR"(C:\Holvar\\x\)"));
    EXPECT_FALSE(paths_equal_exact(uR"(C:\Holvar)", uR"(C:\holvar)"));
    EXPECT_FALSE(paths_equal_exact(uR"(c:\Holvar)", uR"(C:\Holvar)"));
    EXPECT_FALSE(paths_equal_exact(uR"(C:\Holvar\x)", uR"(C:\Holvar)"));
}

TEST(PathComparison, AsciiFoldingHelpers) {
    EXPECT_TRUE(ascii_iequal(u"AbC", u"aBc"));
    EXPECT_FALSE(ascii_iequal(u"\u00C4", u"\u00E4"));
    EXPECT_FALSE(ascii_iequal(u"ab", u"abc"));
    EXPECT_EQ(ascii_icompare(u"a", u"B"), -1);
    EXPECT_EQ(ascii_icompare(u"B", u"a"), 1);
    EXPECT_EQ(ascii_icompare(u"ab", u"AB"), 0);
    EXPECT_EQ(ascii_icompare(u"ab", u"abc"), -1);
    // Letters fold to lower case, so '_' (0x5F) sorts before them ('a' is 0x61).
    EXPECT_EQ(ascii_icompare(u"_", u"A"), -1);
    EXPECT_EQ(strip_verbatim(uR"(\\?\C:\x)"), uR"(C:\x)");
    EXPECT_EQ(strip_verbatim(uR"(C:\x)"), uR"(C:\x)");
}

}  // namespace
}  // namespace holvar::platform
