// The plan over many random installed and payload trees, applied to a model of
// the installed tree: it must give the payload (generated items aside), and
// its operations must come in an order that placement can carry out.
#include <gtest/gtest.h>

#include <random>

#include "plan_support.hpp"
#include "txn/plan/name_rules.hpp"

namespace holvar::txn::plan {
namespace {

using namespace testing;
using journal::LeafKind;
using journal::Op;
using journal::OpType;

// Names chosen to collide: case variants, the uninstaller, the generated items.
const std::u16string name_pool[] = {u"a",
                                    u"A",
                                    u"b",
                                    u"Lib",
                                    u"lib",
                                    u"data",
                                    u"DATA",
                                    u"x.dll",
                                    u"X.DLL",
                                    u"uninstall.exe",
                                    u"Uninstall.exe",
                                    u"service-logs",
                                    u".holvar-service-v3",
                                    u"res",
                                    u"z"};

// A random tree: every entry's ancestors are directories of the tree.
void grow(std::mt19937_64& rng, TreeInventory& tree, const std::u16string& prefix, int depth,
          bool links, uint64_t& next_id) {
    size_t children = rng() % 5;
    for (size_t i = 0; i < children; ++i) {
        const std::u16string& name = name_pool[rng() % std::size(name_pool)];
        std::u16string path = prefix.empty() ? name : prefix + u'\\' + name;
        if (tree.contains(path)) continue;  // a case variant of a sibling
        unsigned roll = rng() % 10;
        EntryKind kind = roll < 5               ? EntryKind::file
                         : (links && roll == 9) ? EntryKind::reparse
                                                : EntryKind::directory;
        if (depth >= 3 && kind == EntryKind::directory) kind = EntryKind::file;
        tree.emplace(path, TreeEntry{kind, fs::FileId{0, next_id++}});
        if (kind == EntryKind::directory) grow(rng, tree, path, depth + 1, links, next_id);
    }
}

// The installed tree as placement would change it, one operation at a time.
class TreeModel {
  public:
    explicit TreeModel(const TreeInventory& installed) : tree_(installed) {}

    // Applies `op`; false when placement could not carry it out here.
    bool apply(const Op& op, const TreeInventory& payload, std::string& why) {
        auto at = tree_.find(op.rel);
        bool parent_ok = parent_is_directory(op.rel);
        switch (op.type) {
            case OpType::retire: {
                EntryKind kind =
                    op.leaf_kind == LeafKind::file ? EntryKind::file : EntryKind::reparse;
                if (at == tree_.end() || at->second.kind != kind ||
                    at->second.file_id != op.old_id) {
                    why = "retire of an object that is not there";
                    return false;
                }
                tree_.erase(at);
                return true;
            }
            case OpType::mkdir:
                if (at != tree_.end() || !parent_ok) {
                    why = "mkdir onto an object or below a missing directory";
                    return false;
                }
                tree_.emplace(op.rel, TreeEntry{EntryKind::directory, {}});
                return true;
            case OpType::add:
            case OpType::replace: {
                auto source = payload.find(op.rel);
                if (source == payload.end() || source->second.kind != EntryKind::file ||
                    source->second.file_id != op.new_id) {
                    why = "placing something the payload does not hold";
                    return false;
                }
                if (!parent_ok) {
                    why = "placing below a missing directory";
                    return false;
                }
                if (op.type == OpType::add) {
                    if (at != tree_.end()) {
                        why = "add onto an existing object";
                        return false;
                    }
                    tree_.emplace(op.rel, TreeEntry{EntryKind::file, op.new_id});
                } else {
                    if (at == tree_.end() || at->second.kind != EntryKind::file ||
                        at->second.file_id != op.old_id) {
                        why = "replace of an object that is not there";
                        return false;
                    }
                    at->second.file_id = op.new_id;
                }
                return true;
            }
        }
        return false;
    }

    const TreeInventory& tree() const { return tree_; }

  private:
    bool parent_is_directory(const std::u16string& rel) const {
        size_t cut = rel.rfind(u'\\');
        if (cut == std::u16string::npos) return true;
        auto parent = tree_.find(std::u16string_view(rel).substr(0, cut));
        return parent != tree_.end() && parent->second.kind == EntryKind::directory;
    }

    TreeInventory tree_;
};

TreeInventory without(const TreeInventory& tree, const std::vector<std::u16string>& generated) {
    TreeInventory out;
    for (const auto& [path, entry] : tree) {
        if (!is_covered_by(path, generated)) out.emplace(path, entry);
    }
    return out;
}

// Directories keep no identity in the model: compare kinds for them.
bool same_tree(const TreeInventory& a, const TreeInventory& b) {
    if (a.size() != b.size()) return false;
    for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
        if (platform::ascii_icompare(x->first, y->first) != 0) return false;
        if (x->second.kind != y->second.kind) return false;
        if (x->second.kind != EntryKind::directory && x->second.file_id != y->second.file_id) {
            return false;
        }
    }
    return true;
}

// Whether some path holds a file on one side and a directory on the other.
bool has_kind_clash(const TreeInventory& target, const TreeInventory& installed) {
    for (const auto& [path, t] : target) {
        auto i = installed.find(path);
        if (i == installed.end() || i->second.kind == EntryKind::reparse) continue;
        if ((t.kind == EntryKind::directory) != (i->second.kind == EntryKind::directory))
            return true;
    }
    return false;
}

bool is_placement(const Op& op) {
    return op.type != OpType::retire;
}

TEST(PlanProperty, RandomTreesApplyToThePayload) {
    const auto generated = default_generated_items();
    std::mt19937_64 rng(4242);
    int planned = 0, clashes = 0;
    for (int round = 0; round < 3000; ++round) {
        TreeInventory installed, payload;
        uint64_t next_id = 1;
        grow(rng, installed, u"", 0, true, next_id);
        next_id = 1000;
        grow(rng, payload, u"", 0, false, next_id);

        auto plan = compute_plan(payload, installed, generated);
        TreeInventory target = without(payload, generated);
        if (has_kind_clash(target, without(installed, generated))) {
            ASSERT_FALSE(plan) << round;
            EXPECT_EQ(plan.error().code, PlanErrorCode::conflict);
            ++clashes;
            continue;
        }
        ASSERT_TRUE(plan) << round << " " << narrow(plan.error().path);
        ++planned;

        // Applying the plan gives the payload outside the generated items,
        // plus the stale directories, which finalize removes.
        TreeModel model(installed);
        std::string why;
        for (const Op& op : plan->ops) {
            ASSERT_TRUE(model.apply(op, payload, why))
                << round << ": " << describe(op) << ": " << why;
            EXPECT_FALSE(is_covered_by(op.rel, generated)) << "touches a generated item";
        }
        TreeInventory result = without(model.tree(), generated);
        for (const auto& stale : plan->stale_directories) {
            auto it = result.find(stale);
            ASSERT_NE(it, result.end());
            EXPECT_EQ(it->second.kind, EntryKind::directory);
            EXPECT_TRUE(!target.contains(stale));
            result.erase(it);
        }
        EXPECT_TRUE(same_tree(result, target)) << round;
        // Generated items are exactly as installed.
        for (const auto& [path, entry] : installed) {
            if (!is_covered_by(path, generated)) continue;
            auto it = model.tree().find(path);
            ASSERT_NE(it, model.tree().end());
            EXPECT_EQ(it->second, entry);
        }

        // Order: reparse points on target paths leave before anything is
        // placed; the uninstaller comes before every other placement; all
        // other retirements come after every placement.
        size_t first_placement = plan->ops.size(), last_placement = 0;
        for (size_t i = 0; i < plan->ops.size(); ++i) {
            if (!is_placement(plan->ops[i])) continue;
            first_placement = std::min(first_placement, i);
            last_placement = i;
        }
        for (size_t i = 0; i < plan->ops.size(); ++i) {
            const Op& op = plan->ops[i];
            if (op.type == OpType::retire) {
                bool on_target = target.contains(op.rel);
                if (on_target) {
                    EXPECT_EQ(op.leaf_kind, LeafKind::reparse);
                    EXPECT_LT(i, first_placement) << describe(op);
                } else if (first_placement < plan->ops.size()) {
                    EXPECT_GT(i, last_placement) << describe(op);
                }
            }
            bool places_file = op.type == OpType::add || op.type == OpType::replace;
            if (platform::ascii_iequal(op.rel, u"uninstall.exe") && places_file) {
                EXPECT_EQ(i, first_placement) << "uninstaller not placed first";
            }
        }
    }
    // The generator must exercise both outcomes.
    EXPECT_GT(planned, 1000);
    EXPECT_GT(clashes, 100);
}

}  // namespace
}  // namespace holvar::txn::plan
