#include <nvfiltering/fft/Cn1dFftFilter.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/framework/FftDimensionNotImplementedException.h>
#include <nvmath/CnFft.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// Counts of the factors 2, 3 and 5 of n (n >= 1); `rest` is what remains.
struct Factors {
    std::int32_t p = 0;
    std::int32_t q = 0;
    std::int32_t r = 0;
    std::int32_t rest = 1;
};

Factors factorise(std::int32_t n) {
    Factors f;
    std::int32_t nn = n;
    std::int32_t* counts[3] = {&f.p, &f.q, &f.r};
    std::int32_t divisor = 2;
    for (int i = 0; i < 3; ++i) {
        while (nn % divisor == 0) {
            ++*counts[i];
            nn /= divisor;
        }
        divisor += (divisor == 2) ? 1 : 2;
    }
    f.rest = nn;
    return f;
}

template <class T>
void negateValues(T* x, std::size_t m) {
    for (std::size_t i = 0; i < m; ++i) {
        x[i] = -x[i];
    }
}

}  // namespace

// --- Building blocks of the GPFA radix routines -------------------------------------
//
// A butterfly works on the F complex values of one transform, in place in two small
// arrays. The pass loops enumerate the butterflies of a pass (their F or F x F points,
// offsets within one vector) and apply each to every vector of the current block.

// gcc is told that the vector loop carries no dependence. clang gets no hint: it
// reports every loop it then fails to vectorise as a warning (an error with
// -Werror), and the hint never changes the numbers, only the speed.
#if defined(__GNUC__) && !defined(__clang__)
#define NVF_VECTOR_LOOP _Pragma("GCC ivdep")
#else
#define NVF_VECTOR_LOOP
#endif


namespace {
namespace gpfa_detail {

struct Geometry {
    std::ptrdiff_t inc = 0;
    std::ptrdiff_t jump = 0;
    std::ptrdiff_t n = 0;
    std::ptrdiff_t nf = 0;
    std::ptrdiff_t q = 0;
    std::ptrdiff_t span = 0;
    std::ptrdiff_t back = 0;
    std::ptrdiff_t kstep = 0;
};

// p plus d, for 0 < d < span: one subtraction, then span added back if negative.
inline std::ptrdiff_t stepForward(std::ptrdiff_t p, std::ptrdiff_t d, std::ptrdiff_t span) {
    std::ptrdiff_t r = p + d - span;
    if (r < 0) {
        r += span;
    }
    return r;
}

inline std::ptrdiff_t stepBack(std::ptrdiff_t p, std::ptrdiff_t back, std::ptrdiff_t span) {
    std::ptrdiff_t r = p + back;
    if (r < 0) {
        r += span;
    }
    return r;
}

template <class T>
struct Radix2 {
    static constexpr int size = 2;
    void operator()(T* a, T* b) const {
        const T a0 = a[0], a1 = a[1], b0 = b[0], b1 = b[1];
        a[0] = a0 + a1;
        b[0] = b0 + b1;
        a[1] = a0 - a1;
        b[1] = b0 - b1;
    }
};

// Radix-2 butterfly whose second output is multiplied by exactly sigma * i.
template <class T>
struct Radix2TimesI {
    static constexpr int size = 2;
    T sigma;
    void operator()(T* a, T* b) const {
        const T a0 = a[0], a1 = a[1], b0 = b[0], b1 = b[1];
        a[0] = a0 + a1;
        b[0] = b0 + b1;
        a[1] = sigma * (b1 - b0);
        b[1] = sigma * (a0 - a1);
    }
};

template <class T>
struct Radix3 {
    static constexpr int size = 3;
    T c;
    void operator()(T* a, T* b) const {
        const T a0 = a[0], a1 = a[1], a2 = a[2];
        const T b0 = b[0], b1 = b[1], b2 = b[2];
        const T t1 = a1 + a2;
        const T t2 = a0 - T(0.5) * t1;
        const T t3 = c * (a1 - a2);
        const T u1 = b1 + b2;
        const T u2 = b0 - T(0.5) * u1;
        const T u3 = c * (b1 - b2);
        a[0] = a0 + t1;
        b[0] = b0 + u1;
        a[1] = t2 - u3;
        b[1] = u2 + t3;
        a[2] = t2 + u3;
        b[2] = u2 - t3;
    }
};

template <class T>
struct Radix4 {
    static constexpr int size = 4;
    T sigma;
    void operator()(T* a, T* b) const {
        const T a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
        const T b0 = b[0], b1 = b[1], b2 = b[2], b3 = b[3];
        const T t0 = a0 + a2, t2 = a0 - a2, t1 = a1 + a3, t3 = sigma * (a1 - a3);
        const T u0 = b0 + b2, u2 = b0 - b2, u1 = b1 + b3, u3 = sigma * (b1 - b3);
        a[0] = t0 + t1;
        b[0] = u0 + u1;
        a[2] = t0 - t1;
        b[2] = u0 - u1;
        a[1] = t2 - u3;
        b[1] = u2 + t3;
        a[3] = t2 + u3;
        b[3] = u2 - t3;
    }
};

template <class T>
struct Radix5 {
    static constexpr int size = 5;
    T c1, c2, c3;
    void operator()(T* a, T* b) const {
        const T a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4];
        const T b0 = b[0], b1 = b[1], b2 = b[2], b3 = b[3], b4 = b[4];
        const T t1 = a1 + a4, t2 = a2 + a3, t3 = a1 - a4, t4 = a2 - a3;
        const T t5 = t1 + t2, t6 = c1 * (t1 - t2), t7 = a0 - T(0.25) * t5;
        const T t8 = t7 + t6, t9 = t7 - t6;
        const T t10 = c3 * t3 - c2 * t4, t11 = c2 * t3 + c3 * t4;
        const T u1 = b1 + b4, u2 = b2 + b3, u3 = b1 - b4, u4 = b2 - b3;
        const T u5 = u1 + u2, u6 = c1 * (u1 - u2), u7 = b0 - T(0.25) * u5;
        const T u8 = u7 + u6, u9 = u7 - u6;
        const T u10 = c3 * u3 - c2 * u4, u11 = c2 * u3 + c3 * u4;
        a[0] = a0 + t5;
        b[0] = b0 + u5;
        a[1] = t8 - u11;
        b[1] = u8 + t11;
        a[4] = t8 + u11;
        b[4] = u8 - t11;
        a[2] = t9 - u10;
        b[2] = u9 + t10;
        a[3] = t9 + u10;
        b[3] = u9 - t10;
    }
};

// The central radix-8 butterfly: its first stage (sums and differences, the same
// for real and imaginary parts) followed by its second stage.
template <class T>
struct Radix8 {
    static constexpr int size = 8;
    T c1, c2, c3;
    void stage1(T* x) const {
        const T x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4], x5 = x[5], x6 = x[6], x7 = x[7];
        const T d15 = x1 - x5;
        const T d37 = x3 - x7;
        x[0] = x0 + x4;
        x[4] = x6 + x2;
        x[2] = x1 + x5;
        x[6] = x3 + x7;
        x[1] = x0 - x4;
        x[5] = c1 * (x2 - x6);
        x[3] = c2 * (d15 - d37);
        x[7] = c3 * (d15 + d37);
    }
    void operator()(T* a, T* b) const {
        stage1(a);
        stage1(b);
        const T a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4], a5 = a[5], a6 = a[6], a7 = a[7];
        const T b0 = b[0], b1 = b[1], b2 = b[2], b3 = b[3], b4 = b[4], b5 = b[5], b6 = b[6], b7 = b[7];
        a[0] = (a2 + a6) + (a0 + a4);
        a[4] = (a0 + a4) - (a2 + a6);
        b[0] = (b2 + b6) + (b0 + b4);
        b[4] = (b0 + b4) - (b2 + b6);
        a[2] = (a0 - a4) - c1 * (b2 - b6);
        a[6] = (a0 - a4) + c1 * (b2 - b6);
        b[2] = c1 * (a2 - a6) + (b0 - b4);
        b[6] = (b0 - b4) - c1 * (a2 - a6);
        a[1] = (a1 + a3) - (b5 + b7);
        a[7] = (a1 + a3) + (b5 + b7);
        b[1] = (a5 + a7) + (b1 + b3);
        b[7] = (b1 + b3) - (a5 + a7);
        a[3] = (a1 - a3) + (b5 - b7);
        a[5] = (a1 - a3) - (b5 - b7);
        b[3] = (b1 - b3) - (a5 - a7);
        b[5] = (b1 - b3) + (a5 - a7);
    }
};

// Output m (m >= 1) times (c[m] + i s[m]).
template <int F, class T>
inline void twiddle(T* a, T* b, const T* c, const T* s) {
    for (int m = 1; m < F; ++m) {
        const T x = a[m], y = b[m];
        a[m] = c[m] * x - s[m] * y;
        b[m] = s[m] * x + c[m] * y;
    }
}

// One butterfly of a type I (or central) pass on the nv vectors of a block: points
// p[0..F-1], results back to the same points.
template <bool Twiddled, class T, class Bf>
inline void applyInPlace(T* a, T* b, const std::ptrdiff_t* p, std::ptrdiff_t nv, std::ptrdiff_t jump, const T* c,
                         const T* s, const Bf& bf) {
    constexpr int F = Bf::size;
    T* ap[F];
    T* bp[F];
    for (int m = 0; m < F; ++m) {
        ap[m] = a + p[m];
        bp[m] = b + p[m];
    }
    auto body = [&](std::ptrdiff_t o) {
        T xa[F], xb[F];
        for (int m = 0; m < F; ++m) {
            xa[m] = ap[m][o];
            xb[m] = bp[m][o];
        }
        bf(xa, xb);
        if (Twiddled) {
            twiddle<F>(xa, xb, c, s);
        }
        for (int m = 0; m < F; ++m) {
            ap[m][o] = xa[m];
            bp[m][o] = xb[m];
        }
    };
    if (jump == 1) {
        NVF_VECTOR_LOOP
        for (std::ptrdiff_t v = 0; v < nv; ++v) {
            body(v);
        }
    } else {
        for (std::ptrdiff_t v = 0; v < nv; ++v) {
            body(v * jump);
        }
    }
}

// One F x F block of a type II pass: row r takes the points p[r F + m], and its
// output m goes to p[m F + r], so that the block is transposed.
template <bool Twiddled, class T, class Bf>
inline void applyTransposed(T* a, T* b, const std::ptrdiff_t* p, std::ptrdiff_t nv, std::ptrdiff_t jump, const T* c,
                            const T* s, const Bf& bf) {
    constexpr int F = Bf::size;
    T* ap[F * F];
    T* bp[F * F];
    for (int m = 0; m < F * F; ++m) {
        ap[m] = a + p[m];
        bp[m] = b + p[m];
    }
    auto body = [&](std::ptrdiff_t o) {
        T xa[F][F], xb[F][F];
        for (int r = 0; r < F; ++r) {
            for (int m = 0; m < F; ++m) {
                xa[r][m] = ap[r * F + m][o];
                xb[r][m] = bp[r * F + m][o];
            }
        }
        for (int r = 0; r < F; ++r) {
            bf(xa[r], xb[r]);
            if (Twiddled) {
                twiddle<F>(xa[r], xb[r], c, s);
            }
        }
        for (int r = 0; r < F; ++r) {
            for (int m = 0; m < F; ++m) {
                ap[m * F + r][o] = xa[r][m];
                bp[m * F + r][o] = xb[r][m];
            }
        }
    };
    if (jump == 1) {
        NVF_VECTOR_LOOP
        for (std::ptrdiff_t v = 0; v < nv; ++v) {
            body(v);
        }
    } else {
        for (std::ptrdiff_t v = 0; v < nv; ++v) {
            body(v * jump);
        }
    }
}

// Calls fn(points) for the butterflies of a type I pass that start at j0 = first,
// first + F step, ... : Q transforms each, one `back` apart.
template <int F, class Fn>
inline void forEachTypeI(const Geometry& g, std::ptrdiff_t step, std::ptrdiff_t first, Fn&& fn) {
    std::ptrdiff_t pts[F];
    const std::ptrdiff_t last = (g.n - 1) * g.inc;
    for (std::ptrdiff_t j0 = first; j0 <= last; j0 += F * step) {
        std::ptrdiff_t p = j0;
        for (std::ptrdiff_t t = 0; t < g.q; ++t) {
            pts[0] = p;
            for (int m = 1; m < F; ++m) {
                pts[m] = stepForward(pts[m - 1], step, g.span);
            }
            fn(pts);
            p = stepBack(p, g.back, g.span);
        }
    }
}

// The same for the F x F blocks of a type II pass starting at l0 = first, first + F step, ...
template <int F, class Fn>
inline void forEachTypeII(const Geometry& g, std::ptrdiff_t step, std::ptrdiff_t L, std::ptrdiff_t first, Fn&& fn) {
    std::ptrdiff_t pts[F * F];
    const std::ptrdiff_t row = L * g.kstep;
    const std::ptrdiff_t lastL = (L - 1) * g.kstep;
    const std::ptrdiff_t last = (g.n - 1) * g.inc;
    for (std::ptrdiff_t l0 = first; l0 <= lastL; l0 += F * step) {
        for (std::ptrdiff_t j0 = l0; j0 <= last; j0 += F * row) {
            std::ptrdiff_t p = j0;
            for (std::ptrdiff_t t = 0; t < g.q; ++t) {
                pts[0] = p;
                for (int r = 1; r < F; ++r) {
                    pts[r * F] = stepForward(pts[(r - 1) * F], row, g.span);
                }
                for (int r = 0; r < F; ++r) {
                    for (int m = 1; m < F; ++m) {
                        pts[r * F + m] = stepForward(pts[r * F + m - 1], step, g.span);
                    }
                }
                fn(pts);
                p = stepBack(p, g.back, g.span);
            }
        }
    }
}

// Twiddles of one k: c[m] = table[m kk], s[m] = s * table[m kk + 1].
template <int F, class T>
inline void loadTwiddles(const T* table, std::ptrdiff_t kk, T sign, T* c, T* s) {
    c[0] = T(1);
    s[0] = T(0);
    for (int m = 1; m < F; ++m) {
        c[m] = table[m * kk];
        s[m] = sign * table[m * kk + 1];
    }
}

// A type I pass (also the central radix-8 pass) with current product L.
template <int F, class T, class Bf>
NVF_MULTIVERSION_FLAT void typeIPass(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table,
                               T sign, const Bf& bf) {
    const std::ptrdiff_t step = g.span / (F * L);
    forEachTypeI<F>(g, step, 0, [&](const std::ptrdiff_t* p) {
        applyInPlace<false>(a, b, p, nv, g.jump, static_cast<const T*>(nullptr), static_cast<const T*>(nullptr), bf);
    });
    T c[F], s[F];
    std::ptrdiff_t kk = 2 * L;
    for (std::ptrdiff_t k = g.kstep; k <= step - g.kstep; k += g.kstep) {
        loadTwiddles<F>(table, kk, sign, c, s);
        forEachTypeI<F>(g, step, k,
                        [&](const std::ptrdiff_t* p) { applyInPlace<true>(a, b, p, nv, g.jump, c, s, bf); });
        kk += 2 * L;
    }
}

// The central radix-2 pass: where the twiddle is exactly +-i it is applied
// without multiplications.
template <class T>
NVF_MULTIVERSION_FLAT void radix2Pass(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table,
                                T sign, T sigma) {
    const std::ptrdiff_t step = g.span / (2 * L);
    const Radix2<T> bf{};
    const Radix2TimesI<T> bfi{sigma};
    forEachTypeI<2>(g, step, 0, [&](const std::ptrdiff_t* p) {
        applyInPlace<false>(a, b, p, nv, g.jump, static_cast<const T*>(nullptr), static_cast<const T*>(nullptr), bf);
    });
    T c[2], s[2];
    std::ptrdiff_t kk = 2 * L;
    for (std::ptrdiff_t k = g.kstep; k <= step - g.kstep; k += g.kstep) {
        if (kk == g.nf / 2) {
            forEachTypeI<2>(g, step, k, [&](const std::ptrdiff_t* p) {
                applyInPlace<false>(a, b, p, nv, g.jump, static_cast<const T*>(nullptr),
                                    static_cast<const T*>(nullptr), bfi);
            });
        } else {
            loadTwiddles<2>(table, kk, sign, c, s);
            forEachTypeI<2>(g, step, k,
                            [&](const std::ptrdiff_t* p) { applyInPlace<true>(a, b, p, nv, g.jump, c, s, bf); });
        }
        kk += 2 * L;
    }
}

// A type II pass with current product L.
template <int F, class T, class Bf>
NVF_MULTIVERSION_FLAT void typeIIPass(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table,
                                T sign, const Bf& bf) {
    const std::ptrdiff_t step = g.span / (F * L);
    forEachTypeII<F>(g, step, L, 0, [&](const std::ptrdiff_t* p) {
        applyTransposed<false>(a, b, p, nv, g.jump, static_cast<const T*>(nullptr), static_cast<const T*>(nullptr),
                               bf);
    });
    T c[F], s[F];
    std::ptrdiff_t kk = 2 * L;
    for (std::ptrdiff_t k = g.kstep; k <= step - g.kstep; k += g.kstep) {
        loadTwiddles<F>(table, kk, sign, c, s);
        forEachTypeII<F>(g, step, L, k,
                         [&](const std::ptrdiff_t* p) { applyTransposed<true>(a, b, p, nv, g.jump, c, s, bf); });
        kk += 2 * L;
    }
}


// Copies w vectors of n adjacent values (re / im, one after another) into the
// interleaved scratch (element k of vector v at k * w + v), negating the imaginary
// parts. The copy goes in tiles of a few elements of every vector, so that both
// sides of a tile stay in the first-level cache.
constexpr std::ptrdiff_t kTransposeTile = 8;

template <class T>
NVF_MULTIVERSION_FLAT void interleaveConjugated(const T* __restrict re, const T* __restrict im, T* __restrict sr,
                                          T* __restrict si, std::ptrdiff_t n, std::ptrdiff_t w) {
    for (std::ptrdiff_t k0 = 0; k0 < n; k0 += kTransposeTile) {
        const std::ptrdiff_t kb = std::min(kTransposeTile, n - k0);
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            const T* rv = re + v * n + k0;
            const T* iv = im + v * n + k0;
            T* dr = sr + k0 * w + v;
            T* di = si + k0 * w + v;
            for (std::ptrdiff_t k = 0; k < kb; ++k) {
                dr[k * w] = rv[k];
                di[k * w] = -iv[k];
            }
        }
    }
}

// The way back: element k of vector v from k * w + v, the imaginary part negated.
template <class T>
NVF_MULTIVERSION_FLAT void deinterleaveConjugated(const T* __restrict sr, const T* __restrict si, T* __restrict re,
                                            T* __restrict im, std::ptrdiff_t n, std::ptrdiff_t w) {
    for (std::ptrdiff_t k0 = 0; k0 < n; k0 += kTransposeTile) {
        const std::ptrdiff_t kb = std::min(kTransposeTile, n - k0);
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            T* rv = re + v * n + k0;
            T* iv = im + v * n + k0;
            const T* srcR = sr + k0 * w + v;
            const T* srcI = si + k0 * w + v;
            for (std::ptrdiff_t k = 0; k < kb; ++k) {
                rv[k] = srcR[k * w];
                iv[k] = -srcI[k * w];
            }
        }
    }
}

// The way back for the inverse: real parts times scale, imaginary parts times negScale.
template <class T>
NVF_MULTIVERSION_FLAT void deinterleaveScaled(const T* __restrict sr, const T* __restrict si, T* __restrict re,
                                        T* __restrict im, std::ptrdiff_t n, std::ptrdiff_t w, T scale, T negScale) {
    for (std::ptrdiff_t k0 = 0; k0 < n; k0 += kTransposeTile) {
        const std::ptrdiff_t kb = std::min(kTransposeTile, n - k0);
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            T* rv = re + v * n + k0;
            T* iv = im + v * n + k0;
            const T* srcR = sr + k0 * w + v;
            const T* srcI = si + k0 * w + v;
            for (std::ptrdiff_t k = 0; k < kb; ++k) {
                rv[k] = srcR[k * w] * scale;
                iv[k] = srcI[k * w] * negScale;
            }
        }
    }
}

// x[k * d + v] = -x[k * d + v] for k < n, v < w.
template <class T>
NVF_MULTIVERSION_FLAT void negateBand(T* x, std::ptrdiff_t n, std::ptrdiff_t d, std::ptrdiff_t w) {
    for (std::ptrdiff_t k = 0; k < n; ++k) {
        T* row = x + k * d;
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            row[v] = -row[v];
        }
    }
}

// The inverse's scaling of the same band: real parts times scale, imaginary parts
// times negScale.
template <class T>
NVF_MULTIVERSION_FLAT void scaleBand(T* __restrict re, T* __restrict im, std::ptrdiff_t n, std::ptrdiff_t d,
                               std::ptrdiff_t w, T scale, T negScale) {
    for (std::ptrdiff_t k = 0; k < n; ++k) {
        T* rr = re + k * d;
        T* ir = im + k * d;
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            rr[v] *= scale;
            ir[v] *= negScale;
        }
    }
}

}  // namespace gpfa_detail
}  // namespace

using gpfa_detail::deinterleaveConjugated;
using gpfa_detail::deinterleaveScaled;
using gpfa_detail::interleaveConjugated;
using gpfa_detail::negateBand;
using gpfa_detail::scaleBand;

// Vectors per scratch chunk of runGpfaInChunks.
constexpr std::ptrdiff_t kGpfaChunk = 8;
// Bytes of one row of a band of runGpfaInBands (per array), and the size of one
// array from which the bands pay off: smaller arrays stay in cache as a whole.
constexpr std::ptrdiff_t kGpfaBandBytes = 256;
constexpr std::size_t kGpfaBandFrom = std::size_t(1) << 20;

template <class T>
Cn1dFftFilter<T>::Cn1dFftFilter()
    : m_direction(1),
      m_vectorJump(1),
      m_dataJump(1),
      m_realInput(nullptr),
      m_realOutput(nullptr),
      m_imagInput(nullptr),
      m_imagOutput(nullptr),
      m_length(0),
      m_vectorCount(0),
      m_trigs(nullptr),
      m_trigsLength(0),
      m_trigsKind(0),
      m_gpfaOnly(false) {}

template <class T>
Cn1dFftFilter<T>::Cn1dFftFilter(const Cn1dFftFilter& other)
    : m_direction(other.m_direction),
      m_vectorJump(other.m_vectorJump),
      m_dataJump(other.m_dataJump),
      m_realInput(other.m_realInput),
      m_realOutput(other.m_realOutput),
      m_imagInput(other.m_imagInput),
      m_imagOutput(other.m_imagOutput),
      m_length(other.m_length),
      m_vectorCount(other.m_vectorCount),
      m_trigs(nullptr),
      m_trigsLength(0),
      m_trigsKind(0),
      m_gpfaOnly(other.m_gpfaOnly) {}

template <class T>
Cn1dFftFilter<T>& Cn1dFftFilter<T>::operator=(const Cn1dFftFilter& other) {
    if (this != &other) {
        m_direction = other.m_direction;
        m_vectorJump = other.m_vectorJump;
        m_dataJump = other.m_dataJump;
        m_realInput = other.m_realInput;
        m_realOutput = other.m_realOutput;
        m_imagInput = other.m_imagInput;
        m_imagOutput = other.m_imagOutput;
        m_length = other.m_length;
        m_vectorCount = other.m_vectorCount;
        m_gpfaOnly = other.m_gpfaOnly;
        delete[] m_trigs;
        m_trigs = nullptr;
        m_trigsLength = 0;
        m_trigsKind = 0;
    }
    return *this;
}

template <class T>
Cn1dFftFilter<T>::~Cn1dFftFilter() {
    delete[] m_trigs;
}

template <class T>
void Cn1dFftFilter<T>::SetDirection(std::int32_t value) {
    m_direction = value;
}

template <class T>
void Cn1dFftFilter<T>::SetVectorJump(std::int32_t value) {
    m_vectorJump = value;
}

template <class T>
void Cn1dFftFilter<T>::SetDataJump(std::int32_t value) {
    m_dataJump = value;
}

template <class T>
void Cn1dFftFilter<T>::checkLength(std::int32_t n) {
    if (n < 1) {
        throwThrowable(messages::kFftLengthBelowOne);
    }
    if (factorise(n).rest != 1) {
        throw FftDimensionNotImplementedException(messages::kFftDimensionNotImplemented,
                                                  messages::kFftDimensionClassPath);
    }
}

template <class T>
void Cn1dFftFilter<T>::execute() {
    // Every check comes before the first array access, so that a rejected run
    // leaves the output (and in-place data) as it was.
    checkLength(m_length);
    if (m_vectorCount < 0) {
        throwThrowable(messages::kFftNegativeVectorCount);
    }
    if (m_direction != 1 && m_direction != -1) {
        throwThrowable(messages::kFftInvalidDirection);
    }
    const std::size_t m = static_cast<std::size_t>(m_length) * static_cast<std::size_t>(m_vectorCount);
    if (m > 0 && (m_realInput == nullptr || m_imagInput == nullptr || m_realOutput == nullptr ||
                  m_imagOutput == nullptr)) {
        throwThrowable(messages::kFftNullArray);
    }

    if (m_realInput != m_realOutput) {
        std::copy(m_realInput, m_realInput + m, m_realOutput);
    }
    if (m_imagInput != m_imagOutput) {
        std::copy(m_imagInput, m_imagInput + m, m_imagOutput);
    }

    ComputeTwiddleFactors(m_length);

    if (m_dataJump == 1 && !m_gpfaOnly && IsPowerOf2(static_cast<unsigned int>(m_length))) {
        if (m_vectorCount > 1 && m_vectorJump >= m_length) {
            // Several vectors that do not overlap: one call for all of them, which
            // gives every vector the numbers of its own call.
            const math::CnFft<T> fft;
            fft.CallContiguousBatchFftRoutine(m_realOutput, m_imagOutput, m_length, m_vectorJump, m_vectorCount,
                                              m_direction, m_trigs);
            return;
        }
        for (std::int32_t v = 0; v < m_vectorCount; ++v) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(v) * m_vectorJump;
            CallMklFftRoutine(m_realOutput + o, m_imagOutput + o, m_length, m_direction);
        }
        return;
    }
    runGpfa();
}

template <class T>
void Cn1dFftFilter<T>::runGpfa() {
    if (m_dataJump == 1 && m_vectorJump == m_length && m_vectorCount > 1 && m_length > 1) {
        runGpfaInChunks();
    } else if (m_vectorJump == 1 && m_dataJump == m_vectorCount && m_length > 1 &&
               static_cast<std::size_t>(m_length) * static_cast<std::size_t>(m_vectorCount) * sizeof(T) >
                   kGpfaBandFrom) {
        runGpfaInBands();
    } else {
        runGpfaDirect();
    }
}

template <class T>
void Cn1dFftFilter<T>::runGpfaInBands() {
    runGpfaOnColumns(m_realOutput, m_imagOutput, m_trigs, m_length, m_dataJump, m_vectorCount, m_direction);
}

template <class T>
void Cn1dFftFilter<T>::runGpfaOnColumns(T* re, T* im, T* table, std::int32_t n, std::int32_t rowJump,
                                        std::int32_t count, std::int32_t dir) {
    // The columns (vector v at v, element k at k * rowJump) are transformed a band
    // of adjacent columns at a time, the negations and the scaling done on the band
    // while it is in cache. Each column goes through exactly the operations of
    // runGpfaDirect, so the results are the same.
    const std::ptrdiff_t len = n;
    const std::ptrdiff_t d = rowJump;
    const std::ptrdiff_t band = kGpfaBandBytes / static_cast<std::ptrdiff_t>(sizeof(T));
    const T scale = T(1) / static_cast<T>(n);
    const T negScale = T(-1) / static_cast<T>(n);
    for (std::ptrdiff_t c0 = 0; c0 < count; c0 += band) {
        const std::ptrdiff_t w = std::min<std::ptrdiff_t>(band, count - c0);
        T* bandRe = re + c0;
        T* bandIm = im + c0;
        negateBand(bandIm, len, d, w);
        std::int32_t inc = rowJump;
        std::int32_t jump = 1;
        std::int32_t length = n;
        std::int32_t lot = static_cast<std::int32_t>(w);
        std::int32_t isign = dir;
        gpfa(bandRe, bandIm, table, &inc, &jump, &length, &lot, &isign);
        if (dir < 0) {
            scaleBand(bandRe, bandIm, len, d, w, scale, negScale);
        } else {
            negateBand(bandIm, len, d, w);
        }
    }
}

template <class T>
void Cn1dFftFilter<T>::runGpfaDirect() {
    const std::size_t m = static_cast<std::size_t>(m_length) * static_cast<std::size_t>(m_vectorCount);
    negateValues(m_imagOutput, m);
    std::int32_t inc = m_dataJump;
    std::int32_t jump = m_vectorJump;
    std::int32_t n = m_length;
    std::int32_t lot = m_vectorCount;
    std::int32_t isign = m_direction;
    gpfa(m_realOutput, m_imagOutput, m_trigs, &inc, &jump, &n, &lot, &isign);
    if (m_direction < 0) {
        const T scale = T(1) / static_cast<T>(m_length);
        const T negScale = T(-1) / static_cast<T>(m_length);
        for (std::size_t i = 0; i < m; ++i) {
            m_realOutput[i] *= scale;
        }
        for (std::size_t i = 0; i < m; ++i) {
            m_imagOutput[i] *= negScale;
        }
    } else {
        negateValues(m_imagOutput, m);
    }
}

template <class T>
void Cn1dFftFilter<T>::runGpfaInChunks() {
    // Vectors stored one after another are transformed a few at a time in a small
    // scratch copy where they are interleaved element by element, so that the
    // GPFA's loop across the vectors runs over adjacent values. Each vector goes
    // through exactly the operations of runGpfaDirect (negation, butterflies,
    // negation or scaling), so the results are the same.
    const std::ptrdiff_t n = m_length;
    const std::ptrdiff_t chunk = kGpfaChunk;
    std::vector<T> realScratch(static_cast<std::size_t>(n * chunk));
    std::vector<T> imagScratch(static_cast<std::size_t>(n * chunk));
    const T scale = T(1) / static_cast<T>(m_length);
    const T negScale = T(-1) / static_cast<T>(m_length);
    for (std::ptrdiff_t v0 = 0; v0 < m_vectorCount; v0 += chunk) {
        const std::ptrdiff_t w = std::min<std::ptrdiff_t>(chunk, m_vectorCount - v0);
        T* re = m_realOutput + v0 * n;
        T* im = m_imagOutput + v0 * n;
        interleaveConjugated(re, im, realScratch.data(), imagScratch.data(), n, w);
        std::int32_t inc = static_cast<std::int32_t>(w);
        std::int32_t jump = 1;
        std::int32_t len = m_length;
        std::int32_t lot = static_cast<std::int32_t>(w);
        std::int32_t isign = m_direction;
        gpfa(realScratch.data(), imagScratch.data(), m_trigs, &inc, &jump, &len, &lot, &isign);
        if (m_direction < 0) {
            deinterleaveScaled(realScratch.data(), imagScratch.data(), re, im, n, w, scale, negScale);
        } else {
            deinterleaveConjugated(realScratch.data(), imagScratch.data(), re, im, n, w);
        }
    }
}

template <class T>
void Cn1dFftFilter<T>::executeWith(const T* realIn, const T* imagIn, T* realOut, T* imagOut, std::int32_t len,
                                   std::int32_t count, int dir) {
    m_realInput = realIn;
    m_imagInput = imagIn;
    m_realOutput = realOut;
    m_imagOutput = imagOut;
    m_length = len;
    m_vectorCount = count;
    m_vectorJump = len;
    m_dataJump = 1;
    m_direction = dir;
    execute();
}

template <class T>
void Cn1dFftFilter<T>::CallMklFftRoutine(T* re, T* im, int n, int dir) {
    const math::CnFft<T> fft;
    fft.Call1dMklFftRoutine(re, im, n, dir, m_trigs);
}

template <class T>
void Cn1dFftFilter<T>::ComputeTwiddleFactors(std::int32_t n) {
    if (m_dataJump == 1 && !m_gpfaOnly && IsPowerOf2(static_cast<unsigned int>(n))) {
        if (m_trigsKind == 2 && m_trigsLength == n) {
            return;
        }
        delete[] m_trigs;
        m_trigs = nullptr;
        m_trigsKind = 0;
        m_trigsLength = 0;
        m_trigs = new T[3 * static_cast<std::size_t>(n)]();
        CallMklFftRoutine(m_realOutput, m_imagOutput, n, 0);
        m_trigsLength = n;
        m_trigsKind = 2;
    } else {
        if (m_trigsKind == 1 && m_trigsLength == n) {
            return;
        }
        delete[] m_trigs;
        m_trigs = nullptr;
        m_trigsKind = 0;
        m_trigsLength = 0;
        m_trigs = new T[2 * static_cast<std::size_t>(n > 0 ? n : 0)]();
        std::int32_t len = n;
        setgpfa(m_trigs, &len);
        m_trigsKind = 1;
        m_trigsLength = n;
    }
}

template <class T>
bool Cn1dFftFilter<T>::IsPowerOf2(unsigned int x) {
    return x != 0 && (x & (x - 1)) == 0;
}

// --- Generalised prime factor FFT ------------------------------------------------

template <class T>
std::int32_t Cn1dFftFilter<T>::pow_ii(std::int32_t* x, std::int32_t* e) {
    const std::int32_t base = *x;
    const std::int32_t exponent = *e;
    if (exponent == 0 || base == 1) {
        return 1;
    }
    if (exponent > 0) {
        // 32-bit wrap-around on overflow, done in unsigned arithmetic.
        std::uint32_t result = 1;
        std::uint32_t xx = static_cast<std::uint32_t>(base);
        std::uint32_t ee = static_cast<std::uint32_t>(exponent);
        while (true) {
            if ((ee & 1u) != 0) {
                result *= xx;
            }
            ee >>= 1;
            if (ee == 0) {
                break;
            }
            xx *= xx;
        }
        return static_cast<std::int32_t>(result);
    }
    if (base == 0) {
        return 0;  // no meaningful integer result; no caller asks for it
    }
    // Negative exponent: 1 / x^|e| in double precision, truncated toward zero.
    double result = 1.0;
    double xx = static_cast<double>(base);
    std::uint32_t ee = 0u - static_cast<std::uint32_t>(exponent);
    while (true) {
        if ((ee & 1u) != 0) {
            result *= xx;
        }
        ee >>= 1;
        if (ee == 0) {
            break;
        }
        xx *= xx;
    }
    return static_cast<std::int32_t>(1.0 / result);
}

template <class T>
int Cn1dFftFilter<T>::setgpfa(T* table, std::int32_t* n) {
    const std::int32_t len = *n;
    if (len < 1) {
        return 0;
    }
    Factors f = factorise(len);
    if (f.rest != 1) {
        return 0;
    }
    std::int32_t two = 2, three = 3, five = 5;
    const std::int32_t powers[3] = {pow_ii(&two, &f.p), pow_ii(&three, &f.q), pow_ii(&five, &f.r)};
    const double twoPi = 4.0 * std::asin(1.0);
    std::size_t i = 0;
    for (std::int32_t nf : powers) {
        if (nf == 1) {
            continue;
        }
        double del = twoPi / static_cast<double>(nf);
        // The float instantiation rounds the angle step to float before use.
        del = static_cast<double>(static_cast<T>(del));
        const std::int32_t kink = (len / nf) % nf;
        std::int32_t kk = 0;
        for (std::int32_t k = 0; k < nf; ++k) {
            const double angle = static_cast<double>(kk) * del;
            table[i] = static_cast<T>(std::cos(angle));
            table[i + 1] = static_cast<T>(std::sin(angle));
            i += 2;
            kk += kink;
            if (kk > nf) {
                kk -= nf;
            }
        }
    }
    return 0;
}

template <class T>
int Cn1dFftFilter<T>::gpfa(T* a, T* b, T* table, std::int32_t* inc, std::int32_t* jump, std::int32_t* n,
                           std::int32_t* lot, std::int32_t* isign) {
    checkLength(*n);
    Factors f = factorise(*n);
    std::int32_t two = 2, three = 3;
    std::size_t offset = 0;
    if (f.p > 0) {
        gpfa2f(a, b, table, inc, jump, n, &f.p, lot, isign);
        offset = 2 * static_cast<std::size_t>(pow_ii(&two, &f.p));
    }
    if (f.q > 0) {
        gpfa3f(a, b, table + offset, inc, jump, n, &f.q, lot, isign);
        offset += 2 * static_cast<std::size_t>(pow_ii(&three, &f.q));
    }
    if (f.r > 0) {
        gpfa5f(a, b, table + offset, inc, jump, n, &f.r, lot, isign);
    }
    return 0;
}

template <class T>
std::int32_t Cn1dFftFilter<T>::gpfaBlockSize(std::int32_t left, std::int32_t limit) {
    if (left <= limit) {
        return left;
    }
    if (left < 2 * limit) {
        const std::int32_t half = left / 2;
        return half + half % 2;
    }
    return limit;
}

namespace {

using gpfa_detail::Geometry;

Geometry makeGeometry(std::int32_t inc, std::int32_t jump, std::int32_t n, std::int32_t nf) {
    Geometry g;
    g.inc = inc;
    g.jump = jump;
    g.n = n;
    g.nf = nf;
    g.q = n / nf;
    g.span = static_cast<std::ptrdiff_t>(n) * inc;
    g.back = static_cast<std::ptrdiff_t>(nf - n) * inc;
    g.kstep = static_cast<std::ptrdiff_t>(inc) * g.q;
    return g;
}

// mu of a pass of radix `radix`: Q mod radix, mirrored for the inverse sign.
std::int32_t selectMu(std::ptrdiff_t q, std::int32_t radix, std::int32_t isign) {
    std::int32_t mu = static_cast<std::int32_t>(q % radix);
    if (isign == -1) {
        mu = radix - mu;
    }
    return mu;
}

}  // namespace

template <class T>
int Cn1dFftFilter<T>::gpfa2f(T* a, T* b, T* table, std::int32_t* inc, std::int32_t* jump, std::int32_t* n,
                             std::int32_t* mm, std::int32_t* lot, std::int32_t* isign) {
    using namespace gpfa_detail;
    std::int32_t two = 2;
    const std::int32_t nf = pow_ii(&two, mm);
    const Geometry g = makeGeometry(*inc, *jump, *n, nf);
    const T s = static_cast<T>(*isign);
    const std::int32_t e = *mm;

    const T sigma = selectMu(g.q, 4, *isign) == 3 ? T(-1) : T(1);
    const std::int32_t mu8 = selectMu(g.q, 8, *isign);
    const T root = static_cast<T>(std::sqrt(0.5));
    const T c1 = (mu8 == 3 || mu8 == 7) ? T(-1) : T(1);
    const T c2 = (mu8 == 3 || mu8 == 5) ? -root : root;
    const T c3 = c1 * c2;

    std::int32_t radix4Passes = 0;
    int central = 0;  // 0: none, 2: radix-2 pass, 8: radix-8 pass
    if (e % 2 == 0) {
        radix4Passes = e / 2;
    } else if (e % 4 == 1) {
        radix4Passes = (e - 1) / 2;
        central = 2;
    } else {
        radix4Passes = (e - 3) / 2;
        central = 8;
    }
    const std::int32_t typeIPasses = (radix4Passes + 1) / 2;

    const Radix4<T> bf4{sigma};
    const Radix8<T> bf8{c1, c2, c3};
    const std::int32_t limit = 1024;
    const std::int32_t blocks = 1 + (*lot - 1) / limit;
    std::int32_t left = *lot;
    std::ptrdiff_t start = 0;
    for (std::int32_t block = 0; block < blocks; ++block) {
        const std::int32_t nv = gpfaBlockSize(left, limit);
        left -= nv;
        T* ab = a + start;
        T* bb = b + start;
        std::ptrdiff_t L = 1;
        for (std::int32_t pass = 0; pass < typeIPasses; ++pass) {
            typeIPass<4>(ab, bb, g, L, nv, table, s, bf4);
            L *= 4;
        }
        if (central == 2) {
            radix2Pass(ab, bb, g, L, nv, table, s, sigma);
            L *= 2;
        } else if (central == 8) {
            typeIPass<8>(ab, bb, g, L, nv, table, s, bf8);
            L *= 8;
        }
        for (std::int32_t pass = typeIPasses; pass < radix4Passes; ++pass) {
            typeIIPass<4>(ab, bb, g, L, nv, table, s, bf4);
            L *= 4;
        }
        start += static_cast<std::ptrdiff_t>(nv) * g.jump;
    }
    return 0;
}

namespace {

// The passes of the radix-3 and radix-5 routines: blocks of at most 128 vectors,
// each finishing all mm passes (the first half of type I, the rest of type II)
// before the next block starts.
template <int F, class T, class Butterfly>
void runOddRadixPasses(T* a, T* b, const T* table, const Geometry& g, std::int32_t passes, std::int32_t lot, T s,
                       const Butterfly& bf, std::int32_t (*blockSize)(std::int32_t, std::int32_t)) {
    using namespace gpfa_detail;
    const std::int32_t typeIPasses = (passes + 1) / 2;
    const std::int32_t limit = 128;
    const std::int32_t blocks = 1 + (lot - 1) / limit;
    std::int32_t left = lot;
    std::ptrdiff_t start = 0;
    for (std::int32_t block = 0; block < blocks; ++block) {
        const std::int32_t nv = blockSize(left, limit);
        left -= nv;
        T* ab = a + start;
        T* bb = b + start;
        std::ptrdiff_t L = 1;
        for (std::int32_t pass = 0; pass < passes; ++pass) {
            if (pass < typeIPasses) {
                typeIPass<F>(ab, bb, g, L, nv, table, s, bf);
            } else {
                typeIIPass<F>(ab, bb, g, L, nv, table, s, bf);
            }
            L *= F;
        }
        start += static_cast<std::ptrdiff_t>(nv) * g.jump;
    }
}

}  // namespace

template <class T>
int Cn1dFftFilter<T>::gpfa3f(T* a, T* b, T* table, std::int32_t* inc, std::int32_t* jump, std::int32_t* n,
                             std::int32_t* mm, std::int32_t* lot, std::int32_t* isign) {
    using namespace gpfa_detail;
    std::int32_t three = 3;
    const std::int32_t nf = pow_ii(&three, mm);
    const Geometry g = makeGeometry(*inc, *jump, *n, nf);
    const T s = static_cast<T>(*isign);
    T c = static_cast<T>(0.866025403784437);
    if (selectMu(g.q, 3, *isign) == 2) {
        c = -c;
    }
    const Radix3<T> bf{c};
    runOddRadixPasses<3>(a, b, table, g, *mm, *lot, s, bf, &gpfaBlockSize);
    return 0;
}

template <class T>
int Cn1dFftFilter<T>::gpfa5f(T* a, T* b, T* table, std::int32_t* inc, std::int32_t* jump, std::int32_t* n,
                             std::int32_t* mm, std::int32_t* lot, std::int32_t* isign) {
    using namespace gpfa_detail;
    std::int32_t five = 5;
    const std::int32_t nf = pow_ii(&five, mm);
    const Geometry g = makeGeometry(*inc, *jump, *n, nf);
    const T s = static_cast<T>(*isign);
    const T sqrt5by4 = static_cast<T>(0.559016994374947);
    const T sin72 = static_cast<T>(0.951056516295154);
    const T sin36 = static_cast<T>(0.587785252292473);
    Radix5<T> bf{};
    switch (selectMu(g.q, 5, *isign)) {
        case 1:
            bf = Radix5<T>{sqrt5by4, sin72, sin36};
            break;
        case 2:
            bf = Radix5<T>{-sqrt5by4, sin36, -sin72};
            break;
        case 3:
            bf = Radix5<T>{-sqrt5by4, -sin36, sin72};
            break;
        default:
            bf = Radix5<T>{sqrt5by4, -sin72, -sin36};
            break;
    }
    runOddRadixPasses<5>(a, b, table, g, *mm, *lot, s, bf, &gpfaBlockSize);
    return 0;
}

template class Cn1dFftFilter<float>;
template class Cn1dFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
