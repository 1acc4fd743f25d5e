// Discrete Fourier transforms of real arrays (float or double) with NumPy's
// half-spectrum layout, for any length >= 1.
//
// Forward (real to complex): n real values along the halved axis give the
// n/2 + 1 values X(0) .. X(n/2) of X(j) = sum_k x(k) exp(-2 pi i jk/n); the others
// are their conjugates, X(n - j) = conj(X(j)). Inverse (complex to real): the
// output length n along the halved axis is given by the caller's real shape; the
// input holds n/2 + 1 values there, the rest taken as the conjugates above, and the
// imaginary parts of X(0) and (even n) X(n/2) play no part. Scaling as in
// CnComplexFftFilter (CnFftNorm, per transformed axis; default: inverse 1/n).
//
// Shapes are row-major (the last size fastest), 1 to 3 sizes, and always those of
// the real array; the spectrum has the same sizes except n/2 + 1 on the halved
// axis.
//   - executeForwardAxis / executeInverseAxis: along one axis (the halved one);
//   - executeForwardFull: executeForward's transform written as the complete
//     spectrum (the real array's shape, complex): the values past n/2 on the
//     halved axis filled in from X(k, n - j) = conj X(-k, j), -k taken modulo the
//     length on the other transformed axes (batch axes keep their index), each
//     conjugate as (re, 0 - im), so that it equals the complex transform's layout.
//     With `conjugate` every value is conjugated as well (the inverse transform
//     of a real array is the conjugate of the forward one with the inverse's
//     scaling). Same bits as executeForward followed by that fill.
//   - executeForward / executeInverse: over the last `rank` axes (1..ndim), the last
//     one halved: rank 1 is a batch of lines along the last axis, rank 2 the last
//     two axes, rank 3 a volume. The forward transform takes the halved axis first,
//     then the complex transforms of the others in place in the output; the inverse
//     transforms the others on a copy of its input (which it leaves unchanged),
//     then the halved axis into the output.
// Input and output must not overlap. Plans, executor, copies and the
// bit-identity for every executor are as in CnComplexFftFilter.
//
// Failures (com::norvane::Throwable, before any array is read or written): a
// transformed length of 0, a null array while there is data, a number of
// dimensions outside 1..3, an axis or rank outside the array, overlapping arrays,
// element counts whose byte size does not fit the address space.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>

#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/framework/CnExecutor.h>
#include <nvfiltering/nvfiltering_export.h>

namespace com {
namespace norvane {
namespace filtering {

template <class T>
class NVFILTERING_EXPORT CnRealFftFilter {
public:
    using Complex = std::complex<T>;

    CnRealFftFilter();
    CnRealFftFilter(const CnRealFftFilter& other);
    CnRealFftFilter& operator=(const CnRealFftFilter& other);
    ~CnRealFftFilter();

    void setNormalization(CnFftNorm norm) { m_norm = norm; }
    CnFftNorm getNormalization() const { return m_norm; }
    void setExecutor(CnExecutor* executor) { m_executor.set(executor); }
    CnExecutor* getExecutor() const { return m_executor.get(); }

    void executeForwardAxis(const T* in, Complex* out, const std::size_t* shape, int ndim, int axis);
    void executeInverseAxis(const Complex* in, T* out, const std::size_t* shape, int ndim, int axis);
    void executeForward(const T* in, Complex* out, const std::size_t* shape, int ndim, int rank);
    void executeForwardFull(const T* in, Complex* out, const std::size_t* shape, int ndim, int rank,
                            bool conjugate = false);
    void executeInverse(const Complex* in, T* out, const std::size_t* shape, int ndim, int rank);

private:
    detail::FftPlanCache<T>& cache();

    CnFftNorm m_norm = CnFftNorm::Backward;
    CnExecutorSlot m_executor;
    std::unique_ptr<detail::FftPlanCache<T>> m_cache;
};

extern template class CnRealFftFilter<float>;
extern template class CnRealFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
