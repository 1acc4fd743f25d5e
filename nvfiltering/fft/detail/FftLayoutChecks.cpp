// Checks and layouts of the interleaved complex and real transforms (see
// FftLayoutChecks.h).
#include <nvfiltering/fft/detail/FftLayoutChecks.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include <nvfiltering/framework/CnMessages.h>

namespace com::norvane::filtering::detail {

namespace {

// Largest element count whose bytes fit std::ptrdiff_t.
std::size_t elementLimit(std::size_t elementSize) {
    return static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / elementSize;
}

// a * b + c, throwing when it exceeds `limit`.
std::size_t checkedMulAdd(std::size_t a, std::size_t b, std::size_t c, std::size_t limit) {
    if (b != 0 && a > (limit - std::min(c, limit)) / b) throwThrowable(messages::kFftSizeTooLarge);
    const std::size_t r = a * b + c;
    if (r > limit) throwThrowable(messages::kFftSizeTooLarge);
    return r;
}

}  // namespace

FftLineLayout axisLines(const std::size_t* shape, int ndim, int axis) {
    std::size_t pre = 1, post = 1;
    for (int d = 0; d < axis; ++d) pre *= shape[d];
    for (int d = axis + 1; d < ndim; ++d) post *= shape[d];
    const std::size_t n = shape[axis];
    FftLineLayout lines;
    lines.length = n;
    lines.stride = post;
    lines.count0 = post;
    lines.stride0 = 1;
    lines.count1 = pre;
    lines.stride1 = n * post;
    return lines;
}

std::size_t checkShape(const std::size_t* shape, int ndim, std::size_t elementSize) {
    if (ndim < 1 || ndim > 3) throwThrowable(messages::kFftDimensionCount);
    if (shape == nullptr) throwThrowable(messages::kFftShapeNull);
    const std::size_t limit = elementLimit(elementSize);
    std::size_t count = 1;
    bool empty = false;
    for (int d = 0; d < ndim; ++d) {
        if (shape[d] == 0) {
            empty = true;
        } else {
            count = checkedMulAdd(count, shape[d], 0, limit);
        }
    }
    return empty ? 0 : count;
}

void checkAxis(int axis, int ndim) {
    if (axis < 0 || axis >= ndim) throwThrowable(messages::kFftAxis);
}

std::size_t checkLines(const CnFftLines& lines, std::size_t size, std::size_t elementSize) {
    if (lines.length == 0) throwThrowable(messages::kFftLengthZero);
    const std::size_t limit = elementLimit(elementSize);
    if (size > limit) throwThrowable(messages::kFftSizeTooLarge);
    if (lines.count0 == 0 || lines.count1 == 0) return 0;
    std::pair<std::size_t, std::size_t> dims[3] = {
        {lines.stride, lines.length}, {lines.stride0, lines.count0}, {lines.stride1, lines.count1}};
    // The last element any line reaches, and the lines' disjointness.
    std::size_t last = 0;
    for (const auto& d : dims) last = checkedMulAdd(d.first, d.second - 1, last, limit);
    if (last >= size) throwThrowable(messages::kFftLinesOutsideArray);
    std::sort(std::begin(dims), std::end(dims));
    std::size_t reach = 1;  // elements spanned by the dimensions taken so far
    for (const auto& d : dims) {
        if (d.second == 1) continue;
        if (d.first < reach) throwThrowable(messages::kFftLinesOverlap);
        reach = d.first * (d.second - 1) + reach;
    }
    const std::size_t count = lines.count0 * lines.count1;
    checkedMulAdd(count, lines.length, 0, limit);
    return count;
}

bool bytesOverlap(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes) {
    if (aBytes == 0 || bBytes == 0) return false;
    const std::uintptr_t pa = reinterpret_cast<std::uintptr_t>(a);
    const std::uintptr_t pb = reinterpret_cast<std::uintptr_t>(b);
    return pa < pb + bBytes && pb < pa + aBytes;
}

void checkDirection(int direction) {
    if (direction != 1 && direction != -1) throwThrowable(messages::kFftDirection);
}

void checkNorm(CnFftNorm norm) {
    if (norm != CnFftNorm::Backward && norm != CnFftNorm::Ortho && norm != CnFftNorm::Forward) {
        throwThrowable(messages::kFftNormalization);
    }
}

template <class T>
T fftScale(CnFftNorm norm, std::size_t n, bool inverse) {
    const long double ln = static_cast<long double>(n);
    switch (norm) {
        case CnFftNorm::Ortho: return static_cast<T>(1.0L / std::sqrt(ln));
        case CnFftNorm::Forward: return inverse ? T(1) : static_cast<T>(1.0L / ln);
        case CnFftNorm::Backward: break;
    }
    return inverse ? static_cast<T>(1.0L / ln) : T(1);
}

template float fftScale<float>(CnFftNorm, std::size_t, bool);
template double fftScale<double>(CnFftNorm, std::size_t, bool);

}  // namespace com::norvane::filtering::detail
