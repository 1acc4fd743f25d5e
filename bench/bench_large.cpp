// Volumes of more than 2^31 voxels (2048 x 1024 x 1040, 2.18e9 voxels): dilation,
// labelling and recursive smoothing of an 8-bit volume, with no executor and on
// two threads. Each run is checked where the voxel index no longer fits 32 bits
// (a wrapped index would write or read the wrong voxel), so a wrong result is
// reported as an error, not timed. Needs about 11 GiB of memory; a benchmark
// rather than a test because the CI machine's memory does not allow it.
//
//   build/release/bench/bench_large
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;

namespace {

constexpr unsigned int kX = 2048, kY = 1024, kZ = 1040;
constexpr std::size_t kSlice = std::size_t{kX} * kY;

// A voxel whose index is past 2^31 and whose neighbours all exist.
constexpr unsigned int kPx = 1000, kPy = 700, kPz = 1030;
constexpr std::size_t kP = kPz * kSlice + std::size_t{kPy} * kX + kPx;
static_assert(kP > (std::size_t{1} << 31), "the probe voxel lies past 2^31");

std::unique_ptr<nvf::CnThreadPoolExecutor> pool(std::int64_t threads) {
    return threads == 0 ? nullptr : std::make_unique<nvf::CnThreadPoolExecutor>(static_cast<unsigned>(threads));
}

void setRate(benchmark::State& state) {
    state.counters["voxels/s"] = benchmark::Counter(static_cast<double>(kSlice) * kZ * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

// One set voxel at kP: the dilation sets it and its six neighbours, nothing else.
void BM_DilationPast2To31(benchmark::State& state) {
    Image<unsigned char> in(kX, kY, kZ), out(kX, kY, kZ);
    in[kP] = 1;
    const auto executor = pool(state.range(0));
    nvf::CnDilationFilter<unsigned char> f;
    f.setExecutor(executor.get());
    for (auto _ : state) {
        f.execute(in, out);
        benchmark::ClobberMemory();
    }
    std::size_t set = 0;
    for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
        set += out[i] != 0;
    }
    const std::size_t neighbours[6] = {kP - 1, kP + 1, kP - kX, kP + kX, kP - kSlice, kP + kSlice};
    bool ok = set == 7 && out[kP] == 1;
    for (std::size_t n : neighbours) {
        ok = ok && out[n] == 1;
    }
    if (!ok) {
        state.SkipWithError("dilation past 2^31 voxels set the wrong voxels");
    }
    setRate(state);
}

// A single voxel at 0 and two voxels at kP and kP + 1: two components, the
// larger (past 2^31) ranked first.
void BM_LabellingPast2To31(benchmark::State& state) {
    Image<unsigned char> in(kX, kY, kZ);
    Image<std::uint32_t> out(kX, kY, kZ);
    in[0] = 1;
    in[kP] = 1;
    in[kP + 1] = 1;
    const auto executor = pool(state.range(0));
    nvf::CnConnectedComponentFilter<unsigned char> f;
    f.setExecutor(executor.get());
    for (auto _ : state) {
        f.execute(in, out);
        benchmark::ClobberMemory();
    }
    if (f.GetNumberOfComponents() != 2 || out[kP] != 1 || out[kP + 1] != 1 || out[0] != 2 || out[kP + 2] != 0) {
        state.SkipWithError("labelling past 2^31 voxels gave the wrong labels");
    }
    setRate(state);
}

// An impulse of 100 at kP, smoothed with sigma 2: the response is symmetric
// about kP along every axis and its largest value is at kP.
void BM_SmoothingPast2To31(benchmark::State& state) {
    Image<unsigned char> in(kX, kY, kZ);
    Image<float> out(kX, kY, kZ);
    in[kP] = 100;
    const auto executor = pool(state.range(0));
    nvf::CnRecursiveFilter<unsigned char, float> f;
    f.setSigma(2.0, 2.0, 2.0);
    f.setExecutor(executor.get());
    for (auto _ : state) {
        f.execute(in, out);
        benchmark::ClobberMemory();
    }
    const std::size_t steps[3] = {1, kX, kSlice};
    bool ok = out[kP] > 0.0f;
    for (std::size_t s : steps) {
        const float before = out[kP - s], after = out[kP + s];
        ok = ok && before > 0.0f && before < out[kP] && std::fabs(before - after) <= 1e-4f * out[kP];
    }
    if (!ok) {
        state.SkipWithError("smoothing past 2^31 voxels is not centred on the impulse");
    }
    setRate(state);
}

}  // namespace

BENCHMARK(BM_DilationPast2To31)->ArgName("threads")->Arg(0)->Arg(2)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LabellingPast2To31)->ArgName("threads")->Arg(0)->Arg(2)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothingPast2To31)->ArgName("threads")->Arg(0)->Arg(2)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
