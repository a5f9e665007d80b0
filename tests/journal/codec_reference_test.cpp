// The codec against journals written by hand: each decodes to the journal it
// describes, and encoding that journal gives back exactly the same bytes.
#include <gtest/gtest.h>

#include "reference_journals.hpp"
#include "txn/journal/journal_codec.hpp"

namespace holvar::txn::journal {
namespace {

using namespace testing;

struct Reference {
    const char* name;
    const std::string* text;
    Journal (*journal)();
};

const Reference references[] = {
    {"upgrade", &upgrade_text, upgrade_journal},
    {"fresh_install_rolled_back", &fresh_install_text, fresh_install_journal},
    {"removal_every_mark_with_purge", &removal_text, removal_journal},
};

class ReferenceJournal : public ::testing::TestWithParam<Reference> {};

TEST_P(ReferenceJournal, DecodesToTheJournalItDescribes) {
    auto decoded = decode_journal(*GetParam().text);
    ASSERT_TRUE(decoded) << decoded.error().detail;
    EXPECT_EQ(*decoded, GetParam().journal());
}

TEST_P(ReferenceJournal, EncodesToTheSameBytes) {
    auto encoded = encode_journal(GetParam().journal());
    ASSERT_TRUE(encoded);
    EXPECT_EQ(*encoded, *GetParam().text);
}

TEST_P(ReferenceJournal, RoundTripIsStable) {
    auto decoded = decode_journal(*GetParam().text);
    ASSERT_TRUE(decoded);
    auto again = encode_journal(*decoded);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Journals, ReferenceJournal, ::testing::ValuesIn(references),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JournalEnded, TerminalMarksDependOnTheKind) {
    EXPECT_TRUE(upgrade_journal().has_ended());        // finalized
    EXPECT_TRUE(fresh_install_journal().has_ended());  // rolled_back
    EXPECT_TRUE(removal_journal().has_ended());

    Journal apply_aborted = upgrade_journal();
    apply_aborted.marks = {MarkKind::planned, MarkKind::aborted};
    EXPECT_FALSE(apply_aborted.has_ended()) << "aborted ends only a removal";

    Journal remove_rolled_back = removal_journal();
    remove_rolled_back.marks = {MarkKind::planned, MarkKind::rolled_back};
    EXPECT_FALSE(remove_rolled_back.has_ended()) << "rolled_back ends only an install";
}

}  // namespace
}  // namespace holvar::txn::journal
