// CreateFileW share modes: a second open must be compatible with every open
// handle that has read, write or delete access, both ways round.
#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

struct ShareRow {
    const char* what;
    uint32_t first_access;
    uint32_t first_share;
    uint32_t second_access;
    uint32_t second_share;
    bool second_opens;
};

void PrintTo(const ShareRow& row, std::ostream* out) {
    *out << row.what;
}

class ShareModes : public Case, public ::testing::WithParamInterface<ShareRow> {};

TEST_P(ShareModes, SecondOpenAgreesWithTheFirst) {
    const ShareRow& row = GetParam();
    const std::u16string file = at(u"shared.bin");
    ASSERT_OK(make_file(file));
    auto first = open(file, row.first_access, row.first_share);
    ASSERT_OK(first);
    auto second = open(file, row.second_access, row.second_share);
    if (row.second_opens) {
        EXPECT_TRUE(second.has_value()) << row.what << ": " << describe(second.error());
    } else {
        EXPECT_WIN32(second, win32::sharing_violation);
    }
}

constexpr uint32_t R = GENERIC_READ;
constexpr uint32_t W = GENERIC_WRITE;
constexpr uint32_t RW = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t ATTR = FILE_READ_ATTRIBUTES;
constexpr uint32_t DEL = DELETE | FILE_READ_ATTRIBUTES;
constexpr uint32_t SR = FILE_SHARE_READ;
constexpr uint32_t SW = FILE_SHARE_WRITE;
constexpr uint32_t SD = FILE_SHARE_DELETE;

const ShareRow share_rows[] = {
    {"read, read", R, SR, R, SR, true},
    {"read shared none, read", R, 0, R, SR | SW | SD, false},
    {"read, write not shared by first", R, SR, W, SR | SW, false},
    {"read sharing write, write", R, SR | SW, W, SR | SW, true},
    {"write, read sharing read only", W, SR, R, SR, false},
    {"write, read sharing write", W, SR, R, SR | SW, true},
    {"read-write shared fully, read-write", RW, SR | SW | SD, RW, SR | SW | SD, true},
    {"read-write shared fully, read-write sharing read", RW, SR | SW | SD, RW, SR, false},
    {"attributes only, shared none, then read", ATTR, 0, R, SR | SW | SD, true},
    {"read shared none, attributes only", R, 0, ATTR, 0, true},
    {"read shared none, synchronize only", R, 0, SYNCHRONIZE, 0, true},
    {"read sharing read-write, delete", R, SR | SW, DEL, SR | SW | SD, false},
    {"read sharing all, delete", R, SR | SW | SD, DEL, SR | SW | SD, true},
    {"delete, read not sharing delete", DEL, SR | SW | SD, R, SR | SW, false},
    {"delete, delete", DEL, SR | SW | SD, DEL, SR | SW | SD, true},
    {"append data only counts as write", R, SR, FILE_APPEND_DATA, SR | SW, false},
    {"read data only counts as read", W, SW, FILE_READ_DATA, SW, false},
    {"write attributes do not conflict", R, 0, FILE_WRITE_ATTRIBUTES, 0, true},
    {"read control does not conflict", RW, 0, READ_CONTROL, 0, true},
    {"execute counts as read", W, SW, FILE_EXECUTE, SW, false},
};

INSTANTIATE_TEST_SUITE_P(Table, ShareModes, ::testing::ValuesIn(share_rows));

class ShareModesAfterClose : public Case {};

TEST_F(ShareModesAfterClose, AClosedHandleNoLongerConflicts) {
    const std::u16string file = at(u"closed.bin");
    ASSERT_OK(make_file(file));
    {
        auto first = open(file, R, 0);
        ASSERT_OK(first);
        EXPECT_WIN32(open(file, R, SR | SW | SD), win32::sharing_violation);
    }
    EXPECT_TRUE(open(file, R, SR | SW | SD).has_value());
}

TEST_F(ShareModesAfterClose, CreateAlwaysOnAnOpenFileIsASharingViolation) {
    const std::u16string file = at(u"busy.bin");
    ASSERT_OK(make_file(file));
    auto first = open(file, R, SR);
    ASSERT_OK(first);
    EXPECT_WIN32(files().create_file(file, W, SR | SW | SD, CREATE_ALWAYS, 0),
                 win32::sharing_violation);
}

}  // namespace
}  // namespace holvar::conformance
