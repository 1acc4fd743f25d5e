// The set-up and the drivers of the generalised prime factor FFT: the twiddle
// table, and the radix-2, -3 and -5 routines that run their passes (GpfaPasses.h)
// block of vectors by block of vectors. See Gpfa.h for the algorithm's source.
#include <nvfiltering/fft/detail/Gpfa.h>

#include <cmath>

#include <nvfiltering/fft/detail/FftChecks.h>
#include <nvfiltering/fft/detail/GpfaPasses.h>
#include <nvfiltering/framework/CnMessages.h>

namespace com::norvane::filtering::detail {

namespace {

using gpfa::Geometry;

std::int32_t power(std::int32_t base, std::int32_t exponent) {
    return gpfaIntegerPower(base, exponent);
}

Geometry makeGeometry(std::ptrdiff_t inc, std::ptrdiff_t jump, std::int32_t n, std::int32_t nf) {
    Geometry g;
    g.inc = inc;
    g.jump = jump;
    g.n = n;
    g.nf = nf;
    g.q = n / nf;
    g.span = static_cast<std::ptrdiff_t>(n) * inc;
    g.back = static_cast<std::ptrdiff_t>(nf - n) * inc;
    g.kstep = inc * g.q;
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

// Calls fn(a, b, nv) for the blocks of at most `limit` vectors of the lot, a and b
// at the block's first vector, as gpfaBlockSize splits it.
template <class T, class Fn>
void forEachBlock(T* a, T* b, const Geometry& g, std::ptrdiff_t lot, std::ptrdiff_t limit, Fn&& fn) {
    std::ptrdiff_t left = lot;
    std::ptrdiff_t start = 0;
    while (left > 0) {
        const std::ptrdiff_t nv = gpfaBlockSize(left, limit);
        left -= nv;
        fn(a + start, b + start, nv);
        start += nv * g.jump;
    }
}

// The factor 2^e: radix-4 passes (the first half of type I, the rest of type II)
// around a central radix-2 or radix-8 pass when e is odd; blocks of at most 1024 vectors.
template <class T>
void gpfa2f(T* a, T* b, const T* table, const Geometry& g, std::int32_t e, std::ptrdiff_t lot, std::int32_t isign) {
    using namespace gpfa;
    const T s = static_cast<T>(isign);
    const T sigma = selectMu(g.q, 4, isign) == 3 ? T(-1) : T(1);
    const std::int32_t mu8 = selectMu(g.q, 8, isign);
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
    forEachBlock(a, b, g, lot, 1024, [&](T* ab, T* bb, std::ptrdiff_t nv) {
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
    });
}

// The factors 3^q and 5^r: blocks of at most 128 vectors, each finishing all
// passes (the first half of type I, the rest of type II) before the next starts.
template <int F, class T, class Butterfly>
void oddRadix(T* a, T* b, const T* table, const Geometry& g, std::int32_t passes, std::ptrdiff_t lot, T s,
              const Butterfly& bf) {
    using namespace gpfa;
    const std::int32_t typeIPasses = (passes + 1) / 2;
    forEachBlock(a, b, g, lot, 128, [&](T* ab, T* bb, std::ptrdiff_t nv) {
        std::ptrdiff_t L = 1;
        for (std::int32_t pass = 0; pass < passes; ++pass) {
            if (pass < typeIPasses) {
                typeIPass<F>(ab, bb, g, L, nv, table, s, bf);
            } else {
                typeIIPass<F>(ab, bb, g, L, nv, table, s, bf);
            }
            L *= F;
        }
    });
}

template <class T>
void gpfa3f(T* a, T* b, const T* table, const Geometry& g, std::int32_t passes, std::ptrdiff_t lot,
            std::int32_t isign) {
    T c = static_cast<T>(0.866025403784437);
    if (selectMu(g.q, 3, isign) == 2) {
        c = -c;
    }
    oddRadix<3>(a, b, table, g, passes, lot, static_cast<T>(isign), gpfa::Radix3<T>{c});
}

template <class T>
void gpfa5f(T* a, T* b, const T* table, const Geometry& g, std::int32_t passes, std::ptrdiff_t lot,
            std::int32_t isign) {
    const T sqrt5by4 = static_cast<T>(0.559016994374947);
    const T sin72 = static_cast<T>(0.951056516295154);
    const T sin36 = static_cast<T>(0.587785252292473);
    gpfa::Radix5<T> bf{};
    switch (selectMu(g.q, 5, isign)) {
        case 1:
            bf = gpfa::Radix5<T>{sqrt5by4, sin72, sin36};
            break;
        case 2:
            bf = gpfa::Radix5<T>{-sqrt5by4, sin36, -sin72};
            break;
        case 3:
            bf = gpfa::Radix5<T>{-sqrt5by4, -sin36, sin72};
            break;
        default:
            bf = gpfa::Radix5<T>{sqrt5by4, -sin72, -sin36};
            break;
    }
    oddRadix<5>(a, b, table, g, passes, lot, static_cast<T>(isign), bf);
}

}  // namespace

std::ptrdiff_t gpfaBlockSize(std::ptrdiff_t left, std::ptrdiff_t limit) {
    if (left <= limit) {
        return left;
    }
    if (left < 2 * limit) {
        const std::ptrdiff_t half = left / 2;
        return half + half % 2;
    }
    return limit;
}

std::int32_t gpfaIntegerPower(std::int32_t x, std::int32_t e) {
    if (e == 0 || x == 1) {
        return 1;
    }
    if (e > 0) {
        // Unsigned arithmetic wraps as 32-bit multiplication does.
        std::uint32_t base = static_cast<std::uint32_t>(x);
        std::uint32_t bits = static_cast<std::uint32_t>(e);
        std::uint32_t result = 1;
        for (;;) {
            if ((bits & 1U) != 0) {
                result *= base;
            }
            bits >>= 1;
            if (bits == 0) {
                break;
            }
            base *= base;
        }
        return static_cast<std::int32_t>(result);
    }
    if (x == 0) {
        throwThrowable(messages::kFftZeroNegativePower);
    }
    // |e| as unsigned, so that the most negative exponent has a magnitude too.
    std::uint32_t bits = 0U - static_cast<std::uint32_t>(e);
    double base = static_cast<double>(x);
    double magnitude = 1.0;
    while (bits != 0) {
        if ((bits & 1U) != 0) {
            magnitude *= base;
        }
        bits >>= 1;
        base *= base;
    }
    // |x| >= 2 gives a quotient below 1 in magnitude (0 after an overflow to
    // infinity), x = -1 gives +-1: every result fits the integer.
    return static_cast<std::int32_t>(1.0 / magnitude);
}

template <class T>
void gpfaFactorPasses(std::int32_t factor, T* a, T* b, const T* table, std::ptrdiff_t inc, std::ptrdiff_t jump,
                      std::int32_t n, std::int32_t mm, std::ptrdiff_t lot, std::int32_t isign) {
    if (n < 1) {
        throwThrowable(messages::kFftLengthBelowOne);
    }
    // f^mm, stopped as soon as it passes n so that it cannot wrap.
    std::int32_t nf = 1;
    for (std::int32_t i = 0; i < mm && nf <= n; ++i) {
        nf *= factor;
    }
    if (mm < 0 || nf > n || n % nf != 0) {
        throwThrowable(messages::kFftRadixPower);
    }
    if (lot <= 0) {
        return;
    }
    const Geometry g = makeGeometry(inc, jump, n, nf);
    if (factor == 2) {
        gpfa2f(a, b, table, g, mm, lot, isign);
    } else if (factor == 3) {
        gpfa3f(a, b, table, g, mm, lot, isign);
    } else {
        gpfa5f(a, b, table, g, mm, lot, isign);
    }
}

template <class T>
void gpfaTable(T* table, std::int32_t n) {
    if (n < 1) {
        return;
    }
    const FftFactors f = factoriseFftLength(n);
    if (f.rest != 1) {
        return;
    }
    const std::int32_t powers[3] = {power(2, f.p), power(3, f.q), power(5, f.r)};
    const double twoPi = 4.0 * std::asin(1.0);
    std::size_t i = 0;
    for (std::int32_t nf : powers) {
        if (nf == 1) {
            continue;
        }
        double del = twoPi / static_cast<double>(nf);
        // The float instantiation rounds the angle step to float before use.
        del = static_cast<double>(static_cast<T>(del));
        const std::int32_t kink = (n / nf) % nf;
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
}

template <class T>
void gpfaTransform(T* a, T* b, const T* table, std::ptrdiff_t inc, std::ptrdiff_t jump, std::int32_t n,
                   std::ptrdiff_t lot, std::int32_t isign) {
    checkFftLength(n, messages::kFftLengthBelowOne);
    if (lot <= 0) {
        return;  // an empty batch: no pointer is formed from a or b
    }
    const FftFactors f = factoriseFftLength(n);
    std::size_t offset = 0;
    if (f.p > 0) {
        const std::int32_t nf = power(2, f.p);
        gpfa2f(a, b, table, makeGeometry(inc, jump, n, nf), f.p, lot, isign);
        offset = 2 * static_cast<std::size_t>(nf);
    }
    if (f.q > 0) {
        const std::int32_t nf = power(3, f.q);
        gpfa3f(a, b, table + offset, makeGeometry(inc, jump, n, nf), f.q, lot, isign);
        offset += 2 * static_cast<std::size_t>(nf);
    }
    if (f.r > 0) {
        gpfa5f(a, b, table + offset, makeGeometry(inc, jump, n, power(5, f.r)), f.r, lot, isign);
    }
}

template void gpfaFactorPasses<float>(std::int32_t, float*, float*, const float*, std::ptrdiff_t, std::ptrdiff_t,
                                      std::int32_t, std::int32_t, std::ptrdiff_t, std::int32_t);
template void gpfaFactorPasses<double>(std::int32_t, double*, double*, const double*, std::ptrdiff_t, std::ptrdiff_t,
                                       std::int32_t, std::int32_t, std::ptrdiff_t, std::int32_t);
template void gpfaTable<float>(float*, std::int32_t);
template void gpfaTable<double>(double*, std::int32_t);
template void gpfaTransform<float>(float*, float*, const float*, std::ptrdiff_t, std::ptrdiff_t, std::int32_t,
                                   std::ptrdiff_t, std::int32_t);
template void gpfaTransform<double>(double*, double*, const double*, std::ptrdiff_t, std::ptrdiff_t, std::int32_t,
                                    std::ptrdiff_t, std::int32_t);

}  // namespace com::norvane::filtering::detail
