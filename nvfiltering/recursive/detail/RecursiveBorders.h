// Border modes of the recursive Gaussian other than the continuation by zeros
// (private to the library): the exact result of the line continued by a
// constant (a different one on each side allowed), by reflection, by mirroring
// or periodically, computed in double precision without padding.
//
// Continuation by constants: the causal recursion starts in its steady state
// for the left constant; at the right end the boundary matrix is applied to the
// causal values minus their steady state for the right constant, and the
// anti-causal steady state is added back (zero for the derivatives).
//
// Reflection (period 2n), mirroring (2n - 2) and wrapping (n) make the line
// periodic, and so are the causal and the anti-causal outputs: the state at the
// start of a period is the solution s of (I - A^P) s = r, where A steps the
// recursion, P is the period and r is the state reached from zero after one
// period. A line of one sample is constant under every mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/recursive/detail/RecursiveLine.h>
#include <nvimage/Image.h>
#include <nvmath/CnMatrix.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// The modes, numbered as CnRecursiveFilter::EnBorderMode.
enum BorderModeCode : std::int32_t {
    kBorderConstant = 0,
    kBorderNearest = 1,
    kBorderReflect = 2,
    kBorderMirror = 3,
    kBorderWrap = 4
};

inline bool isBorderMode(std::int32_t mode) { return mode >= kBorderConstant && mode <= kBorderWrap; }

// The continuation by zeros, which the line and block kernels compute.
inline bool isZeroContinuation(std::int32_t mode, double value) { return mode == kBorderConstant && value == 0.0; }

// Working buffers of one line (reused from line to line by one task).
template <class V>
struct BorderScratch {
    std::vector<V> first;
    std::vector<V> second;
};

// The coefficients of borderLine: those of recursiveCoefficients (B, a1, a2,
// a3 and its boundary matrix M, of order `order`) with the boundary matrix
// solved to full precision.
RecursiveCoefficients borderCoefficients(double B, double a1, double a2, double a3, const math::CnMatrix<double>& M,
                                         unsigned int order);

// One line of n >= 1 samples x (already widened) into y (n values, may not be
// x), derivative order 0, 1 or 2, with coefficients c (borderCoefficients of
// that order), mode a valid BorderModeCode and value the constant of
// kBorderConstant. Any constant value, zero included, is handled here.
template <class V>
void borderLine(unsigned int order, std::int32_t mode, double value, const V* x, V* y, std::size_t n,
                const RecursiveCoefficients& c, BorderScratch<V>& scratch);

extern template void borderLine<double>(unsigned int, std::int32_t, double, const double*, double*, std::size_t,
                                        const RecursiveCoefficients&, BorderScratch<double>&);
extern template void borderLine<Vec3d>(unsigned int, std::int32_t, double, const Vec3d*, Vec3d*, std::size_t,
                                       const RecursiveCoefficients&, BorderScratch<Vec3d>&);

// The volume filter's passes with a border mode: X from input to output, then
// Y and Z in place in the output (Z only for more than one slice), each line
// gathered into double precision, filtered by borderLine and written back;
// lines in parallel on the executor, with the same result for every executor.
// The result is that of the input continued as the mode says: with Constant,
// a pass after a derivative pass continues its lines by 0 (the derivative of
// the constant), after smoothing passes by the constant.
// orders[axis] is the derivative order along that axis; the sizes are checked
// by the caller. A pass whose sigma does not converge throws when it starts.
template <class In, class Out>
void borderVolume(const imaging::Image<In>& input, imaging::Image<Out>& output, const double sigmas[3],
                  const unsigned int orders[3], std::int32_t mode, double value, CnExecutor* executor);

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
