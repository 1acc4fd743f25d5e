// Recursive Gaussian filtering of 256^3 volumes: smoothing of float and 8-bit
// volumes with sigma 2 and the gradient of an 8-bit volume, on 1 and 2 threads
// (the argument), each kernel version on its own, and the gradient's first call
// in a fresh process beside its warm runs.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvfiltering/recursive/detail/RecursiveCoefficients.h>
#include <nvfiltering/recursive/detail/RecursivePlan.h>
#include <nvfiltering/recursive/detail/RecursiveVolume.h>
#include <nvimage/Volume.h>

namespace {

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using com::norvane::imaging::Volume;
using Vec3f = com::norvane::math::CnVector3D<float>;

constexpr unsigned int kSide = 256;
constexpr double kSigma = 2.0;

template <class T>
Volume<T> makeInput() {
    Volume<T> v(kSide, kSide, kSide);
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < v.getNumberOfVoxels(); ++i) {
        v[i] = static_cast<T>(rng() % 256);
    }
    return v;
}

template <class T>
const Volume<T>& input() {
    static const Volume<T> volume = makeInput<T>();
    return volume;
}

void setRates(benchmark::State& state, double passes) {
    const double voxels = static_cast<double>(kSide) * kSide * kSide;
    state.counters["voxels/s"] =
        benchmark::Counter(voxels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["voxels/s/pass"] =
        benchmark::Counter(voxels * passes * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The executor for state.range(0) threads: none for one thread.
std::unique_ptr<nvf::CnThreadPoolExecutor> executorFor(const benchmark::State& state) {
    const auto threads = static_cast<unsigned int>(state.range(0));
    return threads > 1 ? std::make_unique<nvf::CnThreadPoolExecutor>(threads) : nullptr;
}

template <class In, class Out>
void filterVolume(benchmark::State& state, int derivative) {
    const Volume<In>& in = input<In>();
    Volume<Out> out(kSide, kSide, kSide);
    const auto executor = executorFor(state);
    nvf::CnRecursiveFilter<In, Out> f;
    f.setSigma(kSigma, kSigma, kSigma);
    f.setDerivative(static_cast<typename nvf::CnRecursiveFilter<In, Out>::EnDerivativeType>(derivative));
    f.setExecutor(executor.get());
    for (auto _ : state) {
        f.execute(in, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRates(state, 3.0);
}

void BM_SmoothFloat(benchmark::State& state) { filterVolume<float, float>(state, 0); }
void BM_SmoothUChar(benchmark::State& state) { filterVolume<unsigned char, float>(state, 0); }
void BM_SmoothUShort(benchmark::State& state) { filterVolume<unsigned short, float>(state, 0); }
void BM_SmoothDouble(benchmark::State& state) { filterVolume<double, double>(state, 0); }
void BM_FirstDerivativeX(benchmark::State& state) { filterVolume<float, float>(state, 1); }
void BM_FirstDerivativeY(benchmark::State& state) { filterVolume<float, float>(state, 2); }
void BM_FirstDerivativeZ(benchmark::State& state) { filterVolume<float, float>(state, 3); }

// Float smoothing on one thread with each kernel version this processor can
// run (1 base instruction set, 2 AVX2, 3 AVX-512).
void BM_SmoothFloatKernel(benchmark::State& state) {
    const auto kernel = static_cast<nvf::detail::RecursiveKernel>(state.range(0));
    if (!nvf::detail::recursiveKernelSupported(kernel)) {
        state.SkipWithError("kernel version not supported here");
        return;
    }
    const Volume<float>& in = input<float>();
    Volume<float> out(kSide, kSide, kSide);
    for (auto _ : state) {
        nvf::detail::RecursiveVolume<float, float>::run(in, out, kSigma, kSigma, kSigma, 0, nullptr, kernel);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRates(state, 3.0);
}

// One blocked pass over the 256^3 volume on one thread, as the volume filter
// runs it when the passes are not fused: range(0) the axis (0 X, 1 Y, 2 Z),
// range(1) the derivative order, range(2) the input of the X pass (0 8-bit,
// 1 float; the Y and Z passes always filter the float output, in place, as in
// the volume filter).
void BM_Pass(benchmark::State& state) {
    const auto axis = static_cast<unsigned int>(state.range(0));
    const auto order = static_cast<unsigned int>(state.range(1));
    const bool bytes = state.range(2) == 0;
    nvf::detail::PassCoefficients pass{order, {}};
    com::norvane::math::CnMatrix<double> m(0, 0);
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    nvf::detail::recursiveCoefficients(kSigma, order, B, a1, a2, a3, m);
    pass.c = nvf::detail::makeCoefficients(B, a1, a2, a3, m);
    const nvf::detail::RecursiveRun run{nullptr, nvf::detail::kernelTable(nvf::detail::RecursiveKernel::Automatic)};
    const std::size_t side = kSide;
    const std::size_t slice = side * side;
    Volume<float> out(kSide, kSide, kSide);
    const Volume<float>& in = input<float>();
    std::copy(in.data(), in.data() + in.getNumberOfVoxels(), out.data());
    for (auto _ : state) {
        if (axis == 0 && bytes) {
            nvf::detail::passRows(run, input<unsigned char>().data(), out.data(), side * side, side, 1, pass);
        } else if (axis == 0) {
            nvf::detail::passRows(run, in.data(), out.data(), side * side, side, 1, pass);
        } else {
            // In place on a fresh copy of the input (untimed), so that repeated
            // derivatives do not decay into subnormal numbers.
            state.PauseTiming();
            std::copy(in.data(), in.data() + in.getNumberOfVoxels(), out.data());
            state.ResumeTiming();
            if (axis == 1) {
                nvf::detail::passColumns(run, out.data(), out.data(), side, slice, side, side, side, pass);
            } else {
                nvf::detail::passColumns(run, out.data(), out.data(), side, side, side, slice, side, pass);
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRates(state, 1.0);
}

// The same passes on data that stays in the second-level cache (X: 128 rows
// of 256 samples into another 128; Y: one 256 x 256 slice in place), repeated:
// the passes' arithmetic without the trips to memory. Same arguments as
// BM_Pass; the Z pass runs the Y pass's kernel with a longer stride.
void BM_PassInCache(benchmark::State& state) {
    const auto axis = static_cast<unsigned int>(state.range(0));
    const auto order = static_cast<unsigned int>(state.range(1));
    const bool bytes = state.range(2) == 0;
    nvf::detail::PassCoefficients pass{order, {}};
    com::norvane::math::CnMatrix<double> m(0, 0);
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    nvf::detail::recursiveCoefficients(kSigma, order, B, a1, a2, a3, m);
    pass.c = nvf::detail::makeCoefficients(B, a1, a2, a3, m);
    const nvf::detail::RecursiveRun run{nullptr, nvf::detail::kernelTable(nvf::detail::RecursiveKernel::Automatic)};
    const std::size_t side = kSide;
    const std::size_t rows = axis == 0 ? 128 : side;
    const float* inF = input<float>().data();
    const unsigned char* inB = input<unsigned char>().data();
    std::vector<float> out(inF, inF + rows * side);
    std::vector<float> fresh(out);
    for (auto _ : state) {
        if (axis == 0 && bytes) {
            nvf::detail::passRows(run, inB, out.data(), rows, side, 1, pass);
        } else if (axis == 0) {
            nvf::detail::passRows(run, inF, out.data(), rows, side, 1, pass);
        } else {
            state.PauseTiming();
            std::copy(fresh.begin(), fresh.end(), out.begin());
            state.ResumeTiming();
            nvf::detail::passColumns(run, out.data(), out.data(), 1, 0, side, side, side, pass);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    // Reported as the time of a 256^3 pass at this rate (seconds).
    const double voxels = static_cast<double>(rows * side);
    state.counters["per256^3"] = benchmark::Counter(
        voxels * static_cast<double>(state.iterations()) / (static_cast<double>(kSide) * kSide * kSide),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Gradient(benchmark::State& state) {
    const Volume<unsigned char>& in = input<unsigned char>();
    Volume<Vec3f> out(kSide, kSide, kSide);
    const auto executor = executorFor(state);
    nvf::CnImageGradient<unsigned char> g;
    g.setSigma(kSigma);
    g.setExecutor(executor.get());
    for (auto _ : state) {
        g.execute(in, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRates(state, 9.0);
}

// ---- The gradient's first call in a fresh process ------------------------------
// Each iteration starts this program again with kFirstCallVariable set; the new
// process makes its volumes, times one gradient call and prints the seconds.

constexpr const char* kFirstCallVariable = "NVF_BENCH_GRADIENT_FIRST_CALL";

int timeFirstGradientCall(unsigned int threads) {
    const Volume<unsigned char> in = makeInput<unsigned char>();
    Volume<Vec3f> out(kSide, kSide, kSide);
    const auto executor = threads > 1 ? std::make_unique<nvf::CnThreadPoolExecutor>(threads) : nullptr;
    nvf::CnImageGradient<unsigned char> g;
    g.setSigma(kSigma);
    g.setExecutor(executor.get());
    const auto start = std::chrono::steady_clock::now();
    g.execute(in, out);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("%.9f\n", seconds.count());
    return 0;
}

void BM_GradientFirstCall(benchmark::State& state) {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        state.SkipWithError("cannot find this program");
        return;
    }
    self[length] = '\0';
    const std::string command =
        std::string(kFirstCallVariable) + "=" + std::to_string(state.range(0)) + " '" + self + "'";
    for (auto _ : state) {
        FILE* child = popen(command.c_str(), "r");
        double seconds = -1.0;
        if (child == nullptr || std::fscanf(child, "%lf", &seconds) != 1) {
            if (child != nullptr) {
                pclose(child);
            }
            state.SkipWithError("the child process did not report a time");
            return;
        }
        pclose(child);
        state.SetIterationTime(seconds);
    }
    setRates(state, 9.0);
}

}  // namespace

BENCHMARK(BM_SmoothFloat)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothUChar)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothUShort)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothDouble)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDerivativeX)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDerivativeY)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstDerivativeZ)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothFloatKernel)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pass)
    ->ArgsProduct({{0}, {0, 1, 2}, {0, 1}})
    ->ArgsProduct({{1, 2}, {0, 1, 2}, {1}})
    ->ArgNames({"axis", "order", "float"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PassInCache)
    ->ArgsProduct({{0}, {0, 1, 2}, {0, 1}})
    ->ArgsProduct({{1}, {0, 1, 2}, {1}})
    ->ArgNames({"axis", "order", "float"});
BENCHMARK(BM_Gradient)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GradientFirstCall)->Arg(1)->Arg(2)->Iterations(5)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char** argv) {
    if (const char* threads = std::getenv(kFirstCallVariable)) {
        return timeFirstGradientCall(static_cast<unsigned int>(std::strtoul(threads, nullptr, 10)));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
