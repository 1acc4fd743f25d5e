// The real transforms: the checks of a call, the halved axis through the real
// line drivers, the other axes through the complex ones.
#include <nvfiltering/fft/CnRealFftFilter.h>

#include <cstddef>

#include <nvfiltering/fft/detail/FftLayoutChecks.h>
#include <nvfiltering/fft/detail/FftLineBatch.h>
#include <nvfiltering/fft/detail/FftPlanCache.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/detail/Parallel.h>

namespace com {
namespace norvane {
namespace filtering {

namespace {

// From this many slabs on, the last two axes of a volume run slab by slab.
constexpr std::size_t kSlabsFrom = 4;

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
    int axis = ndim - 2;
    if (ndim == 3 && rank >= 2 && shape[0] >= kSlabsFrom) {
        // The halved axis and axis 1 slab by slab, both passes on one slab while it
        // is in cache, a slab per task; every line gets the operations of two
        // whole-volume passes.
        const std::size_t realSlab[2] = {call.real[1], call.real[2]};
        const std::size_t spectrumSlab[2] = {call.spectrum[1], call.spectrum[2]};
        const std::size_t realStep = realSlab[0] * realSlab[1], spectrumStep = spectrumSlab[0] * spectrumSlab[1];
        const auto halvedPlan = cache().get(detail::realPlanLength(n));
        const detail::FftLineLayout realLines = detail::axisLines(realSlab, 2, 1);
        const detail::FftLineLayout halvedLines = detail::axisLines(spectrumSlab, 2, 1);
        const detail::FftLineLayout columns = detail::axisLines(spectrumSlab, 2, 0);
        const auto columnPlan = cache().get(columns.length);
        const T halvedScale = detail::fftScale<T>(m_norm, n, false);
        const T columnScale = detail::fftScale<T>(m_norm, columns.length, false);
        detail::FftBlockShelf<T> buffers;
        detail::parallelFor(getExecutor(), shape[0], [&](std::size_t i0) {
            Complex* slab = out + i0 * spectrumStep;
            detail::transformRealLinesForward(*halvedPlan, in + i0 * realStep, realLines, slab, halvedLines,
                                              halvedScale, nullptr, &buffers);
            detail::transformComplexLines(*columnPlan, slab, columns, slab, columns, false, columnScale, nullptr,
                                          &buffers);
        });
        axis = 0;
    } else {
        detail::transformRealLinesForward(*cache().get(detail::realPlanLength(n)), in,
                                          detail::axisLines(call.real, ndim, ndim - 1), out,
                                          detail::axisLines(call.spectrum, ndim, ndim - 1),
                                          detail::fftScale<T>(m_norm, n, false), getExecutor());
    }
    for (; axis >= ndim - rank; --axis) {
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
    // The other axes go through a scratch copy of the spectrum (kept by the filter
    // for its next call), which the first of them writes in full before anything
    // reads it.
    Complex* copy = nullptr;
    const std::size_t n = shape[ndim - 1];
    if (rank > 1) {
        copy = reinterpret_cast<Complex*>(cache().scratch(2 * call.spectrumCount));
        if (ndim == 3 && shape[0] >= kSlabsFrom) {
            // Axis 0 (rank 3) over the volume, then axis 1 and the halved axis slab
            // by slab while the slab is in cache, a slab per task; every line gets
            // the operations of whole-volume passes.
            const Complex* first = in;
            if (rank == 3) {
                const detail::FftLineLayout lines = detail::axisLines(call.spectrum, ndim, 0);
                detail::transformComplexLines(*cache().get(lines.length), in, lines, copy, lines, true,
                                              detail::fftScale<T>(m_norm, lines.length, true), getExecutor());
                first = copy;
            }
            const std::size_t realSlab[2] = {call.real[1], call.real[2]};
            const std::size_t spectrumSlab[2] = {call.spectrum[1], call.spectrum[2]};
            const std::size_t realStep = realSlab[0] * realSlab[1], spectrumStep = spectrumSlab[0] * spectrumSlab[1];
            const auto halvedPlan = cache().get(detail::realPlanLength(n));
            const detail::FftLineLayout realLines = detail::axisLines(realSlab, 2, 1);
            const detail::FftLineLayout halvedLines = detail::axisLines(spectrumSlab, 2, 1);
            const detail::FftLineLayout columns = detail::axisLines(spectrumSlab, 2, 0);
            const auto columnPlan = cache().get(columns.length);
            const T halvedScale = detail::fftScale<T>(m_norm, n, true);
            const T columnScale = detail::fftScale<T>(m_norm, columns.length, true);
            detail::FftBlockShelf<T> buffers;
            detail::parallelFor(getExecutor(), shape[0], [&](std::size_t i0) {
                Complex* slab = copy + i0 * spectrumStep;
                detail::transformComplexLines(*columnPlan, first + i0 * spectrumStep, columns, slab, columns, true,
                                              columnScale, nullptr, &buffers);
                detail::transformRealLinesInverse(*halvedPlan, slab, halvedLines, out + i0 * realStep, realLines,
                                                  halvedScale, nullptr, &buffers);
            });
            return;
        }
        bool first = true;
        for (int axis = ndim - 2; axis >= ndim - rank; --axis) {
            const detail::FftLineLayout lines = detail::axisLines(call.spectrum, ndim, axis);
            detail::transformComplexLines(*cache().get(lines.length), first ? in : copy, lines, copy, lines, true,
                                          detail::fftScale<T>(m_norm, lines.length, true), getExecutor());
            first = false;
        }
        source = copy;
    }
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
