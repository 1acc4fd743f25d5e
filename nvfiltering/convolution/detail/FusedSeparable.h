// Internal to the separable filter: the test that a pass is exact in float, and
// the fused run of all passes of an 8-bit separable filter for the case where
// every pass is exact. Not part of the public interface.
#pragma once

#include <nvfiltering/convolution/CnKernel.h>
#include <nvfiltering/framework/CnExecutor.h>

#include <cstddef>
#include <cstdint>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// What is known about the samples a pass reads: every sample is an integer
// multiple of 2^-exponent whose numerator is at most `numerator` in magnitude.
struct SampleBound {
    bool known = false;
    int exponent = 0;
    double numerator = 0.0;
};

// The bound of 8-bit samples: integers 0 ... 255.
SampleBound byteSampleBound();

// Whether a pass with these taps and up-sampling gain, on samples with bound
// `in`, forms every product and every partial sum (in any order and any
// grouping) exactly in float. If it does, `next` becomes the bound of the pass's
// output; otherwise `next` is unknown.
//
// Why: with every sample n * 2^-E (|n| <= A) and every tap n_k * 2^-e (integers
// n_k), each product, gain included, and each partial sum is a multiple of
// 2^-(E + e) with a numerator of at most A * up * sum |n_k|. Below 2^24 all of
// them are exact in float as in double, so both precisions, and any order of
// summation, produce the same values.
bool floatIsExact(const SampleBound& in, const CnKernel<float>& kernel, std::uint64_t up, SampleBound& next);

// Lengths of one separable run: input (iX, iY, iZ), output (oX, oY, oZ).
struct SeparableDims {
    std::size_t iX, iY, iZ, oX, oY, oZ;
};

// Whether runFusedSeparable gives, for 8-bit input and output, exactly the bytes
// of the pass-by-pass run (X into float, Y, then Z, rounded and clamped once):
// true when every pass that runs is exact in float and the last result is fine
// enough that adding 0.5 to it is exact in float too. The dimensions must have
// passed the separable filter's checks.
bool fusedSeparableApplies(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz,
                           const SeparableDims& d);

// Runs X, Y (and Z for more than one input slice) with every output sample
// formed once from filtered rows and slices: the X rows an output row needs are
// filtered into a small ring of rows; for a volume, the XY slices a round of
// output slices reads are filtered into a ring of slices, then the round's Z
// sums are formed. Only rows and slices some output reads are filtered. Bands
// of rows (one slice) or the slices and pieces of a round (a volume) run as
// tasks on the executor (null: the caller's thread); the bytes do not depend on
// it. Requires fusedSeparableApplies(kx, ky, kz, d).
void runFusedSeparable(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz,
                       const SeparableDims& d, const unsigned char* in, unsigned char* out, CnExecutor* executor);

// 16-bit images and volumes whose taps are integers times powers of two
// (after the gain), such as the pyramid kernel: whether every product and sum
// of the passes, as integers n standing for n * 2^-E, stays within
// std::int32_t (|samples| up to 65535, or 32768 when signed), the final n plus
// half a step included, with E = the sum of the exponents at most 30. Sets the
// exponent of each axis when it does.
bool sixteenBitPlan(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz,
                    const SeparableDims& d, bool isSigned, int (&exponents)[3]);

// The fused sweep in those integers: every level value is the exact weighted
// sum, rounded half up and clamped once, as the double pass-by-pass run gives
// it. Requires sixteenBitPlan(...) to have returned true for these arguments.
template <class S>
void runFusedSixteenBit(const CnKernel<float>& kx, const CnKernel<float>& ky, const CnKernel<float>& kz,
                        const SeparableDims& d, const int (&exponents)[3], const S* in, S* out,
                        CnExecutor* executor);
extern template void runFusedSixteenBit<unsigned short>(const CnKernel<float>&, const CnKernel<float>&,
                                                        const CnKernel<float>&, const SeparableDims&,
                                                        const int (&)[3], const unsigned short*, unsigned short*,
                                                        CnExecutor*);
extern template void runFusedSixteenBit<short>(const CnKernel<float>&, const CnKernel<float>&,
                                               const CnKernel<float>&, const SeparableDims&, const int (&)[3],
                                               const short*, short*, CnExecutor*);

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
