// Every record decodes from a valid text, and every single breakage of one of
// its fields (left out, wrong type, out of range, unlisted enumeration text,
// repeated, or an unknown key beside it) makes it fail.
#include <gtest/gtest.h>

#include "managed_v3/protocol/reply_decoder.hpp"

namespace holvar::v3 {
namespace {

enum class Type { text, u16, u32, u64, boolean, enumeration, array, object };

struct Field {
    const char* key;
    Type type;
    bool optional = false;
};

struct RecordCase {
    const char* name;
    std::string valid;
    bool (*decode)(const Json&);
    std::vector<Field> fields;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.name;
}

template <class T>
bool decode_as(const Json& value) {
    T record{};
    return decode_value(value, record);
}

// Decodes the way a frame is read: from text, through the strict parser.
bool decodes(const RecordCase& c, std::string_view text) {
    const auto json = parse_strict(text, 16);
    return json.has_value() && c.decode(*json);
}

// Values of a JSON type that the field does not have.
std::vector<Json> wrong_values(Type type) {
    switch (type) {
        case Type::text:
            return {1, true, Json::array(), Json::object()};
        case Type::u16:
        case Type::u32:
        case Type::u64:
            return {"1", -1, 1.5, 100.0, true, Json::array()};
        case Type::boolean:
            return {0, 1, "true", Json::object()};
        case Type::enumeration:
            return {"unlisted", "", 0, Json::array()};
        case Type::array:
            return {"x", 1, Json::object()};
        case Type::object:
            return {"x", 1, Json::array()};
    }
    return {};
}

// The largest value each width takes, and the text of the one beyond it.
struct Range {
    uint64_t largest;
    const char* beyond;
};
std::optional<Range> range_of(Type type) {
    switch (type) {
        case Type::u16:
            return Range{65535, "65536"};
        case Type::u32:
            return Range{4294967295u, "4294967296"};
        case Type::u64:
            return Range{18446744073709551615u, "18446744073709551616"};
        default:
            return std::nullopt;
    }
}

constexpr const char* kToken = R"({"service_instance":"svc-7","generation":3,"intent_epoch":1})";
const std::string kStatus =
    std::string(R"({"token":)") + kToken +
    R"(,"lifecycle":"ready","selected_node":"n","smart_split":true,)"
    R"("error":"busy","lease":{"remaining_ms":5},"stop_reason":"requested"})";

std::vector<RecordCase> record_cases() {
    return {
        {"StateToken",
         kToken,
         decode_as<StateToken>,
         {{"service_instance", Type::text},
          {"generation", Type::u64},
          {"intent_epoch", Type::u64}}},
        {"Capabilities",
         R"({"protocol":3,"schema":2,"flags":["managed_schema_2"],"build_version":"1.0"})",
         decode_as<Capabilities>,
         {{"protocol", Type::u16},
          {"schema", Type::u16},
          {"flags", Type::array},
          {"build_version", Type::text}}},
        {"LeaseStatus",
         R"({"remaining_ms":10})",
         decode_as<LeaseStatus>,
         {{"remaining_ms", Type::u32}}},
        {"Status",
         kStatus,
         decode_as<Status>,
         {{"token", Type::object},
          {"lifecycle", Type::enumeration},
          {"selected_node", Type::text, true},
          {"smart_split", Type::boolean, true},
          {"error", Type::enumeration, true},
          {"lease", Type::object, true},
          {"stop_reason", Type::enumeration, true}}},
        {"ApplyResult",
         R"({"outcome":"preserved_previous","status":)" + kStatus + R"(,"error":"internal"})",
         decode_as<ApplyResult>,
         {{"outcome", Type::enumeration},
          {"status", Type::object},
          {"error", Type::enumeration, true}}},
        {"NodeView",
         R"({"name":"a","kind":"vless","delay_ms":5,"measured_at_secs":9})",
         decode_as<NodeView>,
         {{"name", Type::text},
          {"kind", Type::text},
          {"delay_ms", Type::u32, true},
          {"measured_at_secs", Type::u64, true}}},
        {"GroupView",
         R"({"name":"g","members":["a"],"selected":"a"})",
         decode_as<GroupView>,
         {{"name", Type::text}, {"members", Type::array}, {"selected", Type::text, true}}},
        {"NodesView",
         R"({"nodes":[{"name":"a","kind":"k","delay_ms":null,"measured_at_secs":null}],"groups":[],"selected_node":"a"})",
         decode_as<NodesView>,
         {{"nodes", Type::array}, {"groups", Type::array}, {"selected_node", Type::text, true}}},
        {"ProbeResult",
         R"({"delay_ms":80})",
         decode_as<ProbeResult>,
         {{"delay_ms", Type::u32, true}}},
        {"Metrics",
         R"({"up":1,"down":2,"memory":3,"sampling":false})",
         decode_as<Metrics>,
         {{"up", Type::u64},
          {"down", Type::u64},
          {"memory", Type::u64},
          {"sampling", Type::boolean}}},
    };
}

class RecordStrictness : public testing::TestWithParam<RecordCase> {
  protected:
    Json valid() const { return *parse_strict(GetParam().valid, 16); }
    bool decodes_json(const Json& value) const { return decodes(GetParam(), value.dump()); }
};

TEST_P(RecordStrictness, ValidTextDecodes) {
    EXPECT_TRUE(decodes(GetParam(), GetParam().valid));
    // The table lists every key of the valid text.
    EXPECT_EQ(valid().size(), GetParam().fields.size());
}

TEST_P(RecordStrictness, UnknownKeyFails) {
    for (const char* extra : {"unexpected", "", "TOKEN"}) {
        Json value = valid();
        value[extra] = 1;
        EXPECT_FALSE(decodes_json(value)) << extra;
    }
    // A listed key in another case is an unknown key too.
    Json value = valid();
    std::string key = GetParam().fields.front().key;
    key[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
    value[key] = value[GetParam().fields.front().key];
    value.erase(GetParam().fields.front().key);
    EXPECT_FALSE(decodes_json(value));
}

TEST_P(RecordStrictness, MissingRequiredFieldFailsAndOptionalMayBeAbsentOrNull) {
    for (const Field& field : GetParam().fields) {
        SCOPED_TRACE(field.key);
        Json without = valid();
        without.erase(field.key);
        EXPECT_EQ(decodes_json(without), field.optional);
        Json null_value = valid();
        null_value[field.key] = nullptr;
        EXPECT_EQ(decodes_json(null_value), field.optional);
    }
}

TEST_P(RecordStrictness, WrongTypeFails) {
    for (const Field& field : GetParam().fields) {
        for (const Json& wrong : wrong_values(field.type)) {
            SCOPED_TRACE(std::string(field.key) + " = " + wrong.dump());
            Json value = valid();
            value[field.key] = wrong;
            EXPECT_FALSE(decodes_json(value));
        }
    }
}

TEST_P(RecordStrictness, IntegersAreCheckedForRangeAndSign) {
    for (const Field& field : GetParam().fields) {
        const std::optional<Range> range = range_of(field.type);
        if (!range) continue;
        SCOPED_TRACE(field.key);
        Json largest = valid();
        largest[field.key] = range->largest;
        EXPECT_TRUE(decodes_json(largest));
        Json zero = valid();
        zero[field.key] = 0u;
        EXPECT_TRUE(decodes_json(zero));
        // Spelled in text, so the parser decides what the number is.
        for (const char* number : {range->beyond, "-0", "1e1", "0.0"}) {
            Json value = valid();
            value[field.key] = "@";
            std::string text = value.dump();
            text.replace(text.find("\"@\""), 3, number);
            EXPECT_FALSE(decodes(GetParam(), text)) << number;
        }
    }
}

TEST_P(RecordStrictness, RepeatedKeyFails) {
    for (const Field& field : GetParam().fields) {
        const Json value = valid();
        // The same key twice, with the same valid value: still refused.
        std::string text = value.dump();
        text.insert(1, "\"" + std::string(field.key) + "\":" + value[field.key].dump() + ",");
        EXPECT_FALSE(decodes(GetParam(), text)) << field.key;
    }
}

TEST_P(RecordStrictness, NotAnObjectFails) {
    for (const char* text : {"null", "[]", "1", "\"x\"", "true"}) {
        EXPECT_FALSE(decodes(GetParam(), text)) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Records, RecordStrictness, testing::ValuesIn(record_cases()),
                         [](const testing::TestParamInfo<RecordCase>& info) {
                             return std::string(info.param.name);
                         });

// Every text of every reply enumeration decodes to its value, and back.
template <class E>
void expect_round_trip() {
    for (std::size_t i = 0; i < EnumNames<E>::names.size(); ++i) {
        const std::string_view name = EnumNames<E>::names[i];
        E value{};
        ASSERT_TRUE(decode_value(Json(std::string(name)), value)) << name;
        EXPECT_EQ(static_cast<std::size_t>(value), i);
        EXPECT_EQ(enum_name(value), name);
    }
}

TEST(Enumerations, EveryListedTextDecodes) {
    expect_round_trip<LifecycleState>();
    expect_round_trip<StopReason>();
    expect_round_trip<ApplyOutcome>();
    expect_round_trip<ServiceErrorCode>();
    expect_round_trip<ReplyKind>();
    EXPECT_EQ(EnumNames<LifecycleState>::names.size(), 7u);
    EXPECT_EQ(EnumNames<StopReason>::names.size(), 4u);
    EXPECT_EQ(EnumNames<ApplyOutcome>::names.size(), 4u);
}

}  // namespace
}  // namespace holvar::v3
