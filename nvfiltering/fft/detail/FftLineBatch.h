// The drivers of the interleaved complex and real transforms: a set of lines of
// an array is cut into blocks of adjacent lines, each block copied into a split
// buffer (one lane per line), transformed by a FftLinePlan and copied out with
// the conjugation of the inverse and the scaling. The blocks are fixed by the
// sizes alone and each line gets the same operations wherever it sits, so the
// results do not depend on the executor or its thread count.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include <nvfiltering/fft/detail/FftLinePlan.h>
#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/framework/detail/ScratchShelf.h>

namespace com::norvane::filtering::detail {

// Lines of an array, in elements: line (i0, i1) (i0 < count0, i1 < count1) holds
// the elements i0 * stride0 + i1 * stride1 + k * stride, k < length. Lines are
// numbered with i0 fastest, so stride0 should be the smaller batch stride.
struct FftLineLayout {
    std::size_t length = 1;
    std::size_t stride = 1;
    std::size_t count0 = 1;
    std::size_t stride0 = 0;
    std::size_t count1 = 1;
    std::size_t stride1 = 0;

    std::size_t lines() const { return count0 * count1; }
    std::size_t lineStart(std::size_t line) const { return (line % count0) * stride0 + (line / count0) * stride1; }
};

// Block buffers that the calls made one after another, or by the tasks of one
// pass, share: a task borrows one per call and gives it back, so a buffer is
// allocated and touched once per thread instead of once per call. Without one,
// a call shares buffers among its own pieces only.
template <class T>
using FftBlockShelf = ScratchShelf<std::vector<T>>;

// The forward (inverse = false: exp(-2 pi i jk/n)) or inverse (exp(+...)) transform
// of every line, each output value times `scale`. in and out have the same line
// counts; in may equal out when both layouts are the same.
template <class T>
void transformComplexLines(const FftLinePlan<T>& plan, const std::complex<T>* in, const FftLineLayout& inLines,
                           std::complex<T>* out, const FftLineLayout& outLines, bool inverse, T scale,
                           CnExecutor* executor, FftBlockShelf<T>* shelf = nullptr);

// The length of the plan the real transforms of length n run: n/2 for even n
// (a complex transform of half length and a pass that separates the halves),
// n for odd n (the complex transform of the real line).
inline std::size_t realPlanLength(std::size_t n) { return n % 2 == 0 ? n / 2 : n; }

// Real lines of length n = inLines.length to their first n/2 + 1 forward transform
// values (outLines.length), times `scale`; plan.length() is realPlanLength(n).
template <class T>
void transformRealLinesForward(const FftLinePlan<T>& plan, const T* in, const FftLineLayout& inLines,
                               std::complex<T>* out, const FftLineLayout& outLines, T scale, CnExecutor* executor,
                               FftBlockShelf<T>* shelf = nullptr);

// The inverse of the above: lines of n/2 + 1 values (the rest given by Hermitian
// symmetry; the imaginary parts of value 0 and, for even n, value n/2 play no
// part) to real lines of n = outLines.length values, times `scale`;
// plan.length() is realPlanLength(n).
template <class T>
void transformRealLinesInverse(const FftLinePlan<T>& plan, const std::complex<T>* in, const FftLineLayout& inLines,
                               T* out, const FftLineLayout& outLines, T scale, CnExecutor* executor,
                               FftBlockShelf<T>* shelf = nullptr);

extern template void transformComplexLines<float>(const FftLinePlan<float>&, const std::complex<float>*,
                                                  const FftLineLayout&, std::complex<float>*, const FftLineLayout&,
                                                  bool, float, CnExecutor*, FftBlockShelf<float>*);
extern template void transformRealLinesForward<float>(const FftLinePlan<float>&, const float*, const FftLineLayout&,
                                                      std::complex<float>*, const FftLineLayout&, float, CnExecutor*,
                                                      FftBlockShelf<float>*);
extern template void transformRealLinesInverse<float>(const FftLinePlan<float>&, const std::complex<float>*,
                                                      const FftLineLayout&, float*, const FftLineLayout&, float,
                                                      CnExecutor*, FftBlockShelf<float>*);
extern template void transformComplexLines<double>(const FftLinePlan<double>&, const std::complex<double>*,
                                                  const FftLineLayout&, std::complex<double>*, const FftLineLayout&,
                                                  bool, double, CnExecutor*, FftBlockShelf<double>*);
extern template void transformRealLinesForward<double>(const FftLinePlan<double>&, const double*, const FftLineLayout&,
                                                      std::complex<double>*, const FftLineLayout&, double, CnExecutor*,
                                                      FftBlockShelf<double>*);
extern template void transformRealLinesInverse<double>(const FftLinePlan<double>&, const std::complex<double>*,
                                                      const FftLineLayout&, double*, const FftLineLayout&, double,
                                                      CnExecutor*, FftBlockShelf<double>*);

}  // namespace com::norvane::filtering::detail
