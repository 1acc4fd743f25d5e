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

template <std::size_t L, class In, class Out>
void filterBlock(unsigned int order, const In* x, std::size_t xs, Out* y, std::size_t ys, std::size_t n,
                 const RecursiveCoefficients& c, double* w) {
    const double B = c.B, a1 = c.a1, a2 = c.a2, a3 = c.a3;
    // Causal state w[k-1], w[k-2], w[k-3] per lane, and the inputs of the next step.
    double p1[L], p2[L], p3[L];
    auto X = [&](std::size_t k, std::size_t l) { return loadSample(x[k * xs + l]); };
    auto push = [&](std::size_t k, std::size_t l, double v) {
        w[k * L + l] = v;
        p3[l] = p2[l];
        p2[l] = p1[l];
        p1[l] = v;
    };

    // ---- Causal pass, continued past the end; the last three values stay in p1..p3.
    std::size_t last;  // index of the last causal value computed
    if (order == 0) {
        for (std::size_t l = 0; l < L; ++l) {
            p1[l] = p2[l] = p3[l] = 0.0;
            push(0, l, B * X(0, l));
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(1, l, B * X(1, l) + a1 * p1[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(2, l, B * X(2, l) + a1 * p1[l] + a2 * p2[l]);
        }
        for (std::size_t k = 3; k < n; ++k) {
            for (std::size_t l = 0; l < L; ++l) {
                push(k, l, B * X(k, l) + a1 * p1[l] + a2 * p2[l] + a3 * p3[l]);
            }
        }
        last = n + 1;
    } else if (order == 1) {
        const double h = B / 2.0;
        for (std::size_t l = 0; l < L; ++l) {
            p1[l] = h * X(0, l);  // the value one sample before the line
            p2[l] = p3[l] = 0.0;
            const double w0 = h * X(1, l) + a1 * p1[l];
            push(0, l, w0);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(1, l, h * (X(2, l) - X(0, l)) + a1 * p1[l] + a2 * p2[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(2, l, h * (X(3, l) - X(1, l)) + a1 * p1[l] + a2 * p2[l] + a3 * p3[l]);
        }
        for (std::size_t k = 3; k + 1 < n; ++k) {
            for (std::size_t l = 0; l < L; ++l) {
                push(k, l, h * (X(k + 1, l) - X(k - 1, l)) + a1 * p1[l] + a2 * p2[l] + a3 * p3[l]);
            }
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(n - 1, l, -h * X(n - 2, l) + a1 * p1[l] + a2 * p2[l] + a3 * p3[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(n, l, -h * X(n - 1, l) + a1 * p1[l] + a2 * p2[l] + a3 * p3[l]);
        }
        last = n + 2;
    } else {
        for (std::size_t l = 0; l < L; ++l) {
            p1[l] = p2[l] = p3[l] = 0.0;
            push(0, l, B * X(0, l));
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(1, l, B * (X(1, l) - X(0, l)) + a1 * p1[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(2, l, B * (X(2, l) - X(1, l)) + a1 * p1[l] + a2 * p2[l]);
        }
        for (std::size_t k = 3; k < n; ++k) {
            for (std::size_t l = 0; l < L; ++l) {
                push(k, l, B * (X(k, l) - X(k - 1, l)) + a1 * p1[l] + a2 * p2[l] + a3 * p3[l]);
            }
        }
        for (std::size_t l = 0; l < L; ++l) {
            push(n, l, -B * X(n - 1, l) + a1 * p1[l] + a2 * p2[l] + a3 * p3[l]);
        }
        last = n + 2;
    }
    // Zero-input steps up to `last`.
    const std::size_t first = order == 0 ? n : n + 1;
    for (std::size_t k = first; k <= last; ++k) {
        for (std::size_t l = 0; l < L; ++l) {
            push(k, l, a1 * p1[l] + a2 * p2[l] + a3 * p3[l]);
        }
    }

    // ---- Start values from the boundary matrix: p3, p2, p1 = w[m], w[m+1], w[m+2].
    double t0[L], t1[L], t2[L];
    for (std::size_t l = 0; l < L; ++l) {
        t0[l] = c.m[0][0] * p3[l] + c.m[0][1] * p2[l] + c.m[0][2] * p1[l];
        t1[l] = c.m[1][0] * p3[l] + c.m[1][1] * p2[l] + c.m[1][2] * p1[l];
        t2[l] = c.m[2][0] * p3[l] + c.m[2][1] * p2[l] + c.m[2][2] * p1[l];
    }

    // ---- Anti-causal pass. f1, f2, f3: the outputs one, two, three samples
    // ahead as read back after conversion to Out.
    double f1[L], f2[L], f3[L];
    auto emit = [&](std::size_t k, std::size_t l, double v) {
        Out& o = y[k * ys + l];
        storeSample(o, v);
        f3[l] = f2[l];
        f2[l] = f1[l];
        f1[l] = loadSample(o);
    };
    auto input = [&](std::size_t k, std::size_t l) {
        return order == 2 ? w[(k + 1) * L + l] - w[k * L + l] : w[k * L + l];
    };
    std::size_t k;  // next output sample to write, counting down
    if (order == 0) {
        for (std::size_t l = 0; l < L; ++l) {
            f1[l] = f2[l] = f3[l] = 0.0;
            emit(n - 1, l, t0[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 2, l, B * w[(n - 2) * L + l] + a1 * f1[l] + a2 * t1[l] + a3 * t2[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 3, l, B * w[(n - 3) * L + l] + a1 * f1[l] + a2 * f2[l] + a3 * t1[l]);
        }
        k = n - 3;
    } else {
        for (std::size_t l = 0; l < L; ++l) {
            f1[l] = f2[l] = f3[l] = 0.0;
            emit(n - 1, l, B * input(n - 1, l) + a1 * t0[l] + a2 * t1[l] + a3 * t2[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 2, l, B * input(n - 2, l) + a1 * f1[l] + a2 * t0[l] + a3 * t1[l]);
        }
        for (std::size_t l = 0; l < L; ++l) {
            emit(n - 3, l, B * input(n - 3, l) + a1 * f1[l] + a2 * f2[l] + a3 * t0[l]);
        }
        k = n - 3;
    }
    if (order == 2) {
        while (k-- > 0) {
            for (std::size_t l = 0; l < L; ++l) {
                emit(k, l, B * (w[(k + 1) * L + l] - w[k * L + l]) + a1 * f1[l] + a2 * f2[l] + a3 * f3[l]);
            }
        }
    } else {
        while (k-- > 0) {
            for (std::size_t l = 0; l < L; ++l) {
                emit(k, l, B * w[k * L + l] + a1 * f1[l] + a2 * f2[l] + a3 * f3[l]);
            }
        }
    }
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
