#include "platform/sim/contract_capture.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/win_path.hpp"

namespace holvar::sim {

namespace {

// "journal" or "report" by the file's name; none for anything else.
const char* contract_kind(const std::u16string& target) {
    std::optional<std::u16string> name = platform::file_name(target);
    if (!name) return nullptr;
    if (platform::ascii_iequal(*name, u"txn.json")) return "journal";
    if (name->starts_with(u"engine-") && name->ends_with(u".json")) return "report";
    return nullptr;
}

}  // namespace

void capture_contract_file(const Machine& machine, const std::u16string& image,
                           const std::u16string& target) {
    const char* folder = std::getenv("HOLVAR_CONTRACT_CAPTURE");
    if (folder == nullptr || *folder == '\0') return;
    std::optional<std::u16string> program = platform::file_name(image);
    if (!program || !platform::ascii_iequal(*program, u"holvar-service-install.exe")) return;
    const char* kind = contract_kind(target);
    if (kind == nullptr) return;
    auto bytes = machine.read_file(target);
    if (!bytes) return;
    // Named after their contents: the same journal written by a thousand
    // runs of a crash sweep is checked once.
    std::string text(bytes->begin(), bytes->end());
    char name[32];
    std::snprintf(name, sizeof name, "%016zx.json", std::hash<std::string>{}(text));
    std::filesystem::path dir = std::filesystem::path(folder) / kind;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace holvar::sim
