// Paths and numbers are written and read many bytes at a time. These cases
// hold the wide code to a plain unit-by-unit model at every length and with
// every kind of character at every position, so a run that ends one lane too
// early or too late, or a read near the end of the input, shows.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "reference_journals.hpp"
#include "strict_json/reader.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/journal/text_codec.hpp"

namespace holvar::txn::journal {
namespace {

using namespace testing;

// A JSON literal built one unit at a time, as the format describes it.
std::optional<std::string> model_literal(std::u16string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return std::nullopt;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '\b':
                out += "\\b";
                continue;
            case '\f':
                out += "\\f";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\t':
                out += "\\t";
                continue;
            default:
                break;
        }
        if (c < 0x20) {
            const char digits[] = "0123456789abcdef";
            out += "\\u00";
            out += digits[c >> 4];
            out += digits[c & 0xF];
        } else {
            platform::append_utf8(out, c);
        }
    }
    return out + "\"";
}

// Reads one literal with nothing after it (the reader's wide steps must not
// run past the input) and again followed by more text.
std::optional<std::u16string> read_literal(const std::string& literal, bool trailing) {
    std::string input = trailing ? literal + R"(,"next":"0123456789abcdef0123"})" : literal;
    strict_json::JsonReader reader(input);
    std::u16string out = u"left over";
    if (!reader.read_string_utf16(out)) return std::nullopt;
    if (!trailing && !reader.at_end()) return std::nullopt;
    return out;
}

struct UnitClass {
    const char* name;
    std::u16string units;  // what is put at the position
};

const UnitClass unit_classes[] = {
    {"backslash", u"\\"},    {"quote", u"\""},           {"control", u"\x01"},
    {"tab", u"\t"},          {"del", u"\x7f"},           {"latin1", u"\x80"},
    {"latin1_top", u"\xff"}, {"two_byte", u"\x100"},     {"two_byte_top", u"\x7ff"},
    {"bmp", u"\xfffd"},      {"pair", u"\U0001F600"},    {"lone_high", u"\xd800"},
    {"lone_low", u"\xdc00"}, {"two_separators", u"\\\\"}};

TEST(StringLanes, EveryUnitClassAtEveryPositionOfEveryLength) {
    for (size_t length = 1; length <= 40; ++length) {
        for (size_t pos = 0; pos < length; ++pos) {
            for (const UnitClass& unit : unit_classes) {
                std::u16string text(length, u'a');
                for (size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(u'a' + i % 26);
                text.replace(pos, 1, unit.units);
                std::string written;
                bool ok = append_json_string(written, text);
                auto model = model_literal(text);
                ASSERT_EQ(ok, model.has_value()) << unit.name << " " << length << " " << pos;
                if (!ok) continue;
                ASSERT_EQ(written, *model) << unit.name << " " << length << " " << pos;
                for (bool trailing : {false, true}) {
                    ASSERT_EQ(read_literal(written, trailing), text)
                        << unit.name << " " << length << " " << pos << " " << trailing;
                }
            }
        }
    }
}

// A byte that may never stand raw in a literal, or a UTF-8 sequence that is
// broken, refuses the literal wherever it comes.
TEST(StringLanes, RefusedBytesAtEveryPosition) {
    const char* const refused[] = {"\x01",     "\x1f",         "\x80",
                                   "\xc0\xaf", "\xed\xa0\x80", "\xf5\x80\x80\x80",
                                   "\xff",     "\\x",          "\\ud800\\u0041"};
    for (size_t length = 1; length <= 40; ++length) {
        for (size_t pos = 0; pos < length; ++pos) {
            for (const char* bad : refused) {
                std::string literal = "\"" + std::string(length, 'b') + "\"";
                literal.replace(1 + pos, 1, bad);
                for (bool trailing : {false, true}) {
                    ASSERT_FALSE(read_literal(literal, trailing))
                        << length << " " << pos << " " << trailing;
                }
            }
        }
    }
    // No closing quote, with and without room for a wide step.
    for (size_t length = 0; length <= 40; ++length) {
        ASSERT_FALSE(read_literal("\"" + std::string(length, 'c'), false)) << length;
        ASSERT_FALSE(read_literal("\"" + std::string(length, 'c') + "\\\"", false)) << length;
    }
}

// The writer counts sequence numbers up in decimal instead of formatting
// each one; across every change in the number of digits the text is the
// plain decimal number and reads back.
TEST(SeqDigits, CountedSequenceNumbersMatchTheirDecimals) {
    Journal j = upgrade_journal();
    j.ops.clear();
    for (uint32_t i = 0; i < 10001; ++i) {
        j.ops.push_back(Op::mkdir(u"d" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26))));
        j.ops.back().seq = i;
    }
    auto encoded = encode_journal(j);
    ASSERT_TRUE(encoded);
    size_t at = 0;
    for (uint32_t i = 0; i < 10001; ++i) {
        std::string expected = R"({"op":"mkdir","seq":)" + std::to_string(i) + ",";
        at = encoded->find(expected, at);
        ASSERT_NE(at, std::string::npos) << i;
    }
    auto decoded = decode_journal(*encoded);
    ASSERT_TRUE(decoded) << decoded.error().detail;
    EXPECT_EQ(*decoded, j);
}

// Sequence numbers as the reader's fast path meets them: every length up to
// ten digits, followed by each kind of byte, decides like the slow rules.
TEST(SeqDigits, NumbersOfEveryLengthAreReadExactly) {
    const std::string head = R"("ops":[{"op":"mkdir","seq":)";
    const std::string rel = R"(,"rel":"x"})";
    for (std::string seq : {"0", "7", "10", "99", "100", "12345", "1234567", "12345678",
                            "123456789", "4294967295", "4294967296", "01", "00"}) {
        std::string text = upgrade_text;
        size_t from = text.find(R"("ops":[)");
        size_t to = text.find(R"(],"marks")");
        text.replace(from, to - from, head + seq + rel);
        auto decoded = decode_journal(text);
        bool valid_number = seq == "0" || seq[0] != '0';
        bool fits = valid_number && std::stoull(seq) <= 0xFFFFFFFFu;
        if (seq == "0") {
            ASSERT_TRUE(decoded) << decoded.error().detail;
        } else {
            // Only seq 0 is in sequence for a lone operation; the others
            // must be judged by value, not refused as unreadable.
            ASSERT_FALSE(decoded) << seq;
            EXPECT_EQ(decoded.error().detail, !valid_number ? "invalid json"
                                              : fits        ? "operation out of sequence"
                                                            : "invalid operation")
                << seq;
        }
    }
}

}  // namespace
}  // namespace holvar::txn::journal
