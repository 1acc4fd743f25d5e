// The real transforms: the checks of a call, the halved axis through the real
// line drivers, the other axes through the complex ones.
#include <nvfiltering/fft/CnRealFftFilter.h>

#include <algorithm>
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

// The forward transform's halved axis and axis 1 of a volume of `shape`, slab by
// slab, both passes on one slab while it is in cache, a slab per task; every line
// gets the operations of two whole-volume passes. The output rows of a slab are
// `pitch` values apart (n / 2 + 1 for the half spectrum, n for the whole one); the
// first n / 2 + 1 of each are written and transformed along axis 1.
template <class T>
void forwardSlabs(detail::FftPlanCache<T>& cache, CnFftNorm norm, CnExecutor* executor, const T* in,
                  std::complex<T>* out, const std::size_t* shape, std::size_t pitch) {
    const std::size_t n = shape[2], h = n / 2 + 1;
    const std::size_t realSlab[2] = {shape[1], n};
    const std::size_t outSlab[2] = {shape[1], pitch};
    const detail::FftLineLayout realLines = detail::axisLines(realSlab, 2, 1);
    detail::FftLineLayout halvedLines = detail::axisLines(outSlab, 2, 1);
    halvedLines.length = h;
    detail::FftLineLayout columns = detail::axisLines(outSlab, 2, 0);
    columns.count0 = h;
    const auto halvedPlan = cache.get(detail::realPlanLength(n));
    const auto columnPlan = cache.get(columns.length);
    const T halvedScale = detail::fftScale<T>(norm, n, false);
    const T columnScale = detail::fftScale<T>(norm, columns.length, false);
    detail::FftBlockShelf<T> buffers;
    detail::parallelFor(executor, shape[0], [&](std::size_t i0) {
        std::complex<T>* slab = out + i0 * shape[1] * pitch;
        detail::transformRealLinesForward(*halvedPlan, in + i0 * shape[1] * n, realLines, slab, halvedLines,
                                          halvedScale, nullptr, &buffers);
        detail::transformComplexLines(*columnPlan, slab, columns, slab, columns, false, columnScale, nullptr,
                                      &buffers);
    });
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
        forwardSlabs(cache(), m_norm, getExecutor(), in, out, shape, call.spectrum[2]);
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
void CnRealFftFilter<T>::executeForwardFull(const T* in, Complex* out, const std::size_t* shape, int ndim, int rank,
                                            bool conjugate) {
    checkRank(rank, ndim);
    const RealCall call = checkRealCall<T>(in, out, true, shape, ndim, ndim - rank, ndim - 1, m_norm);
    if (call.realCount == 0) return;
    // The output holds a complex value per real one (checkRealCall saw only the
    // half spectrum's bytes).
    if (detail::bytesOverlap(in, call.realCount * sizeof(T), out, call.realCount * sizeof(Complex))) {
        throwThrowable(messages::kFftRealArraysOverlap);
    }
    const std::size_t n = shape[ndim - 1];
    const std::size_t h = n / 2 + 1;
    int axis = ndim - 2;
    if (ndim == 3 && rank >= 2 && shape[0] >= kSlabsFrom) {
        forwardSlabs(cache(), m_norm, getExecutor(), in, out, shape, n);
        axis = 0;
    } else {
        // The halved axis: lines of the real shape, of which the first h values are written.
        detail::FftLineLayout halved = detail::axisLines(call.real, ndim, ndim - 1);
        const detail::FftLineLayout realLines = halved;
        halved.length = h;
        detail::transformRealLinesForward(*cache().get(detail::realPlanLength(n)), in, realLines, out, halved,
                                          detail::fftScale<T>(m_norm, n, false), getExecutor());
    }
    // The other transformed axes, on the columns j < h only: the lines of an axis
    // run over j (adjacent) and over the remaining axis, if any.
    for (; axis >= ndim - rank; --axis) {
        detail::FftLineLayout lines = detail::axisLines(call.real, ndim, axis);
        lines.count0 = h;
        lines.stride0 = 1;
        if (axis == ndim - 3) {
            lines.count1 = shape[1];
            lines.stride1 = n;
        }
        detail::transformComplexLines(*cache().get(lines.length), out, lines, out, lines, false,
                                      detail::fftScale<T>(m_norm, lines.length, false), getExecutor());
    }
    if (h >= n && !conjugate) return;
    // The fill, a row (every axis but the last) at a time: row r's values past h
    // from the head of its mirror row (the index negated on the transformed axes).
    // Only heads are read and only tails written, so rows run in any order; the
    // heads are conjugated after every tail is written.
    std::size_t rows = 1;
    for (int d = 0; d + 1 < ndim; ++d) rows *= shape[d];
    const int firstAxis = ndim - rank;
    auto mirrorRow = [&](std::size_t r) {
        std::size_t index = 0, rest = r, scale = 1;
        for (int d = ndim - 2; d >= 0; --d) {
            const std::size_t size = shape[d];
            const std::size_t i = rest % size;
            rest /= size;
            index += (d >= firstAxis ? (size - i) % size : i) * scale;
            scale *= size;
        }
        return index;
    };
    const std::size_t grain = std::max<std::size_t>(1, (std::size_t(1) << 15) / n);
    if (h < n) {
        detail::parallelRanges(getExecutor(), rows, grain, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                Complex* row = out + r * n;
                const Complex* mirror = out + mirrorRow(r) * n;
                for (std::size_t j = h; j < n; ++j) {
                    const Complex v = mirror[n - j];
                    row[j] = conjugate ? v : Complex(v.real(), T(0) - v.imag());
                }
            }
        });
    }
    if (conjugate) {
        detail::parallelRanges(getExecutor(), rows, grain, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                Complex* row = out + r * n;
                for (std::size_t j = 0; j < h; ++j) row[j] = Complex(row[j].real(), T(0) - row[j].imag());
            }
        });
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
