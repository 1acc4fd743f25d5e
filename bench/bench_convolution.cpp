// Throughput of the convolution filters: the line filter on a long line, and
// one pyramid level (smooth(0.375) on every axis, every axis halved) of an 8-bit
// image and of an 8-bit volume. The pyramid kernel's passes are exact in float
// and run as one fused sweep; the same level with smooth(0.4), whose taps are
// not short dyadic fractions, shows the pass-by-pass run. Counters are input
// voxels per second. The argument `threads` runs the filter on a thread pool of
// that many threads (0: no executor); multi-threaded runs are timed on the wall
// clock (the CPU column is the whole process's).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>

#include <nvfiltering/convolution/Cn1dSpatialFilter.h>
#include <nvfiltering/convolution/CnCoord.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;

namespace {

template <class T>
void fillRandom(Image<T>& im) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> d(0, 255);
    for (std::size_t i = 0; i < im.getNumberOfVoxels(); ++i) {
        im[i] = static_cast<T>(d(rng));
    }
}

// A pool of `threads` threads, or none for 0.
std::unique_ptr<nvf::CnThreadPoolExecutor> pool(std::int64_t threads) {
    if (threads == 0) {
        return nullptr;
    }
    return std::make_unique<nvf::CnThreadPoolExecutor>(static_cast<unsigned>(threads));
}

// One line of 2^20 samples, float to float, same length or halved.
void BM_LineFilterLongLine(benchmark::State& state) {
    const auto executor = pool(state.range(1));
    const unsigned int n = 1u << 20;
    const unsigned int m = n / static_cast<unsigned int>(state.range(0));
    Image<float> in(n, 1, 1), out(m, 1, 1);
    fillRandom(in);
    nvf::Cn1dSpatialFilter<float, float, float, float, std::multiplies<float>, std::plus<float>,
                           nvf::ImageConstIt<float>, nvf::ImageIt<float>>
        f;
    f.setKernel(nvf::CnKernelFactory<float>::smooth(0.375f));
    f.setExecutor(executor.get());
    f.setInputData(in.begin(), n, 1);
    f.setOutputData(out.begin(), m, 1);
    for (auto _ : state) {
        f.execute();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["voxels/s"] =
        benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LineFilterLongLine)
    ->ArgNames({"down", "threads"})
    ->ArgsProduct({{1, 2}, {0, 1, 2}})
    ->MeasureProcessCPUTime()->UseRealTime()
    ->Unit(benchmark::kMillisecond);


template <class T = unsigned char>
void runPyramid(benchmark::State& state, unsigned int x, unsigned int y, unsigned int z, float a = 0.375f) {
    Image<T> in(x, y, z);
    fillRandom(in);
    if (sizeof(T) == 2) {
        // Full-range 16-bit values.
        for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
            in[i] = static_cast<T>(in[i] * 257);
        }
    }
    Image<T> out(x / 2, y / 2, z > 1 ? z / 2 : 1);
    const auto executor = pool(state.range(0));
    nvf::CnSeparableFilter<T, T, float, float, std::multiplies<float>, std::plus<float>> f;
    f.setExecutor(executor.get());
    f.setKernel(nvf::CnKernelFactory<float>::smooth(a), static_cast<nvf::CnCoord::Axis>(7));
    for (auto _ : state) {
        f.execute(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["voxels/s"] = benchmark::Counter(
        static_cast<double>(in.getNumberOfVoxels()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

void BM_PyramidLevelImage4096(benchmark::State& state) { runPyramid(state, 4096, 4096, 1); }
BENCHMARK(BM_PyramidLevelImage4096)->ArgName("threads")->Arg(0)->Arg(1)->Arg(2)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PyramidLevelVolume256(benchmark::State& state) { runPyramid(state, 256, 256, 256); }
BENCHMARK(BM_PyramidLevelVolume256)->ArgName("threads")->Arg(0)->Arg(1)->Arg(2)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PassByPassImage4096(benchmark::State& state) { runPyramid(state, 4096, 4096, 1, 0.4f); }
BENCHMARK(BM_PassByPassImage4096)->ArgName("threads")->Arg(0)->Arg(1)->Arg(2)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PassByPassVolume256(benchmark::State& state) { runPyramid(state, 256, 256, 256, 0.4f); }
BENCHMARK(BM_PassByPassVolume256)->ArgName("threads")->Arg(0)->Arg(1)->Arg(2)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

// The same levels of 16-bit images and volumes (double intermediates, the exact
// sums rounded once), beside the 8-bit ones above.
void BM_PyramidLevelImage4096U16(benchmark::State& state) { runPyramid<unsigned short>(state, 4096, 4096, 1); }
BENCHMARK(BM_PyramidLevelImage4096U16)->ArgName("threads")->Arg(0)->Arg(2)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PyramidLevelVolume256U16(benchmark::State& state) { runPyramid<unsigned short>(state, 256, 256, 256); }
BENCHMARK(BM_PyramidLevelVolume256U16)->ArgName("threads")->Arg(0)->Arg(2)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PyramidLevelVolume256Float(benchmark::State& state) { runPyramid<float>(state, 256, 256, 256); }
BENCHMARK(BM_PyramidLevelVolume256Float)->ArgName("threads")->Arg(0)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
