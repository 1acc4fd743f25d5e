// Complex discrete Fourier transforms of interleaved complex arrays
// (std::complex<float> or std::complex<double>), of any length >= 1.
//
// Convention (NumPy's): direction +1 is X(j) = sum_k x(k) exp(-2 pi i jk/n),
// direction -1 is x(k) = sum_j X(j) exp(+2 pi i jk/n), each scaled by the
// normalisation (per transformed axis of length n):
//   CnFftNorm::Backward (default): forward 1, inverse 1/n;
//   CnFftNorm::Ortho:              1/sqrt(n) both ways;
//   CnFftNorm::Forward:            forward 1/n, inverse 1.
//
// What is transformed:
//   - executeLines: lines with explicit strides (CnFftLines), in arrays of `size`
//     elements each; every element a line reaches is checked to lie inside them;
//   - executeAxis / executeAxes: along one or several axes of a row-major array of
//     1 to 3 sizes (the last fastest): for shape {n0, n1, n2}, element (i0, i1, i2)
//     is at (i0 n1 + i1) n2 + i2; the arrays must hold the product of the sizes;
//   - execute1d (count lines of `length` adjacent elements), execute2d (n0 x n1),
//     execute3d (n0 x n1 x n2): shorthands of the above.
// The output may be the input (in place); otherwise the two must not overlap, and
// the input is left unchanged. The results are the same bits in place and out of
// place.
//
// Lengths whose prime factors are at most 13 run a self-sorting mixed-radix FFT
// (radices 4, 2, 3, 5, 7, 11, 13); every other length the chirp-z (Bluestein)
// algorithm over an inner length 2^a 3^b 5^c >= 2n - 1: O(n log n) for every n.
// docs/fft.md gives the accuracy of each path.
//
// The filter keeps the plans (twiddle factors, chirp) of the last four lengths it
// used, so repeated calls of the same shape build nothing; a copy takes the
// settings but no plans. With an executor (setExecutor) the blocks of lines of a
// pass run as independent tasks; the blocks depend only on the sizes, and the
// result is bit-identical whatever the executor and its thread count.
//
// Failures (com::norvane::Throwable, thrown before any array is read or written):
// a transform length of 0, a null array while there is data, a direction other
// than +1 and -1, a number of dimensions outside 1..3, an axis outside the array
// or given twice, lines reaching outside `size` elements or overlapping one
// another, input and output that overlap without being the same array, and
// element counts whose byte size does not fit the address space. A batch of no
// lines (a zero size on an axis that is not transformed) touches nothing.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>

#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/nvfiltering_export.h>

namespace com {
namespace norvane {
namespace filtering {

namespace detail {
template <class T>
class FftPlanCache;
}  // namespace detail

// The scaling of the transforms (see above).
enum class CnFftNorm { Backward, Ortho, Forward };

// Lines of an array, in elements: line (i0, i1), i0 < count0, i1 < count1, holds
// the elements i0 * stride0 + i1 * stride1 + k * stride for k < length. The
// lines must not overlap one another.
struct CnFftLines {
    std::size_t length = 1;
    std::size_t stride = 1;
    std::size_t count0 = 1;
    std::size_t stride0 = 0;
    std::size_t count1 = 1;
    std::size_t stride1 = 0;
};

template <class T>
class NVFILTERING_EXPORT CnComplexFftFilter {
public:
    using Complex = std::complex<T>;

    CnComplexFftFilter();
    CnComplexFftFilter(const CnComplexFftFilter& other);
    CnComplexFftFilter& operator=(const CnComplexFftFilter& other);
    ~CnComplexFftFilter();

    void setNormalization(CnFftNorm norm) { m_norm = norm; }
    CnFftNorm getNormalization() const { return m_norm; }

    // Where the passes run their blocks of lines; null (the default, and after a
    // copy) runs everything in the caller's thread. Not owned.
    void setExecutor(CnExecutor* executor) { m_executor.set(executor); }
    CnExecutor* getExecutor() const { return m_executor.get(); }

    // The lines described by `lines` in the input and in the output, both arrays
    // of `size` elements.
    void executeLines(const Complex* in, Complex* out, std::size_t size, const CnFftLines& lines, int direction);

    // Along `axis` (0 .. ndim - 1) of a row-major array of `ndim` (1..3) sizes.
    void executeAxis(const Complex* in, Complex* out, const std::size_t* shape, int ndim, int axis, int direction);

    // Along each of `axisCount` distinct axes, in the order given (the first pass
    // reads the input, the others work in place on the output).
    void executeAxes(const Complex* in, Complex* out, const std::size_t* shape, int ndim, const int* axes,
                     int axisCount, int direction);

    void execute1d(const Complex* in, Complex* out, std::size_t length, std::size_t count, int direction);
    void execute2d(const Complex* in, Complex* out, std::size_t n0, std::size_t n1, int direction);
    void execute3d(const Complex* in, Complex* out, std::size_t n0, std::size_t n1, std::size_t n2,
                   int direction);

private:
    detail::FftPlanCache<T>& cache();

    CnFftNorm m_norm = CnFftNorm::Backward;
    CnExecutorSlot m_executor;
    std::unique_ptr<detail::FftPlanCache<T>> m_cache;
};

extern template class CnComplexFftFilter<float>;
extern template class CnComplexFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
