// The power-of-two engine (see PowerOfTwoFft.h): radix-2 and radix-4 butterflies of
// the decimation in time. The math library's one-vector transform does the same
// butterflies in the same order; this copy batches them so that a pass runs over
// many vectors and spreads over the caller's executor, and must stay in step with it
// (the tests compare the two bit for bit).
#include <nvfiltering/fft/detail/PowerOfTwoFft.h>
#include <nvfiltering/framework/detail/CnMultiVersion.h>
#include <nvfiltering/framework/detail/Parallel.h>
#include <nvfiltering/framework/detail/ScratchShelf.h>

#include <algorithm>
#include <utility>
#include <vector>

#if defined(__GNUC__) && !defined(__clang__)
#define NVF_POW2_VECTOR_LOOP _Pragma("GCC ivdep")
#else
#define NVF_POW2_VECTOR_LOOP
#endif

namespace com::norvane::filtering::detail {

namespace {

// Bytes of one row of a band of interleaved vectors (per array).
constexpr std::ptrdiff_t kBandBytes = 256;
// Values a piece of work on the executor should hold at least.
constexpr std::ptrdiff_t kPieceValues = std::ptrdiff_t(1) << 15;
// Fewest adjacent bands one piece of an interleaved pass holds.
constexpr std::ptrdiff_t kBandsPerPiece = 4;

// One radix-2 butterfly of the decimation in time: (x0, x1) -> (x0 + w x1, x0 - w x1).
// Every transform of this file goes through it, so that the contiguous and the
// interleaved loops give the same numbers.
template <class T>
inline void butterfly(T& ar, T& ai, T& br, T& bi, T wr, T wi) {
    const T tr = wr * br - wi * bi;
    const T ti = wr * bi + wi * br;
    br = ar - tr;
    bi = ai - ti;
    ar = ar + tr;
    ai = ai + ti;
}

// Two radix-2 stages (half-sizes h and 2h) on the four points of one group.
template <class T>
inline void butterflyPair(T& r0, T& i0, T& r1, T& i1, T& r2, T& i2, T& r3, T& i3, T w1r, T w1i, T w2r, T w2i, T w3r,
                          T w3i) {
    butterfly(r0, i0, r1, i1, w1r, w1i);
    butterfly(r2, i2, r3, i3, w1r, w1i);
    butterfly(r0, i0, r2, i2, w2r, w2i);
    butterfly(r1, i1, r3, i3, w3r, w3i);
}

// The first two stages (half-sizes 1 and 2) of a group of four, whose twiddles are
// exactly 1, 1 and -i.
template <class T>
inline void firstStages(T& r0, T& i0, T& r1, T& i1, T& r2, T& i2, T& r3, T& i3) {
    const T a0r = r0 + r1, a0i = i0 + i1, a1r = r0 - r1, a1i = i0 - i1;
    const T a2r = r2 + r3, a2i = i2 + i3, a3r = r2 - r3, a3i = i2 - i3;
    r0 = a0r + a2r;
    i0 = a0i + a2i;
    r2 = a0r - a2r;
    i2 = a0i - a2i;
    r1 = a1r + a3i;
    i1 = a1i - a3r;
    r3 = a1r - a3i;
    i3 = a1i + a3r;
}

// Calls fn(k, r) for every k < n, r the bit-reversed index of k.
template <class Fn>
inline void forEachReversed(int n, Fn&& fn) {
    int j = 0;
    for (int i = 0; i < n - 1; ++i) {
        fn(i, j);
        int k = n >> 1;
        while (k <= j) {
            j -= k;
            k >>= 1;
        }
        j += k;
    }
    fn(n - 1, n - 1);
}

// Forward transform of one contiguous vector (unscaled, exp(-2 pi i jk/n)).
// Given rev (the bit-reversed index of every k < n) and two scratch arrays of n
// values, the vector is gathered in bit-reversed order into the scratch and the
// first stages write it back, instead of exchanging pairs in place.
template <class T>
NVF_ISA_BODY void forwardContiguousBody(T* re, T* im, int n, const T* trigs, const int* rev = nullptr,
                                        T* __restrict sr = nullptr, T* __restrict si = nullptr) {
    const T* cs = trigs;
    const T* sn = trigs + n;
    int h = 1;
    if (rev != nullptr && n >= 4) {
        for (int k = 0; k < n; ++k) {
            sr[k] = re[rev[k]];
            si[k] = im[rev[k]];
        }
        for (int base = 0; base < n; base += 4) {
            T r0 = sr[base], i0 = si[base], r1 = sr[base + 1], i1 = si[base + 1];
            T r2 = sr[base + 2], i2 = si[base + 2], r3 = sr[base + 3], i3 = si[base + 3];
            firstStages(r0, i0, r1, i1, r2, i2, r3, i3);
            re[base] = r0;
            im[base] = i0;
            re[base + 1] = r1;
            im[base + 1] = i1;
            re[base + 2] = r2;
            im[base + 2] = i2;
            re[base + 3] = r3;
            im[base + 3] = i3;
        }
        h = 4;
    } else {
        forEachReversed(n, [&](int k, int r) {
            if (k < r) {
                std::swap(re[k], re[r]);
                std::swap(im[k], im[r]);
            }
        });
        if (n >= 4) {
            for (int base = 0; base < n; base += 4) {
                firstStages(re[base], im[base], re[base + 1], im[base + 1], re[base + 2], im[base + 2], re[base + 3],
                            im[base + 3]);
            }
            h = 4;
        }
    }
    while (h < n) {
        if (4 * h <= n) {
            const T* c1 = cs + (h - 1);
            const T* s1 = sn + (h - 1);
            const T* c2 = cs + (2 * h - 1);
            const T* s2 = sn + (2 * h - 1);
            for (int base = 0; base < n; base += 4 * h) {
                T* r0 = re + base;
                T* i0 = im + base;
                T* r1 = r0 + h;
                T* i1 = i0 + h;
                T* r2 = r1 + h;
                T* i2 = i1 + h;
                T* r3 = r2 + h;
                T* i3 = i2 + h;
                NVF_POW2_VECTOR_LOOP
                for (int j = 0; j < h; ++j) {
                    butterflyPair(r0[j], i0[j], r1[j], i1[j], r2[j], i2[j], r3[j], i3[j], c1[j], s1[j], c2[j], s2[j],
                                  c2[j + h], s2[j + h]);
                }
            }
            h *= 4;
        } else {
            const T* c1 = cs + (h - 1);
            const T* s1 = sn + (h - 1);
            for (int base = 0; base < n; base += 2 * h) {
                T* r0 = re + base;
                T* i0 = im + base;
                T* r1 = r0 + h;
                T* i1 = i0 + h;
                NVF_POW2_VECTOR_LOOP
                for (int j = 0; j < h; ++j) {
                    butterfly(r0[j], i0[j], r1[j], i1[j], c1[j], s1[j]);
                }
            }
            h *= 2;
        }
    }
}

template <class T>
void forwardContiguous(T* re, T* im, int n, const T* trigs, const int* rev = nullptr, T* __restrict sr = nullptr,
                       T* __restrict si = nullptr) {
    runWidest([&] { forwardContiguousBody<T>(re, im, n, trigs, rev, sr, si); });
}

// The butterflies of forwardContiguous on `count` interleaved vectors (element k
// of vector v at v + k * stride), already in bit-reversed order: the same
// butterflies in the same order, the loop over the vectors innermost. The two
// loop nests look alike but differ in what the innermost loop runs over (the
// points of one vector there, the vectors here, which is what vectorises); what
// they share is the butterflies themselves (firstStages, butterfly, butterflyPair).
template <class T>
inline void batchedStages(T* re, T* im, int n, std::ptrdiff_t stride, int count, const T* trigs) {
    const T* cs = trigs;
    const T* sn = trigs + n;
    int h = 1;
    if (n >= 4) {
        for (int base = 0; base < n; base += 4) {
            T* r0 = re + base * stride;
            T* i0 = im + base * stride;
            T* r1 = r0 + stride;
            T* i1 = i0 + stride;
            T* r2 = r1 + stride;
            T* i2 = i1 + stride;
            T* r3 = r2 + stride;
            T* i3 = i2 + stride;
            NVF_POW2_VECTOR_LOOP
            for (int v = 0; v < count; ++v) {
                firstStages(r0[v], i0[v], r1[v], i1[v], r2[v], i2[v], r3[v], i3[v]);
            }
        }
        h = 4;
    }
    while (h < n) {
        if (4 * h <= n) {
            for (int base = 0; base < n; base += 4 * h) {
                for (int j = 0; j < h; ++j) {
                    const T w1r = cs[h - 1 + j], w1i = sn[h - 1 + j];
                    const T w2r = cs[2 * h - 1 + j], w2i = sn[2 * h - 1 + j];
                    const T w3r = cs[3 * h - 1 + j], w3i = sn[3 * h - 1 + j];
                    const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(base + j) * stride;
                    const std::ptrdiff_t d = static_cast<std::ptrdiff_t>(h) * stride;
                    T* r0 = re + o;
                    T* i0 = im + o;
                    T* r1 = r0 + d;
                    T* i1 = i0 + d;
                    T* r2 = r1 + d;
                    T* i2 = i1 + d;
                    T* r3 = r2 + d;
                    T* i3 = i2 + d;
                    NVF_POW2_VECTOR_LOOP
                    for (int v = 0; v < count; ++v) {
                        butterflyPair(r0[v], i0[v], r1[v], i1[v], r2[v], i2[v], r3[v], i3[v], w1r, w1i, w2r, w2i, w3r,
                                      w3i);
                    }
                }
            }
            h *= 4;
        } else {
            for (int base = 0; base < n; base += 2 * h) {
                for (int j = 0; j < h; ++j) {
                    const T wr = cs[h - 1 + j], wi = sn[h - 1 + j];
                    const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(base + j) * stride;
                    T* r0 = re + o;
                    T* i0 = im + o;
                    T* r1 = r0 + static_cast<std::ptrdiff_t>(h) * stride;
                    T* i1 = i0 + static_cast<std::ptrdiff_t>(h) * stride;
                    NVF_POW2_VECTOR_LOOP
                    for (int v = 0; v < count; ++v) {
                        butterfly(r0[v], i0[v], r1[v], i1[v], wr, wi);
                    }
                }
            }
            h *= 2;
        }
    }
}

// The forward transform of interleaved vectors through a compact copy: the vectors are gathered in bit-reversed
// order into sr / si (n rows of `count` adjacent values), transformed there and
// written back. The copy keeps the rows of the working set apart by `count` values
// instead of `stride`, which a power-of-two stride maps onto the same few cache
// sets. With negateIn set, the imaginary parts are negated on the way in; with
// scaleOut, the results are multiplied by (r, -r) on the way out, as the inverse
// transform does.
template <class T>
NVF_ISA_BODY void forwardThroughScratchBody(T* re, T* im, int n, std::ptrdiff_t stride, int count, const T* trigs,
                                            T* __restrict sr, T* __restrict si, bool negateIn, bool scaleOut, T r) {
    const std::ptrdiff_t w = count;
    forEachReversed(n, [&](int k, int rk) {
        const T* srcR = re + rk * stride;
        const T* srcI = im + rk * stride;
        T* dr = sr + k * w;
        T* di = si + k * w;
        if (negateIn) {
            for (std::ptrdiff_t v = 0; v < w; ++v) {
                dr[v] = srcR[v];
                di[v] = -srcI[v];
            }
        } else {
            for (std::ptrdiff_t v = 0; v < w; ++v) {
                dr[v] = srcR[v];
                di[v] = srcI[v];
            }
        }
    });
    batchedStages(sr, si, n, w, count, trigs);
    const T nr = -r;
    for (int k = 0; k < n; ++k) {
        T* dr = re + k * stride;
        T* di = im + k * stride;
        const T* srcR = sr + k * w;
        const T* srcI = si + k * w;
        if (scaleOut) {
            for (std::ptrdiff_t v = 0; v < w; ++v) {
                dr[v] = srcR[v] * r;
                di[v] = srcI[v] * nr;
            }
        } else {
            for (std::ptrdiff_t v = 0; v < w; ++v) {
                dr[v] = srcR[v];
                di[v] = srcI[v];
            }
        }
    }
}

template <class T>
void forwardThroughScratch(T* re, T* im, int n, std::ptrdiff_t stride, int count, const T* trigs, T* __restrict sr,
                           T* __restrict si, bool negateIn, bool scaleOut, T r) {
    runWidest([&] { forwardThroughScratchBody<T>(re, im, n, stride, count, trigs, sr, si, negateIn, scaleOut, r); });
}

}  // namespace

template <class T>
void pow2Contiguous(T* re, T* im, int n, std::ptrdiff_t jump, std::ptrdiff_t count, const T* trigs, Pow2Ends<T> ends,
                    CnExecutor* executor) {
    if (count <= 0) {
        return;
    }
    const std::size_t m = static_cast<std::size_t>(n);
    std::vector<int> reversal(m);
    forEachReversed(n, [&](int k, int r) { reversal[static_cast<std::size_t>(k)] = r; });
    const T nr = -ends.r;
    const std::size_t grain = static_cast<std::size_t>(std::max<std::ptrdiff_t>(1, kPieceValues / n));
    ScratchShelf<SplitScratch<T>> shelf;
    parallelRanges(executor, static_cast<std::size_t>(count), grain, [&](std::size_t begin, std::size_t end) {
        const auto scratch = shelf.borrow([m] { return std::make_unique<SplitScratch<T>>(m); });
        std::vector<T>& scratchRe = scratch->re;
        std::vector<T>& scratchIm = scratch->im;
        for (std::size_t v = begin; v < end; ++v) {
            T* vr = re + static_cast<std::ptrdiff_t>(v) * jump;
            T* vi = im + static_cast<std::ptrdiff_t>(v) * jump;
            if (ends.negateIn) {
                for (std::size_t i = 0; i < m; ++i) {
                    vi[i] = -vi[i];
                }
            }
            forwardContiguous(vr, vi, n, trigs, reversal.data(), scratchRe.data(), scratchIm.data());
            if (ends.scaleOut) {
                for (std::size_t i = 0; i < m; ++i) {
                    vr[i] *= ends.r;
                }
                for (std::size_t i = 0; i < m; ++i) {
                    vi[i] *= nr;
                }
            }
        }
    });
}

template <class T>
void pow2Interleaved(T* re, T* im, int n, std::ptrdiff_t stride, std::ptrdiff_t count, const T* trigs, Pow2Ends<T> ends,
                     CnExecutor* executor) {
    if (count <= 0) {
        return;
    }
    const std::ptrdiff_t full = kBandBytes / static_cast<std::ptrdiff_t>(sizeof(T));
    const std::ptrdiff_t band = std::min(count, full);
    const std::ptrdiff_t bands = (count + band - 1) / band;
    // At least kBandsPerPiece adjacent bands per piece: threads on neighbouring
    // bands of the same rows slow each other down.
    const std::size_t grain = static_cast<std::size_t>(
        std::max<std::ptrdiff_t>(kBandsPerPiece, kPieceValues / (static_cast<std::ptrdiff_t>(n) * band)));
    const std::size_t scratchSize = static_cast<std::size_t>(n) * static_cast<std::size_t>(band);
    ScratchShelf<SplitScratch<T>> shelf;
    parallelRanges(executor, static_cast<std::size_t>(bands), grain, [&](std::size_t begin, std::size_t end) {
        const auto scratch = shelf.borrow([scratchSize] { return std::make_unique<SplitScratch<T>>(scratchSize); });
        std::vector<T>& realScratch = scratch->re;
        std::vector<T>& imagScratch = scratch->im;
        for (std::size_t b = begin; b < end; ++b) {
            const std::ptrdiff_t c = static_cast<std::ptrdiff_t>(b) * band;
            const std::ptrdiff_t w = std::min(band, count - c);
            forwardThroughScratch(re + c, im + c, n, stride, static_cast<int>(w), trigs, realScratch.data(),
                                  imagScratch.data(), ends.negateIn, ends.scaleOut, ends.r);
        }
    });
}

template void pow2Contiguous<float>(float*, float*, int, std::ptrdiff_t, std::ptrdiff_t, const float*, Pow2Ends<float>,
                                    CnExecutor*);
template void pow2Contiguous<double>(double*, double*, int, std::ptrdiff_t, std::ptrdiff_t, const double*,
                                     Pow2Ends<double>, CnExecutor*);
template void pow2Interleaved<float>(float*, float*, int, std::ptrdiff_t, std::ptrdiff_t, const float*, Pow2Ends<float>,
                                     CnExecutor*);
template void pow2Interleaved<double>(double*, double*, int, std::ptrdiff_t, std::ptrdiff_t, const double*,
                                      Pow2Ends<double>, CnExecutor*);

}  // namespace com::norvane::filtering::detail
