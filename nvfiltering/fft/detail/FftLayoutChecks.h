// The argument checks of the interleaved complex and real transforms, and the
// line layouts and scale factors they derive from shapes and axes.
#pragma once

#include <cstddef>

#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/detail/FftLineBatch.h>

namespace com::norvane::filtering::detail {

// The lines along `axis` of a row-major array of ndim sizes, seen as
// pre x n x post: post lines side by side (stride 1) in each of pre blocks.
FftLineLayout axisLines(const std::size_t* shape, int ndim, int axis);

// ndim in 1..3, shape not null; returns the element count, checked to fit the
// address space times elementSize.
std::size_t checkShape(const std::size_t* shape, int ndim, std::size_t elementSize);

// `axis` inside 0 .. ndim - 1.
void checkAxis(int axis, int ndim);

// Checks explicit lines: a positive length, lines inside `size` elements, lines
// that do not overlap one another (sorted by stride, each stride reaches past
// everything the smaller ones span), byte counts that fit the address space.
// Returns the number of lines.
std::size_t checkLines(const CnFftLines& lines, std::size_t size, std::size_t elementSize);

// Whether the byte ranges [a, a + aBytes) and [b, b + bBytes) share a byte.
bool bytesOverlap(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes);

void checkDirection(int direction);
void checkNorm(CnFftNorm norm);

// The factor of a transform of length n in the given direction.
template <class T>
T fftScale(CnFftNorm norm, std::size_t n, bool inverse);

}  // namespace com::norvane::filtering::detail
