// Power-of-two complex FFT of the math library, on split real/imaginary arrays.
//
// Convention (shared with the library's own prime factor FFT):
//   direction +1: X(j) = sum_k x(k) exp(-2 pi i jk/n), unscaled;
//   direction -1: x(k) = (1/n) sum_j X(j) exp(+2 pi i jk/n).
// The two-dimensional routine applies it along both axes (1/(n1 n2) inverse).
//
// Table of length n (3 n values of T, filled by the direction-0 call): for each
// butterfly half-size h = 1, 2, 4, ..., n/2 the twiddles exp(-i pi j/h), j < h,
// with the cosines at [h - 1 + j] and the sines at [n + h - 1 + j]; the last n
// values are zero (reserved).
#pragma once

#include <cstddef>

#include <nvmath/nvmath_export.h>

namespace com {
namespace norvane {
namespace math {

template <class T>
class NVMATH_EXPORT CnFft {
public:
    CnFft();
    virtual ~CnFft();

    // direction 0: fills trigs (3 n values, owned by the caller) for length n;
    // it must precede every transform of that length and leaves re / im alone.
    // direction +1 / -1: transforms the n complex values at re / im in place,
    // n a power of two, with the table prepared for n.
    void Call1dMklFftRoutine(T* re, T* im, int n, int direction, T* trigs) const;

    // Transforms in place the array of `length` rows of `vectorCount` adjacent
    // elements (both powers of two) along both axes.
    void Call2dMklFftRoutine(T* re, T* im, int length, int vectorCount, int direction) const;
};

extern template class CnFft<float>;
extern template class CnFft<double>;

}  // namespace math
}  // namespace norvane
}  // namespace com
