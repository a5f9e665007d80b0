// The registry operations on a simulated machine: rows written in order and
// read back, values that read back wrong, the recorded install location, the
// protocol handler that may belong to another product, the pending rename list.
#include <gtest/gtest.h>

#include <memory>
#include <span>

#include "platform/sim/machine.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/registry_model.hpp"
#include "platform/sim/security_model.hpp"
#include "txn/registry/registry.hpp"

namespace holvar::txn::registry {
namespace {

using platform::REG_VALUE_DWORD;
using platform::REG_VALUE_MULTI_SZ;
using platform::REG_VALUE_SZ;

std::u16string hklm(std::u16string_view path) {
    return u"HKLM\\" + std::u16string(path);
}

// One machine with the engine's elevated process on it.
class Host {
  public:
    Host()
        : machine(sim::Machine::fresh()),
          pid(machine->spawn_process(u"C:\\stage\\engine.exe", sim::admin_token())),
          engine(std::make_unique<sim::ProcessOs>(*machine, pid)) {}

    platform::Os& os() { return engine->os(); }
    sim::Registry& reg() { return machine->state().registry; }

    std::optional<sim::RegValue> value(std::u16string_view key, std::u16string_view name) {
        const sim::RegValue* v = sim::reg_find_value(reg(), hklm(key), std::u16string(name));
        if (v == nullptr) return std::nullopt;
        return *v;
    }
    void put(std::u16string_view key, std::u16string_view name, uint32_t type,
             std::vector<uint8_t> data) {
        sim::reg_set_value(reg(), hklm(key), std::u16string(name), type, std::move(data));
    }
    // Registry handles the engine still holds.
    size_t open_keys() const { return machine->state().registry.handles.size(); }

    std::unique_ptr<sim::Machine> machine;
    uint32_t pid;
    std::unique_ptr<sim::ProcessOs> engine;
};

class RegistryTest : public ::testing::Test, public Host {};

struct Row {
    std::u16string_view key;
    std::u16string_view name;
    uint32_t type;
    std::vector<uint8_t> data;
};

// The fifteen rows for a root, in the order they must be written.
std::vector<Row> expected_rows(std::u16string_view root, std::u16string_view trimmed, uint32_t kb) {
    std::u16string client = u"\"" + std::u16string(trimmed) + u"\\holvar-client.exe\"";
    auto sz = [](std::u16string t) { return sz_data(t); };
    return {
        {kProtocolKey, u"", REG_VALUE_SZ, sz(u"URL:com.holvar.desktop protocol")},
        {kProtocolKey, u"URL Protocol", REG_VALUE_SZ, sz(u"")},
        {kProtocolIconKey, u"", REG_VALUE_SZ, sz(client + u",0")},
        {kProtocolCommandKey, u"", REG_VALUE_SZ, sz(client + u" \"%1\"")},
        {kProductKey, u"", REG_VALUE_SZ, sz(std::u16string(root))},
        {kUninstallKey, u"MainBinaryName", REG_VALUE_SZ, sz(u"holvar-client.exe")},
        {kUninstallKey, u"DisplayName", REG_VALUE_SZ, sz(u"Holvar")},
        {kUninstallKey, u"DisplayIcon", REG_VALUE_SZ, sz(client)},
        {kUninstallKey, u"DisplayVersion", REG_VALUE_SZ, sz(u"3.0.0")},
        {kUninstallKey, u"Publisher", REG_VALUE_SZ, sz(u"Holvar")},
        {kUninstallKey, u"InstallLocation", REG_VALUE_SZ, sz(u"\"" + std::u16string(root) + u"\"")},
        {kUninstallKey, u"UninstallString", REG_VALUE_SZ,
         sz(u"\"" + std::u16string(trimmed) + u"\\uninstall.exe\"")},
        {kUninstallKey, u"NoModify", REG_VALUE_DWORD, dword_data(1)},
        {kUninstallKey, u"NoRepair", REG_VALUE_DWORD, dword_data(1)},
        {kUninstallKey, u"EstimatedSize", REG_VALUE_DWORD, dword_data(kb)},
    };
}

TEST_F(RegistryTest, WritesEveryRowWithOneBackslashBeforeFileNames) {
    struct Case {
        std::u16string root;
        std::u16string trimmed;
    };
    for (const Case& c : {Case{u"C:\\Program Files\\Holvar", u"C:\\Program Files\\Holvar"},
                          Case{u"C:\\Program Files\\Holvar\\\\", u"C:\\Program Files\\Holvar"}}) {
        ASSERT_TRUE(registry_write_entries(os(), c.root, 5000));
        for (const Row& r : expected_rows(c.root, c.trimmed, 5)) {
            auto v = value(r.key, r.name);
            ASSERT_TRUE(v) << std::string(r.name.begin(), r.name.end());
            EXPECT_EQ(v->type, r.type);
            EXPECT_EQ(v->data, r.data) << std::string(r.name.begin(), r.name.end());
        }
        EXPECT_EQ(open_keys(), 0u);
    }
}

// A filter on one row: that row fails its readback, the rows before it stay,
// none after it is written. This fixes the order of all fifteen.
TEST_F(RegistryTest, FilteredRowStopsTheWriteAndKeepsEarlierRows) {
    const auto rows = expected_rows(u"C:\\Holvar", u"C:\\Holvar", 1);
    for (size_t k = 0; k < rows.size(); ++k) {
        Host fresh;
        auto& r = rows[k];
        sim::reg_add_read_filter(fresh.reg(), hklm(r.key), std::u16string(r.name), r.type,
                                 sz_data(u"someone else's"));
        auto st = registry_write_entries(fresh.os(), u"C:\\Holvar", 1);
        ASSERT_FALSE(st) << k;
        EXPECT_TRUE(st.error().has_text("registry readback mismatch")) << k;
        for (size_t i = 0; i < rows.size(); ++i) {
            auto v = fresh.value(rows[i].key, rows[i].name);
            // The filtered row itself was stored before it read back wrong.
            EXPECT_EQ(v.has_value(), i <= k) << "row " << i << " after failing row " << k;
        }
        EXPECT_EQ(fresh.open_keys(), 0u);
    }
}

TEST_F(RegistryTest, EstimatedSizeIsKilobytesRoundedUp) {
    struct Case {
        uint64_t bytes;
        std::optional<uint32_t> kb;
    };
    const uint64_t max_kb = 0xFFFFFFFFull;
    for (const Case& c : {Case{0, 0u}, Case{1, 1u}, Case{1023, 1u}, Case{1024, 1u}, Case{1025, 2u},
                          Case{max_kb * 1024, 0xFFFFFFFFu}, Case{max_kb * 1024 + 1, std::nullopt},
                          Case{UINT64_MAX, std::nullopt}}) {
        Host fresh;
        auto st = registry_write_entries(fresh.os(), u"C:\\Holvar", c.bytes);
        auto v = fresh.value(kUninstallKey, u"EstimatedSize");
        if (c.kb) {
            ASSERT_TRUE(st) << c.bytes;
            ASSERT_TRUE(v);
            EXPECT_EQ(v->data, dword_data(*c.kb)) << c.bytes;
        } else {
            ASSERT_FALSE(st);
            EXPECT_TRUE(st.error().has_text("payload too large"));
            EXPECT_FALSE(v) << "nothing is written for a size that does not fit";
            EXPECT_TRUE(fresh.value(kUninstallKey, u"NoRepair"));
        }
    }
}

TEST_F(RegistryTest, BadRootsAreRefusedBeforeAnyCall) {
    struct Case {
        std::u16string root;
        std::string_view text;
    };
    std::u16string lone_surrogate = u"C:\\Hol";
    lone_surrogate.push_back(static_cast<char16_t>(0xD800));
    const Case cases[] = {{std::u16string(u"C:\\Hol\0var", 10), "embedded NUL"},
                          {lone_surrogate, "non-Unicode path"}};
    for (const Case& c : cases) {
        uint64_t before = machine->boundary_calls();
        auto w = registry_write_entries(os(), c.root, 1);
        ASSERT_FALSE(w);
        EXPECT_TRUE(w.error().has_text(c.text));
        auto r = registry_remove_protocol(os(), c.root);
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().has_text(c.text));
        EXPECT_EQ(machine->boundary_calls(), before);
    }
    auto st = registry_write_value(os(), std::u16string(u"Software\\A\0B", 12), u"x", REG_VALUE_SZ,
                                   sz_data(u"y"));
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().has_text("embedded NUL"));
}

TEST_F(RegistryTest, AnUnprivilegedProcessCannotWrite) {
    uint32_t user = machine->spawn_process(u"C:\\Users\\u\\engine.exe", sim::user_token());
    sim::ProcessOs user_os(*machine, user);
    auto st = registry_write_entries(user_os.os(), u"C:\\Holvar", 1);
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().is_win32(platform::win32::access_denied));
    EXPECT_FALSE(value(kProtocolKey, u""));
}

TEST_F(RegistryTest, InstallLocationIsReadStrictly) {
    auto units = [](std::initializer_list<uint16_t> u) {
        std::vector<uint8_t> out;
        for (uint16_t c : u) {
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(c >> 8));
        }
        return out;
    };
    struct Case {
        const char* what;
        std::optional<std::pair<uint32_t, std::vector<uint8_t>>> stored;
        std::optional<std::u16string> text;  // expected when it reads
        std::string_view error;
    };
    const Case cases[] = {
        {"absent value", std::nullopt, std::nullopt, ""},
        {"quoted root", std::pair{REG_VALUE_SZ, sz_data(u"\"C:\\Holvar\\\"")}, u"\"C:\\Holvar\\\"",
         ""},
        {"dword", std::pair{REG_VALUE_DWORD, dword_data(1)}, std::nullopt,
         "invalid InstallLocation"},
        {"odd length", std::pair{REG_VALUE_SZ, std::vector<uint8_t>{'C', 0, 0}}, std::nullopt,
         "invalid InstallLocation"},
        {"empty", std::pair{REG_VALUE_SZ, std::vector<uint8_t>{}}, std::nullopt,
         "unterminated InstallLocation"},
        {"no NUL", std::pair{REG_VALUE_SZ, units({'C', ':'})}, std::nullopt,
         "unterminated InstallLocation"},
        {"lone surrogate", std::pair{REG_VALUE_SZ, units({'C', 0xDC00, 0})}, std::nullopt,
         "invalid InstallLocation"},
    };
    for (const Case& c : cases) {
        Host fresh;
        if (c.stored)
            fresh.put(kUninstallKey, u"InstallLocation", c.stored->first, c.stored->second);
        auto got = registry_read_install_location(fresh.os());
        if (!c.error.empty()) {
            ASSERT_FALSE(got) << c.what;
            EXPECT_TRUE(got.error().has_text(c.error)) << c.what;
        } else {
            ASSERT_TRUE(got) << c.what;
            EXPECT_EQ(*got, c.text) << c.what;
        }
        EXPECT_EQ(fresh.open_keys(), 0u);
    }
    // No uninstall key at all is absent too.
    auto none = registry_read_install_location(os());
    ASSERT_TRUE(none);
    EXPECT_FALSE(*none);
}

TEST_F(RegistryTest, ProtocolIsRemovedOnlyWhenItIsThisInstallations) {
    struct Case {
        const char* what;
        std::optional<std::pair<uint32_t, std::u16string>> command;  // stored after the install
        bool protocol_survives;
    };
    const Case cases[] = {
        {"ours", std::nullopt, false},
        {"rewritten by another product",
         std::pair{REG_VALUE_SZ, std::u16string(u"\"C:\\Other\\other.exe\" \"%1\"")}, true},
        {"same text, other type",
         std::pair{2u /*REG_EXPAND_SZ*/,
                   std::u16string(u"\"C:\\Holvar\\holvar-client.exe\" \"%1\"")},
         true},
    };
    for (const Case& c : cases) {
        Host fresh;
        ASSERT_TRUE(registry_write_entries(fresh.os(), u"C:\\Holvar\\", 1));
        if (c.command)
            fresh.put(kProtocolCommandKey, u"", c.command->first, sz_data(c.command->second));
        ASSERT_TRUE(registry_remove_protocol(fresh.os(), u"C:\\Holvar\\")) << c.what;
        EXPECT_EQ(sim::reg_find_key(fresh.reg(), hklm(kProtocolKey)) != nullptr,
                  c.protocol_survives)
            << c.what;
        EXPECT_FALSE(fresh.value(kProductKey, u"")) << c.what;
        EXPECT_TRUE(sim::reg_find_key(fresh.reg(), hklm(kProductKey))) << "the key itself stays";
        ASSERT_TRUE(registry_delete_uninstall_key(fresh.os()));
        EXPECT_FALSE(sim::reg_find_key(fresh.reg(), hklm(kUninstallKey)));
        EXPECT_TRUE(sim::reg_find_key(
            fresh.reg(), u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
        EXPECT_EQ(fresh.open_keys(), 0u);
        // Everything already gone: removal is repeatable.
        ASSERT_TRUE(registry_remove_protocol(fresh.os(), u"C:\\Holvar\\"));
        ASSERT_TRUE(registry_delete_uninstall_key(fresh.os()));
    }
    // Nothing was ever installed.
    EXPECT_TRUE(registry_remove_protocol(os(), u"C:\\Holvar"));
}

TEST_F(RegistryTest, DeleteTreeNeedsAParentAndToleratesMissingKeys) {
    auto st = registry_delete_tree(os(), u"Software");
    ASSERT_FALSE(st);
    EXPECT_TRUE(st.error().has_text("key path"));
    EXPECT_TRUE(registry_delete_tree(os(), u"Software\\Nowhere\\Deeper\\Key"));
    put(u"Software\\A\\B\\C", u"v", REG_VALUE_SZ, sz_data(u"x"));
    put(u"Software\\AB", u"v", REG_VALUE_SZ, sz_data(u"x"));
    ASSERT_TRUE(registry_delete_tree(os(), u"Software\\A"));
    EXPECT_FALSE(sim::reg_find_key(reg(), u"HKLM\\Software\\A\\B\\C"));
    EXPECT_FALSE(sim::reg_find_key(reg(), u"HKLM\\Software\\A"));
    EXPECT_TRUE(sim::reg_find_key(reg(), u"HKLM\\Software\\AB")) << "a sibling with the prefix";
}

TEST_F(RegistryTest, PendingRenamesAreParsedStrictly) {
    auto multi = [](std::vector<std::u16string> strings) { return sim::multi_sz_bytes(strings); };
    std::u16string bad_unit(1, static_cast<char16_t>(0xD800));
    using Pairs = std::vector<PendingRename>;
    struct Case {
        const char* what;
        std::optional<std::pair<uint32_t, std::vector<uint8_t>>> stored;
        std::optional<Pairs> pairs;
        std::string_view error;
    };
    const Case cases[] = {
        {"absent", std::nullopt, Pairs{}, ""},
        {"empty multi-string", std::pair{REG_VALUE_MULTI_SZ, std::vector<uint8_t>(4, 0)}, Pairs{},
         ""},
        {"rename and delete",
         std::pair{REG_VALUE_MULTI_SZ,
                   multi({u"\\??\\C:\\a", u"!\\??\\C:\\b", u"\\??\\C:\\c", u""})},
         Pairs{{u"\\??\\C:\\a", u"!\\??\\C:\\b"}, {u"\\??\\C:\\c", u""}}, ""},
        {"REG_SZ", std::pair{REG_VALUE_SZ, sz_data(u"\\??\\C:\\a")}, std::nullopt,
         "pending renames are not REG_MULTI_SZ"},
        {"odd strings", std::pair{REG_VALUE_MULTI_SZ, multi({u"\\??\\C:\\a"})}, std::nullopt,
         "invalid pending rename data"},
        {"empty source", std::pair{REG_VALUE_MULTI_SZ, multi({u"", u"\\??\\C:\\b"})}, std::nullopt,
         "invalid pending rename data"},
        {"odd bytes", std::pair{REG_VALUE_MULTI_SZ, std::vector<uint8_t>{'a', 0, 0, 0, 0}},
         std::nullopt, "invalid pending rename data"},
        {"no bytes", std::pair{REG_VALUE_MULTI_SZ, std::vector<uint8_t>{}}, std::nullopt,
         "invalid pending rename data"},
        {"one NUL at the end", std::pair{REG_VALUE_MULTI_SZ, sz_data(u"a")}, std::nullopt,
         "invalid pending rename data"},
        {"lone surrogate", std::pair{REG_VALUE_MULTI_SZ, multi({bad_unit, u""})}, std::nullopt,
         "invalid pending rename data"},
    };
    for (const Case& c : cases) {
        Host fresh;
        if (c.stored)
            fresh.put(kSessionManagerKey, kPendingRenamesValue, c.stored->first, c.stored->second);
        auto got = registry_pending_renames(fresh.os());
        if (c.error.empty()) {
            ASSERT_TRUE(got) << c.what;
            EXPECT_EQ(*got, *c.pairs) << c.what;
        } else {
            ASSERT_FALSE(got) << c.what;
            EXPECT_TRUE(got.error().has_text(c.error)) << c.what;
        }
    }
}

// The machine's registry, with a writer that schedules one more rename
// between each size probe and the read that follows it.
class GrowingValue : public platform::Registry {
  public:
    GrowingValue(Host& host, int growths) : host_(host), growths_(growths) {}
    platform::Result<platform::Handle> reg_create_key(const std::u16string& path,
                                                      uint32_t access) override {
        return r().reg_create_key(path, access);
    }
    platform::Result<platform::Handle> reg_open_key(const std::u16string& path,
                                                    uint32_t access) override {
        return r().reg_open_key(path, access);
    }
    platform::Status reg_set_value(const platform::Handle& key, const std::u16string& name,
                                   uint32_t type, std::span<const uint8_t> data) override {
        return r().reg_set_value(key, name, type, data);
    }
    platform::Result<platform::RegValueInfo> reg_query_value(const platform::Handle& key,
                                                             const std::u16string& name,
                                                             std::span<uint8_t> buffer) override {
        if (buffer.data() != nullptr && growths_ > 0) {
            --growths_;
            pairs.push_back(u"\\??\\C:\\late" +
                            std::u16string(1, static_cast<char16_t>(u'a' + pairs.size())));
            pairs.push_back(u"");
            host_.put(kSessionManagerKey, kPendingRenamesValue, REG_VALUE_MULTI_SZ,
                      sim::multi_sz_bytes(pairs));
        }
        return r().reg_query_value(key, name, buffer);
    }
    platform::Status reg_delete_tree(const platform::Handle& key,
                                     const std::u16string& subkey) override {
        return r().reg_delete_tree(key, subkey);
    }
    platform::Status reg_delete_value(const platform::Handle& key,
                                      const std::u16string& name) override {
        return r().reg_delete_value(key, name);
    }
    std::vector<std::u16string> pairs{u"\\??\\C:\\first", u""};

  private:
    platform::Registry& r() { return host_.os().registry; }
    Host& host_;
    int growths_;
};

TEST_F(RegistryTest, PendingRenamesThatGrowWhileTheyAreReadAreReadAgain) {
    struct Row {
        int growths;
        bool read;  // else ERROR_MORE_DATA
    };
    for (const Row& row : {Row{1, true}, Row{7, true}, Row{8, false}}) {
        SCOPED_TRACE(row.growths);
        Host fresh;
        GrowingValue growing(fresh, row.growths);
        fresh.put(kSessionManagerKey, kPendingRenamesValue, REG_VALUE_MULTI_SZ,
                  sim::multi_sz_bytes(growing.pairs));
        platform::Os& o = fresh.os();
        platform::Os wrapped{o.files, o.security,        o.sync, o.clock, o.processes, o.services,
                             growing, o.restart_manager, o.pipes};
        auto got = registry_pending_renames(wrapped);
        if (!row.read) {
            ASSERT_FALSE(got);
            EXPECT_TRUE(got.error().is_win32(platform::win32::more_data));
            continue;
        }
        ASSERT_TRUE(got);
        ASSERT_EQ(got->size(), static_cast<size_t>(1 + row.growths));
        EXPECT_EQ(got->back().source, growing.pairs[growing.pairs.size() - 2]);
        EXPECT_EQ(fresh.open_keys(), 0u);
    }
}

TEST_F(RegistryTest, DeletionsScheduledForRebootAreListed) {
    ASSERT_TRUE(machine->make_directory(u"C:\\Holvar", sim::administrators_sid()));
    ASSERT_TRUE(machine->write_file(u"C:\\Holvar\\a.dll", {1}, sim::administrators_sid()));
    std::u16string target = u"C:\\Holvar\\b.dll";
    ASSERT_TRUE(os().files.move_file_ex(u"C:\\Holvar\\a.dll", &target,
                                        platform::MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(os().files.move_file_ex(u"C:\\Holvar\\b.dll", nullptr,
                                        platform::MOVEFILE_DELAY_UNTIL_REBOOT));
    auto got = registry_pending_renames(os());
    ASSERT_TRUE(got);
    ASSERT_EQ(got->size(), 2u);
    EXPECT_EQ((*got)[1].target, u"");
    // As the system spells them, they touch that root and no other.
    EXPECT_TRUE(pending_renames_touch(*got, u"C:\\HOLVAR"));
    EXPECT_FALSE(pending_renames_touch(*got, u"C:\\Holvar2"));
    EXPECT_EQ(pending_rename_path((*got)[1].source), u"C:\\Holvar\\b.dll");
    machine->reboot();
    sim::ProcessOs after(*machine, machine->spawn_process(u"C:\\engine.exe", sim::admin_token()));
    got = registry_pending_renames(after.os());
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->empty());
}

// Whether restart operations touch the root, for every spelling of the root:
// the list's prefixes and markers are read through, the comparison is by whole
// components and ignores case.
TEST(PendingRenamesTouch, ReadsEntriesAsPathsOfTheRoot) {
    struct Case {
        const char* what;
        std::u16string_view source;
        std::u16string_view target;
        bool touches;
    };
    const Case cases[] = {
        {"plain source under the root", u"C:\\Program Files\\Holvar\\a.dll", u"", true},
        {"NT prefix", u"\\??\\C:\\Program Files\\Holvar\\a.dll", u"", true},
        {"long-path prefix", u"\\\\?\\C:\\Program Files\\Holvar\\resources\\x.exe", u"", true},
        {"*1 marker", u"*1\\??\\C:\\Program Files\\Holvar\\a.dll", u"", true},
        {"*12 marker", u"*12\\??\\C:\\Program Files\\Holvar\\a.dll", u"", true},
        {"replacing target", u"\\??\\C:\\Temp\\new.dll", u"!\\??\\C:\\Program Files\\Holvar\\a.dll",
         true},
        {"plain target", u"\\??\\C:\\Temp\\new.dll", u"\\??\\C:\\Program Files\\Holvar\\b.dll",
         true},
        {"sibling with the root's name as prefix", u"\\??\\C:\\Program Files\\Holvar2\\a.dll", u"",
         false},
        {"replacing target in a sibling", u"\\??\\C:\\Temp\\new.dll",
         u"!\\??\\C:\\Program Files\\Holvar.old\\a.dll", false},
        {"deletion elsewhere", u"\\??\\C:\\Temp\\old.dll", u"", false},
        {"case differences", u"\\??\\c:\\PROGRAM FILES\\holvar\\A.DLL", u"", true},
        {"the root itself", u"\\??\\C:\\Program Files\\Holvar", u"", true},
        {"the root with a trailing backslash", u"\\??\\C:\\Program Files\\Holvar\\", u"", true},
        {"a parent renamed away", u"\\??\\C:\\Program Files", u"\\??\\C:\\Old Programs", true},
        {"unrelated rename", u"\\??\\C:\\Windows\\Temp\\x", u"!\\??\\C:\\Windows\\Temp\\y", false},
        {"same folder on another drive", u"\\??\\D:\\Program Files\\Holvar\\a.dll", u"", false},
    };
    for (std::u16string_view root : {u"C:\\Program Files\\Holvar", u"C:\\Program Files\\Holvar\\",
                                     u"\\\\?\\C:\\Program Files\\Holvar"}) {
        std::vector<PendingRename> all = {{u"\\??\\C:\\Temp\\z", u""}};
        for (const Case& c : cases) {
            std::vector<PendingRename> one = {{std::u16string(c.source), std::u16string(c.target)}};
            EXPECT_EQ(pending_renames_touch(one, root), c.touches) << c.what;
            all.push_back(one.front());
        }
        EXPECT_TRUE(pending_renames_touch(all, root)) << "one touching entry is enough";
    }
    EXPECT_FALSE(pending_renames_touch({}, u"C:\\Program Files\\Holvar"));
    for (auto [entry, path] : {std::pair{u"*1\\??\\C:\\a", u"C:\\a"},
                               std::pair{u"\\\\?\\C:\\a", u"C:\\a"}, std::pair{u"C:\\a", u"C:\\a"}})
        EXPECT_EQ(pending_rename_path(entry), std::u16string_view(path));
}

// Each call of an operation failed in turn: its code comes back, and no key
// stays open.
TEST_F(RegistryTest, EveryFailedCallClosesItsKeys) {
    struct Case {
        const char* what;
        platform::Status (*run)(platform::Os&);
    };
    const Case cases[] = {
        {"write entries", [](platform::Os& os) { return registry_write_entries(os, u"C:\\H", 9); }},
        {"remove protocol",
         [](platform::Os& os) { return registry_remove_protocol(os, u"C:\\H"); }},
        {"delete uninstall key",
         [](platform::Os& os) { return registry_delete_uninstall_key(os); }},
        {"install location",
         [](platform::Os& os) -> platform::Status {
             auto r = registry_read_install_location(os);
             if (!r) return std::unexpected(r.error());
             return {};
         }},
    };
    constexpr uint32_t kInjected = 1234;
    for (const Case& c : cases) {
        uint64_t clean_calls = 0;
        {
            Host host;
            ASSERT_TRUE(registry_write_entries(host.os(), u"C:\\H", 9));
            uint64_t before = host.machine->boundary_calls();
            ASSERT_TRUE(c.run(host.os())) << c.what;
            clean_calls = host.machine->boundary_calls() - before;
        }
        for (uint64_t k = 1; k <= clean_calls; ++k) {
            Host host;
            ASSERT_TRUE(registry_write_entries(host.os(), u"C:\\H", 9));
            sim::FaultRule rule;
            rule.call_index = host.machine->boundary_calls() + k;
            rule.win32 = kInjected;
            host.machine->add_fault(rule);
            auto st = c.run(host.os());
            ASSERT_FALSE(st) << c.what << " call " << k;
            EXPECT_TRUE(st.error().is_win32(kInjected)) << c.what << " call " << k;
            EXPECT_EQ(host.open_keys(), 0u) << c.what << " call " << k;
        }
    }
}

}  // namespace
}  // namespace holvar::txn::registry
