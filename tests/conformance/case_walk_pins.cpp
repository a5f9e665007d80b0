// The trusted path walk's pins: every component of a path opened as the walk
// opens it, from the volume root down. While those handles are open no
// directory of the path and not the last file can be renamed or deleted, the
// file cannot be written, and the directories still take new files. The image
// of a running process can be pinned the same way.
#include <algorithm>
#include <functional>

#include "conformance.hpp"
#include "managed_v3/identity/path_walk.hpp"

namespace holvar::conformance {
namespace {

using namespace platform;
using Mode = HelperSpec::Mode;

constexpr uint32_t delete_access = SYNCHRONIZE | DELETE | FILE_READ_ATTRIBUTES;  // DeleteFileW's

class WalkPins : public Case {
  protected:
    // Opens `path` component by component, as the walk does: the directories
    // sharing read and write, the last component sharing read only.
    Result<std::vector<Handle>> pin(const std::u16string& path) {
        std::vector<Handle> handles;
        size_t end = 3;  // "X:\" first
        for (;;) {
            const bool last = end >= path.size();
            auto h = open(path.substr(0, end), last ? v3::kPinLastAccess : v3::kPinDirectoryAccess,
                          last ? v3::kPinLastShare : v3::kPinDirectoryShare, v3::kPinFlags);
            if (!h) return std::unexpected(h.error());
            handles.push_back(std::move(*h));
            if (last) return handles;
            end = path.find(u'\\', end + 1);
            if (end == std::u16string::npos) end = path.size();
        }
    }
    Status moved(const std::u16string& from, const std::u16string& to) {
        return files().move_file_ex(from, &to, 0);
    }
    static Status opened(Result<Handle> h) {
        if (!h) return std::unexpected(h.error());
        return {};
    }

    // work\a\b\image.exe, plus a file beside it and one outside the path.
    void SetUp() override {
        Case::SetUp();
        image_ = at(u"a\\b\\image.exe");
        ASSERT_OK(files().create_directory(at(u"a")));
        ASSERT_OK(files().create_directory(at(u"a\\b")));
        ASSERT_OK(make_file(image_, "image"));
        ASSERT_OK(make_file(at(u"a\\b\\beside")));
        ASSERT_OK(make_file(at(u"outside")));
    }

    std::u16string image_;
};

TEST_F(WalkPins, PinnedObjectsStayWhileTheirDirectoriesTakeNewFiles) {
    auto pinned = pin(image_);
    ASSERT_OK(pinned);
    // One handle per component: the volume root and every name after it.
    EXPECT_EQ(pinned->size(),
              1 + static_cast<size_t>(std::count(image_.begin(), image_.end(), u'\\')));
    struct Row {
        const char* what;
        std::function<Status()> act;
        uint32_t win32;  // 0: allowed
    };
    const Row rows[] = {
        {"rename the image's directory", [&] { return moved(at(u"a\\b"), at(u"a\\c")); },
         win32::sharing_violation},
        {"rename an outer directory", [&] { return moved(at(u"a"), at(u"z")); },
         win32::sharing_violation},
        {"delete the image's directory",
         [&] { return opened(open(at(u"a\\b"), delete_access, FILE_SHARE_ALL, OPEN_NO_FOLLOW)); },
         win32::sharing_violation},
        {"delete an outer directory",
         [&] { return opened(open(at(u"a"), delete_access, FILE_SHARE_ALL, OPEN_NO_FOLLOW)); },
         win32::sharing_violation},
        {"rename the image", [&] { return moved(image_, at(u"a\\b\\renamed.exe")); },
         win32::sharing_violation},
        {"move the image out", [&] { return moved(image_, at(u"moved.exe")); },
         win32::sharing_violation},
        {"delete the image",
         [&] { return opened(open(image_, delete_access, FILE_SHARE_ALL, OPEN_NO_FOLLOW)); },
         win32::sharing_violation},
        {"write the image", [&] { return opened(open(image_, GENERIC_WRITE, FILE_SHARE_ALL)); },
         win32::sharing_violation},
        {"read the image sharing reading",
         [&] { return opened(open(image_, GENERIC_READ, FILE_SHARE_READ)); }, 0},
        {"create a file in a pinned directory", [&] { return make_file(at(u"a\\b\\new")); }, 0},
        {"create a directory in a pinned directory",
         [&] { return files().create_directory(at(u"a\\b\\sub")); }, 0},
        {"move a file into a pinned directory",
         [&] { return moved(at(u"outside"), at(u"a\\b\\arrived")); }, 0},
        {"rename the file beside the image",
         [&] { return moved(at(u"a\\b\\beside"), at(u"a\\b\\renamed")); }, 0},
        {"pin the same path again",
         [&]() -> Status {
             auto again = pin(image_);
             if (!again) return std::unexpected(again.error());
             return {};
         },
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.win32 == 0) {
            const Status st = row.act();
            EXPECT_TRUE(st.has_value()) << describe(st.error());
        } else {
            EXPECT_WIN32(row.act(), row.win32);
        }
    }
}

TEST_F(WalkPins, ClosingThePinFreesEveryComponent) {
    {
        auto pinned = pin(image_);
        ASSERT_OK(pinned);
    }
    ASSERT_OK(moved(image_, at(u"a\\b\\renamed.exe")));
    ASSERT_OK(moved(at(u"a\\b"), at(u"a\\c")));
    ASSERT_OK(opened(open(at(u"a\\c"), delete_access, FILE_SHARE_ALL, OPEN_NO_FOLLOW)));
}

// The service's image is mapped while it runs: pinning it must still work, and
// the pin keeps it from being renamed as it would an idle file.
TEST_F(WalkPins, TheImageOfARunningProcessCanBePinned) {
    HelperSpec spec;
    spec.mode = Mode::exit_code;
    spec.run_ms = 600'000;
    const std::u16string running = at(u"a\\b\\running.exe");
    auto child = start_helper_copy(spec, running);
    ASSERT_OK(child);

    {
        auto pinned = pin(running);
        ASSERT_OK(pinned);
        EXPECT_WIN32(moved(running, at(u"a\\b\\renamed.exe")), win32::sharing_violation);
        EXPECT_WIN32(moved(at(u"a\\b"), at(u"a\\c")), win32::sharing_violation);
    }
    ASSERT_OK(os().processes.terminate_process(child->process(), 1));
    ASSERT_OK(child->wait_exit(30'000));
}

}  // namespace
}  // namespace holvar::conformance
