#include "tree/tree_machine.hpp"

#include <cctype>

#include "platform/sim/registry_model.hpp"
#include "txn/fs/protected_directory.hpp"

namespace holvar::txn::tree::testing {

std::u16string on_c(const std::u16string& path) {
    return u"C:\\" + path;
}

TreeMachine::TreeMachine()
    : machine_(sim::Machine::fresh()), layout_(TreeLayout::of(kRoot, kStage)) {
    // Under a drive root, as the engine makes a root and a setup program a
    // stage: with a protected DACL that lets nobody else change them.
    const std::u16string sddl(fs::kProtectedDirectorySddl);
    EXPECT_TRUE(machine_->make_directory_sddl(kRoot, sddl));
    EXPECT_TRUE(machine_->make_directory_sddl(kStage, sddl));
    EXPECT_TRUE(machine_->make_directory(layout_.payload, admins()));
    restart_engine();
}

void TreeMachine::restart_engine() {
    process_.reset();
    pid_ = machine_->spawn_process(std::u16string(kStage) + u"\\holvar-service-install.exe",
                                   sim::admin_token());
    process_ = std::make_unique<sim::ProcessOs>(*machine_, pid_);
}

void TreeMachine::dir(const std::u16string& path) {
    ASSERT_TRUE(machine_->make_directory(on_c(path), admins())) << narrow(path);
}
void TreeMachine::file(const std::u16string& path, const std::string& text) {
    ASSERT_TRUE(
        machine_->write_file(on_c(path), std::vector<uint8_t>(text.begin(), text.end()), admins()))
        << narrow(path);
}
void TreeMachine::junction(const std::u16string& path, const std::u16string& target) {
    ASSERT_TRUE(machine_->make_junction(on_c(path), target, admins())) << narrow(path);
}
void TreeMachine::remove(const std::u16string& path) {
    ASSERT_TRUE(machine_->remove(on_c(path))) << narrow(path);
}
fs::FileId TreeMachine::id_of(const std::u16string& path) const {
    auto info = machine_->stat(on_c(path));
    EXPECT_TRUE(info) << "nothing at " << narrow(path);
    return info ? fs::FileId::from_bytes(info->file_id) : fs::FileId{};
}
bool TreeMachine::exists(const std::u16string& path) const {
    return machine_->exists(on_c(path));
}
std::string TreeMachine::read(const std::u16string& path) const {
    auto bytes = machine_->read_file(on_c(path));
    if (!bytes) return "<missing>";
    return std::string(bytes->begin(), bytes->end());
}

std::unique_ptr<sim::ProcessOs> TreeMachine::other_process() {
    uint32_t pid = machine_->spawn_process(uR"(C:\Windows\System32\other.exe)", sim::user_token());
    return std::make_unique<sim::ProcessOs>(*machine_, pid);
}

std::vector<std::pair<std::u16string, std::u16string>> TreeMachine::pending_renames() const {
    std::vector<std::pair<std::u16string, std::u16string>> out;
    const sim::RegValue* v = sim::reg_find_value(
        machine_->state().registry, sim::kSessionManagerKey, sim::kPendingRenamesValue);
    if (v == nullptr) return out;
    auto strings = sim::multi_sz_strings(v->data);
    for (size_t i = 0; i + 1 < strings.size(); i += 2) out.emplace_back(strings[i], strings[i + 1]);
    return out;
}

namespace {

void walk(const sim::Machine& m, const std::u16string& dir, const std::string& prefix,
          Snapshot& out) {
    auto entries = m.list(dir);
    if (!entries) return;
    for (const sim::NodeInfo& e : *entries) {
        if (e.name == u"." || e.name == u"..") continue;
        std::string rel = prefix.empty() ? narrow(e.name) : prefix + "\\" + narrow(e.name);
        for (char& c : rel) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::u16string path = dir + u"\\" + e.name;
        Seen seen{e.kind, fs::FileId::from_bytes(e.file_id), "", e.reparse_target};
        if (e.kind == sim::NodeKind::file) {
            auto bytes = m.read_file(path);
            if (bytes) seen.contents.assign(bytes->begin(), bytes->end());
        }
        out[rel] = seen;
        if (e.kind == sim::NodeKind::directory) walk(m, path, rel, out);
    }
}

}  // namespace

Snapshot TreeMachine::snapshot(const std::u16string& base) const {
    Snapshot out;
    walk(*machine_, base, "", out);
    return out;
}

std::map<fs::FileId, int> TreeMachine::ids_under(const std::vector<std::u16string>& bases) const {
    std::map<fs::FileId, int> ids;
    for (const std::u16string& base : bases)
        for (const auto& [rel, seen] : snapshot(base))
            if (seen.kind != sim::NodeKind::directory) ++ids[seen.id];
    return ids;
}

std::string describe(const journal::Op& op) {
    switch (op.type) {
        case journal::OpType::add:
            return "add " + narrow(op.rel);
        case journal::OpType::replace:
            return "replace " + narrow(op.rel);
        case journal::OpType::retire:
            return std::string(op.leaf_kind == journal::LeafKind::file ? "retire file "
                                                                       : "retire reparse ") +
                   narrow(op.rel);
        case journal::OpType::mkdir:
            return "mkdir " + narrow(op.rel);
    }
    return "?";
}

}  // namespace holvar::txn::tree::testing
