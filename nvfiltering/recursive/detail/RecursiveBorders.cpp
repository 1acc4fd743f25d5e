// The recursive Gaussian with border modes (see RecursiveBorders.h).
#include <nvfiltering/recursive/detail/RecursiveBorders.h>

#include <cmath>
#include <cstddef>
#include <type_traits>
#include <utility>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/recursive/detail/RecursiveCoefficients.h>
#include <nvfiltering/recursive/detail/RecursivePlan.h>
#include <nvfiltering/recursive/detail/RecursiveVolume.h>
#include <nvmath/CnMatrix.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

namespace {

template <class V>
V splat(double v);
template <>
double splat<double>(double v) {
    return v;
}
template <>
Vec3d splat<Vec3d>(double v) {
    return Vec3d(v, v, v);
}

struct Mat3 {
    double m[3][3];
};

Mat3 identity3() { return Mat3{{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}}; }

Mat3 multiply(const Mat3& a, const Mat3& b) {
    Mat3 p{};
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col) {
            p.m[r][col] = a.m[r][0] * b.m[0][col] + a.m[r][1] * b.m[1][col] + a.m[r][2] * b.m[2][col];
        }
    }
    return p;
}

// (I - A^P)^-1, where A steps the state (w[k-1], w[k-2], w[k-3]) of the
// recursion without input to (w[k], w[k-1], w[k-2]). The eigenvalues of A are
// the filter's poles, inside the unit circle, so I - A^P is invertible.
Mat3 periodInverse(const RecursiveCoefficients& c, std::size_t period) {
    Mat3 step{{{c.a1, c.a2, c.a3}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}}};
    Mat3 power = identity3();
    for (std::size_t p = period; p != 0; p >>= 1) {
        if ((p & 1u) != 0) {
            power = multiply(power, step);
        }
        step = multiply(step, step);
    }
    Mat3 a = identity3();
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col) {
            a.m[r][col] -= power.m[r][col];
        }
    }
    const double (*m)[3] = a.m;
    Mat3 adj{{{m[1][1] * m[2][2] - m[1][2] * m[2][1], m[0][2] * m[2][1] - m[0][1] * m[2][2],
               m[0][1] * m[1][2] - m[0][2] * m[1][1]},
              {m[1][2] * m[2][0] - m[1][0] * m[2][2], m[0][0] * m[2][2] - m[0][2] * m[2][0],
               m[0][2] * m[1][0] - m[0][0] * m[1][2]},
              {m[1][0] * m[2][1] - m[1][1] * m[2][0], m[0][1] * m[2][0] - m[0][0] * m[2][1],
               m[0][0] * m[1][1] - m[0][1] * m[1][0]}}};
    const double det = m[0][0] * adj.m[0][0] + m[0][1] * adj.m[1][0] + m[0][2] * adj.m[2][0];
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col) {
            adj.m[r][col] /= det;
        }
    }
    return adj;
}

// The boundary matrix M = sum over k >= 0 of V^k U W^k (see
// RecursiveCoefficients.cpp) to full precision: the solution of the linear
// system M - V M W = U, by Gaussian elimination over its 9 unknowns. The
// series itself is summed only until a step is below 1e-10, which is as far
// as the continuation by zeros needs it; the constants here reach the
// boundary with the line's full size, so they need the exact matrix.
void exactBoundaryMatrix(RecursiveCoefficients& c, unsigned int order) {
    const double V[3][3] = {{c.a1, c.a2, c.a3}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}};
    const double W[3][3] = {{0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, {c.a3, c.a2, c.a1}};
    double K[9][10] = {};
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col) {
            const int row = 3 * r + col;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    K[row][3 * i + j] = (r == i && col == j ? 1.0 : 0.0) - V[r][i] * W[j][col];
                }
            }
        }
    }
    K[0][9] = order == 2 ? -c.B : c.B;  // U(0, 0)
    K[1][9] = order == 2 ? c.B : 0.0;   // U(0, 1)
    for (int p = 0; p < 9; ++p) {
        int pivot = p;
        for (int r = p + 1; r < 9; ++r) {
            if (std::abs(K[r][p]) > std::abs(K[pivot][p])) {
                pivot = r;
            }
        }
        for (int col = 0; col < 10; ++col) {
            std::swap(K[p][col], K[pivot][col]);
        }
        for (int r = 0; r < 9; ++r) {
            if (r != p) {
                const double f = K[r][p] / K[p][p];
                for (int col = p; col < 10; ++col) {
                    K[r][col] -= f * K[p][col];
                }
            }
        }
    }
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col) {
            c.m[r][col] = K[3 * r + col][9] / K[3 * r + col][3 * r + col];
        }
    }
}

// The periodic solution of w[k] = u[k] + a1 w[k-1] + a2 w[k-2] + a3 w[k-3] over
// one period of u (in place: w may be u). One run from the zero state gives the
// state r after a period; the periodic start state is (I - A^P)^-1 r.
template <class V>
void periodicRecursion(V* w, std::size_t period, const RecursiveCoefficients& c, const Mat3& inv) {
    const double a1 = c.a1, a2 = c.a2, a3 = c.a3;
    V s0 = V(), s1 = V(), s2 = V();
    for (std::size_t k = 0; k < period; ++k) {
        const V v = w[k] + a1 * s0 + a2 * s1 + a3 * s2;
        s2 = s1;
        s1 = s0;
        s0 = v;
    }
    V p0 = inv.m[0][0] * s0 + inv.m[0][1] * s1 + inv.m[0][2] * s2;
    V p1 = inv.m[1][0] * s0 + inv.m[1][1] * s1 + inv.m[1][2] * s2;
    V p2 = inv.m[2][0] * s0 + inv.m[2][1] * s1 + inv.m[2][2] * s2;
    for (std::size_t k = 0; k < period; ++k) {
        const V v = w[k] + a1 * p0 + a2 * p1 + a3 * p2;
        p2 = p1;
        p1 = p0;
        p0 = v;
        w[k] = v;
    }
}

// Causal input of order `order` at k, from the continued line xe.
template <class V, class Xe>
V causalInput(unsigned int order, const RecursiveCoefficients& c, const Xe& xe, std::ptrdiff_t k) {
    if (order == 0) {
        return c.B * xe(k);
    }
    if (order == 1) {
        return (c.B / 2.0) * (xe(k + 1) - xe(k - 1));
    }
    return c.B * (xe(k) - xe(k - 1));
}

// The line continued by left on the left and right on the right.
template <class V>
void constantsLine(unsigned int order, const V& left, const V& right, const V* x, V* y, std::size_t n,
                   const RecursiveCoefficients& c, BorderScratch<V>& scratch) {
    const double B = c.B, a1 = c.a1, a2 = c.a2, a3 = c.a3;
    const std::ptrdiff_t len = static_cast<std::ptrdiff_t>(n);
    auto xe = [&](std::ptrdiff_t k) -> V { return k < 0 ? left : (k >= len ? right : x[k]); };

    // Causal values w[-4] ... w[n+2]. Before sample -1 the causal input is
    // constant for every order (B * left when smoothing, 0 for the
    // differences), and the recursion is in its steady state: left itself when
    // smoothing, since B = 1 - (a1 + a2 + a3), and 0 otherwise.
    scratch.first.resize(n + 7);
    V* w = scratch.first.data() + 4;
    const V startState = order == 0 ? left : V();
    w[-4] = startState;
    w[-3] = startState;
    w[-2] = startState;
    for (std::ptrdiff_t k = -1; k <= len + 2; ++k) {
        w[k] = causalInput<V>(order, c, xe, k) + a1 * w[k - 1] + a2 * w[k - 2] + a3 * w[k - 3];
    }

    // From n + 1 on the causal input is constant again. The causal values less
    // their steady state there are the response to an input that vanishes
    // after n; the boundary matrix gives the anti-causal values at n, n+1, n+2
    // of that response, and the anti-causal steady state is added back.
    const V steady = order == 0 ? right : V();
    const V d0 = w[len] - steady, d1 = w[len + 1] - steady, d2 = w[len + 2] - steady;
    scratch.second.resize(n + 3);
    V* yy = scratch.second.data();
    for (unsigned int j = 0; j < 3; ++j) {
        yy[n + j] = boundaryRow(c, j, d0, d1, d2) + steady;
    }
    for (std::size_t k = n; k-- > 0;) {
        const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(k);
        const V v = order == 2 ? B * (w[i + 1] - w[i]) : B * w[i];
        yy[k] = v + a1 * yy[k + 1] + a2 * yy[k + 2] + a3 * yy[k + 3];
    }
    for (std::size_t k = 0; k < n; ++k) {
        y[k] = yy[k];
    }
}

// The line continued periodically, n >= 2: reflection (d c b a | a b c d | d c b a,
// period 2n), mirroring (d c b | a b c d | c b a, 2n - 2) or wrapping (n).
template <class V>
void periodicLine(unsigned int order, std::int32_t mode, const V* x, V* y, std::size_t n,
                  const RecursiveCoefficients& c, BorderScratch<V>& scratch) {
    const std::size_t period = mode == kBorderReflect ? 2 * n : (mode == kBorderMirror ? 2 * n - 2 : n);
    const std::ptrdiff_t p = static_cast<std::ptrdiff_t>(period);
    auto xe = [&](std::ptrdiff_t k) -> V {
        const std::size_t j = static_cast<std::size_t>(((k % p) + p) % p);
        return x[j < n ? j : period - 1 - j + (mode == kBorderMirror ? 1 : 0)];
    };
    const Mat3 inv = periodInverse(c, period);

    scratch.first.resize(period);
    V* w = scratch.first.data();
    for (std::size_t k = 0; k < period; ++k) {
        w[k] = causalInput<V>(order, c, xe, static_cast<std::ptrdiff_t>(k));
    }
    periodicRecursion(w, period, c, inv);

    // The anti-causal pass is the causal recursion over the reversed period.
    scratch.second.resize(period);
    V* r = scratch.second.data();
    for (std::size_t k = 0; k < period; ++k) {
        const std::size_t next = k + 1 == period ? 0 : k + 1;
        r[period - 1 - k] = order == 2 ? c.B * (w[next] - w[k]) : c.B * w[k];
    }
    periodicRecursion(r, period, c, inv);
    for (std::size_t k = 0; k < n; ++k) {
        y[k] = r[period - 1 - k];
    }
}

// One pass of the volume filter: `count` lines of `length` samples,
// line i starting at element start(i) of src and dst, `stride` elements apart.
template <class V, class Src, class Dst, class Start>
void borderPass(CnExecutor* executor, const Src* src, Dst* dst, std::size_t count, std::size_t length,
                std::size_t stride, Start start, double sigma, unsigned int order, std::int32_t mode, double value) {
    math::CnMatrix<double> M(0, 0);
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    recursiveCoefficients(sigma, order, B, a1, a2, a3, M);
    if constexpr (std::is_same_v<V, Vec3d>) {
        if (order == 1) {
            throwThrowable(messages::kNoFirstDerivativeForVectors);
        } else if (order == 2) {
            throwThrowable(messages::kNoSecondDerivativeForVectors);
        }
    }
    const RecursiveCoefficients c = borderCoefficients(B, a1, a2, a3, M, order);
    parallelRanges(executor, count, grainFor(length), [&](std::size_t begin, std::size_t end) {
        BorderScratch<V> scratch;
        std::vector<V> line(length), result(length);
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t s = start(i);
            for (std::size_t k = 0; k < length; ++k) {
                line[k] = loadSample(src[s + k * stride]);
            }
            borderLine(order, mode, value, line.data(), result.data(), length, c, scratch);
            for (std::size_t k = 0; k < length; ++k) {
                storeSample(dst[s + k * stride], result[k]);
            }
        }
    });
}

}  // namespace

template <class V>
void borderLine(unsigned int order, std::int32_t mode, double value, const V* x, V* y, std::size_t n,
                const RecursiveCoefficients& c, BorderScratch<V>& scratch) {
    if (mode == kBorderConstant) {
        const V v = splat<V>(value);
        constantsLine(order, v, v, x, y, n, c, scratch);
    } else if (mode == kBorderNearest || n == 1) {
        constantsLine(order, x[0], x[n - 1], x, y, n, c, scratch);
    } else {
        periodicLine(order, mode, x, y, n, c, scratch);
    }
}

RecursiveCoefficients borderCoefficients(double B, double a1, double a2, double a3, const math::CnMatrix<double>& M,
                                         unsigned int order) {
    RecursiveCoefficients c = makeCoefficients(B, a1, a2, a3, M);
    exactBoundaryMatrix(c, order);
    return c;
}

template void borderLine<double>(unsigned int, std::int32_t, double, const double*, double*, std::size_t,
                                 const RecursiveCoefficients&, BorderScratch<double>&);
template void borderLine<Vec3d>(unsigned int, std::int32_t, double, const Vec3d*, Vec3d*, std::size_t,
                                const RecursiveCoefficients&, BorderScratch<Vec3d>&);

template <class In, class Out>
void borderVolume(const imaging::Image<In>& input, imaging::Image<Out>& output, const double sigmas[3],
                  const unsigned int orders[3], std::int32_t mode, double value, CnExecutor* executor) {
    using V = decltype(loadSample(std::declval<const In&>()));
    const std::size_t sizeX = input.getSizeX();
    const std::size_t sizeY = input.getSizeY();
    const std::size_t sizeZ = input.getSizeZ();
    const std::size_t slice = sizeX * sizeY;
    const Out* outRead = static_cast<const imaging::Image<Out>&>(output).data();
    Out* out = output.data();
    // The constant is that of the input: beyond the volume along Y, the X pass
    // has filtered lines of nothing but the constant, which smoothing keeps and
    // a derivative turns into 0; so each pass continues its lines by the
    // constant times the gains of the passes before it.
    const double valueY = orders[0] == 0 ? value : 0.0;
    const double valueZ = orders[1] == 0 ? valueY : 0.0;
    borderPass<V>(executor, input.data(), out, sizeY * sizeZ, sizeX, 1, [&](std::size_t i) { return i * sizeX; },
                  sigmas[0], orders[0], mode, value);
    borderPass<V>(executor, outRead, out, sizeX * sizeZ, sizeY, sizeX,
                  [&](std::size_t i) { return (i / sizeX) * slice + i % sizeX; }, sigmas[1], orders[1], mode, valueY);
    if (sizeZ > 1) {
        borderPass<V>(executor, outRead, out, slice, sizeZ, slice, [](std::size_t i) { return i; }, sigmas[2],
                      orders[2], mode, valueZ);
    }
}

#define NVF_INSTANTIATE(In, Out)                                                                            \
    template void borderVolume<In, Out>(const imaging::Image<In>&, imaging::Image<Out>&, const double[3], \
                                        const unsigned int[3], std::int32_t, double, CnExecutor*);
NVF_RECURSIVE_VOLUME_TYPES(NVF_INSTANTIATE)
#undef NVF_INSTANTIATE

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
