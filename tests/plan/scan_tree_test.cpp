// Scanning trees on the simulated machine: what is recorded, what is refused,
// and what another process cannot change under the scan.
#include <gtest/gtest.h>

#include "scan_fixture.hpp"
#include "txn/plan/name_rules.hpp"
#include "txn/plan/scan_tree.hpp"

namespace holvar::txn::plan {
namespace {

using namespace testing;

TEST_F(ScanTest, RecordsKindsAndIdsWithoutEnteringLinks) {
    mkdir(base + u"\\resources");
    write(base + u"\\resources\\holvar-service.exe");
    write(base + u"\\uninstall.exe");
    mkdir(base + u"\\empty");
    mkdir(u"C:\\Elsewhere");
    write(u"C:\\Elsewhere\\secret.txt");
    junction(base + u"\\data", u"C:\\Elsewhere");

    auto inv = scan_tree(os(), base, {});
    ASSERT_TRUE(inv) << inv.error().text << " " << inv.error().win32;
    TreeInventory expected{
        {u"data", {EntryKind::reparse, id_of(base + u"\\data")}},
        {u"empty", {EntryKind::directory, id_of(base + u"\\empty")}},
        {u"resources", {EntryKind::directory, id_of(base + u"\\resources")}},
        {u"resources\\holvar-service.exe",
         {EntryKind::file, id_of(base + u"\\resources\\holvar-service.exe")}},
        {u"uninstall.exe", {EntryKind::file, id_of(base + u"\\uninstall.exe")}},
    };
    EXPECT_EQ(*inv, expected);
}

TEST_F(ScanTest, ExclusionsAreNeitherRecordedNorEntered) {
    mkdir(base + u"\\service-logs");
    write(base + u"\\service-logs\\COM1.log");  // never listed, so never judged
    mkdir(base + u"\\.holvar-service-v3");
    write(base + u"\\keep.txt");
    auto inv = scan_tree(os(), base, default_generated_items());
    ASSERT_TRUE(inv);
    EXPECT_EQ(inv->size(), 1u);
    EXPECT_TRUE(inv->contains(u"KEEP.TXT"));
}

struct NameCase {
    const char16_t* name;
    bool passes;
};

const NameCase scanned_names[] = {
    {u"COM1.txt", false}, {u"aux", false},    {u"a~1", false},
    {u"name.", false},    {u".config", true}, {u"COM10", true},
};

TEST_F(ScanTest, UnsafeNamesFailTheScan) {
    for (const NameCase& c : scanned_names) {
        std::u16string dir = base + u"\\case" + std::u16string(1, u'0' + (&c - scanned_names));
        mkdir(dir);
        // Written through the verbatim prefix, which keeps a trailing dot as
        // another program (or a case-sensitive directory) could.
        write(u"\\\\?\\" + dir + u"\\" + c.name);
        auto inv = scan_tree(os(), dir, {});
        if (c.passes) {
            EXPECT_TRUE(inv) << std::string(c.name,
                                            c.name + std::char_traits<char16_t>::length(c.name));
        } else {
            ASSERT_FALSE(inv) << (&c - scanned_names);
            EXPECT_EQ(inv.error().kind, platform::ErrorKind::invalid_data);
            EXPECT_TRUE(inv.error().has_text("unsafe name"));
        }
    }
}

TEST_F(ScanTest, NameThatIsNotUnicodeIsUnsafe) {
    std::u16string bad = u"bad";
    bad += char16_t(0xD800);
    write(base + u"\\" + bad);
    auto inv = scan_tree(os(), base, {});
    ASSERT_FALSE(inv);
    EXPECT_TRUE(inv.error().has_text("unsafe name"));
}

TEST_F(ScanTest, NamesEqualUnderCaseFoldingAreADuplicate) {
    // The simulated volume, like a default NTFS directory, cannot hold both;
    // a case-sensitive directory can, and the listing then shows both.
    write(base + u"\\a.txt");
    on_listing([](const std::u16string&, std::vector<platform::FindData>& listing) {
        for (const auto& f : listing) {
            if (f.file_name == u"a.txt") {
                platform::FindData twin = f;
                twin.file_name = u"A.TXT";
                listing.push_back(twin);
                return;
            }
        }
    });
    auto inv = scan_tree(os(), base, {});
    ASSERT_FALSE(inv);
    EXPECT_TRUE(inv.error().has_text("duplicate name"));
}

struct Swap {
    const char* name;
    void (*before)(ScanTest&);    // the tree as listed
    void (*swap)(sim::Machine&);  // what another process does after the listing
};

const Swap swaps[] = {
    {"file_becomes_directory", [](ScanTest& t) { t.write(ScanTest::base + u"\\a.txt"); },
     [](sim::Machine& m) {
         ASSERT_TRUE(m.remove(ScanTest::base + u"\\a.txt"));
         ASSERT_TRUE(m.make_directory(ScanTest::base + u"\\a.txt", admins()));
     }},
    {"directory_becomes_junction",
     [](ScanTest& t) {
         t.mkdir(ScanTest::base + u"\\sub");
         t.mkdir(u"C:\\Target");
     },
     [](sim::Machine& m) {
         ASSERT_TRUE(m.remove(ScanTest::base + u"\\sub"));
         ASSERT_TRUE(m.make_junction(ScanTest::base + u"\\sub", u"C:\\Target", admins()));
     }},
    {"file_becomes_symlink",
     [](ScanTest& t) {
         t.write(ScanTest::base + u"\\x.dll");
         t.write(u"C:\\Windows\\x.dll");
     },
     [](sim::Machine& m) {
         ASSERT_TRUE(m.remove(ScanTest::base + u"\\x.dll"));
         ASSERT_TRUE(m.make_symlink(ScanTest::base + u"\\x.dll", u"C:\\Windows\\x.dll", admins()));
     }},
};

class ScanSwap : public ScanTest, public ::testing::WithParamInterface<Swap> {};

TEST_P(ScanSwap, EntryReplacedAfterListingIsForeign) {
    GetParam().before(*this);
    bool swapped = false;
    on_listing([&](const std::u16string& pattern, std::vector<platform::FindData>&) {
        if (!swapped && pattern == base + u"\\*") {
            swapped = true;
            GetParam().swap(machine());
        }
    });
    auto inv = scan_tree(os(), base, {});
    ASSERT_TRUE(swapped);
    ASSERT_FALSE(inv);
    EXPECT_TRUE(inv.error().has_text("foreign_identity")) << inv.error().text << inv.error().win32;
}

INSTANTIATE_TEST_SUITE_P(Swaps, ScanSwap, ::testing::ValuesIn(swaps),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScanTest, DirectoriesAreHeldWhileTheirSubtreeIsWalked) {
    mkdir(base + u"\\a");
    mkdir(base + u"\\a\\b");
    write(base + u"\\a\\b\\f");
    auto other = other_process();
    std::vector<uint32_t> refusals;
    on_listing([&](const std::u16string& pattern, std::vector<platform::FindData>&) {
        if (pattern != base + u"\\a\\b\\*") return;
        // While the deepest directory is listed, neither it nor its ancestors
        // can be moved away by anyone.
        for (const std::u16string& dir : {base, base + u"\\a", base + u"\\a\\b"}) {
            std::u16string to = dir + u"-moved";
            auto moved = other->os().files.move_file_ex(dir, &to, 0);
            refusals.push_back(moved ? 0 : moved.error().win32);
        }
    });
    auto inv = scan_tree(os(), base, {});
    ASSERT_TRUE(inv);
    EXPECT_EQ(inv->size(), 3u);
    ASSERT_EQ(refusals.size(), 3u);
    for (uint32_t code : refusals) EXPECT_NE(code, 0u);
}

TEST_F(ScanTest, BaseThatIsALinkOrMissingFails) {
    mkdir(u"C:\\Real");
    junction(u"C:\\Link", u"C:\\Real");
    auto through_link = scan_tree(os(), u"C:\\Link", {});
    ASSERT_FALSE(through_link);
    EXPECT_TRUE(through_link.error().has_text("foreign_identity"));

    auto missing = scan_tree(os(), u"C:\\Missing", {});
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is_win32(platform::win32::file_not_found) ||
                missing.error().is_win32(platform::win32::path_not_found));
}

}  // namespace
}  // namespace holvar::txn::plan
