// GetFullPathNameW: purely textual normalisation against the current
// directory (C:\Windows\System32 in every harness).
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

struct FullPathRow {
    const char16_t* input;
    // "%" stands for the current directory, exactly as the harness set it.
    const char16_t* expected;
    const char* wine_gap = nullptr;  // set where Wine answers otherwise
};

void PrintTo(const FullPathRow& row, std::ostream* out) {
    *out << '"' << narrow(row.input) << '"';
}

class FullPathName : public Case, public ::testing::WithParamInterface<FullPathRow> {};

std::u16string expand(std::u16string_view pattern, const std::u16string& cwd) {
    std::u16string out;
    for (char16_t c : pattern) {
        if (c == u'%') {
            out += cwd;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

TEST_P(FullPathName, NormalisesAsWindowsDoes) {
    const FullPathRow& row = GetParam();
    if (row.wine_gap != nullptr) SKIP_ON_WINE(row.wine_gap);
    auto full = files().get_full_path_name(row.input);
    ASSERT_OK(full);
    EXPECT_EQ(narrow(*full), narrow(expand(row.expected, cwd()))) << "input " << narrow(row.input);
}

const FullPathRow full_path_rows[] = {
    // Relative to the current directory.
    {u"a", u"%\\a"},
    {u"a\\b", u"%\\a\\b"},
    {u"a/b", u"%\\a\\b"},
    {u"a//b", u"%\\a\\b"},
    {u"a\\\\\\b", u"%\\a\\b"},
    {u".", u"%"},
    {u".\\a", u"%\\a"},
    {u"a\\.\\b", u"%\\a\\b"},
    {u"..", u"C:\\Windows"},
    {u"..\\..", u"C:\\"},
    {u"..\\..\\..\\..", u"C:\\"},
    {u"a\\..\\b", u"%\\b"},
    {u"a\\b\\..\\..\\..", u"C:\\Windows"},
    {u"a\\", u"%\\a\\"},
    // Trailing dots and spaces leave the last component; a single trailing
    // dot leaves an inner one.
    {u"a.", u"%\\a"},
    {u"a..", u"%\\a"},
    {u"a ", u"%\\a"},
    {u"a. .", u"%\\a"},
    {u"a.\\b", u"%\\a\\b"},
    {u"a \\b", u"%\\a \\b"},
    {u"a.b", u"%\\a.b"},
    // Absolute with a drive.
    {u"C:\\a\\b", u"C:\\a\\b"},
    {u"C:/a/b", u"C:\\a\\b"},
    {u"C:\\a\\..\\b", u"C:\\b"},
    {u"C:\\..", u"C:\\"},
    {u"C:\\a\\.", u"C:\\a"},
    {u"C:\\a\\b\\", u"C:\\a\\b\\"},
    {u"C:\\a\\.\\", u"C:\\a\\"},
    {u"C:\\a\\b .", u"C:\\a\\b"},
    {u"C:\\a.\\b", u"C:\\a\\b"},
    {u"C:\\Program Files\\x", u"C:\\Program Files\\x"},
    {u"C:\\", u"C:\\"},
    // Drive-relative: the current directory of that drive.
    {u"C:x", u"%\\x"},
    {u"C:..", u"C:\\Windows"},
    {u"D:x", u"D:\\x"},
    {u"D:", u"D:\\"},
    // Rooted without a drive: the current drive.
    {u"\\a", u"C:\\a"},
    {u"/a", u"C:\\a", wine_gap::unix_rooted_path},
    {u"\\", u"C:\\"},
    {u"\\a\\..\\..", u"C:\\"},
    // UNC.
    {u"\\\\server\\share\\a", u"\\\\server\\share\\a"},
    {u"\\\\server\\share\\a\\..\\b", u"\\\\server\\share\\b"},
    {u"//server/share/a", u"\\\\server\\share\\a"},
    // GetFullPathNameW itself keeps the "\\?\" prefix but normalises what
    // follows it like a device path; only the other calls pass such a path
    // through untouched.
    {u"\\\\?\\C:\\a\\..\\b", u"\\\\?\\C:\\b"},
    {u"\\\\?\\C:/a", u"\\\\?\\C:\\a"},
    {u"\\\\?\\C:\\a.", u"\\\\?\\C:\\a"},
    // Device paths are normalised.
    {u"\\\\.\\C:\\a\\..\\b", u"\\\\.\\C:\\b"},
    {u"\\\\.\\pipe\\x", u"\\\\.\\pipe\\x"},
};

INSTANTIATE_TEST_SUITE_P(Table, FullPathName, ::testing::ValuesIn(full_path_rows));

}  // namespace
}  // namespace holvar::conformance
