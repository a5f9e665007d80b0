// The demo payloads: each is a complete runtime the engine can plan, each later
// version differs from its base the way its name says, and `stage
// --demo-payload` writes exactly those bytes, with the same file ids every run.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "e2e/sim_cli.hpp"
#include "holvar-sim/demo_payloads.hpp"
#include "holvar-sim/engine_image.hpp"
#include "platform/sim/machine.hpp"
#include "platform/sim/programs.hpp"
#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/plan/name_rules.hpp"

namespace holvar::e2e {
namespace {

using simtool::demo_payload;
using simtool::demo_payload_names;
using Files = std::map<std::string, std::string>;  // relative path -> bytes

Files files_of(std::string_view name) {
    Files files;
    const auto listed = demo_payload(name).value();
    for (const auto& file : listed) {
        files[file.path] = std::string(file.bytes.begin(), file.bytes.end());
    }
    return files;
}

std::set<std::string> folders_of(const Files& files) {
    std::set<std::string> folders;
    for (const auto& [path, bytes] : files) {
        for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
            folders.insert(path.substr(0, at));
        }
    }
    return folders;
}

std::string program_kind(const std::string& bytes) {
    const auto description =
        sim::program_description(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    return description && description->is_object() ? description->value("kind", "?") : "none";
}

TEST(DemoPayloads, EachIsACompleteRuntimeTheEngineCanPlan) {
    const auto engine = simtool::engine_image_bytes();
    for (const auto name : demo_payload_names()) {
        SCOPED_TRACE(std::string(name));
        const auto listed = demo_payload(name).value();
        const Files files = files_of(name);
        EXPECT_GE(files.size(), 30u);
        EXPECT_EQ(program_kind(files.at("resources\\holvar-service.exe")), "service");
        EXPECT_EQ(program_kind(files.at("holvar-client.exe")), "client");
        EXPECT_EQ(program_kind(files.at("uninstall.exe")), "none");
        EXPECT_EQ(files.at("resources\\holvar-service-install.exe"),
                  std::string(engine.begin(), engine.end()));
        const auto folders = folders_of(files);
        for (size_t i = 0; i < listed.size(); ++i) {
            const auto rel = platform::ascii_to_utf16(listed[i].path);
            SCOPED_TRACE(listed[i].path);
            EXPECT_TRUE(txn::plan::is_safe_relative_name(rel));
            EXPECT_FALSE(txn::plan::is_covered_by(rel, txn::plan::default_generated_items()));
            EXPECT_FALSE(folders.contains(listed[i].path)) << "a file and a folder at once";
            if (i > 0) {
                EXPECT_LT(
                    platform::ascii_icompare(platform::ascii_to_utf16(listed[i - 1].path), rel), 0);
            }
        }
        EXPECT_EQ(files_of(name), files) << "the same bytes on every call";
    }
    EXPECT_FALSE(demo_payload("v4"));
}

// What changed from one payload to the next, as the planner will see it.
struct Changes {
    std::set<std::string> changed, added, dropped, folders_gone, file_to_folder, folder_to_file;
};

Changes changes(const Files& from, const Files& to) {
    Changes c;
    const auto from_folders = folders_of(from);
    const auto to_folders = folders_of(to);
    for (const auto& [path, bytes] : to) {
        if (!from.contains(path)) {
            (from_folders.contains(path) ? c.folder_to_file : c.added).insert(path);
        } else if (from.at(path) != bytes) {
            c.changed.insert(path);
        }
    }
    for (const auto& [path, bytes] : from) {
        if (!to.contains(path))
            (to_folders.contains(path) ? c.file_to_folder : c.dropped).insert(path);
    }
    for (const auto& folder : from_folders) {
        if (!to_folders.contains(folder) && !to.contains(folder)) c.folders_gone.insert(folder);
    }
    return c;
}

TEST(DemoPayloads, LaterVersionsDifferFromTheirBaseAsDescribed) {
    const std::string service = "resources\\holvar-service.exe";
    const Changes upgrade = changes(files_of("v1"), files_of("v2"));
    EXPECT_TRUE(upgrade.changed.contains(service));
    EXPECT_GE(upgrade.changed.size(), 3u);
    EXPECT_GE(upgrade.added.size(), 3u);
    EXPECT_GE(upgrade.dropped.size(), 3u);
    EXPECT_EQ(upgrade.folders_gone, std::set<std::string>{"lib\\legacy"});
    EXPECT_TRUE(upgrade.file_to_folder.empty() && upgrade.folder_to_file.empty());

    const Changes broken = changes(files_of("v2"), files_of("v2-broken"));
    EXPECT_EQ(broken.changed, std::set<std::string>{service});
    EXPECT_TRUE(broken.added.empty() && broken.dropped.empty() && broken.folders_gone.empty());
    EXPECT_NE(files_of("v2-broken").at(service).find(R"({"protocol":2})"), std::string::npos);

    const Changes reshaped = changes(files_of("v2"), files_of("v3-reshaped"));
    EXPECT_EQ(reshaped.file_to_folder, std::set<std::string>{"LICENSE"});
    EXPECT_EQ(reshaped.folder_to_file, std::set<std::string>{"assets\\sounds"});
    EXPECT_TRUE(reshaped.changed.empty());
}

TEST(DemoPayloads, StagingWritesEveryFileWithTheSameIdsOnEveryRun) {
    const std::string txid = "0123456789abcdef0123456789abcdef";
    const std::string payload = R"(C:\Apps\.Holvar-upgrade-)" + txid + R"(\payload)";
    for (const auto name : demo_payload_names()) {
        SCOPED_TRACE(std::string(name));
        // The first payload is staged twice, on two machines.
        std::vector<std::string> trees(name == demo_payload_names()[0] ? 2 : 1);
        for (auto& tree : trees) {
            SimCli cli;
            cli.init();
            const auto staged = cli.run({"stage", cli.machine(), "--root", R"(C:\Apps\Holvar)",
                                         "--txid", txid, "--demo-payload", std::string(name)});
            ASSERT_EQ(staged.exit_code, 0) << staged.err;
            EXPECT_EQ(staged.last_line(),
                      R"(C:\Apps\.Holvar-upgrade-)" + txid + R"(\holvar-service-install.exe)");
            const auto shown = cli.run({"show", cli.machine(), "tree", payload});
            ASSERT_EQ(shown.exit_code, 0) << shown.err;
            tree = shown.out;

            const auto machine = sim::Machine::load(cli.machine()).value();
            const auto listed = demo_payload(name).value();
            EXPECT_NE(staged.out.find("payload " + std::string(name) + ": " +
                                      std::to_string(listed.size()) + " files\n"),
                      std::string::npos);
            size_t files_shown = 0;
            for (size_t at = 0; (at = tree.find("file ", at)) != std::string::npos; ++at) {
                files_shown += at == 0 || tree[at - 1] == '\n';
            }
            EXPECT_EQ(files_shown, listed.size()) << tree;
            for (const auto& file : listed) {
                const auto bytes =
                    machine->read_file(platform::ascii_to_utf16(payload + "\\" + file.path));
                EXPECT_EQ(bytes.value_or(std::vector<uint8_t>{}), file.bytes) << file.path;
            }
        }
        EXPECT_EQ(trees.front(), trees.back());
    }
}

}  // namespace
}  // namespace holvar::e2e
