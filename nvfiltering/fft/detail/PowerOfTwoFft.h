// The power-of-two engine of the FFT filters: batches of contiguous vectors and of
// interleaved vectors (the columns of an array, the z-lines of a volume), each
// vector with exactly the numbers of the math library's one-vector transform.
#pragma once

#include <cstddef>

#include <nvfiltering/framework/CnExecutor.h>

namespace com::norvane::filtering::detail {

// What happens around the forward butterflies: the imaginary parts negated on the
// way in, the results multiplied by (r, -r) on the way out. The inverse transform
// of length n is {true, true, 1 / n}; the forward one {false, false, 1}.
template <class T>
struct Pow2Ends {
    bool negateIn;
    bool scaleOut;
    T r;
};

// `count` vectors of n adjacent values (n a power of two), vector v at re / im +
// v * jump (jump >= n); trigs is the math library's table for n. The vectors are
// spread over the executor in fixed pieces.
template <class T>
void pow2Contiguous(T* re, T* im, int n, std::ptrdiff_t jump, std::ptrdiff_t count, const T* trigs, Pow2Ends<T> ends,
                    CnExecutor* executor);

// `count` interleaved vectors: element k of vector v at re / im + v + k * stride
// (stride >= count), transformed a band of adjacent vectors at a time.
template <class T>
void pow2Interleaved(T* re, T* im, int n, std::ptrdiff_t stride, std::ptrdiff_t count, const T* trigs,
                     Pow2Ends<T> ends, CnExecutor* executor);

}  // namespace com::norvane::filtering::detail
