// Line kernels of the recursive Gaussian filter (private to the library; not part
// of the public interface).
//
// x is read at x[k * stride] and y written at y[k * stride] for k = 0 ... n-1;
// w is the causal scratch of n + 2 (smoothing) or n + 3 (derivatives) values.
// Every value is computed in double precision (V = double, or a vector of doubles
// for vector voxels), in the order the formulas are written; feedback values
// inside the line are read back from y, that is after conversion to the output
// type, while the three values beyond the end stay in double precision.
//
// The exact kernels need n >= 3 (smoothing, second derivative) or n >= 4 (first
// derivative). zeroContinuedLine handles any n >= 1 by reading every missing
// sample as zero through bounds-checked helpers; it gives the same result as
// the exact kernels, and as the line placed in a long run of zeros, to within
// rounding.
#pragma once

#include <cstddef>
#include <cstdint>

#include <nvmath/CnMatrix.h>
#include <nvmath/CnVector3D.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

using Vec3d = math::CnVector3D<double>;

struct RecursiveCoefficients {
    double B;
    double a1;
    double a2;
    double a3;
    double m[3][3];  // boundary matrix, m[row][column]
};

inline RecursiveCoefficients makeCoefficients(double B, double a1, double a2, double a3,
                                              const math::CnMatrix<double>& M) {
    RecursiveCoefficients c{B, a1, a2, a3, {}};
    for (unsigned int r = 0; r < 3; ++r) {
        for (unsigned int col = 0; col < 3; ++col) {
            c.m[r][col] = M(r, col);
        }
    }
    return c;
}

// Sample conversions: input samples widen to double (integer values unscaled).
inline double loadSample(unsigned char v) { return static_cast<double>(v); }
inline double loadSample(unsigned short v) { return static_cast<double>(v); }
inline double loadSample(short v) { return static_cast<double>(v); }
inline double loadSample(float v) { return static_cast<double>(v); }
inline double loadSample(double v) { return v; }
inline Vec3d loadSample(const math::CnVector3D<float>& v) {
    return Vec3d(static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z));
}

inline void storeSample(float& out, double v) { out = static_cast<float>(v); }
inline void storeSample(double& out, double v) { out = v; }
inline void storeSample(math::CnVector3D<float>& out, const Vec3d& v) {
    out.x = static_cast<float>(v.x);
    out.y = static_cast<float>(v.y);
    out.z = static_cast<float>(v.z);
}

template <class V>
inline V boundaryRow(const RecursiveCoefficients& c, unsigned int r, const V& w0, const V& w1, const V& w2) {
    return c.m[r][0] * w0 + c.m[r][1] * w1 + c.m[r][2] * w2;
}

// Gaussian smoothing, n >= 3.
template <class V, class In, class Out>
void smoothLine(const In* x, Out* y, std::size_t s, std::size_t n, const RecursiveCoefficients& c, V* w) {
    const double B = c.B, a1 = c.a1, a2 = c.a2, a3 = c.a3;
    w[0] = B * loadSample(x[0]);
    w[1] = B * loadSample(x[s]) + a1 * w[0];
    w[2] = B * loadSample(x[2 * s]) + a1 * w[1] + a2 * w[0];
    for (std::size_t k = 3; k < n; ++k) {
        w[k] = B * loadSample(x[k * s]) + a1 * w[k - 1] + a2 * w[k - 2] + a3 * w[k - 3];
    }
    w[n] = a1 * w[n - 1] + a2 * w[n - 2] + a3 * w[n - 3];
    w[n + 1] = a1 * w[n] + a2 * w[n - 1] + a3 * w[n - 2];

    const V t0 = boundaryRow(c, 0, w[n - 1], w[n], w[n + 1]);
    const V t1 = boundaryRow(c, 1, w[n - 1], w[n], w[n + 1]);
    const V t2 = boundaryRow(c, 2, w[n - 1], w[n], w[n + 1]);

    storeSample(y[(n - 1) * s], t0);
    storeSample(y[(n - 2) * s], B * w[n - 2] + a1 * loadSample(y[(n - 1) * s]) + a2 * t1 + a3 * t2);
    storeSample(y[(n - 3) * s], B * w[n - 3] + a1 * loadSample(y[(n - 2) * s]) +
                                    a2 * loadSample(y[(n - 1) * s]) + a3 * t1);
    for (std::size_t k = n - 3; k-- > 0;) {
        storeSample(y[k * s], B * w[k] + a1 * loadSample(y[(k + 1) * s]) + a2 * loadSample(y[(k + 2) * s]) +
                                  a3 * loadSample(y[(k + 3) * s]));
    }
}

// First derivative: causal pass over the central difference (x[k+1] - x[k-1]) / 2,
// anti-causal smoothing pass. n >= 4.
template <class In, class Out>
void firstDerivativeLine(const In* x, Out* y, std::size_t s, std::size_t n, const RecursiveCoefficients& c,
                         double* w) {
    const double B = c.B, a1 = c.a1, a2 = c.a2, a3 = c.a3;
    const double h = B / 2.0;
    const double wm1 = h * loadSample(x[0]);
    w[0] = h * loadSample(x[s]) + a1 * wm1;
    w[1] = h * (loadSample(x[2 * s]) - loadSample(x[0])) + a1 * w[0] + a2 * wm1;
    w[2] = h * (loadSample(x[3 * s]) - loadSample(x[s])) + a1 * w[1] + a2 * w[0] + a3 * wm1;
    for (std::size_t k = 3; k + 1 < n; ++k) {
        w[k] = h * (loadSample(x[(k + 1) * s]) - loadSample(x[(k - 1) * s])) + a1 * w[k - 1] + a2 * w[k - 2] +
               a3 * w[k - 3];
    }
    w[n - 1] = -h * loadSample(x[(n - 2) * s]) + a1 * w[n - 2] + a2 * w[n - 3] + a3 * w[n - 4];
    w[n] = -h * loadSample(x[(n - 1) * s]) + a1 * w[n - 1] + a2 * w[n - 2] + a3 * w[n - 3];
    w[n + 1] = a1 * w[n] + a2 * w[n - 1] + a3 * w[n - 2];
    w[n + 2] = a1 * w[n + 1] + a2 * w[n] + a3 * w[n - 1];

    const double t0 = boundaryRow(c, 0, w[n], w[n + 1], w[n + 2]);
    const double t1 = boundaryRow(c, 1, w[n], w[n + 1], w[n + 2]);
    const double t2 = boundaryRow(c, 2, w[n], w[n + 1], w[n + 2]);

    storeSample(y[(n - 1) * s], B * w[n - 1] + a1 * t0 + a2 * t1 + a3 * t2);
    storeSample(y[(n - 2) * s], B * w[n - 2] + a1 * loadSample(y[(n - 1) * s]) + a2 * t0 + a3 * t1);
    storeSample(y[(n - 3) * s], B * w[n - 3] + a1 * loadSample(y[(n - 2) * s]) +
                                    a2 * loadSample(y[(n - 1) * s]) + a3 * t0);
    for (std::size_t k = n - 3; k-- > 0;) {
        storeSample(y[k * s], B * w[k] + a1 * loadSample(y[(k + 1) * s]) + a2 * loadSample(y[(k + 2) * s]) +
                                  a3 * loadSample(y[(k + 3) * s]));
    }
}

// Second derivative: causal pass over the backward difference x[k] - x[k-1],
// anti-causal pass over the forward difference of the causal output. n >= 3.
template <class In, class Out>
void secondDerivativeLine(const In* x, Out* y, std::size_t s, std::size_t n, const RecursiveCoefficients& c,
                          double* w) {
    const double B = c.B, a1 = c.a1, a2 = c.a2, a3 = c.a3;
    w[0] = B * loadSample(x[0]);
    w[1] = B * (loadSample(x[s]) - loadSample(x[0])) + a1 * w[0];
    w[2] = B * (loadSample(x[2 * s]) - loadSample(x[s])) + a1 * w[1] + a2 * w[0];
    for (std::size_t k = 3; k < n; ++k) {
        w[k] = B * (loadSample(x[k * s]) - loadSample(x[(k - 1) * s])) + a1 * w[k - 1] + a2 * w[k - 2] +
               a3 * w[k - 3];
    }
    w[n] = -B * loadSample(x[(n - 1) * s]) + a1 * w[n - 1] + a2 * w[n - 2] + a3 * w[n - 3];
    w[n + 1] = a1 * w[n] + a2 * w[n - 1] + a3 * w[n - 2];
    w[n + 2] = a1 * w[n + 1] + a2 * w[n] + a3 * w[n - 1];

    const double t0 = boundaryRow(c, 0, w[n], w[n + 1], w[n + 2]);
    const double t1 = boundaryRow(c, 1, w[n], w[n + 1], w[n + 2]);
    const double t2 = boundaryRow(c, 2, w[n], w[n + 1], w[n + 2]);

    storeSample(y[(n - 1) * s], B * (w[n] - w[n - 1]) + a1 * t0 + a2 * t1 + a3 * t2);
    storeSample(y[(n - 2) * s], B * (w[n - 1] - w[n - 2]) + a1 * loadSample(y[(n - 1) * s]) + a2 * t0 + a3 * t1);
    storeSample(y[(n - 3) * s], B * (w[n - 2] - w[n - 3]) + a1 * loadSample(y[(n - 2) * s]) +
                                    a2 * loadSample(y[(n - 1) * s]) + a3 * t0);
    for (std::size_t k = n - 3; k-- > 0;) {
        storeSample(y[k * s], B * (w[k + 1] - w[k]) + a1 * loadSample(y[(k + 1) * s]) +
                                  a2 * loadSample(y[(k + 2) * s]) + a3 * loadSample(y[(k + 3) * s]));
    }
}

// Any line length n >= 1, any order (0, 1, 2): the recursions run over the line
// continued by zeros, with every sample outside 0 ... n-1 (input), every causal
// value before the start and every output value past the end taken from bounds-
// checked helpers. w holds n + 2 (order 0) or n + 3 (orders 1 and 2) values.
template <class V, class In, class Out>
void zeroContinuedLine(unsigned int order, const In* x, Out* y, std::size_t s, std::size_t n,
                       const RecursiveCoefficients& c, V* w) {
    const double B = c.B, a1 = c.a1, a2 = c.a2, a3 = c.a3;
    const std::int64_t len = static_cast<std::int64_t>(n);
    auto xAt = [&](std::int64_t k) -> V { return k >= 0 && k < len ? loadSample(x[k * s]) : V(); };

    // The first derivative starts one sample before the line, where its input
    // h * (x[0] - x[-2]) is already non-zero; the other orders start at 0.
    const double h = B / 2.0;
    const V wBefore = order == 1 ? V(h * xAt(0)) : V();
    auto wAt = [&](std::int64_t k) -> V { return k >= 0 ? w[k] : (k == -1 ? wBefore : V()); };

    // Causal pass up to the entries that the boundary matrix reads.
    const std::int64_t last = order == 0 ? len + 1 : len + 2;
    for (std::int64_t k = 0; k <= last; ++k) {
        V u;
        if (order == 0) {
            u = B * xAt(k);
        } else if (order == 1) {
            u = h * (xAt(k + 1) - xAt(k - 1));
        } else {
            u = B * (xAt(k) - xAt(k - 1));
        }
        w[k] = u + a1 * wAt(k - 1) + a2 * wAt(k - 2) + a3 * wAt(k - 3);
    }

    // Anti-causal start values: outputs at m, m+1, m+2 with m = n-1 (smoothing) or n.
    const std::int64_t m = order == 0 ? len - 1 : len;
    const V t[3] = {boundaryRow(c, 0, w[m], w[m + 1], w[m + 2]), boundaryRow(c, 1, w[m], w[m + 1], w[m + 2]),
                    boundaryRow(c, 2, w[m], w[m + 1], w[m + 2])};
    auto yAt = [&](std::int64_t j) -> V { return j < len ? loadSample(y[j * s]) : t[j - m]; };

    if (order == 0) {
        storeSample(y[(len - 1) * s], t[0]);
    }
    for (std::int64_t k = m; k-- > 0;) {
        const V v = order == 2 ? V(w[k + 1] - w[k]) : w[k];
        storeSample(y[k * s], B * v + a1 * yAt(k + 1) + a2 * yAt(k + 2) + a3 * yAt(k + 3));
    }
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
