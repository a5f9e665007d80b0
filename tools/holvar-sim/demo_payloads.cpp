// The demo payloads as data: one table per version. The first release lists
// every file; every later version lists only how it differs from the version
// it is built on, so the tables say exactly what an upgrade changes.
#include "demo_payloads.hpp"

#include <algorithm>
#include <array>
#include <map>

#include "engine_image.hpp"
#include "platform/sim/programs.hpp"

namespace holvar::simtool {
namespace {

enum class Source : uint8_t {
    text,     // `text`, as it stands
    blob,     // `size` bytes of a pattern seeded by the path and `text` (a build label)
    program,  // a simulated program: the marker line, then `text`, its description
    engine,   // the engine's image, the same bytes the stage directory gets
    drop,     // (a later version only) the file goes, or the folder with all it holds
};

struct Row {
    std::string_view path;
    Source source;
    std::string_view text = {};
    uint32_t size = 0;
};

// A program's "build" key is read by nothing: it only makes each release's image
// differ from the last, as a rebuilt executable does. The service makes its data
// and log folders under the root by default.
constexpr Row kV1[] = {
    {"uninstall.exe", Source::text,
     "holvar-sim image: uninstall.exe, the Holvar uninstaller 1.4.0\n"},
    {"holvar-client.exe", Source::program, R"({"kind":"client","exit_code":0,"build":"1.4.0"})"},
    {"holvar-mihomo.exe", Source::text,
     "holvar-sim image: holvar-mihomo.exe, the companion engine 1.18 (never started here)\n"},
    {"LICENSE", Source::text, "Holvar desktop runtime. Copyright the Holvar authors.\n"},
    {"README.txt", Source::text, "Holvar 1.4.0: start Holvar from the Start menu.\n"},
    {"resources\\holvar-service.exe", Source::program, R"({"kind":"service","build":"1.4.0"})"},
    {"resources\\holvar-service-install.exe", Source::engine},
    {"resources\\geoip.dat", Source::blob, "2026.01", 12288},
    {"resources\\rules\\default.yaml", Source::text,
     "# routing rules shipped with the runtime\ndefault: direct\n"},
    {"resources\\rules\\privacy.yaml", Source::text, "# privacy rules\nblock: [ads.example]\n"},
    {"config\\defaults.json", Source::text, R"({"autostart":true,"tun":false,"log_level":"info"})"},
    {"config\\schema.json", Source::text,
     R"({"autostart":"bool","tun":"bool","log_level":"text"})"},
    {"locales\\en\\common.json", Source::text, R"({"connect":"Connect","quit":"Quit"})"},
    {"locales\\en\\settings.json", Source::text, R"({"title":"Settings","tun":"TUN mode"})"},
    {"locales\\en\\tray.json", Source::text, R"({"connected":"Connected","off":"Off"})"},
    {"locales\\de\\common.json", Source::text, R"({"connect":"Verbinden","quit":"Beenden"})"},
    {"locales\\de\\settings.json", Source::text, R"({"title":"Einstellungen","tun":"TUN"})"},
    {"locales\\de\\tray.json", Source::text, R"({"connected":"Verbunden","off":"Aus"})"},
    {"locales\\fr\\common.json", Source::text, R"({"connect":"Connecter","quit":"Quitter"})"},
    {"locales\\fr\\settings.json", Source::text, R"({"title":"Reglages","tun":"Mode TUN"})"},
    {"locales\\fr\\tray.json", Source::text, R"({"connected":"Connecte","off":"Arrete"})"},
    {"locales\\ja\\common.json", Source::text, R"({"connect":"setsuzoku","quit":"shuuryou"})"},
    {"locales\\ja\\tray.json", Source::text, R"({"connected":"setsuzoku-chuu","off":"ofu"})"},
    {"assets\\icons\\app.ico", Source::blob, "1.4.0", 4286},
    {"assets\\icons\\tray-connected.png", Source::blob, "1.4.0", 1532},
    {"assets\\icons\\tray-disconnected.png", Source::blob, "1.4.0", 1498},
    {"assets\\icons\\tray-error.png", Source::blob, "1.4.0", 1610},
    {"assets\\fonts\\ui-regular.ttf", Source::blob, "3.19", 9000},
    {"assets\\fonts\\ui-bold.ttf", Source::blob, "3.19", 9200},
    {"assets\\sounds\\connect.wav", Source::blob, "1.0", 3000},
    {"assets\\sounds\\disconnect.wav", Source::blob, "1.0", 3100},
    {"lib\\core\\runtime.dll", Source::blob, "1.4.0", 16384},
    {"lib\\core\\network.dll", Source::blob, "1.4.0", 12000},
    {"lib\\core\\crypto.dll", Source::blob, "1.4.0", 10000},
    {"lib\\ui\\widgets.dll", Source::blob, "1.4.0", 8192},
    {"lib\\ui\\themes\\dark.json", Source::text, R"({"background":"#202020"})"},
    {"lib\\ui\\themes\\light.json", Source::text, R"({"background":"#f8f8f8"})"},
    {"lib\\legacy\\compat.dll", Source::blob, "1.4.0", 4096},
    {"lib\\legacy\\shim.dll", Source::blob, "1.4.0", 2048},
};

// The upgrade: changed programs and data, a new locale and theme, three files
// and the folder lib\legacy gone.
constexpr Row kV2[] = {
    {"uninstall.exe", Source::text,
     "holvar-sim image: uninstall.exe, the Holvar uninstaller 2.0.0\n"},
    {"holvar-client.exe", Source::program, R"({"kind":"client","exit_code":0,"build":"2.0.0"})"},
    {"resources\\holvar-service.exe", Source::program, R"({"kind":"service","build":"2.0.0"})"},
    {"resources\\geoip.dat", Source::blob, "2026.03", 12800},
    {"config\\defaults.json", Source::text,
     R"({"autostart":true,"tun":false,"log_level":"info","updates":"auto"})"},
    {"locales\\en\\common.json", Source::text, R"({"connect":"Connect","quit":"Quit Holvar"})"},
    {"lib\\core\\runtime.dll", Source::blob, "2.0.0", 17408},
    {"lib\\core\\network.dll", Source::blob, "2.0.0", 12000},
    {"lib\\core\\metrics.dll", Source::blob, "2.0.0", 6144},
    {"locales\\es\\common.json", Source::text, R"({"connect":"Conectar","quit":"Salir"})"},
    {"locales\\es\\settings.json", Source::text, R"({"title":"Ajustes","tun":"Modo TUN"})"},
    {"locales\\es\\tray.json", Source::text, R"({"connected":"Conectado","off":"Apagado"})"},
    {"assets\\icons\\tray-updating.png", Source::blob, "2.0.0", 1544},
    {"lib\\ui\\themes\\high-contrast.json", Source::text, R"({"background":"#000000"})"},
    {"README.txt", Source::drop},
    {"assets\\icons\\tray-error.png", Source::drop},
    {"resources\\rules\\privacy.yaml", Source::drop},
    {"lib\\legacy", Source::drop},
};

// The upgrade with a service that speaks protocol 2: every request of its
// process is answered so (a verification sends two, a retry a few more).
constexpr Row kV2Broken[] = {
    {"resources\\holvar-service.exe", Source::program,
     R"({"kind":"service","build":"2.0.0-protocol-2","v3":{"replies":[)"
     R"({"protocol":2},{"protocol":2},{"protocol":2},{"protocol":2},)"
     R"({"protocol":2},{"protocol":2},{"protocol":2},{"protocol":2}]}})"},
};

// The upgrade with two objects that change kind: a file becomes a folder and a
// folder becomes a file, both under the same names.
constexpr Row kV3Reshaped[] = {
    {"LICENSE", Source::drop},
    {"LICENSE\\holvar.txt", Source::text,
     "Holvar desktop runtime. Copyright the Holvar authors.\n"},
    {"LICENSE\\third-party.txt", Source::text,
     "Bundled fonts and sounds: under their own licences.\n"},
    {"assets\\sounds", Source::drop},
    {"assets\\sounds", Source::blob, "sound-pack-3", 6200},
};

struct Version {
    std::string_view name;
    std::string_view base;  // empty: the rows are the whole payload
    std::span<const Row> rows;
};

constexpr std::array<Version, 4> kVersions{{
    {"v1", "", kV1},
    {"v2", "v1", kV2},
    {"v2-broken", "v2", kV2Broken},
    {"v3-reshaped", "v2", kV3Reshaped},
}};

constexpr std::array<std::string_view, 4> kNames{kVersions[0].name, kVersions[1].name,
                                                 kVersions[2].name, kVersions[3].name};

// ASCII case folding; every other byte compares as an unsigned value.
uint8_t fold(char c) {
    const auto b = static_cast<uint8_t>(c);
    return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b - 'A' + 'a') : b;
}

// ASCII case folding, as the planner compares relative paths.
struct FoldedLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return fold(x) < fold(y); });
    }
};

bool folded_starts_with(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char x, char y) { return fold(x) == fold(y); });
}

using Tree = std::map<std::string, std::vector<uint8_t>, FoldedLess>;

// A fixed pseudo-random pattern (FNV-1a of the seed text, then xorshift64): the
// same bytes on every run, unlike each other from file to file.
std::vector<uint8_t> pattern(std::string_view seed, uint32_t size) {
    uint64_t state = 0xcbf29ce484222325ULL;
    for (const char c : seed) state = (state ^ static_cast<uint8_t>(c)) * 0x100000001b3ULL;
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::vector<uint8_t> bytes_of(const Row& row) {
    switch (row.source) {
        case Source::text:
            return {row.text.begin(), row.text.end()};
        case Source::blob:
            return pattern(std::string(row.path) + "|" + std::string(row.text), row.size);
        case Source::program: {
            std::vector<uint8_t> bytes(sim::kProgramMarker.begin(), sim::kProgramMarker.end());
            bytes.insert(bytes.end(), row.text.begin(), row.text.end());
            return bytes;
        }
        case Source::engine:
            return engine_image_bytes();
        case Source::drop:
            break;
    }
    return {};
}

void apply_rows(Tree& tree, std::span<const Row> rows) {
    for (const Row& row : rows) {
        const std::string path(row.path);
        if (row.source != Source::drop) {
            tree[path] = bytes_of(row);
            continue;
        }
        tree.erase(path);
        const std::string folder = path + "\\";
        for (auto it = tree.lower_bound(folder);
             it != tree.end() && folded_starts_with(it->first, folder);) {
            it = tree.erase(it);
        }
    }
}

std::optional<Tree> build(std::string_view name) {
    const auto version = std::find_if(kVersions.begin(), kVersions.end(),
                                      [&](const Version& v) { return v.name == name; });
    if (version == kVersions.end()) return std::nullopt;
    Tree tree;
    if (!version->base.empty()) tree = *build(version->base);
    apply_rows(tree, version->rows);
    return tree;
}

}  // namespace

std::span<const std::string_view> demo_payload_names() {
    return kNames;
}

std::optional<std::vector<DemoFile>> demo_payload(std::string_view name) {
    auto tree = build(name);
    if (!tree) return std::nullopt;
    std::vector<DemoFile> files;
    files.reserve(tree->size());
    for (auto& [path, bytes] : *tree) files.push_back({path, std::move(bytes)});
    return files;
}

}  // namespace holvar::simtool
