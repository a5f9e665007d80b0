// The strict parser under the records: repeated keys, nesting, what JSON text
// is, and UTF-8.
#include <gtest/gtest.h>

#include "managed_v3/protocol/strict_json.hpp"

namespace holvar::v3 {
namespace {

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

struct ParseCase {
    const char* text;
    bool accepted;
};

TEST(StrictParse, Table) {
    const ParseCase cases[] = {
        {R"({"a":1})", true},
        {" \t\r\n{\"a\":1} \n", true},
        {R"({"a":1,"a":1})", false},
        {R"({"a":{"b":1,"b":2}})", false},
        {R"([{"a":1},{"a":1}])", true},  // the same key in two objects
        {R"({"a":1}x)", false},
        {R"({"a":1}{})", false},
        {"", false},
        {" ", false},
        {R"({"a":1,})", false},
        {R"({'a':1})", false},
        {"{\"a\":1}\x0b", false},  // vertical tab is not JSON whitespace
        {"/*c*/{}", false},
        {"{\"a\":\"\xff\"}", false},          // invalid UTF-8 in a string
        {"{\"a\":\"\xed\xa0\x80\"}", false},  // an encoded surrogate
        {R"({"a":"\ud800"})", false},         // an unpaired surrogate escape
        {R"({"a":"\ud83d\ude00"})", true},
        {"{\"a\":\"\x01\"}", false},  // an unescaped control character
        {R"({"a":"\u0000"})", true},
        {"{\"a\\u0000\":1}", true},
        {R"({"a":NaN})", false},
        {R"({"a":01})", false},
        {"\"just a string\"", true},
        {"\xEF\xBB\xBF{}", false},  // a byte order mark is not whitespace
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(parse_strict(c.text, 16).has_value(), c.accepted) << c.text;
    }
}

// A NUL byte is not the end of the text: the frame's length is. Whatever
// follows the value, a NUL included, refuses it.
TEST(StrictParse, NulAfterTheValueIsNotTheEnd) {
    using namespace std::string_literals;
    for (const std::string& text : {"{\"a\":1}\0"s, "{\"a\":1}\0xyz"s, "6\0\0"s, "\0{}"s}) {
        EXPECT_FALSE(parse_strict(text, 16).has_value()) << text.size();
    }
}

TEST(StrictParse, NestingUpToTheBound) {
    EXPECT_TRUE(parse_strict(nested(16), 16).has_value());
    EXPECT_FALSE(parse_strict(nested(17), 16).has_value());
    const std::string deep_object = "{" + std::string(16, '[') + std::string(16, ']') + "}";
    EXPECT_FALSE(parse_strict(deep_object, 16).has_value());  // an object and 16 arrays: 17
    EXPECT_TRUE(
        parse_strict(std::string(100000, '[') + std::string(100000, ']'), 200000).has_value());
    EXPECT_FALSE(parse_strict(std::string(100000, '['), 16).has_value());
}

TEST(StrictParse, KeepsNumberKinds) {
    const auto value = parse_strict(R"([1,-1,1.0,18446744073709551615,18446744073709551616])", 16);
    ASSERT_TRUE(value.has_value());
    EXPECT_TRUE((*value)[0].is_number_unsigned());
    EXPECT_TRUE((*value)[1].is_number_integer() && !(*value)[1].is_number_unsigned());
    EXPECT_TRUE((*value)[2].is_number_float());
    EXPECT_TRUE((*value)[3].is_number_unsigned());
    EXPECT_TRUE((*value)[4].is_number_float());
}

TEST(StrictParse, FailureIsInvalidFrame) {
    const auto value = parse_strict("{", 16);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error(),
              platform::Error(platform::ErrorKind::invalid_data, 0, "invalid_frame"));
}

}  // namespace
}  // namespace holvar::v3
