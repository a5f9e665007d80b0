// The command line: which vectors select which run, and that everything else
// is refused.
#include <gtest/gtest.h>

#include <random>

#include "installer/arguments.hpp"

namespace holvar::installer {

using namespace holvar::txn::outcome;
namespace {

using Args = std::vector<std::u16string>;

struct GrammarCase {
    const char* name;
    Args argv;
    std::optional<ParsedArguments> expected;
};

const std::u16string lone_high(1, char16_t{0xD800});
const std::u16string lone_low(1, char16_t{0xDC00});
const std::u16string pair = std::u16string(1, char16_t{0xD83D}) + char16_t{0xDE00};

std::vector<GrammarCase> grammar_cases() {
    using P = ParsedArguments;
    return {
        {"apply", {u"e.exe", u"--apply", u"--root", u"C:\\x"}, P{Command::apply, u"C:\\x", false}},
        {"recover",
         {u"e", u"--recover", u"--root", u"C:\\x"},
         P{Command::recover, u"C:\\x", false}},
        {"repair", {u"e", u"--repair", u"--root", u"C:\\x"}, P{Command::repair, u"C:\\x", false}},
        {"remove", {u"e", u"--remove", u"--root", u"C:\\x"}, P{Command::remove, u"C:\\x", false}},
        {"remove_purge",
         {u"e", u"--remove", u"--root", u"C:\\x", u"--purge-session-vault"},
         P{Command::remove, u"C:\\x", true}},
        {"relative_root", {u"e", u"--apply", u"--root", u"x"}, P{Command::apply, u"x", false}},
        {"one_dash_root", {u"e", u"--apply", u"--root", u"-"}, P{Command::apply, u"-", false}},
        {"dash_root", {u"e", u"--apply", u"--root", u"-x"}, P{Command::apply, u"-x", false}},
        {"root_unpaired_high",
         {u"e", u"--apply", u"--root", u"C:\\" + lone_high},
         P{Command::apply, u"C:\\" + lone_high, false}},
        {"root_dashes_not_unicode",
         {u"e", u"--apply", u"--root", u"--" + lone_low},
         P{Command::apply, u"--" + lone_low, false}},
        {"root_with_pair", {u"e", u"--apply", u"--root", pair}, P{Command::apply, pair, false}},
        {"program_name_ignored",
         {u"", u"--apply", u"--root", u"r"},
         P{Command::apply, u"r", false}},

        {"empty_vector", {}, std::nullopt},
        {"program_only", {u"e"}, std::nullopt},
        {"mode_only", {u"e", u"--apply"}, std::nullopt},
        {"no_root_value", {u"e", u"--apply", u"--root"}, std::nullopt},
        {"five_arguments",
         {u"e", u"--remove", u"--root", u"C:\\x", u"--purge-session-vault", u"x"},
         std::nullopt},
        {"mode_not_first", {u"e", u"--root", u"C:\\x", u"--apply"}, std::nullopt},
        {"root_is_option", {u"e", u"--apply", u"--root", u"--recover"}, std::nullopt},
        {"root_two_dashes", {u"e", u"--apply", u"--root", u"--"}, std::nullopt},
        {"empty_root", {u"e", u"--apply", u"--root", u""}, std::nullopt},
        {"purge_with_apply",
         {u"e", u"--apply", u"--root", u"C:\\x", u"--purge-session-vault"},
         std::nullopt},
        {"purge_with_recover",
         {u"e", u"--recover", u"--root", u"C:\\x", u"--purge-session-vault"},
         std::nullopt},
        {"purge_with_repair",
         {u"e", u"--repair", u"--root", u"C:\\x", u"--purge-session-vault"},
         std::nullopt},
        {"purge_misspelled",
         {u"e", u"--remove", u"--root", u"C:\\x", u"--purge-session-Vault"},
         std::nullopt},
        {"purge_in_place_of_root",
         {u"e", u"--remove", u"--purge-session-vault", u"--root", u"C:\\x"},
         std::nullopt},
        {"mode_other_case", {u"e", u"--Apply", u"--root", u"C:\\x"}, std::nullopt},
        {"root_option_other_case", {u"e", u"--apply", u"--ROOT", u"C:\\x"}, std::nullopt},
        {"mode_single_dash", {u"e", u"-apply", u"--root", u"C:\\x"}, std::nullopt},
        {"mode_slash", {u"e", u"/apply", u"--root", u"C:\\x"}, std::nullopt},
        {"mode_unknown", {u"e", u"--install", u"--root", u"C:\\x"}, std::nullopt},
        {"mode_trailing_space", {u"e", u"--apply ", u"--root", u"C:\\x"}, std::nullopt},
        {"mode_embedded_nul",
         {u"e", std::u16string(u"--apply\0", 8), u"--root", u"C:\\x"},
         std::nullopt},
        {"root_option_embedded_nul",
         {u"e", u"--apply", std::u16string(u"--root\0x", 8), u"C:\\x"},
         std::nullopt},
        {"root_embedded_nul",
         {u"e", u"--apply", u"--root", std::u16string(u"C:\\x\0y", 6)},
         std::nullopt},
        {"mode_unpaired_surrogate",
         {u"e", u"--apply" + lone_high, u"--root", u"C:\\x"},
         std::nullopt},
        {"mode_only_surrogate", {u"e", lone_low, u"--root", u"C:\\x"}, std::nullopt},
        {"root_option_surrogate",
         {u"e", u"--apply", u"--root" + lone_high, u"C:\\x"},
         std::nullopt},
        {"all_empty", {u"", u"", u"", u""}, std::nullopt},
    };
}

TEST(Grammar, EachVectorSelectsItsRunOrIsRefused) {
    for (const GrammarCase& c : grammar_cases()) {
        EXPECT_EQ(parse_arguments(c.argv), c.expected) << c.name;
    }
}

// Random vectors over the tokens the grammar cares about: accepted exactly
// when the vector spells one of the five forms with a usable root.
TEST(Grammar, RandomVectorsAreAcceptedOnlyInTheFiveForms) {
    const std::vector<std::u16string> tokens = {u"--apply",
                                                u"--recover",
                                                u"--remove",
                                                u"--repair",
                                                u"--root",
                                                u"--purge-session-vault",
                                                u"C:\\x",
                                                u"",
                                                u"--",
                                                u"--Apply",
                                                std::u16string(1, u'\0'),
                                                lone_high,
                                                u"x",
                                                u"-"};
    auto usable_root = [&](const std::u16string& t) {
        return t == u"C:\\x" || t == lone_high || t == u"x" || t == u"-";
    };
    auto expected = [&](const Args& a) -> std::optional<ParsedArguments> {
        if ((a.size() != 4 && a.size() != 5) || a[2] != u"--root" || !usable_root(a[3]))
            return std::nullopt;
        if (a.size() == 5) {
            if (a[1] == u"--remove" && a[4] == u"--purge-session-vault")
                return ParsedArguments{Command::remove, a[3], true};
            return std::nullopt;
        }
        if (a[1] == u"--apply") return ParsedArguments{Command::apply, a[3], false};
        if (a[1] == u"--recover") return ParsedArguments{Command::recover, a[3], false};
        if (a[1] == u"--remove") return ParsedArguments{Command::remove, a[3], false};
        if (a[1] == u"--repair") return ParsedArguments{Command::repair, a[3], false};
        return std::nullopt;
    };
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<size_t> length(0, 6), pick(0, tokens.size() - 1);
    for (int i = 0; i < 20000; ++i) {
        Args a(length(rng));
        for (std::u16string& t : a) t = tokens[pick(rng)];
        // Bias towards the right shape so accepted forms come up often.
        if (a.size() >= 3 && i % 2 == 0) a[2] = u"--root";
        ASSERT_EQ(parse_arguments(a), expected(a)) << "vector " << i;
    }
}

}  // namespace
}  // namespace holvar::installer
