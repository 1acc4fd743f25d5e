// The transform of one length on blocks of lines split by lane (see
// FftLinePlan.h): a self-sorting mixed-radix sequence of passes (radices 8, 4,
// 2, 3, 5, and 7, 11, 13 through a generic odd butterfly) reading one buffer and
// writing the other, and the chirp-z path for the other lengths.
#include <nvfiltering/fft/detail/FftLinePlan.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include <nvfiltering/framework/detail/CnMultiVersion.h>

// gcc is told that a loop over the lanes of a block carries no dependence (the
// lanes are independent lines, and the input and output rows of a pass never
// overlap), so it vectorises it without run-time overlap checks. clang gets no
// hint (it would warn about every loop it then leaves scalar); the hint changes
// the speed, never the numbers: every lane gets the same operations either way.
#if defined(__GNUC__) && !defined(__clang__)
#define NVF_LANE_LOOP _Pragma("GCC ivdep")
#else
#define NVF_LANE_LOOP
#endif

namespace com::norvane::filtering::detail {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// cos and -sin of 2 pi num / den, in long double, rounded once to T.
template <class T>
void rootOfUnity(std::size_t num, std::size_t den, T& c, T& s) {
    num %= den;
    if ((4 * num) % den == 0) {
        // The quarter turns exactly: 1, -i, -1, i.
        const std::size_t quarter = (4 * num) / den;
        c = quarter == 0 ? T(1) : (quarter == 2 ? T(-1) : T(0));
        s = quarter == 1 ? T(-1) : (quarter == 3 ? T(1) : T(0));
        return;
    }
    const long double a = 2.0L * kPi * static_cast<long double>(num) / static_cast<long double>(den);
    c = static_cast<T>(std::cos(a));
    s = static_cast<T>(-std::sin(a));
}

// Pass arguments: n values per lane, `span` the product of the earlier radices,
// twiddles wr / wi (span * (radix - 1) pairs, radix - 1 per position k).
template <class T>
struct PassArgs {
    const T* __restrict xr;
    const T* __restrict xi;
    T* __restrict yr;
    T* __restrict yi;
    std::size_t n;
    std::size_t span;
    const T* wr;
    const T* wi;
    std::size_t lanes;
    std::size_t pitch;  // elements from one value of a lane to the next
};

template <class T, std::size_t FixedLanes>
void pass2(const PassArgs<T>& a) {
    const std::size_t m = a.n / 2, V = FixedLanes ? FixedLanes : a.lanes, P = FixedLanes ? FixedLanes + 1 : a.pitch, span = a.span;
    const T* __restrict xr = a.xr;
    const T* __restrict xi = a.xi;
    T* __restrict yr = a.yr;
    T* __restrict yi = a.yi;
    for (std::size_t b = 0; b < m / span; ++b) {
        for (std::size_t k = 0; k < span; ++k) {
            const std::size_t j = b * span + k;
            const std::size_t o = b * span * 2 + k;
            const T w1r = a.wr[k], w1i = a.wi[k];
            const T* x0r = xr + j * P;
            const T* x0i = xi + j * P;
            const T* x1r = xr + (j + m) * P;
            const T* x1i = xi + (j + m) * P;
            T* y0r = yr + o * P;
            T* y0i = yi + o * P;
            T* y1r = yr + (o + span) * P;
            T* y1i = yi + (o + span) * P;
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < V; ++l) {
                const T br = x1r[l] * w1r - x1i[l] * w1i;
                const T bi = x1r[l] * w1i + x1i[l] * w1r;
                y0r[l] = x0r[l] + br;
                y0i[l] = x0i[l] + bi;
                y1r[l] = x0r[l] - br;
                y1i[l] = x0i[l] - bi;
            }
        }
    }
}

template <class T, std::size_t FixedLanes>
void pass4(const PassArgs<T>& a) {
    const std::size_t m = a.n / 4, V = FixedLanes ? FixedLanes : a.lanes, P = FixedLanes ? FixedLanes + 1 : a.pitch, span = a.span;
    const T* __restrict xr = a.xr;
    const T* __restrict xi = a.xi;
    T* __restrict yr = a.yr;
    T* __restrict yi = a.yi;
    for (std::size_t b = 0; b < m / span; ++b) {
        for (std::size_t k = 0; k < span; ++k) {
            const std::size_t j = b * span + k;
            const std::size_t o = b * span * 4 + k;
            const T* w = a.wr + 3 * k;
            const T* v = a.wi + 3 * k;
            const T w1r = w[0], w1i = v[0], w2r = w[1], w2i = v[1], w3r = w[2], w3i = v[2];
            const T* x0r = xr + j * P;
            const T* x0i = xi + j * P;
            const T* x1r = xr + (j + m) * P;
            const T* x1i = xi + (j + m) * P;
            const T* x2r = xr + (j + 2 * m) * P;
            const T* x2i = xi + (j + 2 * m) * P;
            const T* x3r = xr + (j + 3 * m) * P;
            const T* x3i = xi + (j + 3 * m) * P;
            T* y0r = yr + o * P;
            T* y0i = yi + o * P;
            T* y1r = yr + (o + span) * P;
            T* y1i = yi + (o + span) * P;
            T* y2r = yr + (o + 2 * span) * P;
            T* y2i = yi + (o + 2 * span) * P;
            T* y3r = yr + (o + 3 * span) * P;
            T* y3i = yi + (o + 3 * span) * P;
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < V; ++l) {
                const T a0r = x0r[l], a0i = x0i[l];
                const T a1r = x1r[l] * w1r - x1i[l] * w1i, a1i = x1r[l] * w1i + x1i[l] * w1r;
                const T a2r = x2r[l] * w2r - x2i[l] * w2i, a2i = x2r[l] * w2i + x2i[l] * w2r;
                const T a3r = x3r[l] * w3r - x3i[l] * w3i, a3i = x3r[l] * w3i + x3i[l] * w3r;
                const T t0r = a0r + a2r, t0i = a0i + a2i;
                const T t1r = a0r - a2r, t1i = a0i - a2i;
                const T t2r = a1r + a3r, t2i = a1i + a3i;
                const T t3r = a1r - a3r, t3i = a1i - a3i;
                y0r[l] = t0r + t2r;
                y0i[l] = t0i + t2i;
                y2r[l] = t0r - t2r;
                y2i[l] = t0i - t2i;
                y1r[l] = t1r + t3i;
                y1i[l] = t1i - t3r;
                y3r[l] = t1r - t3i;
                y3i[l] = t1i + t3r;
            }
        }
    }
}

// Radix 8: the products with the twiddles, two radix-4 butterflies (even and
// odd inputs) and their combination with exp(-2 pi i q / 8).
template <class T, std::size_t FixedLanes>
void pass8(const PassArgs<T>& a) {
    const std::size_t m = a.n / 8, V = FixedLanes ? FixedLanes : a.lanes, P = FixedLanes ? FixedLanes + 1 : a.pitch, span = a.span;
    const T* __restrict xr = a.xr;
    const T* __restrict xi = a.xi;
    T* __restrict yr = a.yr;
    T* __restrict yi = a.yi;
    const T c = static_cast<T>(0.707106781186547524400844362104849039L);
    for (std::size_t b = 0; b < m / span; ++b) {
        for (std::size_t k = 0; k < span; ++k) {
            const std::size_t j = b * span + k;
            const std::size_t o = b * span * 8 + k;
            const T* w = a.wr + 7 * k;
            const T* v = a.wi + 7 * k;
            const T* xR[8];
            const T* xI[8];
            T* yR[8];
            T* yI[8];
            for (std::size_t r = 0; r < 8; ++r) {
                xR[r] = xr + (j + r * m) * P;
                xI[r] = xi + (j + r * m) * P;
                yR[r] = yr + (o + r * span) * P;
                yI[r] = yi + (o + r * span) * P;
            }
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < V; ++l) {
                const T a0r = xR[0][l], a0i = xI[0][l];
                const T a1r = xR[1][l] * w[0] - xI[1][l] * v[0], a1i = xR[1][l] * v[0] + xI[1][l] * w[0];
                const T a2r = xR[2][l] * w[1] - xI[2][l] * v[1], a2i = xR[2][l] * v[1] + xI[2][l] * w[1];
                const T a3r = xR[3][l] * w[2] - xI[3][l] * v[2], a3i = xR[3][l] * v[2] + xI[3][l] * w[2];
                const T a4r = xR[4][l] * w[3] - xI[4][l] * v[3], a4i = xR[4][l] * v[3] + xI[4][l] * w[3];
                const T a5r = xR[5][l] * w[4] - xI[5][l] * v[4], a5i = xR[5][l] * v[4] + xI[5][l] * w[4];
                const T a6r = xR[6][l] * w[5] - xI[6][l] * v[5], a6i = xR[6][l] * v[5] + xI[6][l] * w[5];
                const T a7r = xR[7][l] * w[6] - xI[7][l] * v[6], a7i = xR[7][l] * v[6] + xI[7][l] * w[6];
                // Even inputs 0, 2, 4, 6.
                const T p0r = a0r + a4r, p0i = a0i + a4i, p1r = a0r - a4r, p1i = a0i - a4i;
                const T p2r = a2r + a6r, p2i = a2i + a6i, p3r = a2r - a6r, p3i = a2i - a6i;
                const T e0r = p0r + p2r, e0i = p0i + p2i, e2r = p0r - p2r, e2i = p0i - p2i;
                const T e1r = p1r + p3i, e1i = p1i - p3r, e3r = p1r - p3i, e3i = p1i + p3r;
                // Odd inputs 1, 3, 5, 7.
                const T q0r = a1r + a5r, q0i = a1i + a5i, q1r = a1r - a5r, q1i = a1i - a5i;
                const T q2r = a3r + a7r, q2i = a3i + a7i, q3r = a3r - a7r, q3i = a3i - a7i;
                const T d0r = q0r + q2r, d0i = q0i + q2i, d2r = q0r - q2r, d2i = q0i - q2i;
                const T d1r = q1r + q3i, d1i = q1i - q3r, d3r = q1r - q3i, d3i = q1i + q3r;
                // Odd halves times exp(-2 pi i q / 8), q = 1, 2, 3.
                const T f1r = c * (d1r + d1i), f1i = c * (d1i - d1r);
                const T f2r = d2i, f2i = -d2r;
                const T f3r = c * (d3i - d3r), f3i = -(c * (d3r + d3i));
                yR[0][l] = e0r + d0r;
                yI[0][l] = e0i + d0i;
                yR[4][l] = e0r - d0r;
                yI[4][l] = e0i - d0i;
                yR[1][l] = e1r + f1r;
                yI[1][l] = e1i + f1i;
                yR[5][l] = e1r - f1r;
                yI[5][l] = e1i - f1i;
                yR[2][l] = e2r + f2r;
                yI[2][l] = e2i + f2i;
                yR[6][l] = e2r - f2r;
                yI[6][l] = e2i - f2i;
                yR[3][l] = e3r + f3r;
                yI[3][l] = e3i + f3i;
                yR[7][l] = e3r - f3r;
                yI[7][l] = e3i - f3i;
            }
        }
    }
}

template <class T, std::size_t FixedLanes>
void pass3(const PassArgs<T>& a) {
    const std::size_t m = a.n / 3, V = FixedLanes ? FixedLanes : a.lanes, P = FixedLanes ? FixedLanes + 1 : a.pitch, span = a.span;
    const T* __restrict xr = a.xr;
    const T* __restrict xi = a.xi;
    T* __restrict yr = a.yr;
    T* __restrict yi = a.yi;
    const T half = T(0.5);
    const T s60 = static_cast<T>(0.866025403784438646763723170752936183L);
    for (std::size_t b = 0; b < m / span; ++b) {
        for (std::size_t k = 0; k < span; ++k) {
            const std::size_t j = b * span + k;
            const std::size_t o = b * span * 3 + k;
            const T w1r = a.wr[2 * k], w1i = a.wi[2 * k], w2r = a.wr[2 * k + 1], w2i = a.wi[2 * k + 1];
            const T* x0r = xr + j * P;
            const T* x0i = xi + j * P;
            const T* x1r = xr + (j + m) * P;
            const T* x1i = xi + (j + m) * P;
            const T* x2r = xr + (j + 2 * m) * P;
            const T* x2i = xi + (j + 2 * m) * P;
            T* y0r = yr + o * P;
            T* y0i = yi + o * P;
            T* y1r = yr + (o + span) * P;
            T* y1i = yi + (o + span) * P;
            T* y2r = yr + (o + 2 * span) * P;
            T* y2i = yi + (o + 2 * span) * P;
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < V; ++l) {
                const T a0r = x0r[l], a0i = x0i[l];
                const T a1r = x1r[l] * w1r - x1i[l] * w1i, a1i = x1r[l] * w1i + x1i[l] * w1r;
                const T a2r = x2r[l] * w2r - x2i[l] * w2i, a2i = x2r[l] * w2i + x2i[l] * w2r;
                const T t1r = a1r + a2r, t1i = a1i + a2i;
                const T t2r = a0r - half * t1r, t2i = a0i - half * t1i;
                const T t3r = s60 * (a1r - a2r), t3i = s60 * (a1i - a2i);
                y0r[l] = a0r + t1r;
                y0i[l] = a0i + t1i;
                y1r[l] = t2r + t3i;
                y1i[l] = t2i - t3r;
                y2r[l] = t2r - t3i;
                y2i[l] = t2i + t3r;
            }
        }
    }
}

template <class T, std::size_t FixedLanes>
void pass5(const PassArgs<T>& a) {
    const std::size_t m = a.n / 5, V = FixedLanes ? FixedLanes : a.lanes, P = FixedLanes ? FixedLanes + 1 : a.pitch, span = a.span;
    const T* __restrict xr = a.xr;
    const T* __restrict xi = a.xi;
    T* __restrict yr = a.yr;
    T* __restrict yi = a.yi;
    const T c1 = static_cast<T>(0.309016994374947424102293417182819059L);
    const T c2 = static_cast<T>(-0.809016994374947424102293417182819059L);
    const T s1 = static_cast<T>(0.951056516295153572116439333379382143L);
    const T s2 = static_cast<T>(0.587785252292473129168705954639072769L);
    for (std::size_t b = 0; b < m / span; ++b) {
        for (std::size_t k = 0; k < span; ++k) {
            const std::size_t j = b * span + k;
            const std::size_t o = b * span * 5 + k;
            const T* w = a.wr + 4 * k;
            const T* v = a.wi + 4 * k;
            const T* xR[5];
            const T* xI[5];
            T* yR[5];
            T* yI[5];
            for (std::size_t r = 0; r < 5; ++r) {
                xR[r] = xr + (j + r * m) * P;
                xI[r] = xi + (j + r * m) * P;
                yR[r] = yr + (o + r * span) * P;
                yI[r] = yi + (o + r * span) * P;
            }
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < V; ++l) {
                const T a0r = xR[0][l], a0i = xI[0][l];
                const T a1r = xR[1][l] * w[0] - xI[1][l] * v[0], a1i = xR[1][l] * v[0] + xI[1][l] * w[0];
                const T a2r = xR[2][l] * w[1] - xI[2][l] * v[1], a2i = xR[2][l] * v[1] + xI[2][l] * w[1];
                const T a3r = xR[3][l] * w[2] - xI[3][l] * v[2], a3i = xR[3][l] * v[2] + xI[3][l] * w[2];
                const T a4r = xR[4][l] * w[3] - xI[4][l] * v[3], a4i = xR[4][l] * v[3] + xI[4][l] * w[3];
                const T b1r = a1r + a4r, b1i = a1i + a4i, d1r = a1r - a4r, d1i = a1i - a4i;
                const T b2r = a2r + a3r, b2i = a2i + a3i, d2r = a2r - a3r, d2i = a2i - a3i;
                const T t1r = a0r + c1 * b1r + c2 * b2r, t1i = a0i + c1 * b1i + c2 * b2i;
                const T t2r = a0r + c2 * b1r + c1 * b2r, t2i = a0i + c2 * b1i + c1 * b2i;
                const T u1r = s1 * d1r + s2 * d2r, u1i = s1 * d1i + s2 * d2i;
                const T u2r = s2 * d1r - s1 * d2r, u2i = s2 * d1i - s1 * d2i;
                yR[0][l] = a0r + b1r + b2r;
                yI[0][l] = a0i + b1i + b2i;
                yR[1][l] = t1r + u1i;
                yI[1][l] = t1i - u1r;
                yR[4][l] = t1r - u1i;
                yI[4][l] = t1i + u1r;
                yR[2][l] = t2r + u2i;
                yI[2][l] = t2i - u2r;
                yR[3][l] = t2r - u2i;
                yI[3][l] = t2i + u2r;
            }
        }
    }
}

// Any odd prime radix p up to FftLinePlan::kLargestDirectRadix, through the
// pairs (r, p - r): O(p^2) per butterfly.
template <class T>
void passOdd(const PassArgs<T>& a, std::size_t p, const T* cosTable, const T* sinTable) {
    constexpr std::size_t kMax = FftLinePlan<T>::kLargestDirectRadix;
    const std::size_t m = a.n / p, V = a.lanes, P = a.pitch, span = a.span, h = (p - 1) / 2;
    for (std::size_t b = 0; b < m / span; ++b) {
        for (std::size_t k = 0; k < span; ++k) {
            const std::size_t j = b * span + k;
            const std::size_t o = b * span * p + k;
            const T* w = a.wr + (p - 1) * k;
            const T* v = a.wi + (p - 1) * k;
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < V; ++l) {
                T xr[kMax], xi[kMax];
                xr[0] = a.xr[j * P + l];
                xi[0] = a.xi[j * P + l];
                for (std::size_t r = 1; r < p; ++r) {
                    const T zr = a.xr[(j + r * m) * P + l], zi = a.xi[(j + r * m) * P + l];
                    xr[r] = zr * w[r - 1] - zi * v[r - 1];
                    xi[r] = zr * v[r - 1] + zi * w[r - 1];
                }
                T sumR = xr[0], sumI = xi[0];
                for (std::size_t r = 1; r < p; ++r) {
                    sumR += xr[r];
                    sumI += xi[r];
                }
                a.yr[o * P + l] = sumR;
                a.yi[o * P + l] = sumI;
                for (std::size_t q = 1; q <= h; ++q) {
                    T sr = xr[0], si = xi[0], tr = 0, ti = 0;
                    for (std::size_t r = 1; r <= h; ++r) {
                        const std::size_t idx = (q * r) % p;
                        const T br = xr[r] + xr[p - r], bi = xi[r] + xi[p - r];
                        const T dr = xr[r] - xr[p - r], di = xi[r] - xi[p - r];
                        sr += cosTable[idx] * br;
                        si += cosTable[idx] * bi;
                        tr += sinTable[idx] * dr;
                        ti += sinTable[idx] * di;
                    }
                    a.yr[(o + q * span) * P + l] = sr + ti;
                    a.yi[(o + q * span) * P + l] = si - tr;
                    a.yr[(o + (p - q) * span) * P + l] = sr - ti;
                    a.yi[(o + (p - q) * span) * P + l] = si + tr;
                }
            }
        }
    }
}

// The radices of the passes: the factor 2^e as radix-8 passes with one or two
// radix-4 passes for the rest (e = 1: one radix-2 pass), fewest passes first,
// then 3, 5, 7, 11, 13.
std::vector<std::size_t> radicesOf(std::size_t n) {
    std::vector<std::size_t> out;
    std::size_t e = 0;
    while (n % 2 == 0) {
        ++e;
        n /= 2;
    }
    if (e == 1) out.push_back(2);
    if (e >= 2) {
        std::size_t fours = e % 3 == 2 ? 1 : (e % 3 == 1 ? 2 : 0);
        const std::size_t eights = (e - 2 * fours) / 3;
        for (std::size_t i = 0; i < eights; ++i) out.push_back(8);
        for (std::size_t i = 0; i < fours; ++i) out.push_back(4);
    }
    for (std::size_t p : {std::size_t{3}, std::size_t{5}, std::size_t{7}, std::size_t{11},
                          std::size_t{13}}) {
        while (n % p == 0) {
            out.push_back(p);
            n /= p;
        }
    }
    if (n != 1) out.clear();
    return out;
}

}  // namespace

template <class T>
bool FftLinePlan<T>::directLength(std::size_t n) {
    if (n == 0) return false;
    for (std::size_t p : {std::size_t{2}, std::size_t{3}, std::size_t{5}, std::size_t{7}, std::size_t{11},
                          std::size_t{13}}) {
        while (n % p == 0) n /= p;
    }
    return n == 1;
}

template <class T>
std::size_t FftLinePlan<T>::smooth235AtLeast(std::size_t n) {
    std::size_t best = 1;
    while (best < n) best *= 2;
    for (std::size_t p5 = 1; p5 < best; p5 *= 5) {
        for (std::size_t p35 = p5; p35 < best; p35 *= 3) {
            std::size_t v = p35;
            while (v < n) v *= 2;
            best = std::min(best, v);
        }
    }
    return best;
}

template <class T>
FftLinePlan<T>::FftLinePlan(std::size_t n) : m_n(n) {
    m_shiftRe.resize(n + 1);
    m_shiftIm.resize(n + 1);
    for (std::size_t j = 0; j <= n; ++j) rootOfUnity(j, 2 * n, m_shiftRe[j], m_shiftIm[j]);
    if (n <= 1) return;
    if (!directLength(n)) {
        // Chirp-z: X(j) = c(j) sum_k (x(k) c(k)) conj(c(j - k)), c(k) = exp(-pi i k^2 / n),
        // a circular convolution of an inner length m >= 2n - 1 of the form 2^a 3^b 5^c.
        const std::size_t m = smooth235AtLeast(2 * n - 1);
        m_inner = std::make_unique<FftLinePlan<T>>(m);
        m_chirpRe.resize(n);
        m_chirpIm.resize(n);
        std::size_t q = 0;  // k^2 mod 2n
        for (std::size_t k = 0; k < n; ++k) {
            const long double angle = kPi * static_cast<long double>(q) / static_cast<long double>(n);
            m_chirpRe[k] = static_cast<T>(std::cos(angle));
            m_chirpIm[k] = static_cast<T>(-std::sin(angle));
            q = (q + 2 * k + 1) % (2 * n);
        }
        m_kernelRe.assign(m, T(0));
        m_kernelIm.assign(m, T(0));
        for (std::size_t k = 0; k < n; ++k) {
            m_kernelRe[k] = m_chirpRe[k];
            m_kernelIm[k] = -m_chirpIm[k];
            if (k != 0) {
                m_kernelRe[m - k] = m_chirpRe[k];
                m_kernelIm[m - k] = -m_chirpIm[k];
            }
        }
        std::vector<T> scratch(m_inner->scratchSize(1));
        m_inner->forward(m_kernelRe.data(), m_kernelIm.data(), 1, scratch.data());
        const T scale = static_cast<T>(1.0L / static_cast<long double>(m));
        for (std::size_t k = 0; k < m; ++k) {
            m_kernelRe[k] *= scale;
            m_kernelIm[k] *= scale;
        }
        return;
    }
    std::size_t span = 1;
    for (std::size_t r : radicesOf(n)) {
        m_passes.push_back({r, span, m_twRe.size()});
        for (std::size_t k = 0; k < span; ++k) {
            for (std::size_t i = 1; i < r; ++i) {
                T c, s;
                rootOfUnity(k * i, span * r, c, s);
                m_twRe.push_back(c);
                m_twIm.push_back(s);
            }
        }
        if (r > 5 && r != 8 && (m_radixOffset.size() <= r || m_radixOffset[r] == 0)) {
            if (m_radixOffset.size() <= r) m_radixOffset.resize(r + 1, 0);
            m_radixOffset[r] = m_radixCos.size() + 1;  // 0 marks "none yet"
            for (std::size_t q = 0; q < r; ++q) {
                T c, s;
                rootOfUnity(q, r, c, s);
                m_radixCos.push_back(c);
                m_radixSin.push_back(-s);
            }
        }
        span *= r;
    }
}

template <class T>
std::size_t FftLinePlan<T>::scratchSize(std::size_t lanes) const {
    if (m_inner) return 2 * planeSize(m_inner->length(), lanes) + m_inner->scratchSize(lanes);
    return m_n > 1 ? 2 * planeSize(m_n, lanes) : 0;
}

template <class T>
void FftLinePlan<T>::forward(T* re, T* im, std::size_t lanes, T* scratch) const {
    if (!forwardLeavingInScratch(re, im, lanes, scratch)) return;
    const std::size_t total = m_n * pitch(lanes);
    std::copy(scratch, scratch + total, re);
    std::copy(scratch + planeSize(m_n, lanes), scratch + planeSize(m_n, lanes) + total, im);
}

template <class T>
bool FftLinePlan<T>::forwardLeavingInScratch(T* re, T* im, std::size_t lanes, T* scratch) const {
    if (m_n <= 1) return false;
    if (m_inner) {
        forwardChirp(re, im, lanes, scratch);
        return false;
    }
    bool inScratch = false;
    runWidest([&] { inScratch = forwardDirect(re, im, lanes, scratch); });
    return inScratch;
}

template <class T>
bool FftLinePlan<T>::forwardDirect(T* re, T* im, std::size_t lanes, T* scratch) const {
    T* bufR[2] = {re, scratch};
    T* bufI[2] = {im, scratch + planeSize(m_n, lanes)};
    int cur = 0;
    for (const Pass& p : m_passes) {
        const PassArgs<T> args{bufR[cur],   bufI[cur], bufR[1 - cur], bufI[1 - cur], m_n, p.span,
                               m_twRe.data() + p.twiddle, m_twIm.data() + p.twiddle, lanes, pitch(lanes)};
        // Full blocks (the lane count of the batch drivers) run passes compiled for
        // that count, whose lane loops the compiler unrolls into whole vectors.
        constexpr std::size_t kFull = sizeof(T) == 4 ? 32 : 16;
        const bool full = lanes == kFull;
        switch (p.radix) {
            case 2: full ? pass2<T, kFull>(args) : pass2<T, 0>(args); break;
            case 3: full ? pass3<T, kFull>(args) : pass3<T, 0>(args); break;
            case 4: full ? pass4<T, kFull>(args) : pass4<T, 0>(args); break;
            case 8: full ? pass8<T, kFull>(args) : pass8<T, 0>(args); break;
            case 5: full ? pass5<T, kFull>(args) : pass5<T, 0>(args); break;
            default: {
                const std::size_t off = m_radixOffset[p.radix] - 1;
                passOdd(args, p.radix, m_radixCos.data() + off, m_radixSin.data() + off);
                break;
            }
        }
        cur = 1 - cur;
    }
    return cur == 1;
}

template <class T>
void FftLinePlan<T>::forwardChirp(T* re, T* im, std::size_t lanes, T* scratch) const {
    const std::size_t m = m_inner->length(), V = lanes, P = pitch(lanes);
    T* ar = scratch;
    T* ai = scratch + planeSize(m, lanes);
    T* inner = scratch + 2 * planeSize(m, lanes);
    for (std::size_t k = 0; k < m_n; ++k) {
        const T cr = m_chirpRe[k], ci = m_chirpIm[k];
        NVF_LANE_LOOP
        for (std::size_t l = 0; l < V; ++l) {
            const T xr = re[k * P + l], xi = im[k * P + l];
            ar[k * P + l] = xr * cr - xi * ci;
            ai[k * P + l] = xr * ci + xi * cr;
        }
    }
    std::fill(ar + m_n * P, ar + m * P, T(0));
    std::fill(ai + m_n * P, ai + m * P, T(0));
    m_inner->forward(ar, ai, V, inner);
    // Times the kernel, conjugated: the second forward transform then gives the
    // conjugate of the unscaled inverse.
    for (std::size_t k = 0; k < m; ++k) {
        const T br = m_kernelRe[k], bi = m_kernelIm[k];
        NVF_LANE_LOOP
        for (std::size_t l = 0; l < V; ++l) {
            const T xr = ar[k * P + l], xi = ai[k * P + l];
            ar[k * P + l] = xr * br - xi * bi;
            ai[k * P + l] = -(xr * bi + xi * br);
        }
    }
    m_inner->forward(ar, ai, V, inner);
    for (std::size_t k = 0; k < m_n; ++k) {
        const T cr = m_chirpRe[k], ci = m_chirpIm[k];
        NVF_LANE_LOOP
        for (std::size_t l = 0; l < V; ++l) {
            const T dr = ar[k * P + l], di = ai[k * P + l];
            re[k * P + l] = cr * dr + ci * di;
            im[k * P + l] = ci * dr - cr * di;
        }
    }
}

template class FftLinePlan<float>;
template class FftLinePlan<double>;

}  // namespace com::norvane::filtering::detail
