// The peak double-precision throughput of one core for the arithmetic the
// recursive filter's passes do: recursions y = B x + a1 y1 + a2 y2 + a3 y3
// (four multiplications and three additions, evaluated left to right, no fused
// multiply-add), R independent lines interleaved, at the vector widths of the
// block kernels (two doubles with the base instruction set, four with AVX2,
// eight with AVX-512).
//
// - BM_Recursion<W, R, Shape>: R chains of W-lane vectors held in registers,
//   each step the operations of one sweep of a pass (see Shape below), which
//   depend on the chain's previous value: the latency a pass hides by
//   interleaving lines. With R large enough the units are full; the best rate
//   over R is the peak for that shape.
// - BM_Conversions<R>: float <-> double conversions alone (their throughput).
// - BM_StreamInPlace, BM_StreamCopy: the memory floor of a pass over 256^3
//   floats (read and write every voxel once, in place or into a new volume).
//
// Counters: "dops/s" counts the multiplications, additions and subtractions
// (per double lane), "steps/s" recursion steps per lane. The arithmetic bound
// of a pass is the time of its two sweeps at their shapes' best steps/s, one
// step per voxel each (see docs/performance.md).
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <nvfiltering/recursive/detail/RecursiveBlock.h>

namespace {

#if defined(__GNUC__) && defined(__x86_64__)
#define PEAK_X86 1
#define PEAK_AVX2 __attribute__((target("avx2")))
#define PEAK_AVX512 __attribute__((target("avx512f")))
#endif

#define PEAK_INLINE inline __attribute__((always_inline))

template <std::size_t W>
struct Vec;
template <>
struct Vec<2> {
    static constexpr std::size_t W = 2;
    typedef double D __attribute__((vector_size(16)));
    typedef float F __attribute__((vector_size(8)));
};
template <>
struct Vec<4> {
    static constexpr std::size_t W = 4;
    typedef double D __attribute__((vector_size(32)));
    typedef float F __attribute__((vector_size(16)));
};
template <>
struct Vec<8> {
    static constexpr std::size_t W = 8;
    typedef double D __attribute__((vector_size(64)));
    typedef float F __attribute__((vector_size(32)));
};

// Coefficients of a smoothing recursion (sigma about 2); B + a1 + a2 + a3 = 1,
// so a chain fed with its own value stays finite.
constexpr double kB = 0.2;
constexpr double kA1 = 1.3;
constexpr double kA2 = -0.6;
constexpr double kA3 = 0.1;

template <std::size_t W>
PEAK_INLINE void splat(typename Vec<W>::D& d, double v) {
    static_assert(Vec<W>::W == W, "a vector of W doubles");
    d = typename Vec<W>::D{} + v;
}

// The shapes of one recursion step, as the passes run them (per lane; B, a1,
// a2, a3 are the coefficients, y the chain's previous value, which stands in
// for all three feedback values):
//   MulAdd      B w + a1 y + a2 y + a3 y, w a double         7 operations
//   Forward     B x + a1 y + a2 y + a3 y, x a float widened  7 + 1 conversion
//   ForwardDiff B (x1 - x0) + ..., two floats widened        8 + 2 conversions
//   Backward    B w + a1 y + a2 y + a3 y, w a double, the
//               result narrowed to float and widened back    7 + 2 conversions
//   BackwardDiff B (w1 - w0) + ..., narrowed and widened     8 + 2 conversions
// The inputs x, w are read from a small array in the first-level cache each
// step, as the kernels read theirs.
enum Shape { MulAdd, Forward, ForwardDiff, Backward, BackwardDiff };

constexpr double operationsOf(Shape shape) { return shape == ForwardDiff || shape == BackwardDiff ? 8.0 : 7.0; }

// `steps` steps of R chains; returns the sum of the chains' lanes.
template <std::size_t W, std::size_t R, Shape S>
PEAK_INLINE double recursion(std::int64_t steps) {
    using D = typename Vec<W>::D;
    using F = typename Vec<W>::F;
    D b, a1, a2, a3;
    splat<W>(b, kB);
    splat<W>(a1, kA1);
    splat<W>(a2, kA2);
    splat<W>(a3, kA3);
    D y[R];
    alignas(64) float xs[2][R * W];
    alignas(64) double ws[2][R * W];
    for (std::size_t r = 0; r < R; ++r) {
        splat<W>(y[r], 1.0 + static_cast<double>(r));
    }
    for (std::size_t i = 0; i < R * W; ++i) {
        xs[0][i] = 0.25f;
        xs[1][i] = 0.5f;
        ws[0][i] = 0.25;
        ws[1][i] = 0.5;
    }
    for (std::int64_t k = 0; k < steps; ++k) {
        // The inputs are read again every step.
        asm volatile("" ::: "memory");
#pragma GCC unroll 16
        for (std::size_t r = 0; r < R; ++r) {
            D in;
            if constexpr (S == MulAdd) {
                std::memcpy(&in, &ws[0][r * W], sizeof in);
            } else if constexpr (S == Forward || S == ForwardDiff) {
                F f;
                std::memcpy(&f, &xs[0][r * W], sizeof f);
                com::norvane::filtering::detail::widen<Vec<W>>(in, f);
                if constexpr (S == ForwardDiff) {
                    D other;
                    std::memcpy(&f, &xs[1][r * W], sizeof f);
                    com::norvane::filtering::detail::widen<Vec<W>>(other, f);
                    in = other - in;
                }
            } else {
                std::memcpy(&in, &ws[0][r * W], sizeof in);
                if constexpr (S == BackwardDiff) {
                    D other;
                    std::memcpy(&other, &ws[1][r * W], sizeof other);
                    in = other - in;
                }
            }
            D v = b * in + a1 * y[r] + a2 * y[r] + a3 * y[r];
            if constexpr (S == Backward || S == BackwardDiff) {
                // The kernels' own conversions (one instruction each way).
                const F f = __builtin_convertvector(v, F);
                com::norvane::filtering::detail::widen<Vec<W>>(v, f);
            }
            y[r] = v;
        }
    }
    double s = 0.0;
    for (std::size_t r = 0; r < R; ++r) {
        for (std::size_t i = 0; i < W; ++i) {
            s += y[r][i];
        }
    }
    return s;
}

// Independent narrowing and widening conversions, R vectors each step.
template <std::size_t W, std::size_t R>
PEAK_INLINE double conversions(std::int64_t steps) {
    using D = typename Vec<W>::D;
    using F = typename Vec<W>::F;
    // Start values the compiler cannot know, so that nothing is folded.
    volatile double start = 1.0;
    D y[R];
    for (std::size_t r = 0; r < R; ++r) {
        splat<W>(y[r], start + static_cast<double>(r));
    }
    for (std::int64_t k = 0; k < steps; ++k) {
#pragma GCC unroll 16
        for (std::size_t r = 0; r < R; ++r) {
            const F f = __builtin_convertvector(y[r], F);
            com::norvane::filtering::detail::widen<Vec<W>>(y[r], f);
        }
    }
    double s = 0.0;
    for (std::size_t r = 0; r < R; ++r) {
        s += y[r][0];
    }
    return s;
}

constexpr std::int64_t kSteps = std::int64_t{1} << 22;

template <std::size_t W, std::size_t R, Shape S>
double runRecursion(std::int64_t steps) {
    return recursion<W, R, S>(steps);
}
#ifdef PEAK_X86
template <std::size_t R, Shape S>
PEAK_AVX2 double runRecursionAvx2(std::int64_t steps) {
    return recursion<4, R, S>(steps);
}
template <std::size_t R, Shape S>
PEAK_AVX512 double runRecursionAvx512(std::int64_t steps) {
    return recursion<8, R, S>(steps);
}
template <std::size_t R>
PEAK_AVX2 double runConversionsAvx2(std::int64_t steps) {
    return conversions<4, R>(steps);
}
#endif

template <std::size_t W>
bool supported() {
#ifdef PEAK_X86
    if constexpr (W == 4) {
        return __builtin_cpu_supports("avx2");
    } else if constexpr (W == 8) {
        return __builtin_cpu_supports("avx512f");
    }
#endif
    return W == 2;
}

template <std::size_t W, std::size_t R, Shape S>
void BM_Recursion(benchmark::State& state) {
    if (!supported<W>()) {
        state.SkipWithError("vector width not supported here");
        return;
    }
    for (auto _ : state) {
        double s = 0.0;
        if constexpr (W == 2) {
            s = runRecursion<2, R, S>(kSteps);
        }
#ifdef PEAK_X86
        if constexpr (W == 4) {
            s = runRecursionAvx2<R, S>(kSteps);
        } else if constexpr (W == 8) {
            s = runRecursionAvx512<R, S>(kSteps);
        }
#endif
        benchmark::DoNotOptimize(s);
    }
    const double laneSteps = static_cast<double>(kSteps) * static_cast<double>(R * W);
    state.counters["steps/s"] =
        benchmark::Counter(laneSteps * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["dops/s"] =
        benchmark::Counter(operationsOf(S) * laneSteps * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

#ifdef PEAK_X86
template <std::size_t R>
void BM_Conversions(benchmark::State& state) {
    if (!supported<4>()) {
        state.SkipWithError("vector width not supported here");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(runConversionsAvx2<R>(kSteps));
    }
    // One narrowing and one widening conversion per lane and step.
    state.counters["conversions/s"] = benchmark::Counter(
        2.0 * static_cast<double>(kSteps) * static_cast<double>(R * 4) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}
#endif

// The memory floor of a pass over a 256^3 float volume on one core: every
// voxel read and written once, in place (the Y and Z passes) or into a second
// volume (the X pass, whose output is written for the first time). The
// arithmetic is one multiplication per voxel, far below the units' rate.
constexpr std::size_t kVolume = std::size_t{256} * 256 * 256;

void BM_StreamInPlace(benchmark::State& state) {
    std::vector<float> v(kVolume, 1.0f);
    for (auto _ : state) {
        float* p = v.data();
        for (std::size_t i = 0; i < kVolume; ++i) {
            p[i] *= 0.999f;
        }
        benchmark::DoNotOptimize(p);
        benchmark::ClobberMemory();
    }
    state.counters["voxels/s"] = benchmark::Counter(
        static_cast<double>(kVolume) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_StreamCopy(benchmark::State& state) {
    std::vector<float> in(kVolume, 1.0f);
    std::vector<float> out(kVolume, 0.0f);
    for (auto _ : state) {
        const float* p = in.data();
        float* q = out.data();
        for (std::size_t i = 0; i < kVolume; ++i) {
            q[i] = p[i] * 0.999f;
        }
        benchmark::DoNotOptimize(q);
        benchmark::ClobberMemory();
    }
    state.counters["voxels/s"] = benchmark::Counter(
        static_cast<double>(kVolume) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_StreamInPlace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamCopy)->Unit(benchmark::kMillisecond);

#define PEAK_RECURSION(W, R)                                                           \
    BENCHMARK_TEMPLATE(BM_Recursion, W, R, MulAdd)->Unit(benchmark::kMillisecond);      \
    BENCHMARK_TEMPLATE(BM_Recursion, W, R, Forward)->Unit(benchmark::kMillisecond);     \
    BENCHMARK_TEMPLATE(BM_Recursion, W, R, ForwardDiff)->Unit(benchmark::kMillisecond); \
    BENCHMARK_TEMPLATE(BM_Recursion, W, R, Backward)->Unit(benchmark::kMillisecond);    \
    BENCHMARK_TEMPLATE(BM_Recursion, W, R, BackwardDiff)->Unit(benchmark::kMillisecond)

PEAK_RECURSION(2, 1);
PEAK_RECURSION(2, 8);
PEAK_RECURSION(2, 12);
PEAK_RECURSION(4, 1);
PEAK_RECURSION(4, 4);
PEAK_RECURSION(4, 8);
PEAK_RECURSION(4, 10);
PEAK_RECURSION(4, 12);
PEAK_RECURSION(8, 8);
PEAK_RECURSION(8, 12);
#ifdef PEAK_X86
BENCHMARK_TEMPLATE(BM_Conversions, 8)->Unit(benchmark::kMillisecond);
#endif
