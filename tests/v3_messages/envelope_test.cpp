// Request and response envelopes: exact request bytes, the structural
// pre-check, strict envelope parsing and the envelope checks in their order.
#include <gtest/gtest.h>

#include "managed_v3/protocol/envelope.hpp"
#include "managed_v3/protocol/frame_precheck.hpp"

namespace holvar::v3 {
namespace {

const platform::Error kInvalidFrameError{platform::ErrorKind::invalid_data, 0, "invalid_frame"};

TEST(RequestEnvelope, ExactBytes) {
    EXPECT_EQ(encode_request_envelope(1, CapabilitiesOp{}).value(),
              R"({"protocol":3,"request_id":1,"op":{"action":"capabilities"}})");
    EXPECT_EQ(encode_request_envelope(18446744073709551614u, StatusOp{}).value(),
              R"({"protocol":3,"request_id":18446744073709551614,"op":{"action":"status"}})");
}

TEST(RequestEnvelope, RefusesToGrowPastTheLimit) {
    const RequestOp op = SelectNodeOp{{"a", 1, 1}, std::string(1000, 'n')};
    const std::size_t size = encode_request_envelope(1, op).value().size();
    EXPECT_TRUE(encode_request_envelope(1, op, size).has_value());
    EXPECT_EQ(encode_request_envelope(1, op, size - 1).error(), kInvalidFrameError);

    const RequestOp huge = SelectNodeOp{{"a", 1, 1}, std::string(kMaxPayloadBytes, 'n')};
    EXPECT_EQ(encode_request_envelope(1, huge).error(), kInvalidFrameError);
}

TEST(RequestEnvelope, PassesItsOwnPrecheck) {
    const std::string text =
        encode_request_envelope(3, SelectNodeOp{{"a", 1, 1}, "[[[\"{"}).value();
    EXPECT_TRUE(passes_structure_precheck(text));
}

struct PrecheckCase {
    std::string payload;
    bool passes;
};

TEST(StructurePrecheck, Table) {
    const std::string depth16 = std::string(16, '[') + std::string(16, ']');
    const std::string depth17 = "{" + std::string(16, '[') + std::string(16, ']') + "}";
    const PrecheckCase cases[] = {
        {depth16, true},
        {depth17, false},
        {"{\"a\":\"]]]]\"}", true},   // brackets inside a string do not count
        {"{\"a\":\"\\\"]\"}", true},  // an escaped quote does not end the string
        {"{\"a\":\"\\\\\"}", true},   // an escaped backslash does not escape the quote
        {"{}}", false},               // unbalanced closing bracket
        {"}{", false},
        {"{\"a\":1", false},     // still open at the end
        {"{\"a\":\"x}", false},  // ends inside a string
        {"[}", true},            // kinds are the parser's business
        {"", true},
        {"1", true},
    };
    for (const PrecheckCase& c : cases) {
        EXPECT_EQ(passes_structure_precheck(c.payload), c.passes) << c.payload;
    }
}

constexpr const char* kToken = R"({"service_instance":"svc-1","generation":2,"intent_epoch":3})";
const std::string kCaps =
    R"({"type":"capabilities","data":{"protocol":3,"schema":2,"flags":[],"build_version":"b"}})";

std::string object_envelope(std::string_view protocol, std::string_view id, std::string_view token,
                            std::string_view result) {
    return std::string(R"({"protocol":)") + std::string(protocol) + R"(,"request_id":)" +
           std::string(id) + R"(,"token":)" + std::string(token) + R"(,"result":)" +
           std::string(result) + "}";
}

TEST(ResponseEnvelope, ObjectAndArrayForms) {
    const auto object = parse_response_envelope(object_envelope("3", "6", kToken, kCaps));
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(object->protocol, 3);
    EXPECT_EQ(object->request_id, 6u);
    EXPECT_EQ(object->token, (StateToken{"svc-1", 2, 3}));
    EXPECT_EQ(object->result.kind, ReplyKind::capabilities);

    const auto array = parse_response_envelope(std::string("[3,6,") + kToken + "," + kCaps + "]");
    ASSERT_TRUE(array.has_value());
    EXPECT_EQ(*array, *object);

    const auto spaced =
        parse_response_envelope(" \r\n\t" + object_envelope("3", "6", kToken, kCaps) + "\n ");
    EXPECT_TRUE(spaced.has_value());
}

TEST(ResponseEnvelope, BrokenEnvelopesAreInvalidFrames) {
    const std::string good = object_envelope("3", "6", kToken, kCaps);
    const std::string cases[] = {
        good.substr(0, good.size() - 1) + R"(,"extra":1})",
        std::string(R"({"protocol":3,"request_id":6,"result":)") + kCaps + "}",  // no token
        std::string(R"({"protocol":3,"protocol":3,"request_id":6,"token":)") + kToken +
            R"(,"result":)" + kCaps + "}",
        object_envelope("65536", "6", kToken, kCaps),
        object_envelope("3", "-6", kToken, kCaps),
        object_envelope("3.0", "6", kToken, kCaps),
        object_envelope("\"3\"", "6", kToken, kCaps),
        object_envelope("3", "6", "null", kCaps),
        object_envelope("3", "6", kToken, R"({"type":"unknown"})"),
        std::string("[3,6,") + kToken + "]",
        std::string("[3,6,") + kToken + "," + kCaps + ",1]",
        std::string("[3,6,") + kCaps + "," + kToken + "]",
        good + "x",
        "{" + std::string(16, '[') + std::string(16, ']') + "}",
        "\"envelope\"",
        "",
    };
    for (const std::string& text : cases) {
        const auto parsed = parse_response_envelope(text);
        ASSERT_FALSE(parsed.has_value()) << text;
        EXPECT_EQ(parsed.error(), kInvalidFrameError) << text;
    }
}

struct ValidationCase {
    const char* why;
    std::string payload;
    uint64_t request_id;
    std::string_view expected;  // empty: passes
};

std::string status_object(std::string_view token) {
    return std::string(R"({"token":)") + std::string(token) + R"(,"lifecycle":"ready"})";
}

std::string status_result(std::string_view token) {
    return R"({"type":"status","data":)" + status_object(token) + "}";
}

std::string token_with(std::string_view instance, int generation = 2, int epoch = 3) {
    return std::string(R"({"service_instance":")") + std::string(instance) + R"(","generation":)" +
           std::to_string(generation) + R"(,"intent_epoch":)" + std::to_string(epoch) + "}";
}

TEST(ResponseEnvelope, ChecksInOrder) {
    const ValidationCase cases[] = {
        {"good capabilities", object_envelope("3", "6", kToken, kCaps), 6, ""},
        {"good status", object_envelope("3", "6", kToken, status_result(kToken)), 6, ""},
        {"id 7 for request 6", object_envelope("3", "7", kToken, kCaps), 6, kInvalidV3Response},
        {"protocol 2", object_envelope("2", "6", kToken, kCaps), 6, kIncompatibleV3Protocol},
        {"wrong id before protocol", object_envelope("2", "7", kToken, kCaps), 6,
         kInvalidV3Response},
        {"empty instance", object_envelope("3", "6", token_with(""), kCaps), 6, kInvalidV3Response},
        {"instance of 128", object_envelope("3", "6", token_with(std::string(128, 'a')), kCaps), 6,
         ""},
        {"instance of 129", object_envelope("3", "6", token_with(std::string(129, 'a')), kCaps), 6,
         kInvalidV3Response},
        {"instance with underscore", object_envelope("3", "6", token_with("a_b"), kCaps), 6,
         kInvalidV3Response},
        {"instance with a non-ASCII letter",
         object_envelope("3", "6", token_with("\xc3\xa9"), kCaps), 6, kInvalidV3Response},
        {"instance before protocol", object_envelope("2", "6", token_with("a b"), kCaps), 6,
         kInvalidV3Response},
        {"status from another instance",
         object_envelope("3", "6", kToken, status_result(token_with("svc-2"))), 6,
         kInconsistentV3Response},
        {"status of another generation",
         object_envelope("3", "6", kToken, status_result(token_with("svc-1", 9))), 6,
         kInconsistentV3Response},
        {"status of another epoch",
         object_envelope("3", "6", kToken, status_result(token_with("svc-1", 2, 9))), 6,
         kInconsistentV3Response},
        {"protocol before consistency",
         object_envelope("2", "6", kToken, status_result(token_with("svc-2"))), 6,
         kIncompatibleV3Protocol},
        {"apply status from another instance",
         object_envelope("3", "6", kToken,
                         R"({"type":"apply","data":{"outcome":"ready","status":)" +
                             status_object(token_with("svc-2")) + R"(,"error":null}})"),
         6, kInconsistentV3Response},
        {"done carries no token", object_envelope("3", "6", kToken, R"({"type":"done"})"), 6, ""},
    };
    for (const ValidationCase& c : cases) {
        SCOPED_TRACE(c.why);
        const auto envelope = parse_response_envelope(c.payload);
        ASSERT_TRUE(envelope.has_value()) << c.payload;
        const platform::Status checked = validate_response_envelope(*envelope, c.request_id);
        if (c.expected.empty()) {
            EXPECT_TRUE(checked.has_value());
        } else {
            ASSERT_FALSE(checked.has_value());
            EXPECT_EQ(checked.error().text, c.expected);
            EXPECT_EQ(checked.error().kind, platform::ErrorKind::other);
        }
    }
}

}  // namespace
}  // namespace holvar::v3
