#include <nvmath/CnFft.h>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include <nvcore/Throwable.h>

namespace com {
namespace norvane {
namespace math {

#if defined(__GNUC__) && !defined(__clang__)
#define NVM_VECTOR_LOOP _Pragma("GCC ivdep")
#else
#define NVM_VECTOR_LOOP
#endif

// The transform loops are compiled twice, for plain x86-64 and for AVX2, and the
// loader picks the one the processor runs. Neither enables fused multiply-add,
// so both give the same numbers.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define NVM_SIMD_CLONES __attribute__((target_clones("avx2", "default"), flatten))
#else
#define NVM_SIMD_CLONES
#endif

namespace {

constexpr const char* kClassPath = "java/lang/Throwable";

// Bytes of one row of a band of the batched transforms (per array).
constexpr int kScratchBandBytes = 256;

bool isPowerOfTwo(long long n) { return n > 0 && (n & (n - 1)) == 0; }

void checkLength(int n) {
    if (!isPowerOfTwo(n)) {
        throw Throwable("CnFft: transform length is not a power of two.", kClassPath);
    }
}

// One radix-2 butterfly of the decimation in time: (x0, x1) -> (x0 + w x1, x0 - w x1).
// Every transform of this file goes through it, so that the contiguous and the
// batched loops give the same numbers.
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
inline void butterflyPair(T& r0, T& i0, T& r1, T& i1, T& r2, T& i2, T& r3, T& i3, T w1r, T w1i, T w2r, T w2i,
                          T w3r, T w3i) {
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

// Calls swap(k, r) for every pair k < r of bit-reversed indices below n.
template <class Fn>
inline void forEachReversedPair(int n, Fn&& swap) {
    int j = 0;
    for (int i = 0; i < n - 1; ++i) {
        if (i < j) {
            swap(i, j);
        }
        int k = n >> 1;
        while (k <= j) {
            j -= k;
            k >>= 1;
        }
        j += k;
    }
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
NVM_SIMD_CLONES void forwardContiguous(T* re, T* im, int n, const T* trigs, const int* rev = nullptr,
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
        forEachReversedPair(n, [&](int k, int r) {
            std::swap(re[k], re[r]);
            std::swap(im[k], im[r]);
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
                NVM_VECTOR_LOOP
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
                NVM_VECTOR_LOOP
                for (int j = 0; j < h; ++j) {
                    butterfly(r0[j], i0[j], r1[j], i1[j], c1[j], s1[j]);
                }
            }
            h *= 2;
        }
    }
}

// The same transform on `count` interleaved vectors (element k of vector v at
// v + k * stride): the same butterflies in the same order, the loop over the
// vectors innermost.
template <class T>
inline void batchedStages(T* re, T* im, int n, std::ptrdiff_t stride, int count, const T* trigs);

template <class T>
NVM_SIMD_CLONES void forwardBatched(T* re, T* im, int n, std::ptrdiff_t stride, int count, const T* trigs) {
    forEachReversedPair(n, [&](int k, int r) {
        T* ra = re + k * stride;
        T* rb = re + r * stride;
        T* ia = im + k * stride;
        T* ib = im + r * stride;
        for (int v = 0; v < count; ++v) {
            std::swap(ra[v], rb[v]);
            std::swap(ia[v], ib[v]);
        }
    });
    batchedStages(re, im, n, stride, count, trigs);
}

// The butterflies of forwardBatched, on data already in bit-reversed order.
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
            NVM_VECTOR_LOOP
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
                    NVM_VECTOR_LOOP
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
                    NVM_VECTOR_LOOP
                    for (int v = 0; v < count; ++v) {
                        butterfly(r0[v], i0[v], r1[v], i1[v], wr, wi);
                    }
                }
            }
            h *= 2;
        }
    }
}

// forwardBatched through a compact copy: the vectors are gathered in bit-reversed
// order into sr / si (n rows of `count` adjacent values), transformed there and
// written back. The copy keeps the rows of the working set apart by `count` values
// instead of `stride`, which a power-of-two stride maps onto the same few cache
// sets. With negateIn set, the imaginary parts are negated on the way in; with
// scaleOut, the results are multiplied by (r, -r) on the way out, as the inverse
// transform does.
template <class T>
NVM_SIMD_CLONES void forwardThroughScratch(T* re, T* im, int n, std::ptrdiff_t stride, int count, const T* trigs,
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
void negate(T* x, std::size_t m) {
    for (std::size_t i = 0; i < m; ++i) {
        x[i] = -x[i];
    }
}

// The inverse is the conjugate of the forward transform of the conjugate, scaled:
// the imaginary parts are negated before, and multiplied by -1/n after.
template <class T>
void scaleInverse(T* re, T* im, std::size_t m, T r) {
    const T nr = -r;
    for (std::size_t i = 0; i < m; ++i) {
        re[i] *= r;
        im[i] *= nr;
    }
}

template <class T>
void fillTable(T* trigs, int n) {
    for (int i = 0; i < 3 * n; ++i) {
        trigs[i] = T(0);
    }
    const double pi = 2.0 * std::asin(1.0);
    for (int h = 1; h < n; h *= 2) {
        for (int j = 0; j < h; ++j) {
            const double angle = -pi * static_cast<double>(j) / static_cast<double>(h);
            trigs[h - 1 + j] = static_cast<T>(std::cos(angle));
            trigs[n + h - 1 + j] = static_cast<T>(std::sin(angle));
        }
    }
}

}  // namespace

template <class T>
CnFft<T>::CnFft() = default;

template <class T>
CnFft<T>::~CnFft() = default;

template <class T>
void CnFft<T>::Call1dMklFftRoutine(T* re, T* im, int n, int direction, T* trigs) const {
    checkLength(n);
    if (direction == 0) {
        fillTable(trigs, n);
        return;
    }
    const std::size_t m = static_cast<std::size_t>(n);
    if (direction < 0) {
        negate(im, m);
    }
    forwardContiguous(re, im, n, trigs);
    if (direction < 0) {
        scaleInverse(re, im, m, T(1) / static_cast<T>(n));
    }
}

template <class T>
void CnFft<T>::CallContiguousBatchFftRoutine(T* re, T* im, int n, std::ptrdiff_t jump, int count, int direction,
                                             const T* trigs) const {
    checkLength(n);
    if (count <= 0 || direction == 0) {
        return;
    }
    const std::size_t m = static_cast<std::size_t>(n);
    std::vector<int> reversal(m);
    forEachReversed(n, [&](int k, int r) { reversal[static_cast<std::size_t>(k)] = r; });
    std::vector<T> scratchRe(m), scratchIm(m);
    const T r = T(1) / static_cast<T>(n);
    for (int v = 0; v < count; ++v) {
        T* vr = re + static_cast<std::ptrdiff_t>(v) * jump;
        T* vi = im + static_cast<std::ptrdiff_t>(v) * jump;
        if (direction < 0) {
            negate(vi, m);
        }
        forwardContiguous(vr, vi, n, trigs, reversal.data(), scratchRe.data(), scratchIm.data());
        if (direction < 0) {
            scaleInverse(vr, vi, m, r);
        }
    }
}

template <class T>
void CnFft<T>::CallBatchedFftRoutine(T* re, T* im, int n, std::ptrdiff_t stride, int count, int direction,
                                     const T* trigs) const {
    checkLength(n);
    if (count <= 0 || direction == 0) {
        return;
    }
    const bool inverse = direction < 0;
    const T r = inverse ? T(1) / static_cast<T>(n) : T(1);
    const std::size_t rows = static_cast<std::size_t>(n);
    const int full = kScratchBandBytes / static_cast<int>(sizeof(T));
    const int band = count < full ? count : full;
    std::vector<T> realScratch(rows * static_cast<std::size_t>(band));
    std::vector<T> imagScratch(rows * static_cast<std::size_t>(band));
    for (int c = 0; c < count; c += band) {
        const int w = count - c < band ? count - c : band;
        forwardThroughScratch(re + c, im + c, n, stride, w, trigs, realScratch.data(), imagScratch.data(), inverse,
                              inverse, r);
    }
}

template <class T>
void CnFft<T>::Call2dMklFftRoutine(T* re, T* im, int length, int vectorCount, int direction) const {
    checkLength(length);
    checkLength(vectorCount);
    if (direction == 0) {
        return;
    }
    const int n1 = length;
    const int n2 = vectorCount;
    std::vector<T> rowTable(3 * static_cast<std::size_t>(n2));
    std::vector<T> columnTable(3 * static_cast<std::size_t>(n1));
    fillTable(rowTable.data(), n2);
    fillTable(columnTable.data(), n1);
    const bool inverse = direction < 0;
    // The inverse negates the imaginary parts first (here row by row, just before
    // each row is transformed) and scales at the end (here as the columns are
    // written back): the same operations on every value as whole-array passes.
    std::vector<int> rowReversal(static_cast<std::size_t>(n2));
    forEachReversed(n2, [&](int k, int r) { rowReversal[static_cast<std::size_t>(k)] = r; });
    std::vector<T> rowRe(static_cast<std::size_t>(n2)), rowIm(static_cast<std::size_t>(n2));
    for (int row = 0; row < n1; ++row) {
        const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(row) * n2;
        if (inverse) {
            negate(im + o, static_cast<std::size_t>(n2));
        }
        forwardContiguous(re + o, im + o, n2, rowTable.data(), rowReversal.data(), rowRe.data(), rowIm.data());
    }
    // Columns in bands of adjacent columns, each band through a compact copy.
    const T r = inverse ? static_cast<T>(1.0 / (static_cast<double>(n1) * static_cast<double>(n2))) : T(1);
    const int full = kScratchBandBytes / static_cast<int>(sizeof(T));
    const int band = n2 < full ? n2 : full;
    std::vector<T> realScratch(static_cast<std::size_t>(n1) * static_cast<std::size_t>(band));
    std::vector<T> imagScratch(static_cast<std::size_t>(n1) * static_cast<std::size_t>(band));
    for (int c = 0; c < n2; c += band) {
        const int w = n2 - c < band ? n2 - c : band;
        forwardThroughScratch(re + c, im + c, n1, n2, w, columnTable.data(), realScratch.data(), imagScratch.data(),
                              false, inverse, r);
    }
}

template class CnFft<float>;
template class CnFft<double>;

}  // namespace math
}  // namespace norvane
}  // namespace com
