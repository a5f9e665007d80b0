#include "tree/random_plans.hpp"

#include <array>
#include <random>

#include "txn/plan/compute_plan.hpp"
#include "txn/plan/name_rules.hpp"
#include "txn/plan/scan_tree.hpp"

namespace holvar::txn::tree::testing {

namespace {

enum class Kind { none, file, dir, junction };

const std::array<std::vector<std::u16string>, 3> kNames = {{
    {u"a", u"Bin", u"uninstall.exe", u"f.txt", u"j", u"data"},
    {u"x", u"Y.dll", u"z", u"k"},
    {u"p", u"q.txt"},
}};

Kind pick(std::mt19937_64& rng, std::array<int, 4> weights) {
    int total = weights[0] + weights[1] + weights[2] + weights[3];
    int r = static_cast<int>(rng() % static_cast<uint64_t>(total));
    for (int k = 0; k < 4; ++k) {
        if (r < weights[k]) return static_cast<Kind>(k);
        r -= weights[k];
    }
    return Kind::none;
}

std::u16string upper_first(std::u16string s) {
    if (!s.empty() && s[0] >= u'a' && s[0] <= u'z') s[0] = static_cast<char16_t>(s[0] - 32);
    return s;
}

void make(TreeMachine& m, const std::u16string& base, const std::u16string& rel, Kind kind,
          const std::string& tag) {
    std::u16string path = base + u"\\" + rel;
    switch (kind) {
        case Kind::file:
            m.file(path, tag + narrow(rel));
            break;
        case Kind::dir:
            m.dir(path);
            break;
        case Kind::junction:
            m.junction(path, uR"(C:\Elsewhere)");
            break;
        case Kind::none:
            break;
    }
}

void grow(TreeMachine& m, std::mt19937_64& rng, size_t depth, const std::u16string& inst_prefix,
          const std::u16string& pay_prefix, bool inst_dir, bool pay_dir) {
    if (depth >= kNames.size()) return;
    for (const std::u16string& name : kNames[depth]) {
        Kind inst = inst_dir ? pick(rng, {35, 30, 25, 10}) : Kind::none;
        Kind pay = pay_dir ? pick(rng, {30, 40, 30, 0}) : Kind::none;
        bool clash =
            (inst == Kind::file && pay == Kind::dir) || (inst == Kind::dir && pay == Kind::file);
        if (clash) pay = Kind::none;
        // Now and then the payload spells an installed name in another case.
        std::u16string pay_name = rng() % 5 == 0 ? upper_first(name) : name;
        std::u16string inst_rel = inst_prefix.empty() ? name : inst_prefix + u"\\" + name;
        std::u16string pay_rel = pay_prefix.empty() ? pay_name : pay_prefix + u"\\" + pay_name;
        make(m, u"Holvar", inst_rel, inst, "installed ");
        make(m, std::u16string(kStage).substr(3) + u"\\payload", pay_rel, pay, "payload ");
        if (inst == Kind::dir || pay == Kind::dir)
            grow(m, rng, depth + 1, inst_rel, pay_rel, inst == Kind::dir, pay == Kind::dir);
    }
}

}  // namespace

void build_random_trees(TreeMachine& m, uint64_t seed) {
    std::mt19937_64 rng(seed);
    m.dir(u"Elsewhere");
    m.file(u"Elsewhere\\precious.txt", "precious");
    grow(m, rng, 0, u"", u"", true, true);
}

RandomPlan plan_of(TreeMachine& m) {
    auto generated = plan::default_generated_items();
    auto installed = plan::scan_tree(m.os(), kRoot, generated);
    auto payload = plan::scan_tree(m.os(), m.layout().payload, {});
    if (!installed || !payload) return {};
    auto plan = plan::compute_plan(*payload, *installed, generated);
    if (!plan) return {};
    return RandomPlan{true, std::move(plan->ops)};
}

std::map<fs::FileId, int> ids_before(const TreeMachine& m) {
    return m.ids_under({kRoot, m.layout().payload});
}

std::vector<std::string> lost_ids(const TreeMachine& m, const std::map<fs::FileId, int>& before) {
    auto after = m.ids_under({kRoot, m.layout().payload, m.layout().rollback, m.layout().trash});
    std::vector<std::string> lost;
    for (const auto& [id, count] : before)
        if (!after.contains(id)) lost.push_back(id.to_hex());
    return lost;
}

}  // namespace holvar::txn::tree::testing
