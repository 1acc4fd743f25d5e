// Morphology and labelling throughput: dilation and erosion of an 8-bit 256^3
// mask, labelling of blob masks (256^3 with 6-point, 4096^2 with 4- and 8-point
// connectivity) and regional maxima of a float 4096^2 image and of a float
// 256^3 volume. Grey dilation of 256^3 volumes of 8-bit, 16-bit and floating-
// point noise beside the bitwise dilation of the same 8- and 16-bit volumes,
// which the grey filters are to match per voxel. The fast paths (execute) and
// the straightforward passes are both measured; the fast paths also on a thread
// pool (argument `threads`, 0: no executor), timed on the wall clock (the CPU
// column is the whole process's).
#include <benchmark/benchmark.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnGreyDilationFilter.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;

namespace {

// Uniform noise smoothed by a moving box of 2 * radius + 1 along every axis
// that has more than one voxel.
Image<float> smoothNoise(unsigned int X, unsigned int Y, unsigned int Z, unsigned int radius, unsigned int seed) {
    Image<float> a(X, Y, Z);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (std::size_t i = 0; i < a.getNumberOfVoxels(); ++i) {
        a[i] = u(rng);
    }
    const std::size_t dims[3] = {X, Y, Z};
    const std::size_t strides[3] = {1, X, static_cast<std::size_t>(X) * Y};
    std::vector<float> line;
    for (int axis = 0; axis < 3; ++axis) {
        const std::size_t n = dims[axis], stride = strides[axis];
        if (n < 2) {
            continue;
        }
        line.resize(n);
        for (std::size_t start = 0; start < a.getNumberOfVoxels(); ++start) {
            if ((start / stride) % n != 0) {
                continue;  // not the first voxel of a line along this axis
            }
            for (std::size_t k = 0; k < n; ++k) {
                line[k] = a[start + k * stride];
            }
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t lo = k >= radius ? k - radius : 0;
                const std::size_t hi = k + radius < n ? k + radius : n - 1;
                float s = 0.0f;
                for (std::size_t t = lo; t <= hi; ++t) {
                    s += line[t];
                }
                a[start + k * stride] = s / static_cast<float>(hi - lo + 1);
            }
        }
    }
    return a;
}

// Blobs: smoothed noise above its mean level, as a 0/1 mask.
Image<unsigned char> blobMask(unsigned int X, unsigned int Y, unsigned int Z) {
    const Image<float> s = smoothNoise(X, Y, Z, 2, 7);
    Image<unsigned char> m(X, Y, Z);
    for (std::size_t i = 0; i < m.getNumberOfVoxels(); ++i) {
        m[i] = s[i] > 0.5f ? 1 : 0;
    }
    return m;
}

const Image<unsigned char>& volumeMask() {
    static const Image<unsigned char> m = blobMask(256, 256, 256);
    return m;
}

const Image<unsigned char>& planeMask() {
    static const Image<unsigned char> m = blobMask(4096, 4096, 1);
    return m;
}

const Image<float>& planeImage() {
    static const Image<float> f = smoothNoise(4096, 4096, 1, 2, 11);
    return f;
}

// A pool of `threads` threads, or none for 0.
std::unique_ptr<nvf::CnThreadPoolExecutor> pool(std::int64_t threads) {
    if (threads == 0) {
        return nullptr;
    }
    return std::make_unique<nvf::CnThreadPoolExecutor>(static_cast<unsigned>(threads));
}

// Straightforward passes (threads 0), and the fast path with 0, 1 and 2 threads.
void straightforwardAndThreads(benchmark::internal::Benchmark* b) {
    b->ArgNames({"straightforward", "threads"});
    b->Args({1, 0});
    for (const std::int64_t threads : {0, 1, 2}) {
        b->Args({0, threads});
    }
    b->MeasureProcessCPUTime();
    b->UseRealTime();
    b->Unit(benchmark::kMillisecond);
}

void setRate(benchmark::State& state, std::size_t voxels) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(voxels));
    state.counters["voxels/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(voxels), benchmark::Counter::kIsRate);
}

template <class Filter>
void BM_Cross(benchmark::State& state) {
    const Image<unsigned char>& in = volumeMask();
    Image<unsigned char> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const auto executor = pool(state.range(1));
    Filter f;
    f.setExecutor(executor.get());
    const bool straightforward = state.range(0) != 0;
    for (auto _ : state) {
        if (straightforward) {
            com::norvane::filtering::detail::executeStraightforward(f, in, out);
        } else {
            f.execute(in, out);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRate(state, in.getNumberOfVoxels());
}
BENCHMARK_TEMPLATE(BM_Cross, nvf::CnDilationFilter<unsigned char>)
    ->Name("Dilation/u8/256^3")
    ->Apply(straightforwardAndThreads);
BENCHMARK_TEMPLATE(BM_Cross, nvf::CnErosionFilter<unsigned char>)
    ->Name("Erosion/u8/256^3")
    ->Apply(straightforwardAndThreads);

// Smoothed noise over the whole range of T (integers) or in [0, 1) (reals).
template <class T>
const Image<T>& greyVolume() {
    static const Image<T> v = [] {
        const Image<float> s = smoothNoise(256, 256, 256, 1, 13);
        Image<T> out(256, 256, 256);
        const double scale = std::numeric_limits<T>::is_integer ? double(std::numeric_limits<T>::max()) : 1.0;
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            out[i] = static_cast<T>(s[i] * scale);
        }
        return out;
    }();
    return v;
}

// One pass of Filter over greyVolume<T>().
template <class Filter, class T>
void BM_Volume(benchmark::State& state) {
    const Image<T>& in = greyVolume<T>();
    Image<T> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const auto executor = pool(state.range(1));
    Filter f;
    f.setExecutor(executor.get());
    const bool straightforward = state.range(0) != 0;
    for (auto _ : state) {
        if (straightforward) {
            com::norvane::filtering::detail::executeStraightforward(f, in, out);
        } else {
            f.execute(in, out);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRate(state, in.getNumberOfVoxels());
}
BENCHMARK_TEMPLATE(BM_Volume, nvf::CnDilationFilter<unsigned char>, unsigned char)
    ->Name("Dilation/u8-noise/256^3")
    ->Apply(straightforwardAndThreads);
BENCHMARK_TEMPLATE(BM_Volume, nvf::CnGreyDilationFilter<unsigned char>, unsigned char)
    ->Name("GreyDilation/u8/256^3")
    ->Apply(straightforwardAndThreads);
BENCHMARK_TEMPLATE(BM_Volume, nvf::CnDilationFilter<unsigned short>, unsigned short)
    ->Name("Dilation/u16-noise/256^3")
    ->Apply(straightforwardAndThreads);
BENCHMARK_TEMPLATE(BM_Volume, nvf::CnDilationFilter<short>, short)
    ->Name("Dilation/s16-noise/256^3")
    ->Apply(straightforwardAndThreads);
BENCHMARK_TEMPLATE(BM_Volume, nvf::CnGreyDilationFilter<unsigned short>, unsigned short)
    ->Name("GreyDilation/u16/256^3")
    ->Apply(straightforwardAndThreads);
BENCHMARK_TEMPLATE(BM_Volume, nvf::CnGreyDilationFilter<float>, float)
    ->Name("GreyDilation/float/256^3")
    ->Apply(straightforwardAndThreads);

void runLabelling(benchmark::State& state, const Image<unsigned char>& in, bool eight) {
    Image<std::uint32_t> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const auto executor = pool(state.range(1));
    nvf::CnConnectedComponentFilter<unsigned char> f;
    f.setExecutor(executor.get());
    if (eight) {
        f.Set8PointConnectivity();
    }
    const bool straightforward = state.range(0) != 0;
    for (auto _ : state) {
        if (straightforward) {
            com::norvane::filtering::detail::executeStraightforward(f, in, out);
        } else {
            f.execute(in, out);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["components"] = f.GetNumberOfComponents();
    setRate(state, in.getNumberOfVoxels());
}

void BM_Labelling3D(benchmark::State& state) { runLabelling(state, volumeMask(), false); }
void BM_Labelling2D4(benchmark::State& state) { runLabelling(state, planeMask(), false); }
void BM_Labelling2D8(benchmark::State& state) { runLabelling(state, planeMask(), true); }
BENCHMARK(BM_Labelling3D)
    ->Name("Labelling/u8/256^3/6-point")
    ->Apply(straightforwardAndThreads);
BENCHMARK(BM_Labelling2D4)
    ->Name("Labelling/u8/4096^2/4-point")
    ->Apply(straightforwardAndThreads);
BENCHMARK(BM_Labelling2D8)
    ->Name("Labelling/u8/4096^2/8-point")
    ->Apply(straightforwardAndThreads);

void BM_RegionalMaximum(benchmark::State& state) {
    const Image<float>& in = planeImage();
    Image<unsigned char> out(in.getSizeX(), in.getSizeY(), 1);
    const auto executor = pool(state.range(1));
    nvf::CnRegionalMaximumFilter<float> f;
    f.setExecutor(executor.get());
    const bool straightforward = state.range(0) != 0;
    for (auto _ : state) {
        if (straightforward) {
            com::norvane::filtering::detail::executeStraightforward(f, in, out);
        } else {
            f.execute(in, out);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRate(state, in.getNumberOfVoxels());
}
BENCHMARK(BM_RegionalMaximum)
    ->Name("RegionalMaximum/float/4096^2")
    ->Apply(straightforwardAndThreads);

void BM_RegionalMaximumVolume(benchmark::State& state) {
    const Image<float>& in = greyVolume<float>();
    Image<unsigned char> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const auto executor = pool(state.range(1));
    nvf::CnRegionalMaximumFilter<float> f;
    f.setVolume(true);
    f.setExecutor(executor.get());
    const bool straightforward = state.range(0) != 0;
    for (auto _ : state) {
        if (straightforward) {
            com::norvane::filtering::detail::executeStraightforward(f, in, out);
        } else {
            f.execute(in, out);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRate(state, in.getNumberOfVoxels());
}
BENCHMARK(BM_RegionalMaximumVolume)
    ->Name("RegionalMaximum/float/256^3/volume")
    ->Apply(straightforwardAndThreads);

}  // namespace
