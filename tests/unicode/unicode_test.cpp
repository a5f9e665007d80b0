// The one set of UTF-16 and UTF-8 rules: what the journal refuses, what the
// report repairs and what a pipe message may carry all follow from these.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/unicode.hpp"

namespace holvar::platform {
namespace {

const std::string fffd = "\xef\xbf\xbd";

TEST(Unicode, ValidUtf16MeansPairedSurrogates) {
    const std::vector<std::pair<std::u16string, bool>> cases = {
        {u"plain", true},
        {u"\xD83D\xDE00", true},   // a pair
        {u"a\xD83D", false},       // high at the end
        {u"\xD83Dx", false},       // high followed by a non-surrogate
        {u"\xDE00", false},        // lone low
        {u"\xDE00\xD83D", false},  // low before high
        {u"", true},
        {u"\xD800\xDC00", true},         // the first pair
        {u"\xDBFF\xDFFF", true},         // the last pair (U+10FFFF)
        {u"\xD83D\xD83D\xDE00", false},  // a high before a pair
        {u"\xFFFF", true},               // a noncharacter is still valid
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(is_valid_utf16(text), valid);
    }
}

TEST(Unicode, ValidUtf8IsRfc3629) {
    const std::pair<std::string_view, bool> cases[] = {
        {"", true},
        {"plain", true},
        {"\xc3\xa9", true},
        {"\xe2\x82\xac", true},
        {"\xf0\x9f\x98\x80", true},
        {"\xf4\x8f\xbf\xbf", true},   // U+10FFFF
        {"\xf4\x90\x80\x80", false},  // above U+10FFFF
        {"\xc0\x80", false},          // overlong NUL
        {"\xe0\x80\xaf", false},      // overlong
        {"\xed\xa0\x80", false},      // surrogate
        {"\x80", false},
        {"\xc3", false},
        {"\xe2\x82", false},
        {"\xf8\x88\x80\x80\x80", false},
        {"a\xc3(", false},
        {std::string_view("\0", 1), true},
        {"\xc2\x80", true},           // the smallest two-byte form
        {"\xc1\xbf", false},          // overlong two-byte
        {"\xe0\xa0\x80", true},       // the smallest three-byte form
        {"\xed\x9f\xbf", true},       // U+D7FF, just below the surrogates
        {"\xee\x80\x80", true},       // U+E000, just above them
        {"\xf0\x8f\xbf\xbf", false},  // overlong four-byte
        {"\xf0\x90\x80\x80", true},   // U+10000
        {"\xf5\x80\x80\x80", false},  // lead byte past U+10FFFF
        {"\xff", false},
        {"\xf0\x9f\x98", false},  // four-byte form cut short
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(is_valid_utf8(text), valid) << testing::PrintToString(std::string(text));
    }
}

// The two UTF-16 to UTF-8 conversions agree on valid text; on an unpaired
// surrogate the strict one gives none and the lossy one U+FFFD per surrogate.
TEST(Unicode, Utf16ToUtf8StrictAndLossy) {
    struct Case {
        std::u16string in;
        std::optional<std::string> strict;
        std::string lossy;
    };
    const std::vector<Case> cases = {
        {u"", "", ""},
        {u"plain", "plain", "plain"},
        {u"\x00e9", "\xc3\xa9", "\xc3\xa9"},
        {u"\x20AC", "\xe2\x82\xac", "\xe2\x82\xac"},
        {u"\xD83D\xDE00", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {u"\xDBFF\xDFFF", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
        {std::u16string(1, u'\0'), std::string(1, '\0'), std::string(1, '\0')},
        {u"a\xD83D", std::nullopt, "a" + fffd},        // high at the end
        {u"\xD83Dx", std::nullopt, fffd + "x"},        // high then a letter
        {u"\xDE00", std::nullopt, fffd},               // lone low
        {u"\xDE00\xD83D", std::nullopt, fffd + fffd},  // low before high
        {u"\xD83D\xD83D\xDE00", std::nullopt, fffd + "\xf0\x9f\x98\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        EXPECT_EQ(utf16_to_utf8(c.in), c.strict);
        EXPECT_EQ(utf16_to_utf8_lossy(c.in), c.lossy);
    }
}

TEST(Unicode, Utf8ToUtf16RefusesIllFormedBytes) {
    const std::vector<std::pair<std::string, std::optional<std::u16string>>> cases = {
        {"", u""},
        {"plain", u"plain"},
        {std::string(1, '\0'), std::u16string(1, u'\0')},
        {"\xc3\xa9", u"\x00e9"},
        {"\xe2\x82\xac", u"\x20AC"},
        {"\xf0\x9f\x98\x80", u"\xD83D\xDE00"},
        {"\xf0\x90\x80\x80", u"\xD800\xDC00"},  // U+10000
        {"\xf4\x8f\xbf\xbf", u"\xDBFF\xDFFF"},  // U+10FFFF
        {"\xc0\x80", std::nullopt},             // overlong NUL
        {"\xe0\x80\xaf", std::nullopt},         // overlong
        {"\xf0\x8f\xbf\xbf", std::nullopt},     // overlong four-byte
        {"\xed\xa0\x80", std::nullopt},         // encoded high surrogate
        {"\xed\xbf\xbf", std::nullopt},         // encoded low surrogate
        {"\xf4\x90\x80\x80", std::nullopt},     // above U+10FFFF
        {"\x80", std::nullopt},                 // stray continuation
        {"\xe2\x82", std::nullopt},             // cut short
        {"a\xc3(", std::nullopt},               // continuation missing
        {"\xff", std::nullopt},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(testing::PrintToString(in));
        EXPECT_EQ(utf8_to_utf16(in), out);
    }
}

// Every valid text survives the round trip both ways unchanged.
TEST(Unicode, RoundTripIsExact) {
    const std::u16string texts[] = {u"", u"C:\\Program Files\\Holvar", u"\x00e9\x20AC",
                                    u"\xD83D\xDE00 x \xDBFF\xDFFF"};
    for (const auto& text : texts) {
        auto utf8 = utf16_to_utf8(text);
        ASSERT_TRUE(utf8.has_value());
        EXPECT_TRUE(is_valid_utf8(*utf8));
        EXPECT_EQ(utf8_to_utf16(*utf8), text);
    }
}

TEST(Unicode, SanitizeReplacesEachIllFormedByte) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"ok \xc3\xa9", "ok \xc3\xa9"},
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"\xff", fffd},
        {"\xc0\xaf", fffd + fffd},                        // overlong
        {"\xed\xa0\x80", fffd + fffd + fffd},             // encoded surrogate
        {"\xe2\x82", fffd + fffd},                        // cut short
        {"\xf4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
        {"a\xc3(", "a" + fffd + "("},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(testing::PrintToString(in));
        EXPECT_EQ(sanitize_utf8(in), out);
        EXPECT_TRUE(is_valid_utf8(sanitize_utf8(in)));
    }
}

TEST(Unicode, AsciiWidensAndReplacesTheRest) {
    EXPECT_EQ(ascii_to_utf16(""), u"");
    EXPECT_EQ(ascii_to_utf16("abc-01"), u"abc-01");
    EXPECT_EQ(ascii_to_utf16("a\xc3\xa9"), u"a\xFFFD\xFFFD");
}

}  // namespace
}  // namespace holvar::platform
