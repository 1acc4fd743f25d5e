// What the machine and the thread pool allow: the same arithmetic with no data
// (independent vector multiply-adds, nothing shared) split into `tasks` pieces
// on a pool of `threads` threads. Two threads over one is the best speed-up any
// filter can reach on this machine (a virtual machine's second core, and a
// processor's clock under load, may give less than twice the work); the
// pieces' count shows what the pool's hand-over costs per task.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nvfiltering/framework/CnThreadPoolExecutor.h>

namespace nvf = com::norvane::filtering;

namespace {

// Eight independent chains of multiply-adds; returns their sum so that nothing
// is optimised away.
double arithmetic(std::int64_t steps) {
    double a[8];
    for (int i = 0; i < 8; ++i) {
        a[i] = 1.0 + i;
    }
    for (std::int64_t k = 0; k < steps; ++k) {
        for (double& v : a) {
            v = v * 0.999999 + 1e-7;
        }
    }
    double s = 0.0;
    for (double v : a) {
        s += v;
    }
    return s;
}

// 2^26 steps in all, cut into `tasks` pieces.
void BM_IndependentArithmetic(benchmark::State& state) {
    const unsigned threads = static_cast<unsigned>(state.range(0));
    const std::size_t tasks = static_cast<std::size_t>(state.range(1));
    const std::int64_t total = std::int64_t(1) << 26;
    nvf::CnThreadPoolExecutor pool(threads);
    std::vector<double> sums(tasks);
    for (auto _ : state) {
        pool.parallelFor(tasks, [&](std::size_t i) {
            sums[i] = arithmetic(total / static_cast<std::int64_t>(tasks));
        });
        benchmark::DoNotOptimize(sums.data());
    }
    state.counters["steps/s"] = benchmark::Counter(static_cast<double>(total) * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_IndependentArithmetic)
    ->ArgNames({"threads", "tasks"})
    ->ArgsProduct({{1, 2}, {2, 64, 4096}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
