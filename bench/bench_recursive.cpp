// Recursive Gaussian filtering of 256^3 volumes: smoothing, first derivatives
// along each axis, and the gradient of an 8-bit volume.
#include <cstdint>
#include <random>

#include <benchmark/benchmark.h>

#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursivePasses.h>
#include <nvimage/Volume.h>

namespace {

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using com::norvane::imaging::Volume;
using Vec3f = com::norvane::math::CnVector3D<float>;

constexpr unsigned int kSide = 256;

template <class T>
const Volume<T>& input() {
    static const Volume<T> volume = [] {
        Volume<T> v(kSide, kSide, kSide);
        std::mt19937 rng(7);
        for (std::size_t i = 0; i < v.getNumberOfVoxels(); ++i) {
            v[i] = static_cast<T>(rng() % 256);
        }
        return v;
    }();
    return volume;
}

void setRates(benchmark::State& state, double passes) {
    const double voxels = static_cast<double>(kSide) * kSide * kSide;
    state.counters["voxels/s"] =
        benchmark::Counter(voxels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["voxels/s/pass"] =
        benchmark::Counter(voxels * passes * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

template <class In, class Out>
void filterVolume(benchmark::State& state, int derivative) {
    const Volume<In>& in = input<In>();
    Volume<Out> out(kSide, kSide, kSide);
    nvf::CnRecursiveFilter<In, Out> f;
    f.setSigma(2.0, 2.0, 2.0);
    f.setDerivative(static_cast<typename nvf::CnRecursiveFilter<In, Out>::EnDerivativeType>(derivative));
    for (auto _ : state) {
        f.execute(in, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRates(state, 3.0);
}

void BM_SmoothFloat(benchmark::State& state) { filterVolume<float, float>(state, 0); }
void BM_SmoothUChar(benchmark::State& state) { filterVolume<unsigned char, float>(state, 0); }
void BM_SmoothDouble(benchmark::State& state) { filterVolume<double, double>(state, 0); }
void BM_FirstDerivativeX(benchmark::State& state) { filterVolume<float, float>(state, 1); }
void BM_FirstDerivativeY(benchmark::State& state) { filterVolume<float, float>(state, 2); }
void BM_FirstDerivativeZ(benchmark::State& state) { filterVolume<float, float>(state, 3); }

// Float smoothing with each kernel version this processor can run
// (1 base instruction set, 2 AVX2, 3 AVX-512).
void BM_SmoothFloatKernel(benchmark::State& state) {
    const auto kernel = static_cast<nvf::detail::RecursiveKernel>(state.range(0));
    if (!nvf::detail::useRecursiveKernel(kernel)) {
        state.SkipWithError("kernel version not supported here");
        return;
    }
    filterVolume<float, float>(state, 0);
    nvf::detail::useRecursiveKernel(nvf::detail::RecursiveKernel::Automatic);
}

void BM_Gradient(benchmark::State& state) {
    const Volume<unsigned char>& in = input<unsigned char>();
    Volume<Vec3f> out(kSide, kSide, kSide);
    nvf::CnImageGradient<unsigned char> g;
    g.setSigma(2.0);
    for (auto _ : state) {
        g.execute(in, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRates(state, 9.0);
}

}  // namespace

BENCHMARK(BM_SmoothFloat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothUChar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothDouble)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDerivativeX)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDerivativeY)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDerivativeZ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothFloatKernel)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Gradient)->Unit(benchmark::kMillisecond)->UseRealTime();
