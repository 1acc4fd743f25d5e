// Throughput of the FFT filters: transforms per second and the 5 n log2(n) flop rate,
// on 1 and 2 threads of an executor (the last argument); the results do not
// depend on the thread count, only the time does.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/fft/Cn3dFftFilter.h>
#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/CnRealFftFilter.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>

namespace {

using com::norvane::filtering::Cn1dFftFilter;
using com::norvane::filtering::Cn2dFftFilter;
using com::norvane::filtering::Cn3dFftFilter;
using com::norvane::filtering::CnComplexFftFilter;
using com::norvane::filtering::CnRealFftFilter;
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

// The interleaved complex transforms: a batch of `count` lines of length n
// (arguments n, count, threads), a 2-D array (n0, n1 (0: square), threads) and a cube (n,
// threads), forward then inverse alternately, in place.
template <class T>
std::vector<std::complex<T>> complexNoise(std::size_t m) {
    const std::vector<T> re = noise<T>(m, 1), im = noise<T>(m, 2);
    std::vector<std::complex<T>> v(m);
    for (std::size_t i = 0; i < m; ++i) v[i] = {re[i], im[i]};
    return v;
}

template <class T>
void interleavedBatch1d(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::size_t count = static_cast<std::size_t>(state.range(1));
    std::vector<std::complex<T>> data = complexNoise<T>(n * count);
    CnComplexFftFilter<T> f;
    CnThreadPoolExecutor executor(threadsOf(state, 2));
    f.setExecutor(&executor);
    int dir = 1;
    for (auto _ : state) {
        f.execute1d(data.data(), data.data(), n, count, dir);
        dir = -dir;
        benchmark::ClobberMemory();
    }
    setCounters(state, static_cast<double>(count), static_cast<double>(n));
}

template <class T>
void interleaved2d(benchmark::State& state) {
    const std::size_t n0 = static_cast<std::size_t>(state.range(0));
    const std::size_t n1 = state.range(1) > 0 ? static_cast<std::size_t>(state.range(1)) : n0;
    std::vector<std::complex<T>> data = complexNoise<T>(n0 * n1);
    CnComplexFftFilter<T> f;
    CnThreadPoolExecutor executor(threadsOf(state, 2));
    f.setExecutor(&executor);
    int dir = 1;
    for (auto _ : state) {
        f.execute2d(data.data(), data.data(), n0, n1, dir);
        dir = -dir;
        benchmark::ClobberMemory();
    }
    setCounters(state, 1.0, static_cast<double>(n0 * n1));
}

template <class T>
void interleaved3d(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    std::vector<std::complex<T>> data = complexNoise<T>(n * n * n);
    CnComplexFftFilter<T> f;
    CnThreadPoolExecutor executor(threadsOf(state, 1));
    f.setExecutor(&executor);
    int dir = 1;
    for (auto _ : state) {
        f.execute3d(data.data(), data.data(), n, n, n, dir);
        dir = -dir;
        benchmark::ClobberMemory();
    }
    setCounters(state, 1.0, static_cast<double>(n * n * n));
}

// The real forward transform of a cube (n, threads) into its half spectrum.
template <class T>
void real3d(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::vector<T> data = noise<T>(n * n * n, 1);
    std::vector<std::complex<T>> spectrum(n * n * (n / 2 + 1));
    CnRealFftFilter<T> f;
    CnThreadPoolExecutor executor(threadsOf(state, 1));
    f.setExecutor(&executor);
    const std::size_t shape[3] = {n, n, n};
    for (auto _ : state) {
        f.executeForward(data.data(), spectrum.data(), shape, 3, 3);
        benchmark::ClobberMemory();
    }
    setCounters(state, 1.0, static_cast<double>(n * n * n));
}

BENCHMARK_TEMPLATE(interleavedBatch1d, double)
    ->ArgNames({"n", "count", "threads"})
    ->ArgsProduct({{4096}, {1000}, {1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(interleaved2d, double)
    ->ArgNames({"n0", "n1", "threads"})
    ->ArgsProduct({{1024, 1000}, {0}, {1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(interleaved3d, float)
    ->ArgNames({"n", "threads"})
    ->ArgsProduct({{256, 240}, {1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(real3d, float)
    ->ArgNames({"n", "threads"})
    ->ArgsProduct({{256}, {1, 2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
