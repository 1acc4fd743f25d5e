// Internal helpers shared by the line filter and the separable filter: the
// resampling factors of a pair of line lengths, the check that the kernel
// window stays inside the mirrored line, and the conversion of a sum to 8 bits.
// Not part of the public interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nvcore/floor.h>

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// Geometry of one filtered line: N input samples, M output samples, K taps.
// up and down are the whole resampling factors (one of them is 1), U = N * up is
// the length of the up-sampled line and U + K the length of the padded line.
struct LineGeometry {
    std::uint64_t inputLength = 0;
    std::uint64_t outputLength = 0;
    std::uint64_t taps = 0;
    std::uint64_t half = 0;
    std::uint64_t up = 1;
    std::uint64_t down = 1;
    std::uint64_t upsampled = 0;

    std::uint64_t paddedLength() const { return upsampled + taps; }
    // The last padded index the window reads is (M - 1) * down + K - 1; it must
    // lie inside the padded line of U + K elements.
    bool windowFits() const { return outputLength == 0 || (outputLength - 1) * down <= upsampled; }
};

// Factors from the length ratio r = M / N, taken in double: r > 1 up-samples by
// floor(r + 0.5), r < 1 down-samples by floor(1 / r + 0.5). N and M must be > 0.
inline LineGeometry lineGeometry(std::uint32_t n, std::uint32_t m, std::uint32_t k) {
    LineGeometry g;
    g.inputLength = n;
    g.outputLength = m;
    g.taps = k;
    g.half = k / 2u;
    const double r = static_cast<double>(m) / static_cast<double>(n);
    if (r > 1.0) {
        g.up = static_cast<std::uint64_t>(com::norvane::floor(r + 0.5));
    } else if (r < 1.0) {
        g.down = static_cast<std::uint64_t>(com::norvane::floor(1.0 / r + 0.5));
    }
    g.upsampled = g.inputLength * g.up;
    return g;
}

// For every element of the padded line, the input sample it holds, or -1 for a
// zero: inserted zeros of the up-sampling, and the one right-end element that has
// no mirror source (K = 1, U = 1). Built by the same steps as the padded line
// itself: samples at h + k * up, then the left end mirrored about the first
// sample, then the right end mirrored about the last.
inline std::vector<std::int64_t> paddedSourceMap(const LineGeometry& g) {
    const std::size_t length = static_cast<std::size_t>(g.paddedLength());
    const std::size_t h = static_cast<std::size_t>(g.half);
    const std::size_t u = static_cast<std::size_t>(g.upsampled);
    const std::size_t up = static_cast<std::size_t>(g.up);
    std::vector<std::int64_t> map(length, -1);
    for (std::size_t k = 0; k < g.inputLength; ++k) {
        map[h + k * up] = static_cast<std::int64_t>(k);
    }
    for (std::size_t i = 1; i <= h; ++i) {
        map[h - i] = map[h + i];
    }
    const std::size_t right = static_cast<std::size_t>(g.taps - g.half);
    for (std::size_t i = 1; i <= right; ++i) {
        if (h + u >= 1 + i) {
            map[h + u - 1 + i] = map[h + u - 1 - i];
        }
    }
    return map;
}

// 8-bit result: above 255 gives 255, below 0 gives 0, otherwise floor(v + 0.5).
inline unsigned char roundToByte(double v) {
    if (v > 255.0) {
        return 255;
    }
    if (v < 0.0) {
        return 0;
    }
    return static_cast<unsigned char>(com::norvane::floor(v + 0.5));
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
