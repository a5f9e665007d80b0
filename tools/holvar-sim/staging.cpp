#include "staging.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "engine_image.hpp"
#include "platform/win_path.hpp"
#include "txn/fs/protected_directory.hpp"
#include "verb_support.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

namespace fs = std::filesystem;

ToolResult<std::vector<uint8_t>> read_real_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return usage("cannot read " + file.string());
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) return usage("cannot read " + file.string());
    return bytes;
}

// Copies a real folder into the machine, in name order so that file ids come
// out the same on every run. Links in the real folder are refused, not followed.
ToolResult<void> copy_folder(sim::Machine& machine, const fs::path& from,
                             const std::u16string& to) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(*it);
    }
    if (ec) return usage("cannot list " + from.string() + ": " + ec.message());
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& entry : entries) {
        const auto name = wide_arg(entry.path().filename().string(), "payload name");
        if (!name) return std::unexpected(name.error());
        const std::u16string target = platform::join_path(to, *name);
        const auto status = entry.symlink_status(ec);
        if (ec) return usage("cannot read " + entry.path().string() + ": " + ec.message());
        if (fs::is_symlink(status)) {
            return usage("payload holds a symbolic link: " + entry.path().string());
        }
        if (fs::is_directory(status)) {
            if (auto made = machine.make_directory(target, administrators_sid()); !made) {
                return machine_refused("cannot create", target, made.error());
            }
            if (auto copied = copy_folder(machine, entry.path(), target); !copied) return copied;
        } else if (fs::is_regular_file(status)) {
            auto bytes = read_real_file(entry.path());
            if (!bytes) return std::unexpected(bytes.error());
            if (auto made = machine.write_file(target, *bytes, administrators_sid()); !made) {
                return machine_refused("cannot write", target, made.error());
            }
        } else {
            return usage("payload holds something that is neither file nor folder: " +
                         entry.path().string());
        }
    }
    return {};
}

// Writes a demo payload into the machine, each folder created as its first
// file needs it, so that file ids come out the same on every run.
ToolResult<void> write_demo_payload(sim::Machine& machine, const std::vector<DemoFile>& files,
                                    const std::u16string& to) {
    for (const DemoFile& file : files) {
        const std::u16string target =
            platform::join_path(to, std::u16string(file.path.begin(), file.path.end()));
        if (auto made =
                make_directories(machine, *platform::parent_path(target), administrators_sid());
            !made) {
            return made;
        }
        if (auto written = machine.write_file(target, file.bytes, administrators_sid()); !written) {
            return machine_refused("cannot write", target, written.error());
        }
    }
    return {};
}

}  // namespace

StagePaths stage_paths(const std::u16string& root, const std::string& txid) {
    const std::u16string parent = platform::parent_path(root).value_or(root);
    StagePaths paths;
    paths.stage =
        platform::join_path(parent, u".Holvar-upgrade-" + std::u16string(txid.begin(), txid.end()));
    paths.engine = platform::join_path(paths.stage, kEngineFileName);
    paths.diagnostics = platform::join_path(parent, u"Holvar-Install-Diagnostics");
    return paths;
}

ToolResult<StagePaths> stage_transaction(sim::Machine& m, const std::u16string& root,
                                         const std::string& txid,
                                         const std::optional<PayloadSource>& source) {
    const auto parent = platform::parent_path(root);
    if (!parent) return usage("--root has no parent directory");
    const StagePaths paths = stage_paths(root, txid);
    const std::u16string payload = platform::join_path(paths.stage, u"payload");

    if (m.exists(paths.stage))
        return refused("the stage directory exists already: " + utf16_to_wtf8(paths.stage));
    if (auto made = make_directories(m, *parent, administrators_sid()); !made) {
        return std::unexpected(made.error());
    }
    // Both folders as the guide for setup programs has them made: owned by
    // Administrators with a protected DACL that lets nobody else change them,
    // so that the engine trusts them wherever they are (a folder made under a
    // drive root would otherwise inherit modify rights for every user).
    const std::u16string sddl(txn::fs::kProtectedDirectorySddl);
    if (auto made = m.make_directory_sddl(paths.stage, sddl); !made) {
        return machine_refused("cannot create", paths.stage, made.error());
    }
    if (source) {
        if (auto made = m.make_directory(payload, administrators_sid()); !made) {
            return machine_refused("cannot create", payload, made.error());
        }
        if (source->folder) {
            if (auto copied = copy_folder(m, *source->folder, payload); !copied) {
                return std::unexpected(copied.error());
            }
        }
        if (source->files) {
            if (auto written = write_demo_payload(m, *source->files, payload); !written) {
                return std::unexpected(written.error());
            }
        }
    }
    if (auto written = m.write_file(paths.engine, engine_image_bytes(), administrators_sid());
        !written) {
        return machine_refused("cannot write", paths.engine, written.error());
    }
    // The diagnostics directory is shared by every transaction beside this
    // root: one that exists already is left exactly as it is.
    if (!m.exists(paths.diagnostics)) {
        if (auto made = m.make_directory_sddl(paths.diagnostics, sddl); !made) {
            return machine_refused("cannot create", paths.diagnostics, made.error());
        }
    }
    return paths;
}

ToolResult<PayloadSource> payload_named(const std::string& word) {
    PayloadSource source;
    if (auto files = demo_payload(word)) {
        source.files = std::move(*files);
        return source;
    }
    if (!fs::is_directory(word)) {
        std::string names;
        for (const auto name : demo_payload_names())
            names += (names.empty() ? "" : ", ") + std::string(name);
        return usage("'" + word + "' is neither a folder nor a demo payload (" + names + ")");
    }
    source.folder = word;
    return source;
}

}  // namespace holvar::simtool
