// Blocks of lines through a FftLinePlan (see FftLineBatch.h).
#include <nvfiltering/fft/detail/FftLineBatch.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/framework/detail/ScratchShelf.h>

// A loop over the lanes of a block carries no dependence (see FftLinePlan.cpp).
#if defined(__GNUC__) && !defined(__clang__)
#define NVF_LANE_LOOP _Pragma("GCC ivdep")
#else
#define NVF_LANE_LOOP
#endif

namespace com::norvane::filtering::detail {

namespace {

// Lines per block: a few cache lines of adjacent columns per row of a block.
template <class T>
constexpr std::size_t kLanes = sizeof(T) == 4 ? 32 : 16;
constexpr std::size_t kMaxLanes = 32;

// Where the lines first .. first + lanes - 1 start.
void lineStarts(const FftLineLayout& lines, std::size_t first, std::size_t lanes, std::size_t* start) {
    for (std::size_t l = 0; l < lanes; ++l) start[l] = lines.lineStart(first + l);
}

// Whether the lines of a block are adjacent (columns side by side), so that a
// row of the block is one run of memory.
bool adjacentLines(const std::size_t* start, std::size_t lanes) {
    for (std::size_t l = 1; l < lanes; ++l) {
        if (start[l] != start[0] + l) return false;
    }
    return true;
}

// A piece of a pass holds at least about this many values.
constexpr std::size_t kValuesPerPiece = 32768;

// Four values of T, for moving values of four lines stored one after another
// to and from the rows of a block two values per line at a time (a transposition
// of 2 x 2 complex values in registers). The values are only moved, except for
// the same products and sums as in the plain loops, so the bits are the same.
template <class T>
struct QuadOf;
template <>
struct QuadOf<float> {
    typedef float type __attribute__((vector_size(16)));
};
template <>
struct QuadOf<double> {
    typedef double type __attribute__((vector_size(32)));
};
template <class T>
using Quad = typename QuadOf<T>::type;

template <class T>
inline void loadQuad(Quad<T>& v, const T* p) {
    std::memcpy(&v, p, sizeof(v));
}

template <class T>
inline void storeQuad(T* p, const Quad<T>& v) {
    std::memcpy(p, &v, sizeof(v));
}

// Lines of n complex values (pairs of T) starting at line[l] into the rows of a
// block: re[k P + l] = real part, im[k P + l] = 0 + sign * imaginary part
// (Signs) or the imaginary part as it is.
template <bool Signs, class T>
NVF_ISA_BODY void gatherContiguous(const T* const* line, std::size_t lanes, std::size_t n, std::size_t P, T sign,
                                   T* re, T* im) {
    const std::size_t quads = lanes / 4 * 4, pairs = n / 2 * 2;
    const Quad<T> zero = {T(0), T(0), T(0), T(0)};
    const Quad<T> s = {sign, sign, sign, sign};
    for (std::size_t l = 0; l < quads; l += 4) {
        const T* p0 = line[l];
        const T* p1 = line[l + 1];
        const T* p2 = line[l + 2];
        const T* p3 = line[l + 3];
        for (std::size_t k = 0; k < pairs; k += 2) {
            Quad<T> a0, a1, a2, a3;
            loadQuad(a0, p0 + 2 * k);
            loadQuad(a1, p1 + 2 * k);
            loadQuad(a2, p2 + 2 * k);
            loadQuad(a3, p3 + 2 * k);
            const Quad<T> t0 = __builtin_shufflevector(a0, a1, 0, 4, 2, 6);
            const Quad<T> t1 = __builtin_shufflevector(a0, a1, 1, 5, 3, 7);
            const Quad<T> t2 = __builtin_shufflevector(a2, a3, 0, 4, 2, 6);
            const Quad<T> t3 = __builtin_shufflevector(a2, a3, 1, 5, 3, 7);
            const Quad<T> i0 = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
            const Quad<T> i1 = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
            const Quad<T> r0 = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
            const Quad<T> r1 = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
            const Quad<T> j0 = Signs ? zero + s * i0 : i0;
            const Quad<T> j1 = Signs ? zero + s * i1 : i1;
            storeQuad(re + k * P + l, r0);
            storeQuad(re + (k + 1) * P + l, r1);
            storeQuad(im + k * P + l, j0);
            storeQuad(im + (k + 1) * P + l, j1);
        }
    }
    for (std::size_t l = 0; l < lanes; ++l) {
        const T* p = line[l];
        for (std::size_t k = l < quads ? pairs : 0; k < n; ++k) {
            re[k * P + l] = p[2 * k];
            im[k * P + l] = Signs ? T(0) + sign * p[2 * k + 1] : p[2 * k + 1];
        }
    }
}

// The reverse: line[l][2 k], line[l][2 k + 1] = rs re[k P + l], 0 + is im[k P + l]
// (Signs) or is im[k P + l].
template <bool Signs, class T>
NVF_ISA_BODY void scatterContiguous(const T* re, const T* im, T* const* line, std::size_t lanes, std::size_t n,
                                    std::size_t P, T rs, T is) {
    const std::size_t quads = lanes / 4 * 4, pairs = n / 2 * 2;
    const Quad<T> zero = {T(0), T(0), T(0), T(0)};
    const Quad<T> r = {rs, rs, rs, rs};
    const Quad<T> i = {is, is, is, is};
    for (std::size_t l = 0; l < quads; l += 4) {
        T* p0 = line[l];
        T* p1 = line[l + 1];
        T* p2 = line[l + 2];
        T* p3 = line[l + 3];
        for (std::size_t k = 0; k < pairs; k += 2) {
            Quad<T> r0, r1, i0, i1;
            loadQuad(r0, re + k * P + l);
            loadQuad(r1, re + (k + 1) * P + l);
            loadQuad(i0, im + k * P + l);
            loadQuad(i1, im + (k + 1) * P + l);
            r0 = r * r0;
            r1 = r * r1;
            i0 = Signs ? zero + i * i0 : i * i0;
            i1 = Signs ? zero + i * i1 : i * i1;
            const Quad<T> u0 = __builtin_shufflevector(r0, i0, 0, 4, 1, 5);
            const Quad<T> u1 = __builtin_shufflevector(r0, i0, 2, 6, 3, 7);
            const Quad<T> u2 = __builtin_shufflevector(r1, i1, 0, 4, 1, 5);
            const Quad<T> u3 = __builtin_shufflevector(r1, i1, 2, 6, 3, 7);
            const Quad<T> o0 = __builtin_shufflevector(u0, u2, 0, 1, 4, 5);
            const Quad<T> o1 = __builtin_shufflevector(u0, u2, 2, 3, 6, 7);
            const Quad<T> o2 = __builtin_shufflevector(u1, u3, 0, 1, 4, 5);
            const Quad<T> o3 = __builtin_shufflevector(u1, u3, 2, 3, 6, 7);
            storeQuad(p0 + 2 * k, o0);
            storeQuad(p1 + 2 * k, o1);
            storeQuad(p2 + 2 * k, o2);
            storeQuad(p3 + 2 * k, o3);
        }
    }
    for (std::size_t l = 0; l < lanes; ++l) {
        T* p = line[l];
        for (std::size_t k = l < quads ? pairs : 0; k < n; ++k) {
            p[2 * k] = rs * re[k * P + l];
            p[2 * k + 1] = Signs ? T(0) + is * im[k * P + l] : is * im[k * P + l];
        }
    }
}

// X(j) = E(j) + w O(j) of the real forward transform from a = Z(j) and
// b = conj Z(h - j) (br, bi given conjugated), w = exp(-2 pi i j / n).
template <class T>
inline void separateEven(T ar, T ai, T br, T bi, T wr, T wi, T halfOne, T& xr, T& xi) {
    const T er = (ar + br) * halfOne, ei = (ai + bi) * halfOne;
    const T orr = (ai - bi) * halfOne, oi = -((ar - br) * halfOne);
    xr = er + (wr * orr - wi * oi);
    xi = ei + (wr * oi + wi * orr);
}

// Z(j) of the real inverse transform (conjugated, for the forward transform of
// length h) from a = X(j) and b = conj X(h - j) (bi given conjugated, with the
// zero imaginary parts of X(0) and X(h) already put in), w = exp(-pi i j / h).
template <class T>
inline void joinEven(T ar, T ai, T br, T bi, T wr, T wi, T& zr, T& zi) {
    const T er = ar + br, ei = ai + bi;
    const T dr = ar - br, di = ai - bi;
    const T orr = dr * wr + di * wi, oi = di * wr - dr * wi;
    zr = er - oi;
    zi = T(0) - (ei + orr);
}

// Runs gather(first, lanes, pitch, re, im), the plan's forward transform and
// scatter(first, lanes, pitch, re, im) on every block of lines.
template <class T, class Gather, class Scatter>
void runBlocks(const FftLinePlan<T>& plan, std::size_t lineCount, CnExecutor* executor, FftBlockShelf<T>* shelf,
               const Gather& gather, const Scatter& scatter) {
    if (lineCount == 0) return;
    const std::size_t n = plan.length();
    const std::size_t width = std::min(kLanes<T>, lineCount);
    const std::size_t blocks = (lineCount + width - 1) / width;
    const std::size_t grain = std::max<std::size_t>(1, kValuesPerPiece / (n * width));
    const std::size_t plane = FftLinePlan<T>::planeSize(n, width);
    const std::size_t bufferSize = 2 * plane + plan.scratchSize(width);
    // The pieces borrow their block buffers (hundreds of KiB for long lines) from
    // the ones finished pieces gave back: fresh ones for every piece cost page
    // faults and a zero fill that kept two threads far from twice as fast.
    FftBlockShelf<T> ownShelf;
    FftBlockShelf<T>& buffers = shelf != nullptr ? *shelf : ownShelf;
    parallelRanges(executor, blocks, grain, [&](std::size_t begin, std::size_t end) {
        const auto loan = buffers.borrow([bufferSize] { return std::make_unique<std::vector<T>>(bufferSize); });
        std::vector<T>& buffer = *loan;
        if (buffer.size() < bufferSize) buffer.resize(bufferSize);
        for (std::size_t b = begin; b < end; ++b) {
            const std::size_t first = b * width;
            const std::size_t lanes = std::min(width, lineCount - first);
            T* re = buffer.data();
            T* im = re + FftLinePlan<T>::planeSize(n, lanes);
            T* scratch = buffer.data() + 2 * plane;
            const std::size_t P = FftLinePlan<T>::pitch(lanes);
            runWidest([&] { gather(first, lanes, P, re, im); });
            if (plan.forwardLeavingInScratch(re, im, lanes, scratch)) {
                re = scratch;
                im = scratch + FftLinePlan<T>::planeSize(n, lanes);
            }
            runWidest([&] { scatter(first, lanes, P, re, im); });
        }
    });
}

}  // namespace

template <class T>
void transformComplexLines(const FftLinePlan<T>& plan, const std::complex<T>* in, const FftLineLayout& inLines,
                           std::complex<T>* out, const FftLineLayout& outLines, bool inverse, T scale,
                           CnExecutor* executor, FftBlockShelf<T>* shelf) {
    const T* src = reinterpret_cast<const T*>(in);
    T* dst = reinterpret_cast<T*>(out);
    const std::size_t n = plan.length();
    // Sign changes add zero as well, so that a zero imaginary part stays +0 as in
    // the direct sums (x + 0 is x for every other value).
    const T sign = inverse ? T(-1) : T(1);
    const T imagScale = inverse ? -scale : scale;
    auto gather = [&](std::size_t first, std::size_t lanes, std::size_t P, T* re, T* im) {
        std::size_t start[kMaxLanes];
        lineStarts(inLines, first, lanes, start);
        if (adjacentLines(start, lanes)) {
            for (std::size_t k = 0; k < n; ++k) {
                const T* p = src + 2 * (start[0] + k * inLines.stride);
                NVF_LANE_LOOP
                for (std::size_t l = 0; l < lanes; ++l) {
                    re[k * P + l] = p[2 * l];
                    im[k * P + l] = T(0) + sign * p[2 * l + 1];
                }
            }
        } else if (inLines.stride == 1) {
            const T* line[kMaxLanes];
            for (std::size_t l = 0; l < lanes; ++l) line[l] = src + 2 * start[l];
            gatherContiguous<true>(line, lanes, n, P, sign, re, im);
        } else {
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t at = 2 * k * inLines.stride;
                NVF_LANE_LOOP
                for (std::size_t l = 0; l < lanes; ++l) {
                    re[k * P + l] = src[2 * start[l] + at];
                    im[k * P + l] = T(0) + sign * src[2 * start[l] + at + 1];
                }
            }
        }
    };
    auto scatter = [&](std::size_t first, std::size_t lanes, std::size_t P, const T* re, const T* im) {
        std::size_t start[kMaxLanes];
        lineStarts(outLines, first, lanes, start);
        // Without scaling the imaginary parts only change sign (1 or -1), which is
        // the same as multiplying by `sign`: one loop serves both.
        const T rs = scale == T(1) ? T(1) : scale;
        const T is = scale == T(1) ? sign : imagScale;
        if (adjacentLines(start, lanes)) {
            for (std::size_t k = 0; k < n; ++k) {
                T* p = dst + 2 * (start[0] + k * outLines.stride);
                NVF_LANE_LOOP
                for (std::size_t l = 0; l < lanes; ++l) {
                    p[2 * l] = rs * re[k * P + l];
                    p[2 * l + 1] = T(0) + is * im[k * P + l];
                }
            }
        } else if (outLines.stride == 1) {
            T* line[kMaxLanes];
            for (std::size_t l = 0; l < lanes; ++l) line[l] = dst + 2 * start[l];
            scatterContiguous<true>(re, im, line, lanes, n, P, rs, is);
        } else {
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t at = 2 * k * outLines.stride;
                NVF_LANE_LOOP
                for (std::size_t l = 0; l < lanes; ++l) {
                    dst[2 * start[l] + at] = rs * re[k * P + l];
                    dst[2 * start[l] + at + 1] = T(0) + is * im[k * P + l];
                }
            }
        }
    };
    runBlocks(plan, inLines.lines(), executor, shelf, gather, scatter);
}

template <class T>
void transformRealLinesForward(const FftLinePlan<T>& plan, const T* in, const FftLineLayout& inLines,
                               std::complex<T>* out, const FftLineLayout& outLines, T scale, CnExecutor* executor,
                               FftBlockShelf<T>* shelf) {
    T* dst = reinterpret_cast<T*>(out);
    const std::size_t n = inLines.length;
    const std::size_t half = outLines.length;
    if (plan.length() * 2 == n) {
        // Even n: z(k) = x(2k) + i x(2k + 1) through the transform of length h = n/2,
        // then X(j) = E(j) + exp(-2 pi i j/n) O(j) with E(j) = (Z(j) + conj Z(h - j)) / 2
        // and O(j) = (Z(j) - conj Z(h - j)) / 2i, for j = 0 .. h.
        const std::size_t h = plan.length();
        const T* wr = plan.halfShiftRe();
        const T* wi = plan.halfShiftIm();
        auto gather = [&](std::size_t first, std::size_t lanes, std::size_t P, T* re, T* im) {
            std::size_t start[kMaxLanes];
            lineStarts(inLines, first, lanes, start);
            const std::size_t s = inLines.stride;
            if (s == 1) {
                // The pairs x(2k), x(2k + 1) of a contiguous line are laid out as
                // complex values.
                const T* line[kMaxLanes];
                for (std::size_t l = 0; l < lanes; ++l) line[l] = in + start[l];
                gatherContiguous<false>(line, lanes, h, P, T(1), re, im);
                return;
            }
            for (std::size_t k = 0; k < h; ++k) {
                NVF_LANE_LOOP
                for (std::size_t l = 0; l < lanes; ++l) {
                    re[k * P + l] = in[start[l] + 2 * k * s];
                    im[k * P + l] = in[start[l] + (2 * k + 1) * s];
                }
            }
        };
        auto scatter = [&](std::size_t first, std::size_t lanes, std::size_t P, T* re, T* im) {
            std::size_t start[kMaxLanes];
            lineStarts(outLines, first, lanes, start);
            const T halfOne = T(0.5);
            if (outLines.stride == 1) {
                // Contiguous output lines: X(j) and X(h - j) replace Z(j) and Z(h - j)
                // in the block (X(h) goes straight out, X(0) into row 0), then the
                // rows 0 .. h - 1 move out as for the complex transforms.
                T* line[kMaxLanes];
                for (std::size_t l = 0; l < lanes; ++l) line[l] = dst + 2 * start[l];
                for (std::size_t l = 0; l < lanes; ++l) {
                    const T ar = re[l], ai = im[l], br = re[l], bi = -im[l];
                    T xr, xi;
                    separateEven(ar, ai, br, bi, wr[h], wi[h], halfOne, xr, xi);
                    line[l][2 * h] = scale * xr;
                    line[l][2 * h + 1] = scale * xi;
                    separateEven(ar, ai, br, bi, wr[0], wi[0], halfOne, xr, xi);
                    re[l] = xr;
                    im[l] = xi;
                }
                for (std::size_t j = 1; 2 * j <= h; ++j) {
                    const std::size_t b = h - j;
                    T* rj = re + j * P;
                    T* ij = im + j * P;
                    T* rb = re + b * P;
                    T* ib = im + b * P;
                    NVF_LANE_LOOP
                    for (std::size_t l = 0; l < lanes; ++l) {
                        const T zr = rj[l], zi = ij[l], yr = rb[l], yi = ib[l];
                        T xr, xi, ur, ui;
                        separateEven(zr, zi, yr, -yi, wr[j], wi[j], halfOne, xr, xi);
                        separateEven(yr, yi, zr, -zi, wr[b], wi[b], halfOne, ur, ui);
                        rj[l] = xr;
                        ij[l] = xi;
                        rb[l] = ur;
                        ib[l] = ui;
                    }
                }
                scatterContiguous<false>(re, im, line, lanes, h, P, scale, scale);
                return;
            }
            for (std::size_t j = 0; j <= h; ++j) {
                const std::size_t a = j == h ? 0 : j;
                const std::size_t b = j == 0 ? 0 : h - j;
                const std::size_t at = 2 * j * outLines.stride;
                NVF_LANE_LOOP
                for (std::size_t l = 0; l < lanes; ++l) {
                    const T ar = re[a * P + l], ai = im[a * P + l];
                    const T br = re[b * P + l], bi = -im[b * P + l];
                    T xr, xi;
                    separateEven(ar, ai, br, bi, wr[j], wi[j], halfOne, xr, xi);
                    dst[2 * start[l] + at] = scale * xr;
                    dst[2 * start[l] + at + 1] = scale * xi;
                }
            }
        };
        runBlocks(plan, inLines.lines(), executor, shelf, gather, scatter);
        return;
    }
    // Odd n: the complex transform of the real line, its first n/2 + 1 values.
    auto gather = [&](std::size_t first, std::size_t lanes, std::size_t P, T* re, T* im) {
        std::size_t start[kMaxLanes];
        lineStarts(inLines, first, lanes, start);
        for (std::size_t k = 0; k < n; ++k) {
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < lanes; ++l) {
                re[k * P + l] = in[start[l] + k * inLines.stride];
                im[k * P + l] = T(0);
            }
        }
    };
    auto scatter = [&](std::size_t first, std::size_t lanes, std::size_t P, const T* re, const T* im) {
        std::size_t start[kMaxLanes];
        lineStarts(outLines, first, lanes, start);
        for (std::size_t k = 0; k < half; ++k) {
            const std::size_t at = 2 * k * outLines.stride;
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < lanes; ++l) {
                dst[2 * start[l] + at] = scale * re[k * P + l];
                dst[2 * start[l] + at + 1] = scale * im[k * P + l];
            }
        }
    };
    runBlocks(plan, inLines.lines(), executor, shelf, gather, scatter);
}

template <class T>
void transformRealLinesInverse(const FftLinePlan<T>& plan, const std::complex<T>* in, const FftLineLayout& inLines,
                               T* out, const FftLineLayout& outLines, T scale, CnExecutor* executor,
                               FftBlockShelf<T>* shelf) {
    const T* src = reinterpret_cast<const T*>(in);
    const std::size_t n = outLines.length;
    const std::size_t half = inLines.length;
    // The inverse as the conjugate of the forward transform of the conjugate.
    if (plan.length() * 2 == n) {
        // Even n: Z(j) = (X(j) + conj X(h - j)) + i (X(j) - conj X(h - j)) exp(+2 pi i j/n)
        // for j < h = n/2 (with the imaginary parts of X(0) and X(h) left out) is, after
        // the unscaled inverse of length h, n (x(2k) + i x(2k + 1)).
        const std::size_t h = plan.length();
        const T* wr = plan.halfShiftRe();
        const T* wi = plan.halfShiftIm();
        auto gather = [&](std::size_t first, std::size_t lanes, std::size_t P, T* re, T* im) {
            std::size_t start[kMaxLanes];
            lineStarts(inLines, first, lanes, start);
            const std::size_t s = inLines.stride;
            if (s == 1) {
                // Contiguous input lines: X(0) .. X(h - 1) move in as for the complex
                // transforms, then Z(j) and Z(h - j) replace X(j) and X(h - j).
                const T* line[kMaxLanes];
                for (std::size_t l = 0; l < lanes; ++l) line[l] = src + 2 * start[l];
                gatherContiguous<false>(line, lanes, h, P, T(1), re, im);
                for (std::size_t l = 0; l < lanes; ++l) {
                    T zr, zi;
                    joinEven(re[l], T(0), line[l][2 * h], T(0), wr[0], wi[0], zr, zi);
                    re[l] = zr;
                    im[l] = zi;
                }
                for (std::size_t j = 1; 2 * j <= h; ++j) {
                    const std::size_t b = h - j;
                    T* rj = re + j * P;
                    T* ij = im + j * P;
                    T* rb = re + b * P;
                    T* ib = im + b * P;
                    NVF_LANE_LOOP
                    for (std::size_t l = 0; l < lanes; ++l) {
                        const T xr = rj[l], xi = ij[l], yr = rb[l], yi = ib[l];
                        T zr, zi, ur, ui;
                        joinEven(xr, xi, yr, T(0) - yi, wr[j], wi[j], zr, zi);
                        joinEven(yr, yi, xr, T(0) - xi, wr[b], wi[b], ur, ui);
                        rj[l] = zr;
                        ij[l] = zi;
                        rb[l] = ur;
                        ib[l] = ui;
                    }
                }
                return;
            }
            for (std::size_t j = 0; j < h; ++j) {
                const bool edge = j == 0;
                NVF_LANE_LOOP
                for (std::size_t l = 0; l < lanes; ++l) {
                    const T* p = src + 2 * start[l];
                    const T ar = p[2 * j * s], ai = edge ? T(0) : p[2 * j * s + 1];
                    const T br = p[2 * (h - j) * s], bi = edge ? T(0) : T(0) - p[2 * (h - j) * s + 1];
                    T zr, zi;
                    joinEven(ar, ai, br, bi, wr[j], wi[j], zr, zi);
                    re[j * P + l] = zr;
                    im[j * P + l] = zi;
                }
            }
        };
        auto scatter = [&](std::size_t first, std::size_t lanes, std::size_t P, const T* re, const T* im) {
            std::size_t start[kMaxLanes];
            lineStarts(outLines, first, lanes, start);
            const std::size_t s = outLines.stride;
            if (s == 1) {
                // x(2k), x(2k + 1) of a contiguous line are laid out as a complex value;
                // 0 + (-scale) y is 0 - scale y.
                T* line[kMaxLanes];
                for (std::size_t l = 0; l < lanes; ++l) line[l] = out + start[l];
                scatterContiguous<true>(re, im, line, lanes, h, P, scale, -scale);
                return;
            }
            for (std::size_t k = 0; k < h; ++k) {
                NVF_LANE_LOOP
                for (std::size_t l = 0; l < lanes; ++l) {
                    out[start[l] + 2 * k * s] = scale * re[k * P + l];
                    out[start[l] + (2 * k + 1) * s] = T(0) - scale * im[k * P + l];
                }
            }
        };
        runBlocks(plan, inLines.lines(), executor, shelf, gather, scatter);
        return;
    }
    // Odd n: the conjugate-symmetric extension through the complex transform; only
    // the real part is kept, so the final conjugation is left out.
    auto gather = [&](std::size_t first, std::size_t lanes, std::size_t P, T* re, T* im) {
        std::size_t start[kMaxLanes];
        lineStarts(inLines, first, lanes, start);
        for (std::size_t k = 0; k < n; ++k) {
            const bool given = k < half;
            const std::size_t at = 2 * (given ? k : n - k) * inLines.stride;
            const T sign = given ? T(-1) : T(1);
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < lanes; ++l) {
                re[k * P + l] = src[2 * start[l] + at];
                im[k * P + l] = T(0) + sign * src[2 * start[l] + at + 1];
            }
        }
    };
    auto scatter = [&](std::size_t first, std::size_t lanes, std::size_t P, const T* re, const T*) {
        std::size_t start[kMaxLanes];
        lineStarts(outLines, first, lanes, start);
        for (std::size_t k = 0; k < n; ++k) {
            NVF_LANE_LOOP
            for (std::size_t l = 0; l < lanes; ++l) {
                out[start[l] + k * outLines.stride] = scale * re[k * P + l];
            }
        }
    };
    runBlocks(plan, inLines.lines(), executor, shelf, gather, scatter);
}

template void transformComplexLines<float>(const FftLinePlan<float>&, const std::complex<float>*,
                                           const FftLineLayout&, std::complex<float>*, const FftLineLayout&, bool,
                                           float, CnExecutor*, FftBlockShelf<float>*);
template void transformRealLinesForward<float>(const FftLinePlan<float>&, const float*, const FftLineLayout&,
                                               std::complex<float>*, const FftLineLayout&, float, CnExecutor*,
                                               FftBlockShelf<float>*);
template void transformRealLinesInverse<float>(const FftLinePlan<float>&, const std::complex<float>*,
                                               const FftLineLayout&, float*, const FftLineLayout&, float,
                                               CnExecutor*, FftBlockShelf<float>*);
template void transformComplexLines<double>(const FftLinePlan<double>&, const std::complex<double>*,
                                           const FftLineLayout&, std::complex<double>*, const FftLineLayout&, bool,
                                           double, CnExecutor*, FftBlockShelf<double>*);
template void transformRealLinesForward<double>(const FftLinePlan<double>&, const double*, const FftLineLayout&,
                                               std::complex<double>*, const FftLineLayout&, double, CnExecutor*,
                                               FftBlockShelf<double>*);
template void transformRealLinesInverse<double>(const FftLinePlan<double>&, const std::complex<double>*,
                                               const FftLineLayout&, double*, const FftLineLayout&, double,
                                               CnExecutor*, FftBlockShelf<double>*);

}  // namespace com::norvane::filtering::detail
