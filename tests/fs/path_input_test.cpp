// Input rules that need no machine: the path gate, relative paths, budgets.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "txn/fs/resolve_relative.hpp"
#include "txn/fs/retry_budget.hpp"
#include "txn/fs/wide_path.hpp"

namespace holvar::txn::fs {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

TEST(WidePath, RefusesNulAndOverLongPaths) {
    struct Case {
        std::u16string path;
        const char* error;  // nullptr: accepted unchanged
    };
    const std::vector<Case> cases = {
        {uR"(C:\Holvar)", nullptr},
        {u"C:\\Hol\0var"s, "embedded NUL"},
        {std::u16string(1, u'\0'), "embedded NUL"},
        {u"C:\\x\xD800y", nullptr},  // unpaired surrogates are legal Windows names
        {u"", nullptr},
        {std::u16string(0x7FFE, u'a'), nullptr},  // 0x7FFF units with the NUL
        {std::u16string(0x7FFF, u'a'), "path too long"},
        {std::u16string(0x9000, u'a'), "path too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.size());
        auto wide = wide_path(c.path);
        if (c.error == nullptr) {
            ASSERT_TRUE(wide);
            EXPECT_EQ(*wide, c.path);
            EXPECT_EQ(wide->c_str()[wide->size()], u'\0');
        } else {
            ASSERT_FALSE(wide);
            EXPECT_EQ(wide.error().kind, platform::ErrorKind::invalid_input);
            EXPECT_EQ(wide.error().text, c.error);
        }
    }
}

TEST(SplitRelative, NormalNamesOnly) {
    struct Case {
        std::u16string rel;
        std::vector<std::u16string> components;  // empty: refused with `error`
        const char* error;
    };
    const std::vector<Case> cases = {
        {uR"(a\b)", {u"a", u"b"}, nullptr},
        {uR"(a\\b\)", {u"a", u"b"}, nullptr},
        {uR"(a/b)", {u"a", u"b"}, nullptr},
        {uR"(a\.\b)", {u"a", u"b"}, nullptr},
        {uR"(resources\holvar-service.exe)", {u"resources", u"holvar-service.exe"}, nullptr},
        {uR"(a\..\b)", {}, "invalid relative path"},
        {uR"(..)", {}, "invalid relative path"},
        {uR"(a\..)", {}, "invalid relative path"},
        {uR"(\a)", {}, "invalid relative path"},
        {uR"(/a)", {}, "invalid relative path"},
        {uR"(C:a)", {}, "invalid relative path"},
        {uR"(C:\a)", {}, "invalid relative path"},
        {uR"(\\srv\share\a)", {}, "invalid relative path"},
        {uR"(\\?\C:\a)", {}, "invalid relative path"},
        {uR"(\\.\pipe\a)", {}, "invalid relative path"},
        {uR"(.)", {}, "invalid relative path"},
        {uR"(.\a)", {}, "invalid relative path"},
        {u"", {}, "empty relative path"},
        {uR"(\\)", {}, "empty relative path"},
        {u"a\0b"s, {}, "embedded NUL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.rel));
        auto split = split_relative(c.rel);
        if (c.error == nullptr) {
            ASSERT_TRUE(split);
            EXPECT_EQ(*split, c.components);
        } else {
            ASSERT_FALSE(split);
            EXPECT_EQ(split.error().kind, platform::ErrorKind::invalid_input);
            EXPECT_EQ(split.error().text, c.error);
        }
    }
}

TEST(RetryBudgetTest, ChargesDownToZeroAndNoFurther) {
    RetryBudget budget = RetryBudget::seconds(1);
    EXPECT_EQ(budget.remaining(), 1s);
    budget.charge(300ms);
    EXPECT_EQ(budget.remaining(), 700ms);
    budget.charge(-5ms);  // a clock never runs backwards; a negative charge is ignored
    EXPECT_EQ(budget.remaining(), 700ms);
    EXPECT_FALSE(budget.exhausted());
    budget.charge(2s);
    EXPECT_EQ(budget.remaining(), 0ns);
    EXPECT_TRUE(budget.exhausted());
    EXPECT_TRUE(RetryBudget(-3s).exhausted());
    EXPECT_TRUE(RetryBudget().exhausted());
}

}  // namespace
}  // namespace holvar::txn::fs
