// Several recursive filter lines at once (private to the library).
//
// The volume filter's lines are independent, so a block of L lines is filtered
// together: lane l's sample k is at x[k * xs + l] and y[k * ys + l], so the
// lanes of one sample are neighbours in memory and the loops over the lanes
// vectorise. Each lane goes through exactly the arithmetic of the line kernels
// (RecursiveLine.h), in the same order, with the same double-precision values
// and the same feedback after conversion to Out, so the results are identical
// bit for bit. Only scalar Out (float, double) is handled here; vector voxels
// are filtered as three float lanes each.
//
// w holds (n + 3) * L doubles. x and y may be the same memory: every input
// sample of the block is read before the first output sample is written.
// Needs n >= 3 (n >= 4 for the first derivative).
#pragma once

#include <cstddef>

#include <nvfiltering/recursive/detail/RecursiveLine.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

#if defined(__GNUC__)
#define NVF_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define NVF_ALWAYS_INLINE inline
#endif

// Always inlined, so that a caller compiled for a wider instruction set (see
// the volume filter) gets the loops vectorised for it; the arithmetic is the
// same IEEE double arithmetic either way (no fused multiply-add).
template <std::size_t L, class In, class Out>
NVF_ALWAYS_INLINE void filterBlock(unsigned int order, const In* x, std::size_t xs, Out* y, std::size_t ys, std::size_t n,
                 const RecursiveCoefficients& c, double* w) {
    const double B = c.B, a1 = c.a1, a2 = c.a2, a3 = c.a3;
    // Only the newest value of each recursion is kept per lane (p1, f1); the
    // older ones are read back from w and y, where they were stored a few steps
    // earlier, so that the lanes' state stays in registers.
    double p1[L];
    auto X = [&](std::size_t k, std::size_t l) { return loadSample(x[k * xs + l]); };
    auto W = [&](std::size_t k, std::size_t l) { return w[k * L + l]; };
    auto push = [&](std::size_t k, std::size_t l, double v) {
        w[k * L + l] = v;
        p1[l] = v;
    };

    // ---- Causal pass, continued with zero input up to w[last].
    std::size_t first;  // first step with zero input
    std::size_t last;
    if (order == 0) {
        for (std::size_t l = 0; l < L; ++l) {
            push(0, l, B * X(0, l));
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(1, l, B * X(1, l) + a1 * p1[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(2, l, B * X(2, l) + a1 * p1[l] + a2 * W(0, l));
        }
        for (std::size_t k = 3; k < n; ++k) {
            for (std::size_t l = 0; l < L; ++l) {
                push(k, l, B * X(k, l) + a1 * p1[l] + a2 * W(k - 2, l) + a3 * W(k - 3, l));
            }
        }
        first = n;
        last = n + 1;
    } else if (order == 1) {
        const double h = B / 2.0;
        double before[L];  // the causal value one sample before the line
        for (std::size_t l = 0; l < L; ++l) {
            before[l] = h * X(0, l);
            push(0, l, h * X(1, l) + a1 * before[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(1, l, h * (X(2, l) - X(0, l)) + a1 * p1[l] + a2 * before[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(2, l, h * (X(3, l) - X(1, l)) + a1 * p1[l] + a2 * W(0, l) + a3 * before[l]);
        }
        for (std::size_t k = 3; k + 1 < n; ++k) {
            for (std::size_t l = 0; l < L; ++l) {
                push(k, l, h * (X(k + 1, l) - X(k - 1, l)) + a1 * p1[l] + a2 * W(k - 2, l) + a3 * W(k - 3, l));
            }
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(n - 1, l, -h * X(n - 2, l) + a1 * p1[l] + a2 * W(n - 3, l) + a3 * W(n - 4, l));
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(n, l, -h * X(n - 1, l) + a1 * p1[l] + a2 * W(n - 2, l) + a3 * W(n - 3, l));
        }
        first = n + 1;
        last = n + 2;
    } else {
        for (std::size_t l = 0; l < L; ++l) {
            push(0, l, B * X(0, l));
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(1, l, B * (X(1, l) - X(0, l)) + a1 * p1[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(2, l, B * (X(2, l) - X(1, l)) + a1 * p1[l] + a2 * W(0, l));
        }
        for (std::size_t k = 3; k < n; ++k) {
            for (std::size_t l = 0; l < L; ++l) {
                push(k, l, B * (X(k, l) - X(k - 1, l)) + a1 * p1[l] + a2 * W(k - 2, l) + a3 * W(k - 3, l));
            }
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(n, l, -B * X(n - 1, l) + a1 * p1[l] + a2 * W(n - 2, l) + a3 * W(n - 3, l));
        }
        first = n + 1;
        last = n + 2;
    }
    for (std::size_t k = first; k <= last; ++k) {
        for (std::size_t l = 0; l < L; ++l) {
            push(k, l, a1 * p1[l] + a2 * W(k - 2, l) + a3 * W(k - 3, l));
        }
    }

    // ---- Start values from the boundary matrix and w[m], w[m+1], w[m+2].
    const std::size_t m = last - 2;
    double t0[L], t1[L], t2[L];
    for (std::size_t l = 0; l < L; ++l) {
        t0[l] = c.m[0][0] * W(m, l) + c.m[0][1] * W(m + 1, l) + c.m[0][2] * W(m + 2, l);
        t1[l] = c.m[1][0] * W(m, l) + c.m[1][1] * W(m + 1, l) + c.m[1][2] * W(m + 2, l);
        t2[l] = c.m[2][0] * W(m, l) + c.m[2][1] * W(m + 1, l) + c.m[2][2] * W(m + 2, l);
    }

    // ---- Anti-causal pass; f1 is the output one sample ahead as read back after
    // conversion to Out, older outputs are read back from y.
    double f1[L];
    auto Y = [&](std::size_t k, std::size_t l) { return loadSample(y[k * ys + l]); };
    auto emit = [&](std::size_t k, std::size_t l, double v) {
        Out& o = y[k * ys + l];
        storeSample(o, v);
        f1[l] = loadSample(o);
    };
    if (order == 0) {
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 1, l, t0[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 2, l, B * W(n - 2, l) + a1 * f1[l] + a2 * t1[l] + a3 * t2[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 3, l, B * W(n - 3, l) + a1 * f1[l] + a2 * Y(n - 1, l) + a3 * t1[l]);
        }
        for (std::size_t k = n - 3; k-- > 0;) {
            for (std::size_t l = 0; l < L; ++l) {
                emit(k, l, B * W(k, l) + a1 * f1[l] + a2 * Y(k + 2, l) + a3 * Y(k + 3, l));
            }
        }
    } else {
        const bool second = order == 2;
        auto V = [&](std::size_t k, std::size_t l) { return second ? W(k + 1, l) - W(k, l) : W(k, l); };
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 1, l, B * V(n - 1, l) + a1 * t0[l] + a2 * t1[l] + a3 * t2[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 2, l, B * V(n - 2, l) + a1 * f1[l] + a2 * t0[l] + a3 * t1[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 3, l, B * V(n - 3, l) + a1 * f1[l] + a2 * Y(n - 1, l) + a3 * t0[l]);
        }
        if (second) {
            for (std::size_t k = n - 3; k-- > 0;) {
                for (std::size_t l = 0; l < L; ++l) {
                    emit(k, l, B * (W(k + 1, l) - W(k, l)) + a1 * f1[l] + a2 * Y(k + 2, l) + a3 * Y(k + 3, l));
                }
            }
        } else {
            for (std::size_t k = n - 3; k-- > 0;) {
                for (std::size_t l = 0; l < L; ++l) {
                    emit(k, l, B * W(k, l) + a1 * f1[l] + a2 * Y(k + 2, l) + a3 * Y(k + 3, l));
                }
            }
        }
    }
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
