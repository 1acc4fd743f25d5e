// The GPFA's batch and band drivers: the filters' conventions (conjugate,
// transform, conjugate again or scale) around the prime factor FFT, on vectors
// laid out by any jumps, on vectors stored one after another (a few at a time
// through an interleaved copy) and on the columns of an array (a band at a time).
// The last two split their work into fixed pieces on the caller's executor.
#pragma once

#include <cstddef>
#include <cstdint>

#include <nvfiltering/framework/CnExecutor.h>

namespace com::norvane::filtering::detail {

// Direction +1: X(j) = sum_k x(k) exp(-2 pi i jk/n); -1: the inverse, scaled by
// 1/n. `table` is gpfaTable's for n. Every vector goes through the same
// operations in the three drivers, so they give the same numbers.

// Element k of vector v at v * vectorJump + k * dataJump; the conjugations and
// the scaling run over the first n * count elements, which the vectors must cover.
template <class T>
void gpfaStrided(T* re, T* im, const T* table, std::int32_t n, std::ptrdiff_t dataJump, std::ptrdiff_t vectorJump,
                 std::ptrdiff_t count, std::int32_t dir);

// Vectors stored one after another (vector v at v * n).
template <class T>
void gpfaContiguous(T* re, T* im, const T* table, std::int32_t n, std::ptrdiff_t count, std::int32_t dir,
                    CnExecutor* executor);

// Columns: vector v at v, element k at k * rowJump (rowJump >= count).
template <class T>
void gpfaColumns(T* re, T* im, const T* table, std::int32_t n, std::ptrdiff_t rowJump, std::ptrdiff_t count,
                 std::int32_t dir, CnExecutor* executor);

}  // namespace com::norvane::filtering::detail
