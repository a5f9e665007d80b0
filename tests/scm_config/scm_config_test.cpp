// The service configuration record: the install configuration, the SCM
// number tables both ways, and its JSON form.
#include <gtest/gtest.h>

#include "txn/scm/scm_config.hpp"

namespace holvar::txn::scm {
namespace {

struct RootCase {
    const char16_t* root;
    const char16_t* binary_path;
};

const RootCase root_cases[] = {
    {u"C:\\Program Files\\Holvar", u"\"C:\\Program Files\\Holvar\\resources\\holvar-service.exe\""},
    {u"C:\\Program Files\\Holvar\\",
     u"\"C:\\Program Files\\Holvar\\resources\\holvar-service.exe\""},
    {u"C:\\Holvar\\\\\\", u"\"C:\\Holvar\\resources\\holvar-service.exe\""},
    {u"\\\\?\\C:\\Holvar", u"\"\\\\?\\C:\\Holvar\\resources\\holvar-service.exe\""},
    {u"D:\\H\u00f6lvar", u"\"D:\\H\u00f6lvar\\resources\\holvar-service.exe\""},
};

TEST(DesiredScmConfig, BinaryPathHasOneSeparatorBeforeResources) {
    for (const RootCase& c : root_cases) {
        EXPECT_EQ(desired_scm_config(c.root).binary_path, c.binary_path);
    }
}

TEST(DesiredScmConfig, FixedFields) {
    ScmConfig c = desired_scm_config(u"C:\\Holvar");
    EXPECT_EQ(c.service_type, "own_process");
    EXPECT_EQ(c.start_type, "auto");
    EXPECT_EQ(c.error_control, "normal");
    EXPECT_TRUE(c.dependencies.empty());
    EXPECT_EQ(c.account, u"LocalSystem");
    EXPECT_EQ(c.display_name, u"Holvar Service");
    EXPECT_EQ(c.description, std::optional<std::u16string>(u"Holvar managed runtime v3"));
    auto numbers = translate_for_scm(c);
    ASSERT_TRUE(numbers);
    EXPECT_EQ(*numbers, (ScmNumbers{0x10, 2, 1}));
}

struct TranslateCase {
    const char* service_type;
    const char* start_type;
    const char* error_control;
    std::optional<ScmNumbers> numbers;
    const char* error = "";
};

const TranslateCase translate_cases[] = {
    {"own_process", "boot", "ignore", ScmNumbers{0x10, 0, 0}},
    {"own_process", "system", "normal", ScmNumbers{0x10, 1, 1}},
    {"own_process", "auto", "severe", ScmNumbers{0x10, 2, 2}},
    {"own_process", "demand", "critical", ScmNumbers{0x10, 3, 3}},
    {"own_process", "disabled", "normal", ScmNumbers{0x10, 4, 1}},
    {"Own_process", "auto", "normal", std::nullopt, "unsupported service type"},
    {"share_process", "bogus", "bogus", std::nullopt, "unsupported service type"},
    {"own_process", "Auto", "normal", std::nullopt, "start type"},
    {"own_process", "", "bogus", std::nullopt, "start type"},
    {"own_process", "auto", "Normal", std::nullopt, "error control"},
    {"own_process", "auto", "normal ", std::nullopt, "error control"},
};

TEST(TranslateForScm, TablesAndOrderOfChecks) {
    for (const TranslateCase& t : translate_cases) {
        ScmConfig c = desired_scm_config(u"C:\\Holvar");
        c.service_type = t.service_type;
        c.start_type = t.start_type;
        c.error_control = t.error_control;
        auto numbers = translate_for_scm(c);
        if (t.numbers) {
            ASSERT_TRUE(numbers) << t.start_type;
            EXPECT_EQ(*numbers, *t.numbers);
        } else {
            ASSERT_FALSE(numbers) << t.start_type;
            EXPECT_TRUE(numbers.error().has_text(t.error)) << numbers.error().text;
        }
    }
}

TEST(ReverseTranslation, NumbersBackToTexts) {
    const char* starts[] = {"boot", "system", "auto", "demand", "disabled"};
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(start_type_text(i).value(), starts[i]);
    const char* errors[] = {"ignore", "normal", "severe", "critical"};
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(error_control_text(i).value(), errors[i]);
    EXPECT_TRUE(start_type_text(5).error().has_text("start type"));
    EXPECT_TRUE(start_type_text(0xFFFFFFFF).error().has_text("start type"));
    EXPECT_TRUE(error_control_text(4).error().has_text("error control"));
}

const std::string desired_json =
    R"({"service_type":"own_process","start_type":"auto","error_control":"normal",)"
    R"("binary_path":"\"C:\\Holvar\\resources\\holvar-service.exe\"","dependencies":[],)"
    R"("account":"LocalSystem","display_name":"Holvar Service","description":"Holvar managed runtime v3"})";

TEST(ScmConfigJson, KeysInDeclarationOrder) {
    auto encoded = encode_scm_config(desired_scm_config(u"C:\\Holvar"));
    ASSERT_TRUE(encoded);
    EXPECT_EQ(*encoded, desired_json);
    auto decoded = decode_scm_config(desired_json);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, desired_scm_config(u"C:\\Holvar"));
}

TEST(ScmConfigJson, NullDescriptionAndDependencies) {
    ScmConfig c = desired_scm_config(u"C:\\Holvar");
    c.description.reset();
    c.dependencies = {u"+NetworkProvider", u"Tcpip", u""};
    auto encoded = encode_scm_config(c);
    ASSERT_TRUE(encoded);
    EXPECT_NE(encoded->find(R"("dependencies":["+NetworkProvider","Tcpip",""])"),
              std::string::npos);
    EXPECT_NE(encoded->find(R"("description":null})"), std::string::npos);
    EXPECT_EQ(decode_scm_config(*encoded).value(), c);
}

std::string edit(std::string text, std::string_view from, std::string_view to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

struct DecodeCase {
    const char* name;
    std::string text;
    bool ok;
};

std::vector<DecodeCase> decode_cases() {
    const std::string& d = desired_json;
    return {
        {"no_description_reads_null", edit(d, R"(,"description":"Holvar managed runtime v3")", ""),
         true},
        {"null_description", edit(d, R"("Holvar managed runtime v3")", "null"), true},
        {"capital_start_type_decodes", edit(d, R"("auto")", R"("Auto")"), true},
        {"any_service_type_decodes", edit(d, R"("own_process")", R"("kernel")"), true},
        {"keys_in_other_order",
         edit(edit(d, R"("service_type":"own_process",)", ""), R"("account")",
              R"("service_type":"own_process","account")"),
         true},
        {"extra_key", edit(d, R"("account")", R"("x":1,"account")"), false},
        {"missing_account", edit(d, R"("account":"LocalSystem",)", ""), false},
        {"missing_binary_path",
         edit(d, R"("binary_path":"\"C:\\Holvar\\resources\\holvar-service.exe\"",)", ""), false},
        {"missing_dependencies", edit(d, R"("dependencies":[],)", ""), false},
        {"missing_service_type", edit(d, R"("service_type":"own_process",)", ""), false},
        {"dependencies_null", edit(d, R"("dependencies":[])", R"("dependencies":null)"), false},
        {"dependency_number", edit(d, R"("dependencies":[])", R"("dependencies":[1])"), false},
        {"start_type_number", edit(d, R"("auto")", "2"), false},
        {"description_number", edit(d, R"("Holvar managed runtime v3")", "3"), false},
        {"duplicate_key", edit(d, R"("account")", R"("account":"x","account")"), false},
        {"not_an_object", "[]", false},
        {"nested_too_deep", edit(d, R"("dependencies":[])", R"("dependencies":[["x"]])"), false},
        {"invalid_json", d.substr(0, 20), false},
    };
}

TEST(ScmConfigJson, DecodingRules) {
    for (const DecodeCase& c : decode_cases()) {
        auto decoded = decode_scm_config(c.text);
        EXPECT_EQ(decoded.has_value(), c.ok) << c.name;
        if (!c.ok && !decoded) {
            EXPECT_TRUE(decoded.error().has_text("invalid service configuration")) << c.name;
        }
    }
    auto no_description = decode_scm_config(decode_cases()[0].text);
    ASSERT_TRUE(no_description);
    EXPECT_FALSE(no_description->description.has_value());
}

TEST(ScmConfigJson, UnpairedSurrogateIsNotWritten) {
    ScmConfig c = desired_scm_config(u"C:\\Holvar");
    c.display_name += char16_t(0xD800);
    auto encoded = encode_scm_config(c);
    ASSERT_FALSE(encoded);
    EXPECT_TRUE(encoded.error().has_text("invalid service configuration"));
}

}  // namespace
}  // namespace holvar::txn::scm
