// GetFullPathNameW normalisation against a current directory of C:\Windows\System32.
#include "sim_fixture.hpp"

namespace holvar::sim::testing {
namespace {

struct FullPathCase {
    const char16_t* input;
    const char16_t* expected;  // nullptr: the call fails
};

const FullPathCase kCases[] = {
    // Absolute paths (those already in full form come back as they are).
    {u"C:\\a\\b", u"C:\\a\\b"},
    {u"C:\\.b\\a b\\c.d", u"C:\\.b\\a b\\c.d"},
    {u"C:\\a\\b.\\", u"C:\\a\\b\\"},
    {u"c:\\a\\b", u"C:\\a\\b"},
    {u"C:\\", u"C:\\"},
    {u"C:\\a\\", u"C:\\a\\"},
    {u"C:\\a\\\\\\b", u"C:\\a\\b"},
    {u"C:/a/b", u"C:\\a\\b"},
    {u"C:\\a/b\\c", u"C:\\a\\b\\c"},
    // Dots.
    {u"C:\\a\\.\\b", u"C:\\a\\b"},
    {u"C:\\a\\..\\b", u"C:\\b"},
    {u"C:\\..\\..\\a", u"C:\\a"},
    {u"C:\\a\\b\\..\\..\\..", u"C:\\"},
    {u"C:\\a\\.", u"C:\\a"},
    {u"C:\\a\\..", u"C:\\"},
    {u"C:\\a\\...", u"C:\\a\\"},
    {u"C:\\a\\...\\b", u"C:\\a\\...\\b"},
    // Trailing dots and spaces.
    {u"C:\\a\\file.", u"C:\\a\\file"},
    {u"C:\\a\\file. . ", u"C:\\a\\file"},
    {u"C:\\a\\file  ", u"C:\\a\\file"},
    {u"C:\\dir.\\b", u"C:\\dir\\b"},
    {u"C:\\dir \\b", u"C:\\dir \\b"},
    {u"C:\\dir \\", u"C:\\dir \\"},
    {u"C:\\a\\ ", u"C:\\a\\"},
    // Relative to the current directory.
    {u"x", u"C:\\Windows\\System32\\x"},
    {u".", u"C:\\Windows\\System32"},
    {u"..", u"C:\\Windows"},
    {u"..\\..\\..\\x", u"C:\\x"},
    {u".\\a\\.\\b", u"C:\\Windows\\System32\\a\\b"},
    {u"a/b/", u"C:\\Windows\\System32\\a\\b\\"},
    {u"\\x", u"C:\\x"},
    {u"/x/y", u"C:\\x\\y"},
    {u"\\", u"C:\\"},
    // Drive-relative.
    {u"C:x", u"C:\\Windows\\System32\\x"},
    {u"c:x", u"C:\\Windows\\System32\\x"},
    {u"C:", u"C:\\Windows\\System32"},
    {u"C:..", u"C:\\Windows"},
    {u"D:x", u"D:\\x"},
    {u"D:", u"D:\\"},
    // GetFullPathNameW keeps "\\?\" and normalises after it (CreateFileW would not).
    {u"\\\\?\\C:\\a\\..\\b.", u"\\\\?\\C:\\b"},
    {u"\\\\?\\C:/a", u"\\\\?\\C:\\a"},
    // UNC.
    {u"\\\\server\\share\\a\\..\\b", u"\\\\server\\share\\b"},
    {u"\\\\server\\share\\..\\..", u"\\\\server\\share"},
    {u"//server/share/x", u"\\\\server\\share\\x"},
    // Devices.
    {u"\\\\.\\C:", u"\\\\.\\C:"},
    {u"\\\\.\\pipe\\holvar-service-v3", u"\\\\.\\pipe\\holvar-service-v3"},
    {u"\\\\.\\C:\\a\\..\\b", u"\\\\.\\C:\\b"},
    // Failures.
    {u"", nullptr},
};

TEST(FullPathName, NormalisationTable) {
    auto machine = Machine::fresh();
    uint32_t pid = machine->spawn_process(u"C:\\e.exe", admin_token(), u"C:\\Windows\\System32");
    ProcessOs process(*machine, pid);
    for (const FullPathCase& c : kCases) {
        std::u16string input = c.input;
        SCOPED_TRACE(std::string(input.begin(), input.end()));
        auto full = process.os().files.get_full_path_name(input);
        if (c.expected == nullptr) {
            EXPECT_FALSE(full.has_value());
        } else {
            ASSERT_TRUE(full.has_value());
            EXPECT_EQ(*full, std::u16string(c.expected));
        }
    }
}

TEST(FullPathName, EmbeddedNulEndsTheStringAsTheWideCallSeesIt) {
    auto machine = Machine::fresh();
    uint32_t pid = machine->spawn_process(u"C:\\e.exe", admin_token(), u"C:\\Windows");
    ProcessOs process(*machine, pid);
    std::u16string with_nul(u"C:\\a\0b", 6);
    EXPECT_EQ(*process.os().files.get_full_path_name(with_nul), u"C:\\a");
}

TEST(FullPathName, FollowsEachProcessCurrentDirectory) {
    auto machine = Machine::fresh();
    uint32_t a = machine->spawn_process(u"C:\\e.exe", admin_token(), u"C:\\Users");
    uint32_t b = machine->spawn_process(u"C:\\e.exe", admin_token(), u"\\\\srv\\sh\\dir");
    ProcessOs pa(*machine, a), pb(*machine, b);
    EXPECT_EQ(*pa.os().files.get_full_path_name(u"x"), u"C:\\Users\\x");
    EXPECT_EQ(*pb.os().files.get_full_path_name(u"x"), u"\\\\srv\\sh\\dir\\x");
    EXPECT_EQ(*pb.os().files.get_full_path_name(u"\\x"), u"\\\\srv\\sh\\x");
}

}  // namespace
}  // namespace holvar::sim::testing
