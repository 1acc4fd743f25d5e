// The math library's power-of-two FFT: one vector at a time, and the 2-D
// transform as rows then columns; radix-2 and radix-4 butterflies of the
// decimation in time on split arrays.
#include <nvmath/CnFft.h>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include <nvcore/Throwable.h>

namespace com {
namespace norvane {
namespace math {

namespace {

constexpr const char* kClassPath = "java/lang/Throwable";

bool isPowerOfTwo(long long n) { return n > 0 && (n & (n - 1)) == 0; }

void checkLength(int n) {
    if (!isPowerOfTwo(n)) {
        throw Throwable("CnFft: transform length is not a power of two.", kClassPath);
    }
}

// One radix-2 butterfly of the decimation in time: (x0, x1) -> (x0 + w x1, x0 - w x1).
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

// Forward transform of one contiguous vector (unscaled, exp(-2 pi i jk/n)).
// Given rev (the bit-reversed index of every k < n) and two scratch arrays of n
// values, the vector is gathered in bit-reversed order into the scratch and the
// first stages write it back, instead of exchanging pairs in place.
template <class T>
void forwardContiguous(T* re, T* im, int n, const T* trigs) {
    const T* cs = trigs;
    const T* sn = trigs + n;
    int h = 1;
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
                                for (int j = 0; j < h; ++j) {
                    butterfly(r0[j], i0[j], r1[j], i1[j], c1[j], s1[j]);
                }
            }
            h *= 2;
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
void CnFft<T>::Call2dMklFftRoutine(T* re, T* im, int length, int vectorCount, int direction) const {
    checkLength(length);
    checkLength(vectorCount);
    if (direction == 0) {
        return;
    }
    const int n1 = length;
    const int n2 = vectorCount;
    const std::size_t m = static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2);
    std::vector<T> rowTable(3 * static_cast<std::size_t>(n2));
    std::vector<T> columnTable(3 * static_cast<std::size_t>(n1));
    fillTable(rowTable.data(), n2);
    fillTable(columnTable.data(), n1);
    // The inverse negates the imaginary parts first and scales by 1/(n1 n2) at the end.
    const bool inverse = direction < 0;
    if (inverse) {
        negate(im, m);
    }
    for (int row = 0; row < n1; ++row) {
        const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(row) * n2;
        forwardContiguous(re + o, im + o, n2, rowTable.data());
    }
    std::vector<T> columnRe(static_cast<std::size_t>(n1)), columnIm(static_cast<std::size_t>(n1));
    for (int column = 0; column < n2; ++column) {
        for (int row = 0; row < n1; ++row) {
            columnRe[static_cast<std::size_t>(row)] = re[static_cast<std::ptrdiff_t>(row) * n2 + column];
            columnIm[static_cast<std::size_t>(row)] = im[static_cast<std::ptrdiff_t>(row) * n2 + column];
        }
        forwardContiguous(columnRe.data(), columnIm.data(), n1, columnTable.data());
        for (int row = 0; row < n1; ++row) {
            re[static_cast<std::ptrdiff_t>(row) * n2 + column] = columnRe[static_cast<std::size_t>(row)];
            im[static_cast<std::ptrdiff_t>(row) * n2 + column] = columnIm[static_cast<std::size_t>(row)];
        }
    }
    if (inverse) {
        scaleInverse(re, im, m, static_cast<T>(1.0 / (static_cast<double>(n1) * static_cast<double>(n2))));
    }
}

template class CnFft<float>;
template class CnFft<double>;

}  // namespace math
}  // namespace norvane
}  // namespace com
