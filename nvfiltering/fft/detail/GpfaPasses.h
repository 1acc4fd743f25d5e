// The radix passes of the generalised prime factor FFT (see Gpfa.h): the
// butterflies of radix 2, 3, 4, 5 and 8, and the loops that apply them in the
// self-sorting type I and type II passes to every vector of a block.
#pragma once

#include <nvfiltering/framework/detail/CnMultiVersion.h>

#include <cstddef>

// gcc is told that the vector loop carries no dependence. clang gets no hint: it
// reports every loop it then fails to vectorise as a warning (an error with
// -Werror), and the hint never changes the numbers, only the speed.
#if defined(__GNUC__) && !defined(__clang__)
#define NVF_VECTOR_LOOP _Pragma("GCC ivdep")
#else
#define NVF_VECTOR_LOOP
#endif

namespace com::norvane::filtering::detail::gpfa {

// A butterfly works on the F complex values of one transform, in place in two small
// arrays. The pass loops enumerate the butterflies of a pass (their F or F x F points,
// offsets within one vector) and apply each to every vector of the current block.

// Where the points of one pass lie: element stride `inc`, vector stride `jump`,
// length n, the factor nf = 2^p, 3^q or 5^r of this routine and q = n / nf, and
// the index arithmetic modulo span = n inc that enumerates the butterflies.
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

// Outputs j and k of a butterfly from the real and imaginary parts (t, u) of their
// common term and (tt, uu) of the term they take with opposite signs times i.
template <class T>
inline void outputPair(T* a, T* b, int j, int k, T t, T u, T tt, T uu) {
    a[j] = t - uu;
    b[j] = u + tt;
    a[k] = t + uu;
    b[k] = u - tt;
}

// The butterflies, one struct per radix: each loads its points, combines them
// and stores them back, so the structs share their outline, not their arithmetic.
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
        outputPair(a, b, 1, 2, t2, u2, t3, u3);
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
        outputPair(a, b, 1, 3, t2, u2, t3, u3);
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
        outputPair(a, b, 1, 4, t8, u8, t11, u11);
        outputPair(a, b, 2, 3, t9, u9, t10, u10);
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

// Calls body(offset) for the nv vectors of a block, `jump` apart; adjacent vectors
// (jump 1) in a loop the compiler may vectorise.
template <class Body>
inline void forEachVector(std::ptrdiff_t nv, std::ptrdiff_t jump, const Body& body) {
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
    forEachVector(nv, jump, body);
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
    forEachVector(nv, jump, body);
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
NVF_ISA_BODY void typeIPassBody(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table,
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

template <int F, class T, class Bf>
void typeIPass(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table, T sign,
               const Bf& bf) {
    runWidest([&] { typeIPassBody<F, T, Bf>(a, b, g, L, nv, table, sign, bf); });
}

// The central radix-2 pass: where the twiddle is exactly +-i it is applied
// without multiplications.
template <class T>
NVF_ISA_BODY void radix2PassBody(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table,
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
                applyInPlace<false>(a, b, p, nv, g.jump, static_cast<const T*>(nullptr), static_cast<const T*>(nullptr),
                                    bfi);
            });
        } else {
            loadTwiddles<2>(table, kk, sign, c, s);
            forEachTypeI<2>(g, step, k,
                            [&](const std::ptrdiff_t* p) { applyInPlace<true>(a, b, p, nv, g.jump, c, s, bf); });
        }
        kk += 2 * L;
    }
}

template <class T>
void radix2Pass(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table, T sign, T sigma) {
    runWidest([&] { radix2PassBody<T>(a, b, g, L, nv, table, sign, sigma); });
}

// A type II pass with current product L.
template <int F, class T, class Bf>
NVF_ISA_BODY void typeIIPassBody(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table,
                                 T sign, const Bf& bf) {
    const std::ptrdiff_t step = g.span / (F * L);
    forEachTypeII<F>(g, step, L, 0, [&](const std::ptrdiff_t* p) {
        applyTransposed<false>(a, b, p, nv, g.jump, static_cast<const T*>(nullptr), static_cast<const T*>(nullptr), bf);
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

template <int F, class T, class Bf>
void typeIIPass(T* a, T* b, const Geometry& g, std::ptrdiff_t L, std::ptrdiff_t nv, const T* table, T sign,
                const Bf& bf) {
    runWidest([&] { typeIIPassBody<F, T, Bf>(a, b, g, L, nv, table, sign, bf); });
}

}  // namespace com::norvane::filtering::detail::gpfa
