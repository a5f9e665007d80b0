// Whole transactions on the simulated machine, through the real front end:
// a fresh install, an upgrade that replaces half the files (and adds and
// retires as many), a removal, and the recovery of an upgrade whose power went
// in the middle of placement; payloads of 1k to 100k files, flat or deep.
// Besides the time, the counters say where the machine's boundary calls went
// (per file, by phase), what the journal cost, what was written, and how much
// heap the engine held at its peak. bench/README.md explains them.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "txn/heap_meter.hpp"
#include "txn/txn_machine.hpp"

namespace {

using namespace holvar::bench;

enum class Scenario { install, upgrade, remove, recover };

const std::vector<std::u16string> kApply{u"--apply", u"--root", kRoot};
const std::vector<std::u16string> kRemove{u"--remove", u"--root", kRoot};
const std::vector<std::u16string> kRecover{u"--recover", u"--root", kRoot};

// The machine as the measured run finds it, or null (with `why`) when the
// set-up failed.
std::unique_ptr<TxnMachine> prepare(Scenario scenario, const PayloadShape& shape,
                                    std::string& why) {
    UncountedScope uncounted;
    auto m = std::make_unique<TxnMachine>();
    if (scenario == Scenario::install) {
        if (!m->stage(kTx1, shape, 1)) why = "staging failed";
        return why.empty() ? std::move(m) : nullptr;
    }
    if (!m->stage(kTx1, shape, 1)) {
        why = "staging failed";
        return nullptr;
    }
    if (RunResult installed = m->run(kTx1, kApply); installed.exit_code != 0) {
        why = "the first install ended with " + std::to_string(installed.exit_code);
        return nullptr;
    }
    if (scenario == Scenario::remove) {
        if (!m->stage_engine(kTx2)) why = "staging failed";
        return why.empty() ? std::move(m) : nullptr;
    }
    if (!m->stage(kTx2, shape, 2)) {
        why = "staging failed";
        return nullptr;
    }
    if (scenario == Scenario::recover) {
        // The upgrade renames once per operation: half the files replaced,
        // as many added and as many retired. The power goes halfway.
        uint64_t renames = shape.files * 3 / 2;
        RunResult crashed = m->run(kTx2, kApply, renames / 2);
        if (!crashed.crashed) {
            why = "the upgrade did not crash";
            return nullptr;
        }
        m->crash_and_reboot();
    }
    return m;
}

// What the measured run ends with when all goes well: committed, removed,
// and rolled back (the crash came before anything was committed).
int expected_exit_code(Scenario scenario) {
    switch (scenario) {
        case Scenario::remove:
            return 30;
        case Scenario::recover:
            return 10;
        default:
            return 0;
    }
}

const std::vector<std::u16string>& measured_args(Scenario scenario) {
    switch (scenario) {
        case Scenario::remove:
            return kRemove;
        case Scenario::recover:
            return kRecover;
        default:
            return kApply;
    }
}

void transaction(benchmark::State& state, Scenario scenario) {
    PayloadShape shape{static_cast<size_t>(state.range(0)), state.range(1) != 0};
    RunResult last;
    for (auto _ : state) {
        state.PauseTiming();
        std::string why;
        std::unique_ptr<TxnMachine> m = prepare(scenario, shape, why);
        if (!m) {
            state.SkipWithError(why.c_str());
            break;
        }
        state.ResumeTiming();
        last = m->run(scenario == Scenario::install ? kTx1 : kTx2, measured_args(scenario));
        state.PauseTiming();
        {
            UncountedScope uncounted;
            m.reset();
        }
        state.ResumeTiming();
        if (last.crashed || last.exit_code != expected_exit_code(scenario)) {
            state.SkipWithError(("the run ended with " + std::to_string(last.exit_code)).c_str());
            break;
        }
    }
    const double files = static_cast<double>(shape.files);
    const RunCounts& c = last.counts;
    for (size_t i = 0; i < kPhaseCount; ++i)
        state.counters[phase_name(static_cast<TxnPhase>(i))] =
            static_cast<double>(c.calls[i]) / files;
    state.counters["calls"] = static_cast<double>(c.total_calls()) / files;
    state.counters["clock"] = static_cast<double>(c.clock_reads) / files;
    state.counters["marks"] = static_cast<double>(c.marks);
    state.counters["journal_bytes"] = static_cast<double>(c.journal_bytes);
    state.counters["journal_size"] = static_cast<double>(c.journal_size);
    state.counters["bytes_copied"] = static_cast<double>(c.bytes_copied);
    state.counters["other_bytes"] = static_cast<double>(c.other_bytes);
    state.counters["peak_B_per_file"] = static_cast<double>(last.peak_heap) / files;
    state.SetComplexityN(static_cast<int64_t>(shape.files));
}

void BM_Install(benchmark::State& state) {
    transaction(state, Scenario::install);
}
void BM_Upgrade(benchmark::State& state) {
    transaction(state, Scenario::upgrade);
}
void BM_Remove(benchmark::State& state) {
    transaction(state, Scenario::remove);
}
void BM_Recover(benchmark::State& state) {
    transaction(state, Scenario::recover);
}

// Files, then 0 for the flat tree and 1 for the deep one.
void sizes(benchmark::internal::Benchmark* b) {
    for (int64_t files : {1000, 10000, 100000})
        for (int64_t deep : {0, 1}) b->Args({files, deep});
    // The engine runs on a thread of its own: the CPU time is the process's.
    // Every iteration builds its machine untimed, which costs more than the
    // run at 1k: a short minimum keeps the small cases to seconds.
    b->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->MinTime(0.1);
}

BENCHMARK(BM_Install)->Apply(sizes);
BENCHMARK(BM_Upgrade)->Apply(sizes);
BENCHMARK(BM_Remove)->Apply(sizes);
BENCHMARK(BM_Recover)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
