// The interleaved complex transforms: the checks of a call, then one pass of
// blocks of lines per transformed axis through the kept plans.
#include <nvfiltering/fft/CnComplexFftFilter.h>

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

// From this many slabs on, two axes within the slabs of a volume run slab by slab.
constexpr std::size_t kSlabsFrom = 4;

detail::FftLineLayout layoutOf(const CnFftLines& lines) {
    detail::FftLineLayout out;
    out.length = lines.length;
    out.stride = lines.stride;
    // The batch dimension with the smaller stride numbered fastest: adjacent
    // lines then share cache lines.
    const bool swap = lines.count0 > 1 && lines.count1 > 1 && lines.stride1 < lines.stride0;
    out.count0 = swap ? lines.count1 : lines.count0;
    out.stride0 = swap ? lines.stride1 : lines.stride0;
    out.count1 = swap ? lines.count0 : lines.count1;
    out.stride1 = swap ? lines.stride0 : lines.stride1;
    return out;
}

}  // namespace

template <class T>
CnComplexFftFilter<T>::CnComplexFftFilter() = default;

template <class T>
CnComplexFftFilter<T>::CnComplexFftFilter(const CnComplexFftFilter& other) : m_norm(other.m_norm) {}

template <class T>
CnComplexFftFilter<T>& CnComplexFftFilter<T>::operator=(const CnComplexFftFilter& other) {
    m_norm = other.m_norm;
    return *this;
}

template <class T>
CnComplexFftFilter<T>::~CnComplexFftFilter() = default;

template <class T>
detail::FftPlanCache<T>& CnComplexFftFilter<T>::cache() {
    if (!m_cache) m_cache = std::make_unique<detail::FftPlanCache<T>>();
    return *m_cache;
}

template <class T>
void CnComplexFftFilter<T>::executeLines(const Complex* in, Complex* out, std::size_t size, const CnFftLines& lines,
                                         int direction) {
    detail::checkDirection(direction);
    detail::checkNorm(m_norm);
    const std::size_t count = detail::checkLines(lines, size, sizeof(Complex));
    if (count == 0) return;
    if (in == nullptr || out == nullptr) throwThrowable(messages::kFftArrayNull);
    if (in != out && detail::bytesOverlap(in, size * sizeof(Complex), out, size * sizeof(Complex))) {
        throwThrowable(messages::kFftArraysOverlap);
    }
    const detail::FftLineLayout layout = layoutOf(lines);
    const bool inverse = direction == -1;
    const auto plan = cache().get(lines.length);
    detail::transformComplexLines(*plan, in, layout, out, layout, inverse,
                                  detail::fftScale<T>(m_norm, lines.length, inverse), getExecutor());
}

template <class T>
void CnComplexFftFilter<T>::executeAxis(const Complex* in, Complex* out, const std::size_t* shape, int ndim,
                                        int axis, int direction) {
    executeAxes(in, out, shape, ndim, &axis, 1, direction);
}

template <class T>
void CnComplexFftFilter<T>::executeAxes(const Complex* in, Complex* out, const std::size_t* shape, int ndim,
                                        const int* axes, int axisCount, int direction) {
    detail::checkDirection(direction);
    detail::checkNorm(m_norm);
    const std::size_t count = detail::checkShape(shape, ndim, sizeof(Complex));
    if (axes == nullptr && axisCount > 0) throwThrowable(messages::kFftShapeNull);
    if (axisCount < 0 || axisCount > ndim) throwThrowable(messages::kFftAxis);
    for (int i = 0; i < axisCount; ++i) {
        detail::checkAxis(axes[i], ndim);
        for (int j = 0; j < i; ++j) {
            if (axes[j] == axes[i]) throwThrowable(messages::kFftAxis);
        }
        if (shape[axes[i]] == 0) throwThrowable(messages::kFftLengthZero);
    }
    if (count == 0 || axisCount == 0) {
        // No lines, or nothing transformed: an out-of-place call copies.
        if (count != 0 && in != out) {
            if (in == nullptr || out == nullptr) throwThrowable(messages::kFftArrayNull);
            if (detail::bytesOverlap(in, count * sizeof(Complex), out, count * sizeof(Complex))) {
                throwThrowable(messages::kFftArraysOverlap);
            }
            for (std::size_t k = 0; k < count; ++k) out[k] = in[k];
        }
        return;
    }
    if (in == nullptr || out == nullptr) throwThrowable(messages::kFftArrayNull);
    if (in != out && detail::bytesOverlap(in, count * sizeof(Complex), out, count * sizeof(Complex))) {
        throwThrowable(messages::kFftArraysOverlap);
    }
    const bool inverse = direction == -1;
    const Complex* source = in;
    for (int i = 0; i < axisCount; ++i) {
        if (ndim == 3 && shape[0] >= kSlabsFrom && i + 1 < axisCount && axes[i] != 0 && axes[i + 1] != 0) {
            // Two axes within the slabs of a volume: both passes on one slab while it
            // is in cache, a slab per task. Every line gets the same operations as in
            // two whole-volume passes.
            const std::size_t slab[2] = {shape[1], shape[2]};
            const std::size_t slabSize = shape[1] * shape[2];
            const detail::FftLineLayout first = detail::axisLines(slab, 2, axes[i] - 1);
            const detail::FftLineLayout second = detail::axisLines(slab, 2, axes[i + 1] - 1);
            const auto firstPlan = cache().get(first.length);
            const auto secondPlan = cache().get(second.length);
            const T firstScale = detail::fftScale<T>(m_norm, first.length, inverse);
            const T secondScale = detail::fftScale<T>(m_norm, second.length, inverse);
            detail::FftBlockShelf<T> buffers;
            detail::parallelFor(getExecutor(), shape[0], [&](std::size_t i0) {
                Complex* target = out + i0 * slabSize;
                detail::transformComplexLines(*firstPlan, source + i0 * slabSize, first, target, first, inverse,
                                              firstScale, nullptr, &buffers);
                detail::transformComplexLines(*secondPlan, target, second, target, second, inverse, secondScale,
                                              nullptr, &buffers);
            });
            source = out;
            ++i;
            continue;
        }
        const detail::FftLineLayout layout = detail::axisLines(shape, ndim, axes[i]);
        const auto plan = cache().get(layout.length);
        detail::transformComplexLines(*plan, source, layout, out, layout, inverse,
                                      detail::fftScale<T>(m_norm, layout.length, inverse), getExecutor());
        source = out;
    }
}

template <class T>
void CnComplexFftFilter<T>::execute1d(const Complex* in, Complex* out, std::size_t length, std::size_t count,
                                      int direction) {
    const std::size_t shape[2] = {count, length};
    executeAxis(in, out, shape, 2, 1, direction);
}

template <class T>
void CnComplexFftFilter<T>::execute2d(const Complex* in, Complex* out, std::size_t n0, std::size_t n1,
                                      int direction) {
    const std::size_t shape[2] = {n0, n1};
    const int axes[2] = {1, 0};
    executeAxes(in, out, shape, 2, axes, 2, direction);
}

template <class T>
void CnComplexFftFilter<T>::execute3d(const Complex* in, Complex* out, std::size_t n0, std::size_t n1,
                                      std::size_t n2, int direction) {
    const std::size_t shape[3] = {n0, n1, n2};
    const int axes[3] = {2, 1, 0};
    executeAxes(in, out, shape, 3, axes, 3, direction);
}

template class CnComplexFftFilter<float>;
template class CnComplexFftFilter<double>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
