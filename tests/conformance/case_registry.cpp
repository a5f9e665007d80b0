// The registry under HKEY_LOCAL_MACHINE: keys, typed values, sizes, missing
// keys and values, access rights and RegDeleteTreeW.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

constexpr uint32_t read_write = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY;
constexpr uint32_t for_tree_delete =
    DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY;

std::vector<uint8_t> bytes_of(std::u16string_view text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

class RegistryKeys : public Case {
  protected:
    Result<Handle> create(std::u16string_view rel = {}, uint32_t access = read_write) {
        return os().registry.reg_create_key(key_path(rel), access);
    }
    Result<Handle> open_key(std::u16string_view rel = {}, uint32_t access = read_write) {
        return os().registry.reg_open_key(key_path(rel), access);
    }
    void TearDown() override {
        if (auto parent =
                os().registry.reg_open_key(u"Software\\HolvarConformance", for_tree_delete)) {
            std::u16string leaf =
                key_path().substr(std::u16string(u"Software\\HolvarConformance\\").size());
            (void)os().registry.reg_delete_tree(*parent, leaf);
        }
        Case::TearDown();
    }
};

TEST_F(RegistryKeys, ACreatedKeyOpens) {
    ASSERT_OK(create(u"a\\b"));
    EXPECT_TRUE(open_key(u"a\\b").has_value());
    EXPECT_TRUE(open_key(u"a").has_value());
}

TEST_F(RegistryKeys, KeyNamesIgnoreCase) {
    ASSERT_OK(create(u"Mixed\\Case"));
    EXPECT_TRUE(open_key(u"MIXED\\case").has_value());
}

TEST_F(RegistryKeys, AMissingKeyIs2) {
    EXPECT_WIN32(open_key(u"missing"), win32::file_not_found);
}

TEST_F(RegistryKeys, CreatingAnExistingKeyOpensIt) {
    ASSERT_OK(create());
    EXPECT_TRUE(create().has_value());
}

class RegistryValues : public RegistryKeys {};

TEST_F(RegistryValues, AStringReadsBackWithTypeAndSize) {
    auto key = create();
    ASSERT_OK(key);
    const std::vector<uint8_t> data = bytes_of(std::u16string(u"C:\\Holvar\0", 10));
    ASSERT_OK(os().registry.reg_set_value(*key, u"InstallLocation", REG_VALUE_SZ, data));
    auto size_only = os().registry.reg_query_value(*key, u"InstallLocation", {});
    ASSERT_OK(size_only);
    EXPECT_EQ(size_only->type, REG_VALUE_SZ);
    EXPECT_EQ(size_only->size, data.size());
    std::vector<uint8_t> buffer(64, 0xEE);
    auto read = os().registry.reg_query_value(*key, u"InstallLocation", buffer);
    ASSERT_OK(read);
    EXPECT_EQ(read->size, data.size());
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + data.size()), data);
}

TEST_F(RegistryValues, ATooSmallBufferIs234) {
    auto key = create();
    ASSERT_OK(key);
    const std::vector<uint8_t> data = bytes_of(std::u16string(u"abcdef\0", 7));
    ASSERT_OK(os().registry.reg_set_value(*key, u"v", REG_VALUE_SZ, data));
    std::vector<uint8_t> small(4);
    EXPECT_WIN32(os().registry.reg_query_value(*key, u"v", small), win32::more_data);
}

TEST_F(RegistryValues, ADwordKeepsItsFourBytes) {
    auto key = create();
    ASSERT_OK(key);
    const std::vector<uint8_t> data = {0x78, 0x56, 0x34, 0x12};
    ASSERT_OK(os().registry.reg_set_value(*key, u"n", REG_VALUE_DWORD, data));
    std::vector<uint8_t> buffer(4);
    auto read = os().registry.reg_query_value(*key, u"n", buffer);
    ASSERT_OK(read);
    EXPECT_EQ(read->type, REG_VALUE_DWORD);
    EXPECT_EQ(buffer, data);
}

TEST_F(RegistryValues, AMultiStringKeepsItsNuls) {
    auto key = create();
    ASSERT_OK(key);
    const std::vector<uint8_t> data = bytes_of(std::u16string(u"a\0bc\0\0", 6));
    ASSERT_OK(os().registry.reg_set_value(*key, u"m", REG_VALUE_MULTI_SZ, data));
    std::vector<uint8_t> buffer(data.size());
    auto read = os().registry.reg_query_value(*key, u"m", buffer);
    ASSERT_OK(read);
    EXPECT_EQ(read->type, REG_VALUE_MULTI_SZ);
    EXPECT_EQ(buffer, data);
}

TEST_F(RegistryValues, ValueNamesIgnoreCase) {
    auto key = create();
    ASSERT_OK(key);
    ASSERT_OK(os().registry.reg_set_value(*key, u"DisplayName", REG_VALUE_SZ, bytes_of(u"x")));
    EXPECT_TRUE(os().registry.reg_query_value(*key, u"DISPLAYNAME", {}).has_value());
}

TEST_F(RegistryValues, TheEmptyNameIsTheDefaultValue) {
    auto key = create();
    ASSERT_OK(key);
    ASSERT_OK(
        os().registry.reg_set_value(*key, u"", REG_VALUE_SZ, bytes_of(std::u16string(u"d\0", 2))));
    auto read = os().registry.reg_query_value(*key, u"", {});
    ASSERT_OK(read);
    EXPECT_EQ(read->size, 4u);
}

TEST_F(RegistryValues, AMissingValueIs2) {
    auto key = create();
    ASSERT_OK(key);
    EXPECT_WIN32(os().registry.reg_query_value(*key, u"missing", {}), win32::file_not_found);
}

TEST_F(RegistryValues, ADeletedValueIsGone) {
    auto key = create();
    ASSERT_OK(key);
    ASSERT_OK(os().registry.reg_set_value(*key, u"v", REG_VALUE_SZ, bytes_of(u"x")));
    ASSERT_OK(os().registry.reg_delete_value(*key, u"v"));
    EXPECT_WIN32(os().registry.reg_query_value(*key, u"v", {}), win32::file_not_found);
    EXPECT_WIN32(os().registry.reg_delete_value(*key, u"v"), win32::file_not_found);
}

TEST_F(RegistryValues, WritingNeedsSetValueAccess) {
    ASSERT_OK(create());
    auto key = open_key({}, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    ASSERT_OK(key);
    EXPECT_WIN32(os().registry.reg_set_value(*key, u"v", REG_VALUE_SZ, bytes_of(u"x")),
                 win32::access_denied);
}

TEST_F(RegistryValues, ReadingNeedsQueryValueAccess) {
    {
        auto key = create();
        ASSERT_OK(key);
        ASSERT_OK(os().registry.reg_set_value(*key, u"v", REG_VALUE_SZ, bytes_of(u"x")));
    }
    auto key = open_key({}, KEY_SET_VALUE | KEY_WOW64_64KEY);
    ASSERT_OK(key);
    EXPECT_WIN32(os().registry.reg_query_value(*key, u"v", {}), win32::access_denied);
}

class RegistryTrees : public RegistryKeys {};

TEST_F(RegistryTrees, DeletingASubtreeRemovesEveryKeyBelow) {
    ASSERT_OK(create(u"top\\middle\\bottom"));
    auto key = open_key({}, for_tree_delete);
    ASSERT_OK(key);
    ASSERT_OK(os().registry.reg_delete_tree(*key, u"top"));
    EXPECT_WIN32(open_key(u"top"), win32::file_not_found);
    EXPECT_WIN32(open_key(u"top\\middle\\bottom"), win32::file_not_found);
}

TEST_F(RegistryTrees, WithoutASubkeyTheKeyStaysEmpty) {
    {
        auto key = create();
        ASSERT_OK(key);
        ASSERT_OK(os().registry.reg_set_value(*key, u"v", REG_VALUE_SZ, bytes_of(u"x")));
    }
    ASSERT_OK(create(u"child"));
    auto key = open_key({}, for_tree_delete);
    ASSERT_OK(key);
    ASSERT_OK(os().registry.reg_delete_tree(*key, u""));
    EXPECT_TRUE(open_key().has_value());
    EXPECT_WIN32(open_key(u"child"), win32::file_not_found);
    EXPECT_WIN32(os().registry.reg_query_value(*key, u"v", {}), win32::file_not_found);
}

TEST_F(RegistryTrees, AMissingSubtreeIs2) {
    ASSERT_OK(create());
    auto key = open_key({}, for_tree_delete);
    ASSERT_OK(key);
    EXPECT_WIN32(os().registry.reg_delete_tree(*key, u"missing"), win32::file_not_found);
}

}  // namespace
}  // namespace holvar::conformance
