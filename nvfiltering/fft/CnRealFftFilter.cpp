// The real transforms: the checks of a call, the halved axis through the real
// line drivers, the other axes through the complex ones.
#include <nvfiltering/fft/CnRealFftFilter.h>

#include <cstddef>
#include <vector>

#include <nvfiltering/fft/detail/FftLayoutChecks.h>
#include <nvfiltering/fft/detail/FftLineBatch.h>
#include <nvfiltering/fft/detail/FftPlanCache.h>
#include <nvfiltering/framework/CnMessages.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// The checked sizes of one call: the real shape, the spectrum shape and their
// element counts.
struct RealCall {
    std::size_t real[3] = {1, 1, 1};
    std::size_t spectrum[3] = {1, 1, 1};
    std::size_t realCount = 0;
    std::size_t spectrumCount = 0;
};

template <class T>
RealCall checkRealCall(const void* in, const void* out, bool forward, const std::size_t* shape, int ndim,
                       int firstAxis, int halvedAxis, CnFftNorm norm) {
    detail::checkNorm(norm);
    RealCall call;
    call.realCount = detail::checkShape(shape, ndim, sizeof(std::complex<T>));
    detail::checkAxis(halvedAxis, ndim);
    for (int d = firstAxis; d <= halvedAxis; ++d) {
        if (shape[d] == 0) throwThrowable(messages::kFftLengthZero);
    }
    for (int d = 0; d < ndim; ++d) {
        call.real[d] = shape[d];
        call.spectrum[d] = d == halvedAxis ? shape[d] / 2 + 1 : shape[d];
    }
    call.spectrumCount = detail::checkShape(call.spectrum, ndim, sizeof(std::complex<T>));
    if (call.realCount == 0) return call;
    if (in == nullptr || out == nullptr) throwThrowable(messages::kFftArrayNull);
    const std::size_t realBytes = call.realCount * sizeof(T);
    const std::size_t spectrumBytes = call.spectrumCount * sizeof(std::complex<T>);
    if (detail::bytesOverlap(in, forward ? realBytes : spectrumBytes, out, forward ? spectrumBytes : realBytes)) {
        throwThrowable(messages::kFftRealArraysOverlap);
    }
    return call;
}

void checkRank(int rank, int ndim) {
    if (ndim < 1 || ndim > 3) throwThrowable(messages::kFftDimensionCount);
    if (rank < 1 || rank > ndim) throwThrowable(messages::kFftRealRank);
}

}  // namespace

template <class T>
CnRealFftFilter<T>::CnRealFftFilter() = default;

template <class T>
CnRealFftFilter<T>::CnRealFftFilter(const CnRealFftFilter& other) : m_norm(other.m_norm) {}

template <class T>
CnRealFftFilter<T>& CnRealFftFilter<T>::operator=(const CnRealFftFilter& other) {
    m_norm = other.m_norm;
    return *this;
}

template <class T>
CnRealFftFilter<T>::~CnRealFftFilter() = default;

template <class T>
detail::FftPlanCache<T>& CnRealFftFilter<T>::cache() {
    if (!m_cache) m_cache = std::make_unique<detail::FftPlanCache<T>>();
    return *m_cache;
}

template <class T>
void CnRealFftFilter<T>::executeForwardAxis(const T* in, Complex* out, const std::size_t* shape, int ndim,
                                            int axis) {
    if (ndim < 1 || ndim > 3) throwThrowable(messages::kFftDimensionCount);
    const RealCall call = checkRealCall<T>(in, out, true, shape, ndim, axis, axis, m_norm);
    if (call.realCount == 0) return;
    const std::size_t n = shape[axis];
    const auto plan = cache().get(detail::realPlanLength(n));
    detail::transformRealLinesForward(*plan, in, detail::axisLines(call.real, ndim, axis), out,
                                      detail::axisLines(call.spectrum, ndim, axis),
                                      detail::fftScale<T>(m_norm, n, false), getExecutor());
}

template <class T>
void CnRealFftFilter<T>::executeInverseAxis(const Complex* in, T* out, const std::size_t* shape, int ndim,
                                            int axis) {
    if (ndim < 1 || ndim > 3) throwThrowable(messages::kFftDimensionCount);
    const RealCall call = checkRealCall<T>(in, out, false, shape, ndim, axis, axis, m_norm);
    if (call.realCount == 0) return;
    const std::size_t n = shape[axis];
    const auto plan = cache().get(detail::realPlanLength(n));
    detail::transformRealLinesInverse(*plan, in, detail::axisLines(call.spectrum, ndim, axis), out,
                                      detail::axisLines(call.real, ndim, axis), detail::fftScale<T>(m_norm, n, true),
                                      getExecutor());
}

template <class T>
void CnRealFftFilter<T>::executeForward(const T* in, Complex* out, const std::size_t* shape, int ndim, int rank) {
    checkRank(rank, ndim);
    const RealCall call = checkRealCall<T>(in, out, true, shape, ndim, ndim - rank, ndim - 1, m_norm);
    if (call.realCount == 0) return;
    const std::size_t n = shape[ndim - 1];
    detail::transformRealLinesForward(*cache().get(detail::realPlanLength(n)), in,
                                      detail::axisLines(call.real, ndim, ndim - 1), out,
                                      detail::axisLines(call.spectrum, ndim, ndim - 1),
                                      detail::fftScale<T>(m_norm, n, false), getExecutor());
    for (int axis = ndim - 2; axis >= ndim - rank; --axis) {
        const detail::FftLineLayout lines = detail::axisLines(call.spectrum, ndim, axis);
        detail::transformComplexLines(*cache().get(lines.length), out, lines, out, lines, false,
                                      detail::fftScale<T>(m_norm, lines.length, false), getExecutor());
    }
}

template <class T>
void CnRealFftFilter<T>::executeInverse(const Complex* in, T* out, const std::size_t* shape, int ndim, int rank) {
    checkRank(rank, ndim);
    const RealCall call = checkRealCall<T>(in, out, false, shape, ndim, ndim - rank, ndim - 1, m_norm);
    if (call.realCount == 0) return;
    const Complex* source = in;
    std::vector<Complex> copy;
    if (rank > 1) {
        copy.resize(call.spectrumCount);
        bool first = true;
        for (int axis = ndim - 2; axis >= ndim - rank; --axis) {
            const detail::FftLineLayout lines = detail::axisLines(call.spectrum, ndim, axis);
            detail::transformComplexLines(*cache().get(lines.length), first ? in : copy.data(), lines, copy.data(),
                                          lines, true, detail::fftScale<T>(m_norm, lines.length, true),
                                          getExecutor());
            first = false;
        }
        source = copy.data();
    }
    const std::size_t n = shape[ndim - 1];
    detail::transformRealLinesInverse(*cache().get(detail::realPlanLength(n)), source,
                                      detail::axisLines(call.spectrum, ndim, ndim - 1), out,
                                      detail::axisLines(call.real, ndim, ndim - 1),
                                      detail::fftScale<T>(m_norm, n, true), getExecutor());
}

template class CnRealFftFilter<float>;
template class CnRealFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
