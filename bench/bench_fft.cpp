// Throughput of the FFT filters: transforms per second and the 5 n log2(n) flop rate,
// on 1 and 2 threads of an executor (the last argument); the results do not
// depend on the thread count, only the time does.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/fft/Cn3dFftFilter.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>

namespace {

using com::norvane::filtering::Cn1dFftFilter;
using com::norvane::filtering::Cn2dFftFilter;
using com::norvane::filtering::Cn3dFftFilter;
using com::norvane::filtering::CnThreadPoolExecutor;

template <class T>
std::vector<T> noise(std::size_t m, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<T> v(m);
    for (T& x : v) {
        x = static_cast<T>(dist(gen));
    }
    return v;
}

// The thread count: argument `index` of the benchmark.
unsigned threadsOf(const benchmark::State& state, int index) {
    return static_cast<unsigned>(state.range(index));
}

// Counters for `transforms` transforms of `points` points each per iteration.
void setCounters(benchmark::State& state, double transforms, double points) {
    state.counters["transforms/s"] =
        benchmark::Counter(transforms * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["flops"] = benchmark::Counter(5.0 * points * std::log2(points) * transforms *
                                                     static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

// Forward then inverse alternately, so that the data stay bounded.
template <class T>
void batch1d(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    std::vector<T> re = noise<T>(static_cast<std::size_t>(n) * count, 1);
    std::vector<T> im = noise<T>(static_cast<std::size_t>(n) * count, 2);
    Cn1dFftFilter<T> f;
    CnThreadPoolExecutor executor(threadsOf(state, 2));
    f.setExecutor(&executor);
    int dir = 1;
    for (auto _ : state) {
        f.executeWith(re.data(), im.data(), re.data(), im.data(), n, count, dir);
        dir = -dir;
        benchmark::ClobberMemory();
    }
    setCounters(state, count, n);
}

template <class T>
void array2d(benchmark::State& state) {
    const int n1 = static_cast<int>(state.range(0));
    const int n2 = static_cast<int>(state.range(1));
    std::vector<T> re = noise<T>(static_cast<std::size_t>(n1) * n2, 1);
    std::vector<T> im = noise<T>(static_cast<std::size_t>(n1) * n2, 2);
    Cn2dFftFilter<T> f;
    CnThreadPoolExecutor executor(threadsOf(state, 2));
    f.setExecutor(&executor);
    int dir = 1;
    for (auto _ : state) {
        f.executeWith(re.data(), im.data(), re.data(), im.data(), n1, n2, dir);
        dir = -dir;
        benchmark::ClobberMemory();
    }
    setCounters(state, 1.0, static_cast<double>(n1) * n2);
}

template <class T>
void volume3d(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::size_t m = static_cast<std::size_t>(n) * n * n;
    std::vector<T> re = noise<T>(m, 1), im = noise<T>(m, 2);
    Cn3dFftFilter<T> f;
    CnThreadPoolExecutor executor(threadsOf(state, 1));
    f.setExecutor(&executor);
    int dir = 1;
    for (auto _ : state) {
        f.executeWith(re.data(), im.data(), re.data(), im.data(), n, n, n, dir);
        dir = -dir;
        benchmark::ClobberMemory();
    }
    setCounters(state, 1.0, static_cast<double>(m));
}

BENCHMARK_TEMPLATE(batch1d, double)
    ->ArgNames({"n", "count", "threads"})
    ->ArgsProduct({{1000, 1024, 4096}, {4096}, {1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(array2d, double)
    ->ArgNames({"n1", "n2", "threads"})
    ->Args({1024, 1024, 1})
    ->Args({1024, 1024, 2})
    ->Args({1000, 1000, 1})
    ->Args({1000, 1000, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(volume3d, float)
    ->ArgNames({"n", "threads"})
    ->ArgsProduct({{256, 240}, {1, 2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
