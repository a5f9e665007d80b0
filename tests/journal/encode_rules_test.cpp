// What the writer refuses, and that whatever it writes reads back the same.
#include <gtest/gtest.h>

#include <random>

#include "reference_journals.hpp"
#include "txn/journal/journal_codec.hpp"

namespace holvar::txn::journal {
namespace {

using namespace testing;

struct Refusal {
    const char* name;
    void (*spoil)(Journal&);
};

const Refusal refusals[] = {
    {"format_2", [](Journal& j) { j.format = 2; }},
    {"txid_short", [](Journal& j) { j.txid.pop_back(); }},
    {"txid_uppercase", [](Journal& j) { j.txid[0] = 'A'; }},
    {"stage_without_id", [](Journal& j) { j.stage.file_id.reset(); }},
    {"purge_in_install", [](Journal& j) { j.options.purge_session_vault = true; }},
    {"seq_gap", [](Journal& j) { j.ops[1].seq = 5; }},
    {"root_path_unpaired_surrogate", [](Journal& j) { j.root.path += char16_t(0xD800); }},
    {"stage_path_lone_low_surrogate",
     [](Journal& j) { j.stage.path.insert(0, 1, char16_t(0xDC00)); }},
    {"rel_unpaired_surrogate", [](Journal& j) { j.ops[2].rel += char16_t(0xDBFF); }},
    {"generated_unpaired_surrogate", [](Journal& j) { j.generated_before[0] += char16_t(0xD800); }},
    {"scm_binary_path_unpaired", [](Journal& j) { j.scm_before->binary_path += char16_t(0xD800); }},
    {"scm_start_type_not_utf8", [](Journal& j) { j.scm_before->start_type = "\xff"; }},
    {"engine_version_not_utf8", [](Journal& j) { j.engine_version = "3.0.0\xc0"; }},
};

class EncodeRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(EncodeRefusal, IsAnInvalidJournal) {
    Journal j = upgrade_journal();
    GetParam().spoil(j);
    auto encoded = encode_journal(j);
    ASSERT_FALSE(encoded);
    EXPECT_TRUE(encoded.error().has_text("invalid journal"));
    // Written into a buffer that held a journal before, the refusal leaves
    // nothing of that journal behind.
    std::string buffer = upgrade_text;
    auto into = encode_journal(j, buffer);
    ASSERT_FALSE(into);
    EXPECT_TRUE(into.error().has_text("invalid journal"));
    EXPECT_TRUE(buffer.empty());
}

// The store writes every mark into the buffer of the write before: whatever
// it held, longer or shorter, the bytes are exactly those of a fresh write.
TEST(EncodeInto, AKeptBufferGivesTheSameBytesAsANewOne) {
    Journal large = upgrade_journal();
    for (uint32_t i = 7; i < 3000; ++i) {
        large.ops.push_back(Op::mkdir(u"many\\folders"));
        large.ops.back().seq = i;
    }
    std::string buffer;
    for (const Journal& j : {large, upgrade_journal(), removal_journal(), large}) {
        auto fresh = encode_journal(j);
        ASSERT_TRUE(fresh);
        ASSERT_TRUE(encode_journal(j, buffer));
        ASSERT_EQ(buffer, *fresh);
    }
    EXPECT_EQ(buffer.size(), encode_journal(large)->size());
}

INSTANTIATE_TEST_SUITE_P(Refusals, EncodeRefusal, ::testing::ValuesIn(refusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Encode, SurrogatePairsAreWrittenAsUtf8) {
    Journal j = upgrade_journal();
    j.root.path = u"C:\\\U0001F600";  // a proper pair
    auto encoded = encode_journal(j);
    ASSERT_TRUE(encoded);
    EXPECT_NE(encoded->find("C:\\\\\xF0\x9F\x98\x80\""), std::string::npos);
    auto decoded = decode_journal(*encoded);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->root.path, j.root.path);
}

// Random journals of every shape: decode(encode(j)) == j, and encoding the
// result again gives the same bytes.
std::u16string random_text(std::mt19937_64& rng) {
    static const char16_t pool[] = {u'a',   u'Z',   u'0',   u'\\',  u'"',   u' ', u'.', 0x0001,
                                    0x001f, 0x007f, 0x00e9, 0x65e5, 0xfffd, u'/', u'\t'};
    std::u16string s;
    size_t n = rng() % 12;
    for (size_t i = 0; i < n; ++i) {
        if (rng() % 10 == 0) {
            s += u"\U0001F600";
        } else {
            s += pool[rng() % (sizeof pool / sizeof pool[0])];
        }
    }
    return s;
}

FileId random_id(std::mt19937_64& rng) {
    return FileId{rng(), rng()};
}

Journal random_journal(std::mt19937_64& rng) {
    Journal j;
    j.kind = rng() % 2 ? JournalKind::apply : JournalKind::remove;
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) j.txid += hex[rng() % 16];
    j.engine_version = "3.0.0";
    j.root = {random_text(rng), rng(), rng() % 2 ? std::optional(random_id(rng)) : std::nullopt};
    j.stage = {random_text(rng), rng(), random_id(rng)};
    if (rng() % 2) {
        scm::ScmConfig c = scm::desired_scm_config(random_text(rng));
        for (size_t i = rng() % 3; i > 0; --i) c.dependencies.push_back(random_text(rng));
        if (rng() % 2) c.description.reset();
        j.scm_before = c;
    }
    j.service_running_before = rng() % 2;
    for (size_t i = rng() % 3; i > 0; --i) j.generated_before.push_back(random_text(rng));
    j.options.purge_session_vault = j.kind == JournalKind::remove && rng() % 2;
    size_t ops = rng() % 20;
    for (size_t i = 0; i < ops; ++i) {
        Op op;
        switch (rng() % 4) {
            case 0:
                op = Op::replace(random_text(rng), random_id(rng), random_id(rng));
                break;
            case 1:
                op = Op::add(random_text(rng), random_id(rng));
                break;
            case 2:
                op = Op::retire(random_text(rng), random_id(rng),
                                rng() % 2 ? LeafKind::file : LeafKind::reparse);
                break;
            default:
                op = Op::mkdir(random_text(rng));
        }
        op.seq = static_cast<uint32_t>(i);
        j.ops.push_back(op);
    }
    for (size_t i = rng() % 8; i > 0; --i) {
        auto kind = static_cast<MarkKind>(rng() % mark_kind_count);
        j.marks.push_back(kind == MarkKind::root_created ? Mark::root_created(random_id(rng))
                                                         : Mark(kind));
    }
    return j;
}

TEST(EncodeDecode, RandomJournalsRoundTrip) {
    std::mt19937_64 rng(20261208);
    for (int i = 0; i < 500; ++i) {
        Journal j = random_journal(rng);
        auto encoded = encode_journal(j);
        ASSERT_TRUE(encoded) << i;
        auto decoded = decode_journal(*encoded);
        ASSERT_TRUE(decoded) << i << ": " << decoded.error().detail << "\n" << *encoded;
        ASSERT_EQ(*decoded, j) << i;
        auto again = encode_journal(*decoded);
        ASSERT_TRUE(again);
        ASSERT_EQ(*again, *encoded) << i;
    }
}

}  // namespace
}  // namespace holvar::txn::journal
