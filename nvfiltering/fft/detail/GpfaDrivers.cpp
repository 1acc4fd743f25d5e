// The GPFA's batch and band drivers (see GpfaDrivers.h).
#include <nvfiltering/fft/detail/Gpfa.h>
#include <nvfiltering/fft/detail/GpfaDrivers.h>
#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/framework/detail/ScratchShelf.h>

#include <algorithm>
#include <vector>

namespace com::norvane::filtering::detail {

namespace {

// Vectors per scratch chunk of gpfaContiguous.
constexpr std::ptrdiff_t kGpfaChunk = 8;
// Bytes of one row of a band of gpfaColumns (per array).
constexpr std::ptrdiff_t kGpfaBandBytes = 256;
// Values a piece of work on the executor should hold at least.
constexpr std::ptrdiff_t kPieceValues = std::ptrdiff_t(1) << 15;
// Fewest adjacent column bands one piece of a column pass holds.
constexpr std::ptrdiff_t kBandsPerPiece = 4;

// Copies w vectors of n adjacent values (re / im, one after another) into the
// interleaved scratch (element k of vector v at k * w + v), negating the imaginary
// parts. The copy goes in tiles of a few elements of every vector, so that both
// sides of a tile stay in the first-level cache.
constexpr std::ptrdiff_t kTransposeTile = 8;

template <class T>
NVF_ISA_BODY void interleaveConjugatedBody(const T* __restrict re, const T* __restrict im, T* __restrict sr,
                                           T* __restrict si, std::ptrdiff_t n, std::ptrdiff_t w) {
    for (std::ptrdiff_t k0 = 0; k0 < n; k0 += kTransposeTile) {
        const std::ptrdiff_t kb = std::min(kTransposeTile, n - k0);
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            const T* rv = re + v * n + k0;
            const T* iv = im + v * n + k0;
            T* dr = sr + k0 * w + v;
            T* di = si + k0 * w + v;
            for (std::ptrdiff_t k = 0; k < kb; ++k) {
                dr[k * w] = rv[k];
                di[k * w] = -iv[k];
            }
        }
    }
}

template <class T>
void interleaveConjugated(const T* __restrict re, const T* __restrict im, T* __restrict sr, T* __restrict si,
                          std::ptrdiff_t n, std::ptrdiff_t w) {
    runWidest([&] { interleaveConjugatedBody<T>(re, im, sr, si, n, w); });
}

// The way back: element k of vector v from k * w + v, the imaginary part negated
// or, for the inverse (Scaled), the real parts times scale and the imaginary parts
// times negScale.
template <bool Scaled, class T>
NVF_ISA_BODY void deinterleaveBody(const T* __restrict sr, const T* __restrict si, T* __restrict re, T* __restrict im,
                                   std::ptrdiff_t n, std::ptrdiff_t w, T scale, T negScale) {
    for (std::ptrdiff_t k0 = 0; k0 < n; k0 += kTransposeTile) {
        const std::ptrdiff_t kb = std::min(kTransposeTile, n - k0);
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            T* rv = re + v * n + k0;
            T* iv = im + v * n + k0;
            const T* srcR = sr + k0 * w + v;
            const T* srcI = si + k0 * w + v;
            for (std::ptrdiff_t k = 0; k < kb; ++k) {
                if constexpr (Scaled) {
                    rv[k] = srcR[k * w] * scale;
                    iv[k] = srcI[k * w] * negScale;
                } else {
                    rv[k] = srcR[k * w];
                    iv[k] = -srcI[k * w];
                }
            }
        }
    }
}

template <bool Scaled, class T>
void deinterleave(const T* __restrict sr, const T* __restrict si, T* __restrict re, T* __restrict im, std::ptrdiff_t n,
                  std::ptrdiff_t w, T scale, T negScale) {
    runWidest([&] { deinterleaveBody<Scaled, T>(sr, si, re, im, n, w, scale, negScale); });
}

// x[k * d + v] = -x[k * d + v] for k < n, v < w.
template <class T>
NVF_ISA_BODY void negateBandBody(T* x, std::ptrdiff_t n, std::ptrdiff_t d, std::ptrdiff_t w) {
    for (std::ptrdiff_t k = 0; k < n; ++k) {
        T* row = x + k * d;
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            row[v] = -row[v];
        }
    }
}

template <class T>
void negateBand(T* x, std::ptrdiff_t n, std::ptrdiff_t d, std::ptrdiff_t w) {
    runWidest([&] { negateBandBody<T>(x, n, d, w); });
}

// The inverse's scaling of the same band: real parts times scale, imaginary parts
// times negScale.
template <class T>
NVF_ISA_BODY void scaleBandBody(T* __restrict re, T* __restrict im, std::ptrdiff_t n, std::ptrdiff_t d,
                                std::ptrdiff_t w, T scale, T negScale) {
    for (std::ptrdiff_t k = 0; k < n; ++k) {
        T* rr = re + k * d;
        T* ir = im + k * d;
        for (std::ptrdiff_t v = 0; v < w; ++v) {
            rr[v] *= scale;
            ir[v] *= negScale;
        }
    }
}

template <class T>
void scaleBand(T* __restrict re, T* __restrict im, std::ptrdiff_t n, std::ptrdiff_t d, std::ptrdiff_t w, T scale,
               T negScale) {
    runWidest([&] { scaleBandBody<T>(re, im, n, d, w, scale, negScale); });
}

}  // namespace

template <class T>
void gpfaStrided(T* re, T* im, const T* table, std::int32_t n, std::ptrdiff_t dataJump, std::ptrdiff_t vectorJump,
                 std::ptrdiff_t count, std::int32_t dir) {
    if (count <= 0) {
        return;
    }
    const std::size_t m = static_cast<std::size_t>(n) * static_cast<std::size_t>(count);
    for (std::size_t i = 0; i < m; ++i) {
        im[i] = -im[i];
    }
    gpfaTransform(re, im, table, dataJump, vectorJump, n, count, dir);
    if (dir < 0) {
        const T scale = T(1) / static_cast<T>(n);
        const T negScale = T(-1) / static_cast<T>(n);
        for (std::size_t i = 0; i < m; ++i) {
            re[i] *= scale;
        }
        for (std::size_t i = 0; i < m; ++i) {
            im[i] *= negScale;
        }
    } else {
        for (std::size_t i = 0; i < m; ++i) {
            im[i] = -im[i];
        }
    }
}

template <class T>
void gpfaContiguous(T* re, T* im, const T* table, std::int32_t n, std::ptrdiff_t count, std::int32_t dir,
                    CnExecutor* executor) {
    // A few vectors at a time go into a small scratch copy where they are
    // interleaved element by element, so that the GPFA's loop across the vectors
    // runs over adjacent values.
    if (count <= 0) {
        return;
    }
    const std::ptrdiff_t len = n;
    const std::ptrdiff_t chunks = (count + kGpfaChunk - 1) / kGpfaChunk;
    const T scale = T(1) / static_cast<T>(n);
    const T negScale = T(-1) / static_cast<T>(n);
    const std::size_t grain = static_cast<std::size_t>(std::max<std::ptrdiff_t>(1, kPieceValues / (len * kGpfaChunk)));
    // Each task's interleaved copy, shared with the tasks after it (see ScratchShelf).
    const std::size_t scratchSize = static_cast<std::size_t>(len * kGpfaChunk);
    ScratchShelf<SplitScratch<T>> shelf;
    parallelRanges(executor, static_cast<std::size_t>(chunks), grain, [&](std::size_t begin, std::size_t end) {
        const auto scratch = shelf.borrow([scratchSize] { return std::make_unique<SplitScratch<T>>(scratchSize); });
        std::vector<T>& realScratch = scratch->re;
        std::vector<T>& imagScratch = scratch->im;
        for (std::size_t chunk = begin; chunk < end; ++chunk) {
            const std::ptrdiff_t v0 = static_cast<std::ptrdiff_t>(chunk) * kGpfaChunk;
            const std::ptrdiff_t w = std::min(kGpfaChunk, count - v0);
            T* vr = re + v0 * len;
            T* vi = im + v0 * len;
            interleaveConjugated(vr, vi, realScratch.data(), imagScratch.data(), len, w);
            gpfaTransform(realScratch.data(), imagScratch.data(), table, w, std::ptrdiff_t(1), n, w, dir);
            if (dir < 0) {
                deinterleave<true>(realScratch.data(), imagScratch.data(), vr, vi, len, w, scale, negScale);
            } else {
                deinterleave<false>(realScratch.data(), imagScratch.data(), vr, vi, len, w, scale, negScale);
            }
        }
    });
}

template <class T>
void gpfaColumns(T* re, T* im, const T* table, std::int32_t n, std::ptrdiff_t rowJump, std::ptrdiff_t count,
                 std::int32_t dir, CnExecutor* executor) {
    // A band of adjacent columns at a time, the negations and the scaling done on
    // the band while it is in cache.
    if (count <= 0) {
        return;
    }
    const std::ptrdiff_t len = n;
    const std::ptrdiff_t band = kGpfaBandBytes / static_cast<std::ptrdiff_t>(sizeof(T));
    const std::ptrdiff_t bands = (count + band - 1) / band;
    const T scale = T(1) / static_cast<T>(n);
    const T negScale = T(-1) / static_cast<T>(n);
    // At least kBandsPerPiece adjacent bands per piece, so that two threads work
    // on columns far apart rather than on neighbouring bands of the same rows
    // (on two threads the 1000 x 1000 column pass went from 1.4 to 1.9 times
    // as fast as one).
    const std::size_t grain =
        static_cast<std::size_t>(std::max<std::ptrdiff_t>(kBandsPerPiece, kPieceValues / (len * band)));
    parallelRanges(executor, static_cast<std::size_t>(bands), grain, [&](std::size_t begin, std::size_t end) {
        for (std::size_t b = begin; b < end; ++b) {
            const std::ptrdiff_t c0 = static_cast<std::ptrdiff_t>(b) * band;
            const std::ptrdiff_t w = std::min(band, count - c0);
            T* bandRe = re + c0;
            T* bandIm = im + c0;
            negateBand(bandIm, len, rowJump, w);
            gpfaTransform(bandRe, bandIm, table, rowJump, std::ptrdiff_t(1), n, w, dir);
            if (dir < 0) {
                scaleBand(bandRe, bandIm, len, rowJump, w, scale, negScale);
            } else {
                negateBand(bandIm, len, rowJump, w);
            }
        }
    });
}

template void gpfaStrided<float>(float*, float*, const float*, std::int32_t, std::ptrdiff_t, std::ptrdiff_t,
                                 std::ptrdiff_t, std::int32_t);
template void gpfaStrided<double>(double*, double*, const double*, std::int32_t, std::ptrdiff_t, std::ptrdiff_t,
                                  std::ptrdiff_t, std::int32_t);
template void gpfaContiguous<float>(float*, float*, const float*, std::int32_t, std::ptrdiff_t, std::int32_t,
                                    CnExecutor*);
template void gpfaContiguous<double>(double*, double*, const double*, std::int32_t, std::ptrdiff_t, std::int32_t,
                                     CnExecutor*);
template void gpfaColumns<float>(float*, float*, const float*, std::int32_t, std::ptrdiff_t, std::ptrdiff_t,
                                 std::int32_t, CnExecutor*);
template void gpfaColumns<double>(double*, double*, const double*, std::int32_t, std::ptrdiff_t, std::ptrdiff_t,
                                  std::int32_t, CnExecutor*);

}  // namespace com::norvane::filtering::detail
