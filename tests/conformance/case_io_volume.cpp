// Access checks on reads, writes and flushes (of files and of a volume); what the two identity
// queries agree on; volume paths of names that do not exist yet; delayed moves.
#include <optional>

#include "conformance.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;

class AccessChecks : public Case {};

TEST_F(AccessChecks, WritingThroughAReadHandleIs5) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), GENERIC_READ, FILE_SHARE_ALL);
    ASSERT_OK(h);
    const uint8_t byte = 'x';
    EXPECT_WIN32(files().write_file(*h, std::span<const uint8_t>(&byte, 1)), win32::access_denied);
}

TEST_F(AccessChecks, ReadingThroughAWriteHandleIs5) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), GENERIC_WRITE, FILE_SHARE_ALL);
    ASSERT_OK(h);
    uint8_t buffer[4];
    EXPECT_WIN32(files().read_file(*h, buffer), win32::access_denied);
}

TEST_F(AccessChecks, FlushingNeedsWriteAccess) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), GENERIC_READ, FILE_SHARE_ALL);
    ASSERT_OK(h);
    EXPECT_WIN32(files().flush_file_buffers(*h), win32::access_denied);
}

TEST_F(AccessChecks, AReadOnlyFileCannotBeOpenedForWriting) {
    SKIP_ON_WINE(wine_gap::read_only_as_root);
    auto created =
        files().create_file(at(u"ro"), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY);
    ASSERT_OK(created);
    created->reset();
    EXPECT_WIN32(open(at(u"ro"), GENERIC_WRITE, FILE_SHARE_ALL), win32::access_denied);
    auto reader = open(at(u"ro"), GENERIC_READ, FILE_SHARE_ALL);
    ASSERT_OK(reader);
    auto basic = files().get_file_basic_info(*reader);
    ASSERT_OK(basic);
    EXPECT_NE(basic->file_attributes & FILE_ATTRIBUTE_READONLY, 0u);
}

// FlushFileBuffers on a volume ("\\.\C:", no trailing separator) writes every
// file of the volume: the handle needs write access like any other flushed
// handle, and only an administrator can open a volume for writing.
class VolumeFlush : public Case {
  protected:
    std::u16string volume_device() const {
        return u"\\\\.\\" + std::u16string(1, work()[0]) + u":";
    }
};

TEST_F(VolumeFlush, AVolumeOpenedForWritingIsFlushed) {
    SKIP_ON_WINE(wine_gap::volume_flush);
    ASSERT_OK(make_file(at(u"f")));
    auto volume = open(volume_device(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_OK(volume);
    ASSERT_OK(files().flush_file_buffers(*volume));
}

TEST_F(VolumeFlush, AVolumeOpenedForReadingOnlyIsNotFlushed) {
    SKIP_ON_WINE(wine_gap::volume_flush);
    auto volume = open(volume_device(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_OK(volume);
    EXPECT_WIN32(files().flush_file_buffers(*volume), win32::access_denied);
}

// CreateFileW adds SYNCHRONIZE and FILE_READ_ATTRIBUTES to whatever access it
// is asked for, so every handle it returns can be queried.
TEST_F(AccessChecks, AWriteOnlyHandleStillReadsAttributes) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), GENERIC_WRITE, FILE_SHARE_ALL);
    ASSERT_OK(h);
    EXPECT_TRUE(files().get_file_basic_info(*h).has_value());
    EXPECT_TRUE(files().get_file_information_by_handle(*h).has_value());
    EXPECT_TRUE(files().get_file_id_info(*h).has_value());
}

TEST_F(AccessChecks, AHandleWithNoAccessStillReadsAttributes) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), 0, FILE_SHARE_ALL);
    ASSERT_OK(h);
    EXPECT_TRUE(files().get_file_basic_info(*h).has_value());
}

TEST_F(AccessChecks, ReadingAtTheEndGivesZeroBytes) {
    ASSERT_OK(make_file(at(u"f"), "ab"));
    auto h = open(at(u"f"), GENERIC_READ, FILE_SHARE_ALL);
    ASSERT_OK(h);
    uint8_t buffer[8];
    auto first = files().read_file(*h, buffer);
    ASSERT_OK(first);
    EXPECT_EQ(*first, 2u);
    auto second = files().read_file(*h, buffer);
    ASSERT_OK(second);
    EXPECT_EQ(*second, 0u);
}

class IdentityQueries : public Case {};

TEST_F(IdentityQueries, TheTwoQueriesAgreeOnVolumeAndIndex) {
    ASSERT_OK(make_file(at(u"f")));
    auto h = open(at(u"f"), FILE_READ_ATTRIBUTES, FILE_SHARE_ALL);
    ASSERT_OK(h);
    auto id = files().get_file_id_info(*h);
    auto info = files().get_file_information_by_handle(*h);
    ASSERT_OK(id);
    ASSERT_OK(info);
    EXPECT_EQ(static_cast<uint32_t>(id->volume_serial_number), info->volume_serial_number);
    // On NTFS the 128-bit id is the 64-bit file index, little-endian, then zeros.
    uint64_t low = 0;
    for (int i = 7; i >= 0; --i) low = (low << 8) | id->file_id[static_cast<size_t>(i)];
    EXPECT_EQ(low, (static_cast<uint64_t>(info->file_index_high) << 32) | info->file_index_low);
}

class VolumePaths : public Case {};

TEST_F(VolumePaths, ANameThatDoesNotExistStillHasAVolume) {
    auto mount = files().get_volume_path_name(at(u"not\\yet\\there"), PATH_BUFFER_UNITS);
    ASSERT_OK(mount);
    EXPECT_EQ(narrow(*mount), "C:\\");
}

TEST_F(VolumePaths, VolumeFlagsNeedTheRootNotADirectory) {
    EXPECT_WIN32(files().get_volume_file_system_flags(work() + u"\\"), 144);
}

class DelayedMoves : public Case {};

TEST_F(DelayedMoves, ADelayedDeleteLeavesTheFileUntilRestart) {
    ASSERT_OK(make_file(at(u"f"), "stays"));
    ASSERT_OK(files().move_file_ex(at(u"f"), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    auto text = read_all(at(u"f"));
    ASSERT_OK(text);
    EXPECT_EQ(*text, "stays");
}

TEST_F(DelayedMoves, ADelayedMoveLeavesBothNamesAsTheyAre) {
    ASSERT_OK(make_file(at(u"f")));
    const std::u16string target = at(u"g");
    ASSERT_OK(files().move_file_ex(at(u"f"), &target,
                                   MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(open(at(u"f"), GENERIC_READ, FILE_SHARE_ALL).has_value());
    EXPECT_WIN32(open(target, GENERIC_READ, FILE_SHARE_ALL), win32::file_not_found);
}

// PendingFileRenameOperations: pairs of NT paths in one multi-string; an
// empty second entry deletes, a "!" before it replaces an existing target.
class PendingRenames : public Case {
  protected:
    Result<std::vector<std::u16string>> entries() {
        auto key =
            os().registry.reg_open_key(u"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                       KEY_QUERY_VALUE | KEY_WOW64_64KEY);
        if (!key) return std::unexpected(key.error());
        auto size = os().registry.reg_query_value(*key, u"PendingFileRenameOperations", {});
        if (!size) return std::unexpected(size.error());
        EXPECT_EQ(size->type, REG_VALUE_MULTI_SZ);
        std::vector<uint8_t> bytes(size->size);
        auto read = os().registry.reg_query_value(*key, u"PendingFileRenameOperations", bytes);
        if (!read) return std::unexpected(read.error());
        std::vector<std::u16string> out(1);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
            if (c == u'\0') {
                out.emplace_back();
            } else {
                out.back().push_back(c);
            }
        }
        return out;
    }
    // The entry after `source`, or none when `source` is not listed.
    std::optional<std::u16string> target_of(const std::vector<std::u16string>& list,
                                            const std::u16string& source) {
        for (size_t i = 0; i + 1 < list.size(); i += 2) {
            if (list[i] == source) return list[i + 1];
        }
        return std::nullopt;
    }
};

TEST_F(PendingRenames, ADelayedDeleteHasAnEmptyTarget) {
    ASSERT_OK(make_file(at(u"f")));
    ASSERT_OK(files().move_file_ex(at(u"f"), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    auto list = entries();
    ASSERT_OK(list);
    auto target = target_of(*list, u"\\??\\" + at(u"f"));
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(narrow(*target), "");
}

TEST_F(PendingRenames, ADelayedReplaceMarksItsTarget) {
    ASSERT_OK(make_file(at(u"f")));
    const std::u16string target = at(u"g");
    ASSERT_OK(files().move_file_ex(at(u"f"), &target,
                                   MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    auto list = entries();
    ASSERT_OK(list);
    auto recorded = target_of(*list, u"\\??\\" + at(u"f"));
    ASSERT_TRUE(recorded.has_value());
    EXPECT_EQ(narrow(*recorded), narrow(u"!\\??\\" + target));
}

TEST_F(PendingRenames, ADelayedMoveWithoutReplaceIsUnmarked) {
    ASSERT_OK(make_file(at(u"f")));
    const std::u16string target = at(u"g");
    ASSERT_OK(files().move_file_ex(at(u"f"), &target, MOVEFILE_DELAY_UNTIL_REBOOT));
    auto list = entries();
    ASSERT_OK(list);
    auto recorded = target_of(*list, u"\\??\\" + at(u"f"));
    ASSERT_TRUE(recorded.has_value());
    EXPECT_EQ(narrow(*recorded), narrow(u"\\??\\" + target));
}

}  // namespace
}  // namespace holvar::conformance
