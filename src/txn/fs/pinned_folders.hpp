// Plain directories held open for the length of a run of many operations:
// each one is read once (opened without following links) and, when it is a
// directory, kept open without delete sharing, so that nobody can rename or
// delete it, or put a link in its place, until the run ends or lets it go. A
// walk down to an operation's target then passes the folders it shares with
// the operations before it without asking the system about them again.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/os.hpp"
#include "platform/win_path.hpp"
#include "txn/fs/identity_types.hpp"

namespace holvar::txn::fs {

class PinnedFolders {
  public:
    // What probe_path says of `path`. A plain directory found there is pinned
    // and answered from the pin from then on. When the directory cannot be
    // opened without delete sharing (someone holds it for deletion), it is
    // probed as usual and not pinned.
    platform::Result<ObjectProbe> probe(platform::Os& os, const std::u16string& path);

    // Lets go of `path` and of every folder pinned below it, before the run
    // itself deletes that directory.
    void release(std::u16string_view path);

    // Whether `path` is pinned already (it was checked when it was pinned).
    bool holds(const std::u16string& path) const { return pins_.contains(path); }

  private:
    struct Pin {
        platform::Handle handle;
        FileId id;
    };
    // Names as Windows compares them (ASCII case folded), so that one folder
    // is pinned once however the operations spell it.
    struct FoldLess {
        using is_transparent = void;
        bool operator()(std::u16string_view a, std::u16string_view b) const {
            return platform::ascii_icompare(a, b) < 0;
        }
    };
    std::map<std::u16string, Pin, FoldLess> pins_;
};

// A walk's probe of a folder on the way: through the pins when there are any.
platform::Result<ObjectProbe> probe_folder(platform::Os& os, const std::u16string& path,
                                           PinnedFolders* pins);

}  // namespace holvar::txn::fs
