// Row kernel shared by the dilation and erosion filters: combines one image row
// with its four row neighbours (previous and next row, previous and next slice)
// and with its own left and right neighbours, for the voxels 1 .. n-2 of the row.
// Internal to the library; not part of its interface.
#pragma once

#include <cstddef>

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

// out[x] = c[x] op c[x-1] op c[x+1] op ym[x] op yp[x] op zm[x] op zp[x] for 1 <= x <= n-2.
// A neighbour row that does not exist is passed as c itself: combining a value
// with itself changes neither OR nor AND. The input rows may coincide with one
// another but never with out. Nothing happens for n < 3.
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

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
