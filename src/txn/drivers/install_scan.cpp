#include "txn/drivers/install_scan.hpp"

#include "managed_v3/identity/path_walk.hpp"
#include "platform/unicode.hpp"
#include "platform/win_path.hpp"
#include "txn/drivers/run_support.hpp"
#include "txn/fs/handle_ops.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/protected_directory.hpp"
#include "txn/fs/root_identity.hpp"
#include "txn/fs/trusted_directory.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/fs/volume.hpp"
#include "txn/plan/compute_plan.hpp"
#include "txn/plan/name_rules.hpp"
#include "txn/plan/scan_tree.hpp"
#include "txn/registry/registry.hpp"
#include "txn/tree/tree_layout.hpp"

namespace holvar::txn::drivers {

namespace p = platform;
using fs::ObjectKind;

namespace {

using Scan = std::optional<ScanFailure>;

Scan refuse(FaultReason reason) {
    return ScanFailure{ScanDisposition::refuse, reason, std::nullopt};
}

// What the scan learns and the later steps of the scan use.
struct ScanState {
    bool root_exists = false;
    plan::TreeInventory payload;
    plan::TreeInventory installed;
    plan::Plan plan;
};

// The root is absent, or a trusted directory; and before anything changes,
// the path to the service's image must be one that nobody but the system and
// the administrators can change: the root's parent, and the root and its
// "resources" folder when present. A folder above the root that ordinary
// users may write would otherwise fail every identity check of the service
// later, when a stopped or unverified service could no longer be handled.
Scan check_root(p::Os& os, const TransactionContext& ctx, ScanState& state) {
    auto probe = fs::probe_path(os, ctx.root);
    if (!probe) return refuse(FaultReason::unsafe_object);
    if (probe->kind == ObjectKind::directory) {
        if (!fs::is_trusted_directory(os, ctx.root)) return refuse(FaultReason::unsafe_object);
        state.root_exists = true;
    } else if (probe->kind != ObjectKind::absent) {
        return refuse(FaultReason::unsafe_object);
    }
    std::optional<std::u16string> parent = p::parent_path(ctx.root);
    if (!parent || !v3::walk_trusted_path(os, *parent)) return refuse(FaultReason::unsafe_object);
    if (state.root_exists) {
        if (!v3::walk_trusted_path(os, ctx.root)) return refuse(FaultReason::unsafe_object);
        std::u16string resources = p::join_path(ctx.root, u"resources");
        auto folder = fs::probe_path(os, resources);
        if (!folder) return refuse(FaultReason::unsafe_object);
        if (folder->kind != ObjectKind::absent && !v3::walk_trusted_path(os, resources))
            return refuse(FaultReason::unsafe_object);
    }
    return std::nullopt;
}

// The directory at `path` opens as the directory it is.
bool is_checked_directory(p::Os& os, const std::u16string& path) {
    auto handle = fs::open_object(os, path, fs::kPinAccess, fs::kPinShare);
    if (!handle) return false;
    auto identity = fs::read_identity(os, *handle);
    if (!identity || identity->kind != ObjectKind::directory) return false;
    return fs::verify_handle(os, *handle, *identity, ObjectKind::directory, identity->id, path)
        .has_value();
}

Scan check_volume_and_restart(p::Os& os, const TransactionContext& ctx) {
    std::optional<std::u16string> parent = p::parent_path(ctx.root);
    if (!parent) return refuse(FaultReason::unsafe_object);
    auto supported = fs::check_volume_capabilities(os, *parent);
    if (!supported || !*supported) return refuse(FaultReason::volume_unsupported);
    auto pending = registry::registry_pending_renames(os);
    if (!pending) return refuse(FaultReason::registry_failed);
    if (registry::pending_renames_touch(*pending, ctx.root))
        return ScanFailure{ScanDisposition::restart_first, FaultReason::pending_reboot_ops,
                           std::nullopt};
    return std::nullopt;
}

// Each payload file is opened for writing (no one may be writing it then),
// must be the plain file the scan saw, is counted, and reaches disk now: the
// placement only renames it. A moved file keeps its own security, so it must
// be one that nobody but the system and the administrators may change, with
// no second name elsewhere: once in the root it is the service's image or a
// library it loads.
p::Status flush_payload_file(p::Os& os, const std::u16string& path, const fs::FileId& id,
                             uint64_t& bytes) {
    auto handle = fs::open_object(os, path, fs::kFlushFileAccess | p::READ_CONTROL);
    if (!handle) return std::unexpected(handle.error());
    if (auto same = fs::verify_handle(os, *handle, ObjectKind::file, id, path); !same) return same;
    auto info = os.files.get_file_information_by_handle(*handle);
    if (!info) return std::unexpected(info.error());
    if (info->number_of_links != 1) return p::foreign_identity();
    if (auto trusted = fs::is_trusted_object(os, *handle); !trusted) return trusted;
    uint64_t size = info->file_size();
    if (bytes + size < bytes) return p::invalid_data("payload too large");
    bytes += size;
    return os.files.flush_file_buffers(*handle);
}

Scan scan_trees(p::Os& os, TransactionContext& ctx, ScanState& state) {
    tree::TreeLayout layout = tree::TreeLayout::of(ctx.root, ctx.stage_dir);
    auto payload = plan::scan_tree(os, layout.payload, {});
    if (!payload) return refuse(FaultReason::unsafe_object);
    state.payload = std::move(*payload);
    ctx.payload_bytes = 0;
    for (const auto& [rel, entry] : state.payload) {
        if (entry.kind != plan::EntryKind::file) continue;
        if (!flush_payload_file(os, p::join_path(layout.payload, rel), entry.file_id,
                                ctx.payload_bytes)) {
            ScanFailure failed{ScanDisposition::refuse, FaultReason::unsafe_object, std::nullopt};
            failed.rel = p::join_path(tree::kPayloadFolder, rel);
            return failed;
        }
    }
    if (state.root_exists) {
        auto installed = plan::scan_tree(os, ctx.root, plan::default_generated_items());
        if (!installed) return refuse(FaultReason::unsafe_object);
        state.installed = std::move(*installed);
    }
    auto planned =
        plan::compute_plan(state.payload, state.installed, plan::default_generated_items());
    if (!planned)
        return refuse(planned.error().code == plan::PlanErrorCode::conflict
                          ? FaultReason::kind_mismatch
                          : FaultReason::unsafe_object);
    state.plan = std::move(*planned);
    ctx.stale_directories = state.plan.stale_directories;
    // The plan is all the later steps need: the two inventories go before the
    // journal's text is made, so the three are never held at once.
    state.payload = {};
    state.installed = {};
    return std::nullopt;
}

// The generated items the old service had made: a rollback must leave them,
// and take away only what the new service made.
p::Result<std::vector<std::u16string>> generated_items_present(p::Os& os,
                                                               const std::u16string& root,
                                                               bool root_exists) {
    std::vector<std::u16string> present;
    if (!root_exists) return present;
    for (const std::u16string& item : plan::default_generated_items()) {
        auto probe = fs::probe_path(os, p::join_path(root, item));
        if (!probe) return std::unexpected(probe.error());
        if (probe->kind != ObjectKind::absent) present.push_back(item);
    }
    return present;
}

Scan write_journal(p::Os& os, TransactionContext& ctx, const scm::ScmSnapshot& service,
                   ScanState& state) {
    auto root = fs::capture_root_identity(os, ctx.root, state.root_exists);
    auto stage = fs::capture_root_identity(os, ctx.stage_dir, true);
    auto generated = generated_items_present(os, ctx.root, state.root_exists);
    if (!root || !stage || !generated) return refuse(FaultReason::unsafe_object);
    journal::Journal j;
    j.kind = journal::JournalKind::apply;
    j.txid = ctx.txid;
    j.engine_version = std::string(journal::engine_version);
    j.root = std::move(*root);
    j.stage = std::move(*stage);
    j.scm_before = service.config;
    j.service_running_before = service.running;
    j.generated_before = std::move(*generated);
    j.ops = std::move(state.plan.ops);
    ctx.journal = std::move(j);
    if (!write_mark(os, ctx, journal::MarkKind::planned))
        return refuse(FaultReason::journal_write_failed);
    return std::nullopt;
}

// A root this run created and could not record is deleted again at once: no
// journal would ever name it for a rollback.
// When even its identity could not be read, the folder at the path is
// deleted only while it is still a folder (not a link) and empty: the one
// this run has just made, with nothing in it yet.
void delete_unrecorded_root(p::Os& os, const std::u16string& root,
                            const std::optional<fs::FileId>& id) {
    auto handle = fs::open_object(os, root, fs::kRenameDeleteAccess);
    if (!handle) return;
    if (id) {
        if (!fs::verify_handle(os, *handle, ObjectKind::directory, *id, root)) return;
    } else {
        auto identity = fs::read_identity(os, *handle);
        if (!identity || identity->kind != ObjectKind::directory) return;
    }
    (void)fs::delete_by_handle(os, *handle);  // a folder with entries is refused
}

Scan create_root(p::Os& os, TransactionContext& ctx) {
    if (!fs::create_protected_directory(os, ctx.root)) return refuse(FaultReason::unsafe_object);
    auto handle = fs::open_object(os, ctx.root, fs::kProbeAccess);
    auto identity = handle ? fs::read_identity(os, *handle)
                           : p::Result<fs::ObjectIdentity>(std::unexpected(handle.error()));
    if (handle) handle->reset();
    if (!identity || identity->kind != ObjectKind::directory) {
        delete_unrecorded_root(os, ctx.root, std::nullopt);
        return refuse(FaultReason::unsafe_object);
    }
    if (!write_mark(os, ctx, journal::Mark::root_created(identity->id))) {
        delete_unrecorded_root(os, ctx.root, identity->id);
        return refuse(FaultReason::journal_write_failed);
    }
    return std::nullopt;
}

}  // namespace

std::optional<ScanFailure> scan_and_plan(p::Os& os, TransactionContext& ctx,
                                         const scm::ScmSnapshot& service) {
    ScanState state;
    if (Scan failed = check_root(os, ctx, state)) return failed;
    if (!is_checked_directory(os, ctx.stage_dir) ||
        (state.root_exists && !is_checked_directory(os, ctx.root)))
        return refuse(FaultReason::unsafe_object);
    if (Scan failed = check_volume_and_restart(os, ctx)) return failed;
    if (Scan failed = scan_trees(os, ctx, state)) return failed;
    if (Scan failed = write_journal(os, ctx, service, state)) return failed;
    if (!state.root_exists) return create_root(os, ctx);
    return std::nullopt;
}

}  // namespace holvar::txn::drivers
