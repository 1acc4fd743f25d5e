// Row kernel shared by the dilation and erosion filters, bitwise and grey:
// combines one image row with its four row neighbours (previous and next row,
// previous and next slice) and with its own left and right neighbours, for the
// voxels 1 .. n-2 of the row. Internal to the library; not part of its interface.
#pragma once

#include <nvfiltering/framework/detail/CnMultiVersion.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

struct BitwiseOr {
    template <class T>
    static T apply(T a, T b) {
        return static_cast<T>(a | b);
    }
};

struct BitwiseAnd {
    template <class T>
    static T apply(T a, T b) {
        return static_cast<T>(a & b);
    }
};

// The unsigned integer of a floating-point type's width.
template <class T>
struct FloatBits;
template <>
struct FloatBits<float> {
    using type = std::uint32_t;
};
template <>
struct FloatBits<double> {
    using type = std::uint64_t;
};

// The larger (kLarger) or smaller of two floating-point values in the numeric
// order with -0 below +0; NaN on either side gives the quiet NaN of
// std::numeric_limits<T>. The result depends on neither the order of a and b
// nor, in a chain, on the grouping: a cross gives the same bits whichever way
// its voxels are combined. Written on the bit patterns with masks instead of
// branches, so that row loops over it vectorise.
template <bool kLarger, class T>
inline T orderedExtreme(T a, T b) {
    using U = typename FloatBits<T>::type;
    U ua, ub, nan;
    std::memcpy(&ua, &a, sizeof ua);
    std::memcpy(&ub, &b, sizeof ub);
    const T quiet = std::numeric_limits<T>::quiet_NaN();
    std::memcpy(&nan, &quiet, sizeof nan);
    // Equal values have the same bits except for the two zeros, where AND keeps
    // +0 and OR keeps -0.
    const U tie = kLarger ? (ua & ub) : (ua | ub);
    const U first = U(0) - U(kLarger ? a > b : a < b);
    const U second = U(0) - U(kLarger ? b > a : b < a);
    const U equal = U(0) - U(a == b);
    const U r = (ua & first) | (ub & second) | (tie & equal) | (nan & ~(first | second | equal));
    T out;
    std::memcpy(&out, &r, sizeof out);
    return out;
}

// Grey maximum: the larger integer, or orderedExtreme for float and double.
struct GreyMax {
    template <class T>
    static T apply(T a, T b) {
        if constexpr (std::is_floating_point<T>::value) {
            return orderedExtreme<true>(a, b);
        } else {
            return a < b ? b : a;
        }
    }
};

// Grey minimum: the smaller integer, or orderedExtreme for float and double.
struct GreyMin {
    template <class T>
    static T apply(T a, T b) {
        if constexpr (std::is_floating_point<T>::value) {
            return orderedExtreme<false>(a, b);
        } else {
            return b < a ? b : a;
        }
    }
};

// out[x] = c[x] op c[x-1] op c[x+1] op ym[x] op yp[x] op zm[x] op zp[x] for 1 <= x <= n-2.
// A neighbour row that does not exist is passed as c itself: combining a value
// with itself changes neither OR nor AND, nor the grey maximum and minimum. The
// input rows may coincide with one another but never with out. Nothing happens
// for n < 3.
template <class Op, class T>
void combineCrossRow(const T* __restrict c, const T* __restrict ym, const T* __restrict yp, const T* __restrict zm,
                     const T* __restrict zp, T* __restrict out, std::size_t n) {
    if (n < 3) {
        return;
    }
    for (std::size_t x = 1; x + 1 < n; ++x) {
        T v = Op::apply(c[x], c[x - 1]);
        v = Op::apply(v, c[x + 1]);
        v = Op::apply(v, ym[x]);
        v = Op::apply(v, yp[x]);
        v = Op::apply(v, zm[x]);
        out[x] = Op::apply(v, zp[x]);
    }
}

// Floating-point values as signed integers in the same order, -0 below +0:
// negative values have their magnitude bits flipped, so that a larger
// magnitude gives a smaller integer; the mapping is its own inverse and keeps
// the bits of every value. (NaNs land beyond the infinities and are handled
// apart: see greyFloatCrossRowBlocks.)
template <class T>
struct OrderedKey {
    using U = typename FloatBits<T>::type;
    using S = std::make_signed_t<U>;
    static constexpr int kSignShift = 8 * sizeof(U) - 1;
    static constexpr U kMagnitude = ~U(0) >> 1;

    static S of(U bits) {
        const S s = static_cast<S>(bits);
        return s ^ static_cast<S>(static_cast<U>(s >> kSignShift) >> 1);
    }
    static U bitsOf(S key) { return static_cast<U>(of(static_cast<U>(key))); }
};

// greyCrossRowBlocks for float and double: the same bits as orderedExtreme
// over the cross, computed as the maximum (minimum) of the ordered keys, with
// the quiet NaN wherever a magnitude of the cross exceeds the infinity's, a
// few integer operations a voxel instead of a chain of compares and masks.
template <bool kLarger, class T>
NVF_ISA_BODY void greyFloatCrossRowBlocks(const T* __restrict c, const T* __restrict ym, const T* __restrict yp,
                                          const T* __restrict zm, const T* __restrict zp, T* __restrict out,
                                          std::size_t n) {
    using K = OrderedKey<T>;
    using U = typename K::U;
    using S = typename K::S;
    constexpr std::size_t kBlock = 64 / sizeof(T);
    const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
    U infinityBits, quiet;
    std::memcpy(&infinityBits, &inf, sizeof infinityBits);
    std::memcpy(&quiet, &nan, sizeof quiet);
    const S infinity = static_cast<S>(infinityBits);
    const auto bits = [](const T* p, std::size_t x) {
        U u;
        std::memcpy(&u, p + x, sizeof u);
        return u;
    };
    const auto one = [&](std::size_t x) {
        const U v[7] = {bits(c, x), bits(c, x - 1), bits(c, x + 1), bits(ym, x), bits(yp, x), bits(zm, x), bits(zp, x)};
        S key = K::of(v[0]);
        S mag = static_cast<S>(v[0] & K::kMagnitude);
        for (int k = 1; k < 7; ++k) {
            const S next = K::of(v[k]);
            key = kLarger ? (key < next ? next : key) : (next < key ? next : key);
            const S m = static_cast<S>(v[k] & K::kMagnitude);
            mag = mag < m ? m : mag;
        }
        const U r = mag > infinity ? quiet : K::bitsOf(key);
        std::memcpy(out + x, &r, sizeof r);
    };
    if (n < 3) {
        return;
    }
    if (n < kBlock + 2) {
        for (std::size_t x = 1; x + 1 < n; ++x) {
            one(x);
        }
        return;
    }
    for (std::size_t start = 1; start + 1 < n; start += kBlock) {
        const std::size_t first = start + kBlock < n ? start : n - 1 - kBlock;
        for (std::size_t k = 0; k < kBlock; ++k) {
            one(first + k);
        }
    }
}

// The same for the grey operations, in blocks of 64 bytes of a fixed number of
// voxels, the last block moved back to end at n - 2: every voxel is computed
// by whole vectors, without a scalar tail (voxels in the overlap are computed
// twice, with the same result). Rows shorter than a block take the plain loop.
template <class Op, class T>
NVF_ISA_BODY void greyCrossRowBlocks(const T* __restrict c, const T* __restrict ym, const T* __restrict yp,
                                     const T* __restrict zm, const T* __restrict zp, T* __restrict out,
                                     std::size_t n) {
    constexpr std::size_t kBlock = 64 / sizeof(T);
    if constexpr (std::is_floating_point<T>::value) {
        greyFloatCrossRowBlocks<std::is_same<Op, GreyMax>::value, T>(c, ym, yp, zm, zp, out, n);
        return;
    }
    if (n < kBlock + 2) {
        combineCrossRow<Op>(c, ym, yp, zm, zp, out, n);
        return;
    }
    for (std::size_t start = 1; start + 1 < n; start += kBlock) {
        const std::size_t first = start + kBlock < n ? start : n - 1 - kBlock;
        for (std::size_t k = 0; k < kBlock; ++k) {
            const std::size_t x = first + k;
            T v = Op::apply(c[x], c[x - 1]);
            v = Op::apply(v, c[x + 1]);
            v = Op::apply(v, ym[x]);
            v = Op::apply(v, yp[x]);
            v = Op::apply(v, zm[x]);
            out[x] = Op::apply(v, zp[x]);
        }
    }
}

// greyCrossRowBlocks compiled for the widest instruction set the processor
// runs: the baseline has no unsigned 16-bit maximum and no 64-bit masks for
// double.
template <class Op, class T>
void greyCrossRow(const T* c, const T* ym, const T* yp, const T* zm, const T* zp, T* out, std::size_t n) {
    runWidest([&] { greyCrossRowBlocks<Op>(c, ym, yp, zm, zp, out, n); });
}

// Whether crossFast runs Op's rows through greyCrossRow.
template <class Op>
struct UsesGreyRow : std::false_type {};
template <>
struct UsesGreyRow<GreyMax> : std::true_type {};
template <>
struct UsesGreyRow<GreyMin> : std::true_type {};

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
