// Placement cost as the runtime grows, on the simulated machine: n adds into
// an empty root, n replaces of installed files, and n retires of installed
// files the payload dropped, all one level below the root. Besides the time, `calls_per_op` counts
// the simulated platform calls per operation (identity checks included): placement must stay a
// fixed handful of calls per file, whatever the file sizes and however many files.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/security_types.hpp"
#include "platform/sim/machine.hpp"
#include "txn/fs/protected_directory.hpp"
#include "txn/tree/apply_op.hpp"

namespace {

using namespace holvar;
using txn::journal::Op;

constexpr const char16_t* kRoot = uR"(C:\Holvar)";
constexpr const char16_t* kStage = uR"(C:\.Holvar-upgrade-0123456789abcdef0123456789abcdef)";

std::u16string decimal(size_t v) {
    std::string text = std::to_string(v);
    return std::u16string(text.begin(), text.end());
}

enum class Kind { add, replace, retire };

// A machine with n payload files (none for retires) and, for replaces and
// retires, n installed files of the same names; the engine runs as an
// elevated administrator.
struct Bench {
    std::unique_ptr<sim::Machine> machine = sim::Machine::fresh();
    std::unique_ptr<sim::ProcessOs> engine;
    txn::tree::TreeLayout layout = txn::tree::TreeLayout::of(kRoot, kStage);
    std::vector<Op> ops;

    bool build(size_t n, Kind kind) {
        platform::Sid admins = *platform::sid_from_string(platform::sids::administrators);
        // Under a drive root, with the protected DACL a root and a stage get.
        const std::u16string sddl(txn::fs::kProtectedDirectorySddl);
        if (!machine->make_directory_sddl(kRoot, sddl) ||
            !machine->make_directory_sddl(kStage, sddl) ||
            !machine->make_directory(layout.payload, admins))
            return false;
        std::vector<uint8_t> bytes(64, 'x');
        for (size_t i = 0; i < n; ++i) {
            std::u16string name = u"module-" + decimal(i) + u".dll";
            std::u16string source = layout.payload + u"\\" + name;
            std::u16string target = std::u16string(kRoot) + u"\\" + name;
            Op op;
            if (kind == Kind::retire) {
                if (!machine->write_file(target, bytes, admins)) return false;
                auto old_id = machine->stat(target);
                if (!old_id) return false;
                op = Op::retire(name, txn::fs::FileId::from_bytes(old_id->file_id),
                                txn::journal::LeafKind::file);
                op.seq = static_cast<uint32_t>(i);
                ops.push_back(std::move(op));
                continue;
            }
            if (!machine->write_file(source, bytes, admins)) return false;
            auto new_id = machine->stat(source);
            if (!new_id) return false;
            if (kind == Kind::replace) {
                if (!machine->write_file(target, bytes, admins)) return false;
                auto old_id = machine->stat(target);
                if (!old_id) return false;
                op = Op::replace(name, txn::fs::FileId::from_bytes(old_id->file_id),
                                 txn::fs::FileId::from_bytes(new_id->file_id));
            } else {
                op = Op::add(name, txn::fs::FileId::from_bytes(new_id->file_id));
            }
            op.seq = static_cast<uint32_t>(i);
            ops.push_back(std::move(op));
        }
        uint32_t pid =
            machine->spawn_process(std::u16string(kStage) + u"\\engine.exe", sim::admin_token());
        engine = std::make_unique<sim::ProcessOs>(*machine, pid);
        return true;
    }
};

void place(benchmark::State& state, Kind kind) {
    size_t n = static_cast<size_t>(state.range(0));
    uint64_t calls = 0, placed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto bench = std::make_unique<Bench>();
        if (!bench->build(n, kind)) {
            state.SkipWithError("could not build the machine");
            break;
        }
        uint64_t before = bench->machine->boundary_calls();
        state.ResumeTiming();
        {
            txn::fs::PinnedFolders pins;  // closed before the machine goes
            for (const Op& op : bench->ops) {
                if (!txn::tree::apply_op(bench->engine->os(), bench->layout, op, &pins)) {
                    state.SkipWithError("placement failed");
                    break;
                }
            }
        }
        state.PauseTiming();
        calls += bench->machine->boundary_calls() - before;
        placed += n;
        bench.reset();
        state.ResumeTiming();
    }
    state.counters["calls_per_op"] =
        placed == 0 ? 0.0 : static_cast<double>(calls) / static_cast<double>(placed);
    state.SetComplexityN(static_cast<int64_t>(n));
}

void BM_PlaceAdds(benchmark::State& state) {
    place(state, Kind::add);
}
void BM_PlaceReplaces(benchmark::State& state) {
    place(state, Kind::replace);
}
void BM_PlaceRetires(benchmark::State& state) {
    place(state, Kind::retire);
}

BENCHMARK(BM_PlaceAdds)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_PlaceReplaces)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_PlaceRetires)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
