// Planning and journal cost as the runtime grows: the plan for n payload
// entries against n installed ones (half of them changed), and writing plus
// reading back the journal that holds it.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "txn/journal/journal_codec.hpp"
#include "txn/plan/compute_plan.hpp"
#include "txn/plan/name_rules.hpp"

namespace {

using holvar::txn::fs::FileId;
using namespace holvar::txn;

std::u16string decimal(size_t v) {
    std::string text = std::to_string(v);
    return std::u16string(text.begin(), text.end());
}

// n entries in folders of 100: "lib\dNNNN\" + name. The installed tree shares
// the first half of the payload's names (replaced); its other half has names
// the payload lacks (retired), and the payload's other half is new (added).
plan::TreeInventory make_tree(size_t n, bool installed) {
    plan::TreeInventory tree;
    uint64_t id = installed ? 1 : (uint64_t{1} << 40);
    tree.emplace(u"lib", plan::TreeEntry{plan::EntryKind::directory, FileId{0, id++}});
    for (size_t i = 0; i < n; ++i) {
        std::u16string folder = u"lib\\d" + decimal(i / 100);
        if (i % 100 == 0) {
            tree.emplace(folder, plan::TreeEntry{plan::EntryKind::directory, FileId{0, id++}});
        }
        std::u16string name = decimal(i);
        bool changed = i >= n / 2;
        name = (changed && installed ? u"old-module-" : u"module-") + name + u".dll";
        tree.emplace(folder + u'\\' + name,
                     plan::TreeEntry{plan::EntryKind::file, FileId{0, id++}});
    }
    return tree;
}

void BM_ComputePlan(benchmark::State& state) {
    size_t n = static_cast<size_t>(state.range(0));
    auto payload = make_tree(n, false);
    auto installed = make_tree(n, true);
    auto generated = plan::default_generated_items();
    for (auto _ : state) {
        auto result = plan::compute_plan(payload, installed, generated);
        if (!result) state.SkipWithError("plan failed");
        benchmark::DoNotOptimize(result);
    }
    state.SetComplexityN(static_cast<int64_t>(n));
}

// The journal of an upgrade planned from the benchmark's trees.
std::optional<journal::Journal> planned_journal(size_t n) {
    auto result = plan::compute_plan(make_tree(n, false), make_tree(n, true),
                                     plan::default_generated_items());
    if (!result) return std::nullopt;
    journal::Journal j;
    j.txid = "0123456789abcdef0123456789abcdef";
    j.engine_version = "3.0.0";
    j.root = {u"C:\\Program Files\\Holvar", 0x1234abcd5678ef90, FileId{1, 2}};
    j.stage = {u"C:\\Program Files\\.Holvar-upgrade-0123456789abcdef0123456789abcdef",
               0x1234abcd5678ef90, FileId{1, 3}};
    j.ops = std::move(result->ops);
    j.marks = {journal::MarkKind::planned, journal::MarkKind::fenced, journal::MarkKind::placing};
    return j;
}

// The two halves of the round trip on their own. A journal's first write
// goes into a new string; every later one (a mark each) into the store's
// buffer, which keeps its pages from the write before.
void BM_JournalEncode(benchmark::State& state) {
    auto j = planned_journal(static_cast<size_t>(state.range(0)));
    if (!j) return state.SkipWithError("plan failed");
    for (auto _ : state) {
        auto encoded = journal::encode_journal(*j);
        if (!encoded) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(encoded);
    }
}

void BM_JournalEncodeAgain(benchmark::State& state) {
    auto j = planned_journal(static_cast<size_t>(state.range(0)));
    if (!j) return state.SkipWithError("plan failed");
    std::string buffer;
    for (auto _ : state) {
        if (!journal::encode_journal(*j, buffer)) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(buffer);
    }
}

void BM_JournalDecode(benchmark::State& state) {
    auto j = planned_journal(static_cast<size_t>(state.range(0)));
    if (!j) return state.SkipWithError("plan failed");
    auto encoded = journal::encode_journal(*j);
    if (!encoded) return state.SkipWithError("encode failed");
    for (auto _ : state) {
        auto decoded = journal::decode_journal(*encoded);
        if (!decoded) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(decoded);
    }
}

void BM_JournalRoundTrip(benchmark::State& state) {
    size_t n = static_cast<size_t>(state.range(0));
    auto planned = planned_journal(n);
    if (!planned) return state.SkipWithError("plan failed");
    const journal::Journal& j = *planned;
    // Written as the store writes a mark, into a buffer kept from the last
    // write, and read back as recovery reads it.
    std::string encoded;
    for (auto _ : state) {
        if (!journal::encode_journal(j, encoded)) {
            state.SkipWithError("encode failed");
            break;
        }
        auto decoded = journal::decode_journal(encoded);
        if (!decoded) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(decoded);
    }
    state.counters["journal_bytes"] = static_cast<double>(encoded.size());
    state.counters["ops"] = static_cast<double>(j.ops.size());
    state.SetComplexityN(static_cast<int64_t>(n));
}

BENCHMARK(BM_ComputePlan)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNLogN);
// The journal cases run for at least three seconds each: at a million
// entries the default half second is two iterations, and the first ones in a
// fresh heap also pay for growing it by a few hundred megabytes, which later
// ones reuse.
constexpr double journal_min_seconds = 3.0;
BENCHMARK(BM_JournalEncode)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(journal_min_seconds);
BENCHMARK(BM_JournalEncodeAgain)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(journal_min_seconds);
BENCHMARK(BM_JournalDecode)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(journal_min_seconds);
BENCHMARK(BM_JournalRoundTrip)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(journal_min_seconds)
    ->Complexity(benchmark::oNLogN);

}  // namespace

BENCHMARK_MAIN();
