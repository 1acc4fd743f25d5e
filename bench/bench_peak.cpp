// The peak double-precision throughput of one core for the arithmetic the
// recursive filter's passes do: recursions y = B x + a1 y1 + a2 y2 + a3 y3
// (four multiplications and three additions, evaluated left to right, no fused
// multiply-add), R independent lines interleaved, at the vector widths of the
// block kernels (two doubles with the base instruction set, four with AVX2,
// eight with AVX-512).
//
// - BM_Recursion<W, R>: R chains of W-lane vectors held in registers, each
//   step four multiplications and three additions that depend on the chain's
//   previous value (the latency a pass hides by interleaving lines). With R
//   large enough the multiply and add units are full: that rate is the peak.
// - BM_RecursionRoundTrip<W, R>: the same with the new value converted to
//   float and back each step, as the backward sweep feeds back its float
//   output (one narrowing and one widening conversion more per step).
// - BM_Conversions<W>: the conversions alone, independent (their throughput).
//
// Counters: "dops/s" counts the multiplications and additions (per double
// lane), "steps/s" recursion steps per lane. The bound of a pass is its double
// operations per voxel divided by the best dops/s (see docs/performance.md).
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

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
    d = typename Vec<W>::D{} + v;
}

// `steps` steps of R chains; returns the sum of the chains' lanes.
template <std::size_t W, std::size_t R, bool RoundTrip>
PEAK_INLINE double recursion(std::int64_t steps) {
    using D = typename Vec<W>::D;
    using F = typename Vec<W>::F;
    D b, a1, a2, a3;
    splat<W>(b, kB);
    splat<W>(a1, kA1);
    splat<W>(a2, kA2);
    splat<W>(a3, kA3);
    D y[R];
    for (std::size_t r = 0; r < R; ++r) {
        splat<W>(y[r], 1.0 + static_cast<double>(r));
    }
    // Opaque to the compiler, so that nothing is hoisted out of the loop.
    asm volatile("" : "+x"(b), "+x"(a1), "+x"(a2), "+x"(a3));
    for (std::int64_t k = 0; k < steps; ++k) {
#pragma GCC unroll 16
        for (std::size_t r = 0; r < R; ++r) {
            D v = b * y[r] + a1 * y[r] + a2 * y[r] + a3 * y[r];
            if constexpr (RoundTrip) {
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
    D y[R];
    for (std::size_t r = 0; r < R; ++r) {
        splat<W>(y[r], 1.0 + static_cast<double>(r));
        asm volatile("" : "+x"(y[r]));
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

template <std::size_t W, std::size_t R, bool RoundTrip>
double runRecursion(std::int64_t steps) {
    return recursion<W, R, RoundTrip>(steps);
}
#ifdef PEAK_X86
template <std::size_t R, bool RoundTrip>
PEAK_AVX2 double runRecursionAvx2(std::int64_t steps) {
    return recursion<4, R, RoundTrip>(steps);
}
template <std::size_t R, bool RoundTrip>
PEAK_AVX512 double runRecursionAvx512(std::int64_t steps) {
    return recursion<8, R, RoundTrip>(steps);
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

template <std::size_t W, std::size_t R, bool RoundTrip>
void BM_Recursion(benchmark::State& state) {
    if (!supported<W>()) {
        state.SkipWithError("vector width not supported here");
        return;
    }
    for (auto _ : state) {
        double s = 0.0;
        if constexpr (W == 2) {
            s = runRecursion<2, R, RoundTrip>(kSteps);
        }
#ifdef PEAK_X86
        if constexpr (W == 4) {
            s = runRecursionAvx2<R, RoundTrip>(kSteps);
        } else if constexpr (W == 8) {
            s = runRecursionAvx512<R, RoundTrip>(kSteps);
        }
#endif
        benchmark::DoNotOptimize(s);
    }
    const double laneSteps = static_cast<double>(kSteps) * static_cast<double>(R * W);
    state.counters["steps/s"] =
        benchmark::Counter(laneSteps * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["dops/s"] =
        benchmark::Counter(7.0 * laneSteps * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
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

}  // namespace

#define PEAK_RECURSION(W, R)                                                         \
    BENCHMARK_TEMPLATE(BM_Recursion, W, R, false)->Unit(benchmark::kMillisecond); \
    BENCHMARK_TEMPLATE(BM_Recursion, W, R, true)->Unit(benchmark::kMillisecond)

PEAK_RECURSION(2, 1);
PEAK_RECURSION(2, 4);
PEAK_RECURSION(2, 8);
PEAK_RECURSION(2, 12);
PEAK_RECURSION(4, 1);
PEAK_RECURSION(4, 4);
PEAK_RECURSION(4, 6);
PEAK_RECURSION(4, 8);
PEAK_RECURSION(4, 10);
PEAK_RECURSION(4, 12);
PEAK_RECURSION(8, 4);
PEAK_RECURSION(8, 8);
PEAK_RECURSION(8, 12);
#ifdef PEAK_X86
BENCHMARK_TEMPLATE(BM_Conversions, 8)->Unit(benchmark::kMillisecond);
#endif
