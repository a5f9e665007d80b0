// Frames on the service's pipe: the exact request bytes, and the checks a
// response frame passes before and after its payload is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "managed_v3/protocol/frame_precheck.hpp"
#include "managed_v3/transport/frame.hpp"

namespace holvar::v3 {
namespace {

// Sized once and filled in place: growing a four-byte vector by the payload
// reads to GCC at -O3 as a copy past the end of the prefix.
std::vector<uint8_t> frame_of(uint32_t length, const std::string& payload) {
    const auto prefix = encode_frame_length(length);
    std::vector<uint8_t> out(prefix.size() + payload.size());
    auto rest = std::copy(prefix.begin(), prefix.end(), out.begin());
    std::copy(payload.begin(), payload.end(), rest);
    return out;
}

const std::string kToken = R"({"service_instance":"svc-1","generation":4,"intent_epoch":2})";

std::string envelope(uint64_t id) {
    return R"({"protocol":3,"request_id":)" + std::to_string(id) + R"(,"token":)" + kToken +
           R"(,"result":{"type":"done","data":null}})";
}

TEST(RequestFrame, IsALittleEndianLengthAndCompactJson) {
    auto payload = encode_request_payload(1, CapabilitiesOp{});
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, R"({"protocol":3,"request_id":1,"op":{"action":"capabilities"}})");
    auto status = encode_request_payload(0x1122334455667788ull, StatusOp{});
    ASSERT_TRUE(status);
    EXPECT_EQ(*status,
              R"({"protocol":3,"request_id":1234605616436508552,"op":{"action":"status"}})");
    EXPECT_EQ(encode_frame_length(0x01020304), (std::array<uint8_t, 4>{4, 3, 2, 1}));
    const std::array<uint8_t, 4> prefix{0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(decode_frame_length(prefix), 0xFFFFFFFFu);
}

struct FrameRow {
    const char* name;
    std::vector<uint8_t> frame;
    uint64_t max_response = 65536;
    bool ok = false;
};

std::vector<FrameRow> frame_rows() {
    const std::string good = envelope(6);
    // A build version made of brackets: inside a string they do not count.
    const std::string with_brackets =
        R"({"protocol":3,"request_id":6,"token":)" + kToken +
        R"(,"result":{"type":"capabilities","data":{"protocol":3,"schema":2,"flags":[],)" +
        R"("build_version":"]]]}}}\"["}}})";
    const std::string extra_key = good.substr(0, good.size() - 1) + R"(,"x":1})";
    const std::string array_form = R"([3,6,)" + kToken + R"(,{"type":"done","data":null}])";
    return {
        {"valid", frame_of(good.size(), good), 65536, true},
        {"trailing_bytes_after_frame_are_not_read", frame_of(good.size(), good + "xyz"), 65536,
         true},
        {"length_zero", frame_of(0, ""), 65536, false},
        {"length_one_over_limit", frame_of(65537, std::string(65537, ' ')), 65536, false},
        {"limit_is_never_over_8_MiB", frame_of(8 * 1024 * 1024 + 1, ""), ~0ull, false},
        {"length_at_limit_but_short", frame_of(65536, good), 65536, false},
        {"prefix_cut_short", {3, 0}, 65536, false},
        {"payload_short_by_one", frame_of(good.size() + 1, good), 65536, false},
        {"unbalanced_close_outside_string", frame_of(good.size() + 1, good + "}"), 65536, false},
        {"brackets_inside_string_do_not_count", frame_of(with_brackets.size(), with_brackets),
         65536, true},
        {"leading_whitespace", frame_of(good.size() + 3, " \r\n" + good), 65536, true},
        {"trailing_garbage_in_payload", frame_of(good.size() + 1, good + "x"), 65536, false},
        {"extra_key", frame_of(extra_key.size(), extra_key), 65536, false},
        {"array_form", frame_of(array_form.size(), array_form), 65536, true},
    };
}

TEST(ResponseFrame, ChecksEveryRule) {
    for (const auto& row : frame_rows()) {
        auto decoded = decode_response_frame(row.frame, row.max_response);
        EXPECT_EQ(decoded.has_value(), row.ok) << row.name;
        if (!decoded) {
            EXPECT_EQ(decoded.error().text, "invalid_frame") << row.name;
        }
    }
}

TEST(ResponseFrame, NestingIsCutAt16) {
    for (size_t depth : {15u, 16u, 17u, 40u}) {
        const std::string payload = std::string(depth, '[') + std::string(depth, ']');
        auto frame = frame_of(payload.size(), payload);
        // Up to 16 levels reach the parser; deeper ones are refused before it.
        EXPECT_EQ(passes_structure_precheck(payload), depth <= 16) << depth;
        auto decoded = decode_response_frame(frame, 65536);
        ASSERT_FALSE(decoded);  // a bare array is never an envelope
        EXPECT_EQ(decoded.error().text, "invalid_frame");
    }
}

}  // namespace
}  // namespace holvar::v3
