// Recursive Gaussian filtering of 256^3 volumes: smoothing of float and 8-bit
// volumes with sigma 2 and the gradient of an 8-bit volume, on 1 and 2 threads
// (the argument), each kernel version on its own, and the gradient's first call
// in a fresh process beside its warm runs.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
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
