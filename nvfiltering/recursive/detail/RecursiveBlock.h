// Several recursive filter lines at once (private to the library).
//
// The volume filter's lines are independent, so a block of lanes (lines) is
// filtered together: lane l's sample k is at x[k * xs + l] and y[k * ys + l],
// so the lanes of one sample are neighbours in memory. The lanes are held in
// vectors of doubles (VT::W per vector, VT::R vectors per block, so a block has
// VT::W * VT::R lanes), enough of them that the latency of one lane's recursion
// is hidden behind the others.
//
// Each lane goes through exactly the arithmetic of the line kernels
// (RecursiveLine.h), in the same order, with the same double-precision values
// and the same feedback after conversion to Out, so the results are identical
// bit for bit whatever the vector width. Only scalar Out (float, double) is
// handled here; vector voxels are filtered as three float lanes each.
//
// w holds (n + 3) * lanes doubles (the causal values), fb 4 * lanes doubles
// (the latest outputs as read back after conversion, a ring of four samples).
// The output is written only: x and y may be the same memory, since every input
// sample of the block is read before the first output sample is written.
// With Scaled, float output is written multiplied by `scale` (a float product),
// while the recursion goes on with the unscaled values.
// Needs n >= 3 (n >= 4 for the first derivative).
// nextIn and nextOut name memory the caller will read and write next (the next
// block's input, this block's output rows); the forward and backward sweeps ask
// for it a piece per step (SweepPrefetch). They change no result.
//
// The kernels are compiled for several instruction sets and must give the same
// bits in each: the project builds with -ffp-contract=off, so no multiplication
// and addition are fused into one instruction.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include <nvfiltering/recursive/detail/RecursiveLine.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

#if defined(__GNUC__)
#define NVF_ALWAYS_INLINE inline __attribute__((always_inline))
#define NVF_LAMBDA_INLINE __attribute__((always_inline))
#else
#define NVF_ALWAYS_INLINE inline
#define NVF_LAMBDA_INLINE
#endif

// Calls f(std::integral_constant<std::size_t, r>()) for r = 0 ... R-1, each
// call inlined: the R vectors of a block step are written out one after the
// other, so that per-vector state (an array indexed by r) stays in registers.
// (An unroll pragma is only a hint; GCC leaves some of these loops rolled and
// then keeps the state in memory, on the recursion's critical path.)
template <class F, std::size_t... I>
NVF_ALWAYS_INLINE void eachVectorOf(F& f, std::index_sequence<I...>) {
    (f(std::integral_constant<std::size_t, I>()), ...);
}
template <std::size_t R, class F>
NVF_ALWAYS_INLINE void eachVector(F&& f) {
    eachVectorOf(f, std::make_index_sequence<R>());
}

// Vector shapes: W doubles per vector (and the matching float and byte
// vectors for loads and stores), R vectors per block. 8-bit input is widened
// to float before it reaches the kernels.
struct Lanes2x8 {
    static constexpr std::size_t W = 2;
    static constexpr std::size_t R = 8;
    typedef double D __attribute__((vector_size(16)));
    typedef float F __attribute__((vector_size(8)));
};
struct Lanes4x8 {
    static constexpr std::size_t W = 4;
    static constexpr std::size_t R = 8;
    typedef double D __attribute__((vector_size(32)));
    typedef float F __attribute__((vector_size(16)));
};
struct Lanes8x8 {
    static constexpr std::size_t W = 8;
    static constexpr std::size_t R = 8;
    typedef double D __attribute__((vector_size(64)));
    typedef float F __attribute__((vector_size(32)));
};

// Loads W samples as doubles.
template <class VT>
NVF_ALWAYS_INLINE void loadLanes(typename VT::D& d, const double* p) {
    std::memcpy(&d, p, sizeof d);
}
// Widens W floats to doubles. GCC splits the four- and eight-lane conversions
// into halves (with a round trip through the stack for four lanes) and the
// two-lane one into scalar conversions; one instruction does each (the same
// exact conversion). Clang emits that instruction by itself and rejects the
// 64-byte operand outside AVX-512 code generation.
template <class VT>
NVF_ALWAYS_INLINE void widen(typename VT::D& d, const typename VT::F& f) {
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
    if constexpr (VT::W == 8) {
        asm("vcvtps2pd %1, %0" : "=v"(d) : "vm"(f));
        return;
    } else if constexpr (VT::W == 4) {
        asm("vcvtps2pd %1, %0" : "=x"(d) : "xm"(f));
        return;
    }
#if !defined(__AVX__)
    if constexpr (VT::W == 2) {
        // Two lanes: GCC converts each float on its own and packs the pair.
        asm("cvtps2pd %1, %0" : "=x"(d) : "xm"(f));
        return;
    }
#endif
#endif
    d = __builtin_convertvector(f, typename VT::D);
}
template <class VT>
NVF_ALWAYS_INLINE void loadLanes(typename VT::D& d, const float* p) {
    typename VT::F f;
    std::memcpy(&f, p, sizeof f);
    widen<VT>(d, f);
}

// Stores W outputs converted to the output type; fb receives them as read back.
template <class VT, bool Scaled>
NVF_ALWAYS_INLINE void storeLanes(float* p, const typename VT::D& v, typename VT::D& fb, float scale) {
    const typename VT::F f = __builtin_convertvector(v, typename VT::F);
    widen<VT>(fb, f);
    if constexpr (Scaled) {
        const typename VT::F s = f * scale;
        std::memcpy(p, &s, sizeof s);
    } else {
        std::memcpy(p, &f, sizeof f);
    }
}
template <class VT, bool Scaled>
NVF_ALWAYS_INLINE void storeLanes(double* p, const typename VT::D& v, typename VT::D& fb, float) {
    static_assert(!Scaled, "scaled output is float only");
    std::memcpy(p, &v, sizeof v);
    fb = v;
}

// Lines of far apart samples (the Z pass) are not fetched ahead by the
// processor: the row of lanes a few samples ahead is asked for explicitly
// (reading, or writing when `write`). Rows outside 0 ... n-1 are skipped (an
// index below 0 has wrapped round to a huge value). A row need not start on a
// cache line (volumes are aligned to 16 bytes), so the line of its last byte
// is asked for too: without it one line in three of a misaligned row arrived
// only when the sweep read it.
constexpr std::size_t kPrefetchDistance = 16;

template <std::size_t L, class T>
NVF_ALWAYS_INLINE void prefetchRow(const T* p, std::size_t stride, std::size_t k, std::size_t n, int write) {
#if defined(__GNUC__)
    if (k < n) {
        const char* row = reinterpret_cast<const char*>(p + k * stride);
        constexpr std::size_t bytes = L * sizeof(T);
        for (std::size_t b = 0; b < bytes; b += 64) {
            if (write) {
                __builtin_prefetch(row + b, 1);
            } else {
                __builtin_prefetch(row + b, 0);
            }
        }
        if (write) {
            __builtin_prefetch(row + bytes - 1, 1);
        } else {
            __builtin_prefetch(row + bytes - 1, 0);
        }
    }
#else
    (void)p, (void)stride, (void)k, (void)n, (void)write;
#endif
}

// Memory a sweep asks for a piece at a time while it runs, so that the
// requests overlap the arithmetic instead of waiting in a burst: at step k the
// bytes [k * stride, k * stride + bytes) from begin, cut at `span` bytes (rows
// of the next block, or a contiguous region in n slices). Empty: nothing.
struct SweepPrefetch {
    const char* begin = nullptr;
    std::size_t span = 0;
    std::size_t stride = 0;
    std::size_t bytes = 0;
};

// The region [p, p + count) of T in n slices, one per step.
template <class T>
inline SweepPrefetch regionPrefetch(const T* p, std::size_t count, std::size_t n) {
    const std::size_t span = count * sizeof(T);
    const std::size_t slice = (span + n - 1) / n;
    return SweepPrefetch{reinterpret_cast<const char*>(p), span, slice, slice};
}

// Rows of `width` T, `stride` T apart, one per step (n rows).
template <class T>
inline SweepPrefetch rowsPrefetch(const T* p, std::size_t stride, std::size_t width, std::size_t n) {
    return SweepPrefetch{reinterpret_cast<const char*>(p), ((n - 1) * stride + width) * sizeof(T), stride * sizeof(T),
                         width * sizeof(T)};
}

NVF_ALWAYS_INLINE void prefetchStep(const SweepPrefetch& f, std::size_t k, int write) {
#if defined(__GNUC__)
    const std::size_t at = k * f.stride;
    if (f.begin == nullptr || at >= f.span) {
        return;
    }
    const std::size_t end = std::min(at + f.bytes, f.span);
    for (std::size_t b = at; b < end; b += 64) {
        if (write) {
            __builtin_prefetch(f.begin + b, 1);
        } else {
            __builtin_prefetch(f.begin + b, 0);
        }
    }
    if (write) {
        __builtin_prefetch(f.begin + end - 1, 1);
    } else {
        __builtin_prefetch(f.begin + end - 1, 0);
    }
#else
    (void)f, (void)k, (void)write;
#endif
}

template <class VT, unsigned int Order, bool Scaled = false, class In, class Out>
NVF_ALWAYS_INLINE void filterLanes(const In* x, std::size_t xs, Out* y, std::size_t ys,
                                   std::size_t n, const RecursiveCoefficients& c, double* w, double* fb,
                                   float scale = 1.0f, const SweepPrefetch& nextIn = {},
                                   const SweepPrefetch& nextOut = {}) {
    using D = typename VT::D;
    constexpr std::size_t W = VT::W;
    constexpr std::size_t R = VT::R;
    constexpr std::size_t L = W * R;
    const double B = c.B, a1 = c.a1, a2 = c.a2, a3 = c.a3;

    // Only the newest causal value of each vector is kept in a register (p1);
    // the older ones are read back from w, where they were stored a few steps
    // earlier. The same for the outputs (f1, and the ring fb).
    D p1[R];
    D v0, v1, wa, wb;
#define NVF_X(k) (x + (k) * xs + r * W)
#define NVF_W(k) (w + (k) * L + r * W)
#define NVF_PUSH(k, value)                        \
    do {                                          \
        p1[r] = (value);                          \
        std::memcpy(NVF_W(k), &p1[r], sizeof(D)); \
    } while (0)

    // ---- Causal pass, continued with zero input up to w[last].
    std::size_t first;  // first step with zero input
    std::size_t last;
    if constexpr (Order != 1) {
        // Smoothing and the second derivative start alike: B * x[0].
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(v0, NVF_X(0));
            NVF_PUSH(0, B * v0);
        }
    }
    if constexpr (Order == 0) {
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(v0, NVF_X(1));
            NVF_PUSH(1, B * v0 + a1 * p1[r]);
        }
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(v0, NVF_X(2));
            loadLanes<VT>(wa, NVF_W(0));
            NVF_PUSH(2, B * v0 + a1 * p1[r] + a2 * wa);
        }
        for (std::size_t k = 3; k < n; ++k) {
            prefetchRow<L>(x, xs, k + kPrefetchDistance, n, 0);
            prefetchStep(nextIn, k, 0);
#pragma GCC unroll 8
            for (std::size_t r = 0; r < R; ++r) {
                loadLanes<VT>(v0, NVF_X(k));
                loadLanes<VT>(wa, NVF_W(k - 2));
                loadLanes<VT>(wb, NVF_W(k - 3));
                NVF_PUSH(k, B * v0 + a1 * p1[r] + a2 * wa + a3 * wb);
            }
        }
        first = n;
        last = n + 1;
    } else if constexpr (Order == 1) {
        const double h = B / 2.0;
        D before[R];  // the causal value one sample before the line
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(v0, NVF_X(0));
            loadLanes<VT>(v1, NVF_X(1));
            before[r] = h * v0;
            NVF_PUSH(0, h * v1 + a1 * before[r]);
        }
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(v0, NVF_X(0));
            loadLanes<VT>(v1, NVF_X(2));
            NVF_PUSH(1, h * (v1 - v0) + a1 * p1[r] + a2 * before[r]);
        }
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(v0, NVF_X(1));
            loadLanes<VT>(v1, NVF_X(3));
            loadLanes<VT>(wa, NVF_W(0));
            NVF_PUSH(2, h * (v1 - v0) + a1 * p1[r] + a2 * wa + a3 * before[r]);
        }
    } else {
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(v0, NVF_X(0));
            loadLanes<VT>(v1, NVF_X(1));
            NVF_PUSH(1, B * (v1 - v0) + a1 * p1[r]);
        }
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(v0, NVF_X(1));
            loadLanes<VT>(v1, NVF_X(2));
            loadLanes<VT>(wa, NVF_W(0));
            NVF_PUSH(2, B * (v1 - v0) + a1 * p1[r] + a2 * wa);
        }
    }
    if constexpr (Order != 0) {
        // The rest of both derivatives: g * (x[k + ahead] - x[k - 1]) as input,
        // then -g * x[k - 1] for the samples beyond the end.
        constexpr std::size_t ahead = Order == 1 ? 1 : 0;
        const double g = Order == 1 ? B / 2.0 : B;
        for (std::size_t k = 3; k + ahead < n; ++k) {
            prefetchRow<L>(x, xs, k + kPrefetchDistance, n, 0);
            prefetchStep(nextIn, k, 0);
#pragma GCC unroll 8
            for (std::size_t r = 0; r < R; ++r) {
                loadLanes<VT>(v0, NVF_X(k - 1));
                loadLanes<VT>(v1, NVF_X(k + ahead));
                loadLanes<VT>(wa, NVF_W(k - 2));
                loadLanes<VT>(wb, NVF_W(k - 3));
                NVF_PUSH(k, g * (v1 - v0) + a1 * p1[r] + a2 * wa + a3 * wb);
            }
        }
        for (std::size_t k = n - ahead; k <= n; ++k) {
#pragma GCC unroll 8
            for (std::size_t r = 0; r < R; ++r) {
                loadLanes<VT>(v0, NVF_X(k - 1));
                loadLanes<VT>(wa, NVF_W(k - 2));
                loadLanes<VT>(wb, NVF_W(k - 3));
                NVF_PUSH(k, -g * v0 + a1 * p1[r] + a2 * wa + a3 * wb);
            }
        }
        first = n + 1;
        last = n + 2;
    }
    for (std::size_t k = first; k <= last; ++k) {
#pragma GCC unroll 8
        for (std::size_t r = 0; r < R; ++r) {
            loadLanes<VT>(wa, NVF_W(k - 2));
            loadLanes<VT>(wb, NVF_W(k - 3));
            NVF_PUSH(k, a1 * p1[r] + a2 * wa + a3 * wb);
        }
    }
#undef NVF_PUSH

    // ---- Start values from the boundary matrix and w[m], w[m+1], w[m+2].
    const std::size_t m = last - 2;
    D t0[R], t1[R], t2[R];
#pragma GCC unroll 8
    for (std::size_t r = 0; r < R; ++r) {
        D u0, u1, u2;
        loadLanes<VT>(u0, NVF_W(m));
        loadLanes<VT>(u1, NVF_W(m + 1));
        loadLanes<VT>(u2, NVF_W(m + 2));
        t0[r] = c.m[0][0] * u0 + c.m[0][1] * u1 + c.m[0][2] * u2;
        t1[r] = c.m[1][0] * u0 + c.m[1][1] * u1 + c.m[1][2] * u2;
        t2[r] = c.m[2][0] * u0 + c.m[2][1] * u1 + c.m[2][2] * u2;
    }

    // ---- Anti-causal pass; f1 is the output one sample ahead as read back after
    // conversion to Out, older outputs are read back from the ring fb.
    D f1[R];
#define NVF_FB(k) (fb + ((k) & 3u) * L + r * W)
#define NVF_EMIT(k, value)                                       \
    do {                                                         \
        const D v_ = (value);                                    \
        storeLanes<VT, Scaled>(y + (k) * ys + r * W, v_, f1[r], scale); \
        std::memcpy(NVF_FB(k), &f1[r], sizeof(D));               \
    } while (0)
    // V(k) is the anti-causal input: w[k], or w[k+1] - w[k] for the second derivative.
    constexpr bool second = Order == 2;
#define NVF_V(out, k)                             \
    do {                                          \
        loadLanes<VT>(out, NVF_W(k));             \
        if constexpr (second) {                   \
            D next_;                              \
            loadLanes<VT>(next_, NVF_W((k) + 1)); \
            out = next_ - out;                    \
        }                                         \
    } while (0)
    // The first two outputs differ by order: smoothing takes t0 as its last
    // output, the derivatives feed it back. From n - 3 on every order runs the
    // same recursion; its oldest start value is t1 for smoothing, t0 otherwise.
    if constexpr (Order == 0) {
        eachVector<R>([&](auto rc) NVF_LAMBDA_INLINE {
            constexpr std::size_t r = decltype(rc)::value;
            NVF_EMIT(n - 1, t0[r]);
        });
        eachVector<R>([&](auto rc) NVF_LAMBDA_INLINE {
            constexpr std::size_t r = decltype(rc)::value;
            D v;
            NVF_V(v, n - 2);
            NVF_EMIT(n - 2, B * v + a1 * f1[r] + a2 * t1[r] + a3 * t2[r]);
        });
    } else {
        eachVector<R>([&](auto rc) NVF_LAMBDA_INLINE {
            constexpr std::size_t r = decltype(rc)::value;
            D v;
            NVF_V(v, n - 1);
            NVF_EMIT(n - 1, B * v + a1 * t0[r] + a2 * t1[r] + a3 * t2[r]);
        });
        eachVector<R>([&](auto rc) NVF_LAMBDA_INLINE {
            constexpr std::size_t r = decltype(rc)::value;
            D v;
            NVF_V(v, n - 2);
            NVF_EMIT(n - 2, B * v + a1 * f1[r] + a2 * t0[r] + a3 * t1[r]);
        });
    }
    const D* const oldest = Order == 0 ? t1 : t0;
    eachVector<R>([&](auto rc) NVF_LAMBDA_INLINE {
        constexpr std::size_t r = decltype(rc)::value;
        D v, a;
        NVF_V(v, n - 3);
        loadLanes<VT>(a, NVF_FB(n - 1));
        NVF_EMIT(n - 3, B * v + a1 * f1[r] + a2 * a + a3 * oldest[r]);
    });
    for (std::size_t k = n - 3; k-- > 0;) {
        prefetchRow<L>(y, ys, k - kPrefetchDistance, n, 1);
        prefetchStep(nextOut, k, 1);
        eachVector<R>([&](auto rc) NVF_LAMBDA_INLINE {
            constexpr std::size_t r = decltype(rc)::value;
            D v, a, b;
            NVF_V(v, k);
            loadLanes<VT>(a, NVF_FB(k + 2));
            loadLanes<VT>(b, NVF_FB(k + 3));
            NVF_EMIT(k, B * v + a1 * f1[r] + a2 * a + a3 * b);
        });
    }
#undef NVF_V
#undef NVF_EMIT
#undef NVF_FB
#undef NVF_W
#undef NVF_X
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
