// The names the engine will plan with.
#include <gtest/gtest.h>

#include "txn/plan/name_rules.hpp"

namespace holvar::txn::plan {
namespace {

struct NameCase {
    std::u16string name;
    bool safe;
};

const NameCase name_cases[] = {
    // Plain names and paths.
    {u"a", true},
    {u"resources\\holvar-service.exe", true},
    {u".config", true},
    {u".holvar-service-v3", true},
    {u"COM10", true},
    {u"LPT10.txt", true},
    {u"CONSOLE", true},
    {u"NULL.txt", true},
    {u"auxiliary", true},
    {u"com", true},
    {u"COMA", true},
    {u"a b", true},
    {u"name.ext.more", true},
    {u"\u00e9t\u00e9", true},  // non-ASCII is a planning matter, not a name rule
    {u"a]b[c", true},
    // Empty, separators, dots.
    {u"", false},
    {u"\\a", false},
    {u"a\\", false},
    {u"a\\\\b", false},
    {u".", false},
    {u"..", false},
    {u"a\\..\\b", false},
    {u"a\\.\\b", false},
    {u"a/b", false},
    {u"name.", false},
    {u"name ", false},
    {u"dir.\\x", false},
    {u"dir \\x", false},
    // Forbidden characters.
    {u"a~1", false},
    {u"PROGRA~1", false},
    {u"a:b", false},
    {u"C:", false},
    {u"a*", false},
    {u"a?", false},
    {u"a\"b", false},
    {u"a<b", false},
    {u"a>b", false},
    {u"a|b", false},
    {u"a\tb", false},
    {std::u16string(u"a\0b", 3), false},
    {u"a\u007f", false},
    {u"a\u0085", false},
    {u"a\u009f", false},
    // DOS device names, with or without an extension, in any component.
    {u"COM1.txt", false},
    {u"aux", false},
    {u"AUX", false},
    {u"Con", false},
    {u"prn.log", false},
    {u"nul.tar.gz", false},
    {u"com0", false},
    {u"lpt9.dll", false},
    {u"dir\\LPT1", false},
    {u"COM1\\x", false},
    {u"COM\u00b9", false},  // superscript digits are device numbers too
    {u"lpt\u00b2.txt", false},
    {u"NUL .txt", false},  // Windows ignores the spaces before the extension
    {u"COM1 .log", false},
};

TEST(IsSafeRelativeName, Table) {
    for (const NameCase& c : name_cases) {
        EXPECT_EQ(is_safe_relative_name(c.name), c.safe)
            << std::string(c.name.begin(), c.name.end());
    }
}

TEST(GeneratedItems, DefaultsAndCoverage) {
    auto items = default_generated_items();
    ASSERT_EQ(items, (std::vector<std::u16string>{u".holvar-service-v3", u"service-logs"}));
    struct {
        const char16_t* rel;
        bool covered;
    } cases[] = {
        {u"service-logs", true},
        {u"SERVICE-LOGS\\a.txt", true},
        {u".holvar-service-v3\\db\\x", true},
        {u"service-logs2", false},
        {u"service-log", false},
        {u"x\\service-logs", false},
        {u"service-logs.txt", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_covered_by(c.rel, items), c.covered);
}

}  // namespace
}  // namespace holvar::txn::plan
