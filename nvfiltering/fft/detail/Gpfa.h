// The generalised prime factor FFT (GPFA): complex transforms of lengths
// 2^p 3^q 5^r on many vectors at once, in place, self-sorting, on split arrays.
// The algorithm is C. Temperton's: "Self-sorting in-place fast Fourier transforms"
// and "A generalized prime factor FFT algorithm for any N = 2^p 3^q 5^r" (SIAM J.
// Sci. Stat. Comput. 12 (1991) and 13 (1992)).
#pragma once

#include <cstddef>
#include <cstdint>

namespace com::norvane::filtering::detail {

// Fills table[0 .. 2n) with the twiddles of length n (one block of cosine / sine
// pairs per factor 2^p, 3^q, 5^r, each rotated as the prime factor mapping needs).
// Lengths below 1 or with another prime factor leave the table alone.
template <class T>
void gpfaTable(T* table, std::int32_t n);

// X(j) = sum_k x(k) exp(+isign 2 pi i jk/n) for `lot` vectors, in place, unscaled,
// in natural order: element k of vector v at a / b + v * jump + k * inc. An illegal
// length throws as the filters document; an empty lot touches no array.
template <class T>
void gpfaTransform(T* a, T* b, const T* table, std::ptrdiff_t inc, std::ptrdiff_t jump, std::int32_t n,
                   std::ptrdiff_t lot, std::int32_t isign);

// Number of vectors in the next block of the GPFA's vector loop, with `left`
// vectors still to do and the block limit `limit` (1024 or 128): whole blocks,
// and the last two blocks of nearly equal size.
std::ptrdiff_t gpfaBlockSize(std::ptrdiff_t left, std::ptrdiff_t limit);

// x^e in 32-bit integers: for e > 0 by repeated squaring, wrapping on overflow;
// 1 for e = 0 or x = 1; for e < 0 the real power 1 / x^|e| in double, truncated
// toward zero (0 for |x| >= 2, +-1 for x = -1). Zero to a negative power has no
// integer value: Throwable.
std::int32_t gpfaIntegerPower(std::int32_t x, std::int32_t e);

// Every pass of one factor power f^mm (f = 2, 3 or 5) of length n over the whole
// lot, in place, with `table` at that factor's block of the twiddle table: one of
// the three routines gpfaTransform runs in turn. A length below 1, a negative
// exponent or a power that does not divide n throws Throwable before any array
// is touched; an empty lot touches nothing.
template <class T>
void gpfaFactorPasses(std::int32_t factor, T* a, T* b, const T* table, std::ptrdiff_t inc, std::ptrdiff_t jump,
                      std::int32_t n, std::int32_t mm, std::ptrdiff_t lot, std::int32_t isign);

}  // namespace com::norvane::filtering::detail
