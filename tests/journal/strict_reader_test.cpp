// The reader under the journal: the same document written another way (spaces
// between tokens, escapes instead of plain characters, operation keys in
// another order) reads as the same journal, and what the reader refuses it
// refuses whatever the shape, however deep, at whatever byte.
#include <gtest/gtest.h>

#include <random>

#include "reference_journals.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/journal/text_codec.hpp"

namespace holvar::txn::journal {
namespace {

using namespace testing;

// Calls `at_boundary(out)` after every structural character outside strings,
// and `in_string(out, c)` for every plain character inside one (escapes are
// copied as they stand).
template <class Boundary, class Plain>
std::string rewrite(std::string_view json, Boundary at_boundary, Plain in_string) {
    std::string out;
    bool in_str = false;
    for (size_t i = 0; i < json.size(); ++i) {
        char c = json[i];
        if (in_str) {
            if (c == '\\') {
                // An escape is copied whole: two characters, six for \uXXXX.
                size_t length = json[i + 1] == 'u' ? 6 : 2;
                out += json.substr(i, length);
                i += length - 1;
            } else if (c == '"') {
                out += c;
                in_str = false;
            } else {
                in_string(out, c);
            }
            continue;
        }
        out += c;
        if (c == '"') {
            in_str = true;
        } else if (c == '{' || c == '}' || c == '[' || c == ']' || c == ',' || c == ':') {
            at_boundary(out);
        }
    }
    return out;
}

const std::string* const texts[] = {&upgrade_text, &fresh_install_text, &removal_text};

TEST(SameJournalWrittenOtherwise, WhitespaceBetweenEveryToken) {
    std::mt19937_64 rng(7);
    for (const std::string* text : texts) {
        auto plain = decode_journal(*text);
        ASSERT_TRUE(plain);
        std::string spaced = rewrite(
            *text,
            [&](std::string& out) {
                static const char ws[] = {' ', '\t', '\n', '\r'};
                for (size_t n = rng() % 3; n > 0; --n) out += ws[rng() % 4];
            },
            [](std::string& out, char c) { out += c; });
        auto decoded = decode_journal(" \r\n" + spaced + "\t");
        ASSERT_TRUE(decoded) << decoded.error().detail << "\n" << spaced;
        EXPECT_EQ(*decoded, *plain);
    }
}

TEST(SameJournalWrittenOtherwise, EscapesInsteadOfPlainCharacters) {
    static const char hex[] = "0123456789abcdef";
    std::mt19937_64 rng(11);
    for (const std::string* text : texts) {
        auto plain = decode_journal(*text);
        ASSERT_TRUE(plain);
        // Keys, file ids, mark names and paths alike: half of the ASCII
        // characters become \u00xx (some with uppercase hex digits).
        std::string escaped = rewrite(
            *text, [](std::string&) {},
            [&](std::string& out, char c) {
                auto u = static_cast<unsigned char>(c);
                if (u >= 0x80 || rng() % 2 == 0) {
                    out += c;
                    return;
                }
                out += "\\u00";
                char high = hex[u >> 4], low = hex[u & 0xF];
                if (rng() % 2 && low >= 'a') low = static_cast<char>(low - 'a' + 'A');
                out += high;
                out += low;
            });
        auto decoded = decode_journal(escaped);
        ASSERT_TRUE(decoded) << decoded.error().detail << "\n" << escaped;
        EXPECT_EQ(*decoded, *plain);
    }
}

TEST(SameJournalWrittenOtherwise, OperationKeysInAnotherOrder) {
    std::string reordered = upgrade_text;
    auto swap_in = [&](std::string_view from, std::string_view to) {
        size_t at = reordered.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        reordered.replace(at, from.size(), to);
    };
    swap_in(R"({"op":"mkdir","seq":2,"rel":"data"})", R"({"rel":"data","seq":2,"op":"mkdir"})");
    swap_in(
        R"({"op":"retire","seq":6,"rel":"old.dll","old":"ffffffffffffffff0000000000000014","kind":"file"})",
        R"({"kind":"file","old":"ffffffffffffffff0000000000000014","rel":"old.dll","op":"retire","seq":6})");
    auto decoded = decode_journal(reordered);
    ASSERT_TRUE(decoded) << decoded.error().detail;
    EXPECT_EQ(*decoded, upgrade_journal());
}

struct Refusal {
    const char* name;
    std::string text;
    std::string_view detail;
};

std::string with(std::string_view from, std::string_view to) {
    std::string text = upgrade_text;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::vector<Refusal> refusals() {
    const std::string rel = R"("rel":"data"})";
    return {
        {"nul_after_document", upgrade_text + std::string(1, '\0'), "invalid json"},
        {"nul_then_garbage", upgrade_text + std::string(1, '\0') + "x", "invalid json"},
        {"partial_byte_order_mark", "\xEF\xBB" + upgrade_text, "invalid json"},
        {"byte_order_mark_after_space", " \xEF\xBB\xBF" + upgrade_text, "invalid json"},
        {"lone_low_surrogate", with(rel, R"("rel":"d\udc00"})"), "invalid json"},
        {"high_surrogate_then_letter", with(rel, R"("rel":"d\ud800x"})"), "invalid json"},
        {"high_surrogate_then_high", with(rel, R"("rel":"d\ud800\ud800"})"), "invalid json"},
        {"short_unicode_escape", with(rel, R"("rel":"d\u00"})"), "invalid json"},
        {"unknown_escape", with(rel, R"("rel":"d\a"})"), "invalid json"},
        {"raw_control_character", with(rel, "\"rel\":\"d\x1f\"}"), "invalid json"},
        {"overlong_utf8", with(rel, "\"rel\":\"\xC0\xAF\"}"), "invalid json"},
        {"encoded_surrogate_utf8", with(rel, "\"rel\":\"\xED\xA0\x80\"}"), "invalid json"},
        {"above_unicode_utf8", with(rel, "\"rel\":\"\xF4\x90\x80\x80\"}"), "invalid json"},
        {"truncated_utf8", with(rel, "\"rel\":\"\xE6\x97\"}"), "invalid json"},
        {"unterminated_escape_at_end", R"({"format":1,"kind":"\)", "invalid json"},
        {"number_beyond_double", with(R"("format":1,)", R"("format":1,"x":1e999,)"),
         "invalid json"},
        {"integer_beyond_double",
         with(R"("format":1,)", R"("format":1,"x":)" + std::string(400, '9') + ","),
         "invalid json"},
        {"seq_minus_zero", with(R"("seq":0,)", R"("seq":-0,)"), "invalid operation"},
        {"seq_leading_zero", with(R"("seq":2,)", R"("seq":02,)"), "invalid json"},
        {"seq_eleven_digits", with(R"("seq":2,)", R"("seq":10000000000,)"), "invalid operation"},
        {"file_id_escaped_uppercase",
         with("0000000000000001000000000000d001", R"(0000000000000001000000000000\u0044001)"),
         "invalid file id"},
        {"seq_gap_in_writer_layout", with(R"("seq":6,)", R"("seq":7,)"),
         "operation out of sequence"},
    };
}

class ReaderRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ReaderRefusal, IsCorrupt) {
    auto decoded = decode_journal(GetParam().text);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().problem, JournalProblem::corrupt);
    EXPECT_EQ(decoded.error().detail, GetParam().detail);
}

INSTANTIATE_TEST_SUITE_P(Reader, ReaderRefusal, ::testing::ValuesIn(refusals()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReaderDepth, NestingIsFollowedWithoutRecursion) {
    // Far deeper than any call stack would allow: an unknown key's value is
    // only skipped, a field's value is refused past two levels.
    std::string deep = std::string(200000, '[') + std::string(200000, ']');
    auto unknown = decode_journal(with(R"("format":1,)", R"("format":2,"deep":)" + deep + ","));
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().problem, JournalProblem::unsupported);

    auto field =
        decode_journal(with(R"("generated_before":[)", R"("generated_before":[)" + deep + ","));
    ASSERT_FALSE(field);
    EXPECT_EQ(field.error().detail, "value nested too deeply");

    auto unclosed =
        decode_journal(with(R"("format":1,)", R"("format":1,"x":)" + std::string(200000, '{')));
    ASSERT_FALSE(unclosed);
    EXPECT_EQ(unclosed.error().detail, "invalid json");
}

TEST(ReaderCut, EveryPrefixOfAJournalIsRefused) {
    for (const std::string* text : texts) {
        for (size_t n = 0; n < text->size(); ++n) {
            auto decoded = decode_journal(std::string_view(*text).substr(0, n));
            ASSERT_FALSE(decoded) << n;
            ASSERT_EQ(decoded.error().detail, "invalid json") << n;
        }
    }
}

TEST(ReaderStart, ByteOrderMarkAtTheVeryStartIsSkipped) {
    auto decoded = decode_journal("\xEF\xBB\xBF" + upgrade_text);
    ASSERT_TRUE(decoded) << decoded.error().detail;
    EXPECT_EQ(*decoded, upgrade_journal());
}

// The hex digits of file ids and volume serials, written and read a word at a
// time: every value round-trips, and every wrong character at every position
// is refused.
TEST(HexDigits, RoundTripAndRefusals) {
    std::mt19937_64 rng(3);
    std::vector<uint64_t> values = {0,
                                    1,
                                    9,
                                    10,
                                    15,
                                    16,
                                    0xFFFFFFFFFFFFFFFFu,
                                    0x0123456789abcdefu,
                                    0xfedcba9876543210u,
                                    0x8000000000000000u};
    for (int i = 0; i < 2000; ++i) values.push_back(rng());
    for (uint64_t v : values) {
        char buf[16];
        write_hex16(buf, v);
        std::string text(buf, 16);
        std::string slow;
        append_hex(slow, v, 16);
        ASSERT_EQ(text, slow);
        ASSERT_EQ(parse_lower_hex(text, 16), v) << text;
    }
    const char wrong[] = {'A', 'F', 'g', '/', ':', '`', '@', ' ', '\0', '\x80', '\xff', '\xb0'};
    for (size_t pos = 0; pos < 16; ++pos) {
        for (char w : wrong) {
            std::string text = "0123456789abcdef";
            text[pos] = w;
            ASSERT_FALSE(parse_lower_hex(text, 16)) << pos << " " << int(w);
        }
    }
    EXPECT_FALSE(parse_lower_hex("0123456789abcde", 16));
    EXPECT_EQ(parse_lower_hex("00ff", 4), 0xffu);
    EXPECT_FALSE(parse_lower_hex("00fF", 4));
}

// The writer's string literals against the plain rules, for every unit class.
TEST(JsonStrings, WrittenLiteralsReadBack) {
    std::mt19937_64 rng(5);
    const char16_t pool[] = {u'a', u'Z', u'\\', u'"',  u'/',   0x01, 0x1f, 0x7f,
                             0x80, 0xe9, 0x7ff, 0x800, 0xffff, u' ', u'\t'};
    for (int i = 0; i < 3000; ++i) {
        std::u16string text;
        for (size_t n = rng() % 40; n > 0; --n) {
            if (rng() % 8 == 0) {
                text += u"\U0001F600";
            } else {
                text += pool[rng() % (sizeof pool / sizeof pool[0])];
            }
        }
        Journal j = upgrade_journal();
        j.ops[2].rel = text;
        auto encoded = encode_journal(j);
        ASSERT_TRUE(encoded);
        auto decoded = decode_journal(*encoded);
        ASSERT_TRUE(decoded) << decoded.error().detail;
        ASSERT_EQ(decoded->ops[2].rel, text);
        std::string literal;
        ASSERT_TRUE(append_json_string(literal, text));
        ASSERT_NE(encoded->find(literal), std::string::npos);
    }
}

}  // namespace
}  // namespace holvar::txn::journal
