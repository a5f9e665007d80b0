// The rules the Windows implementation follows around its calls, checked on
// any machine: they hold no Windows call of their own.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/win32/bounded_run.hpp"
#include "platform/win32/buffer_words.hpp"
#include "platform/win32/failure_code.hpp"
#include "platform/win32/overlapped_settle.hpp"
#include "platform/win32/returned_text.hpp"

namespace holvar::win32 {
namespace {

TEST(BufferWords, EverySizeUpToFourGiBGetsRoomForAllItsBytes) {
    struct Row {
        uint64_t bytes;
        size_t words;
    };
    for (const Row& r : std::vector<Row>{{0, 0},
                                         {1, 1},
                                         {8, 1},
                                         {9, 2},
                                         {0xFFFFFFF8u, 0x1FFFFFFFu},
                                         {0xFFFFFFF9u, 0x20000000u},
                                         {0xFFFFFFFFu, 0x20000000u}}) {
        EXPECT_EQ(words_for_bytes(r.bytes), r.words) << r.bytes;
        EXPECT_GE(words_for_bytes(r.bytes) * 8, r.bytes) << r.bytes;
    }
}

// A returned record's buffer: 8 bytes of record, then the texts.
std::vector<uint8_t> buffer_of(std::u16string_view texts) {
    std::vector<uint8_t> out(8, 0xEE);
    for (char16_t c : texts) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

TEST(ReturnedText, ATextIsReadOnlyWhenItBeginsAndEndsInsideTheBuffer) {
    using namespace std::string_literals;
    using namespace std::string_view_literals;
    struct Row {
        const char* what;
        std::u16string_view texts;
        std::optional<int64_t> offset;
        bool multi;
        std::optional<std::u16string> text;  // none: absent
        const char* error;                   // the failure's text, or null
    };
    const std::vector<Row> rows{
        {"NULL pointer", u"x\0"sv, std::nullopt, false, std::nullopt, nullptr},
        {"text", u"ab\0cd\0"sv, 8, false, u"ab", nullptr},
        {"second text", u"ab\0cd\0"sv, 14, false, u"cd", nullptr},
        {"empty text", u"\0"sv, 8, false, u"", nullptr},
        {"multi-string keeps its entries' NULs", u"a\0bc\0\0"sv, 8, true, u"a\0bc\0"s, nullptr},
        {"empty multi-string", u"\0"sv, 8, true, u"", nullptr},
        {"no NUL before the end", u"abc"sv, 8, false, std::nullopt,
         "unterminated text in the returned buffer"},
        {"multi-string without its empty entry", u"a\0b\0"sv, 8, true, std::nullopt,
         "unterminated text in the returned buffer"},
        {"NUL cut in half by the end", u"ab"sv, 10, false, std::nullopt,
         "unterminated text in the returned buffer"},
        {"before the buffer", u"ab\0"sv, -2, false, std::nullopt,
         "text outside the returned buffer"},
        {"past the buffer", u"ab\0"sv, 14, false, std::nullopt, "text outside the returned buffer"},
    };
    for (const Row& r : rows) {
        std::vector<uint8_t> buffer = buffer_of(r.texts);
        auto got = text_in_buffer(buffer, r.offset, r.multi);
        if (r.error != nullptr) {
            ASSERT_FALSE(got) << r.what;
            EXPECT_TRUE(got.error().has_text(r.error)) << r.what;
            EXPECT_EQ(got.error().kind, platform::ErrorKind::invalid_data) << r.what;
        } else {
            ASSERT_TRUE(got) << r.what;
            EXPECT_EQ(*got, r.text) << r.what;
        }
    }
}

// A scripted overlapped call: whether each wait sees the event, and what the
// cancel answers.
struct ScriptedCall {
    std::deque<bool> signalled;
    uint32_t cancel_error = 0;
    std::vector<uint32_t> waits;
    int cancels = 0;

    Settled settle(uint32_t timeout_ms, uint32_t grace_ms) {
        return settle_overlapped(
            [&](uint32_t ms) {
                waits.push_back(ms);
                bool s = !signalled.empty() && signalled.front();
                if (!signalled.empty()) signalled.pop_front();
                return s;
            },
            [&] {
                ++cancels;
                return cancel_error;
            },
            timeout_ms, grace_ms);
    }
};

TEST(OverlappedSettle, ACallThatCannotBeSeenToEndIsAbandonedAfterBoundedWaits) {
    struct Row {
        const char* what;
        std::deque<bool> signalled;
        uint32_t cancel_error;
        Settled settled;
        std::vector<uint32_t> waits;
        int cancels;
    };
    const std::vector<Row> rows{
        {"ends in time", {true}, 0, Settled::completed, {300}, 0},
        {"cancelled, the cancel lands", {false, true}, 0, Settled::completed, {300, 2000}, 1},
        {"ended between the wait and the cancel",
         {false, true},
         error_not_found,
         Settled::completed,
         {300, 2000},
         1},
        {"cancelled, never ends", {false, false}, 0, Settled::abandoned, {300, 2000}, 1},
        {"nothing found to cancel, never signalled",
         {false, false},
         error_not_found,
         Settled::abandoned,
         {300, 2000},
         1},
        {"the cancel fails: nothing will end it", {false, true}, 6, Settled::abandoned, {300}, 1},
    };
    for (const Row& r : rows) {
        ScriptedCall call{r.signalled, r.cancel_error, {}, 0};
        EXPECT_EQ(call.settle(300, 2000), r.settled) << r.what;
        EXPECT_EQ(call.waits, r.waits) << r.what;
        EXPECT_EQ(call.cancels, r.cancels) << r.what;
    }
}

TEST(BoundedRun, WithoutAWorkerTheTaskDoesNotRunAndHasNotEnded) {
    bool waited = false;
    EXPECT_FALSE(run_on_worker([] { return false; }, [&] { return waited = true; }));
    EXPECT_FALSE(waited);
    EXPECT_TRUE(run_on_worker([] { return true; }, [] { return true; }));
    EXPECT_FALSE(run_on_worker([] { return true; }, [] { return false; }));
}

TEST(FailureCode, AFailureNeverCarriesCodeZero) {
    EXPECT_TRUE(failure_from(5).error().is_win32(5));
    const platform::Error silent = failure_from(0).error();
    EXPECT_NE(silent.kind, platform::ErrorKind::win32);
    EXPECT_TRUE(silent.has_text("failed without an error code"));
}

}  // namespace
}  // namespace holvar::win32
