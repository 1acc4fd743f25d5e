// Reference transforms and helpers shared by the FFT tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/fft/Cn3dFftFilter.h>
#include <nvfiltering/fft/detail/FftPasses.h>
#include <nvfiltering/fft/detail/Gpfa.h>
#include <nvfiltering/fft/detail/GpfaDrivers.h>

#include "support/TestImages.h"

namespace fft_test {

using com::norvane::filtering::Cn1dFftFilter;
using com::norvane::filtering::Cn2dFftFilter;
using com::norvane::filtering::Cn3dFftFilter;
namespace detail = com::norvane::filtering::detail;

// Every length 2^p 3^q 5^r from 1 to `limit`, ascending.
inline std::vector<int> legalLengths(int limit) {
    std::vector<int> out;
    for (int n = 1; n <= limit; ++n) {
        int m = n;
        for (int d : {2, 3, 5}) {
            while (m % d == 0) {
                m /= d;
            }
        }
        if (m == 1) {
            out.push_back(n);
        }
    }
    return out;
}

inline double log2Of(int n) { return n > 1 ? std::log2(static_cast<double>(n)) : 1.0; }

// Direct DFT in long double along one axis of a complex array: `count` vectors,
// vector v at offset + v * vjump, element k at k * djump. direction +1: exp(-2 pi i jk/n),
// unscaled; -1: exp(+2 pi i jk/n) times 1/n.
inline void directDft(std::vector<long double>& re, std::vector<long double>& im, int n, int count, long vjump,
                      long djump, int direction, long offset = 0) {
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<long double> c(static_cast<std::size_t>(n)), s(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        c[k] = std::cos(2.0L * pi * k / n);
        s[k] = std::sin(2.0L * pi * k / n);
    }
    std::vector<long double> outRe(static_cast<std::size_t>(n)), outIm(static_cast<std::size_t>(n));
    for (int v = 0; v < count; ++v) {
        const long base = offset + v * vjump;
        for (int j = 0; j < n; ++j) {
            long double sr = 0.0L, si = 0.0L;
            for (int k = 0; k < n; ++k) {
                const int idx = static_cast<int>((static_cast<long>(j) * k) % n);
                const long double wr = c[idx];
                const long double wi = direction > 0 ? -s[idx] : s[idx];
                const long double xr = re[base + k * djump], xi = im[base + k * djump];
                sr += xr * wr - xi * wi;
                si += xr * wi + xi * wr;
            }
            if (direction < 0) {
                sr /= n;
                si /= n;
            }
            outRe[j] = sr;
            outIm[j] = si;
        }
        for (int j = 0; j < n; ++j) {
            re[base + j * djump] = outRe[j];
            im[base + j * djump] = outIm[j];
        }
    }
}

// Transform inputs: reals uniform in [-1, 1), so that the tolerances can be absolute.
template <class T>
std::vector<T> randomValues(std::size_t m, unsigned seed) {
    return nvftest::randomArray<T>(m, seed, -1.0, 1.0);
}

template <class T>
std::vector<long double> widen(const std::vector<T>& x) {
    return std::vector<long double>(x.begin(), x.end());
}

// sqrt(sum |got - want|^2 / sum |want|^2).
template <class T>
double relativeRms(const std::vector<T>& gotRe, const std::vector<T>& gotIm, const std::vector<long double>& wantRe,
                   const std::vector<long double>& wantIm) {
    long double err = 0.0L, norm = 0.0L;
    for (std::size_t i = 0; i < wantRe.size(); ++i) {
        const long double dr = gotRe[i] - wantRe[i], di = gotIm[i] - wantIm[i];
        err += dr * dr + di * di;
        norm += wantRe[i] * wantRe[i] + wantIm[i] * wantIm[i];
    }
    return norm > 0.0L ? static_cast<double>(std::sqrt(err / norm)) : static_cast<double>(std::sqrt(err));
}

template <class T>
double tolerance(int n);
template <>
inline double tolerance<float>(int n) {
    return 5e-7 * log2Of(n);
}
template <>
inline double tolerance<double>(int n) {
    return 1e-15 * log2Of(n);
}

// Readable names for the float and double instances of the typed tests.
struct PrecisionNames {
    template <class T>
    static std::string GetName(int) {
        return std::is_same<T, float>::value ? "float" : "double";
    }
};

// Opens the protected parts of the one-dimensional filter to the tests.
template <class T>
class Probe1d : public Cn1dFftFilter<T> {
public:
    using Base = Cn1dFftFilter<T>;
    void setGpfaOnly(bool value) { this->m_gpfaOnly = value; }
    std::int32_t trigsKind() const { return this->m_trigsKind; }
    std::int32_t trigsLength() const { return this->m_trigsLength; }
    const T* trigs() const { return this->m_trigs.empty() ? nullptr : this->m_trigs.data(); }
    std::int32_t length() const { return this->m_length; }
    std::int32_t vectorJump() const { return this->m_vectorJump; }
    std::int32_t dataJump() const { return this->m_dataJump; }
    std::int32_t vectorCount() const { return this->m_vectorCount; }
    bool gpfaOnly() const { return this->m_gpfaOnly; }
    void setFields(const T* realIn, const T* imagIn, T* realOut, T* imagOut, std::int32_t n, std::int32_t count) {
        this->m_realInput = realIn;
        this->m_imagInput = imagIn;
        this->m_realOutput = realOut;
        this->m_imagOutput = imagOut;
        this->m_length = n;
        this->m_vectorCount = count;
    }

    // The GPFA path on the arrays as they are, in place, without the chunked copies.
    void runGpfaDirectly(T* re, T* im, std::int32_t n, std::int32_t count, int dir) {
        runGpfaDirectly(re, im, n, count, 1, n, dir);
    }

    // The same for vectors laid out by the given jumps.
    void runGpfaDirectly(T* re, T* im, std::int32_t n, std::int32_t count, std::int32_t dataJump,
                         std::int32_t vectorJump, int dir) {
        setFields(re, im, re, im, n, count);
        this->m_vectorJump = vectorJump;
        this->m_dataJump = dataJump;
        this->m_direction = dir;
        this->m_gpfaOnly = true;
        this->ComputeTwiddleFactors(n);
        detail::gpfaStrided(re, im, this->m_trigs.data(), n, dataJump, vectorJump, count, dir);
    }
};

// The z-lines of a volume whose slices are transformed: one at a time through a
// transposed copy (the reference), or in the filter's batches.
template <class T>
struct ZLines {
    static void oneByOne(T* re, T* im, int nx, int ny, int nz, int dir) {
        detail::transformZLinesOneByOne(re, im, nx, ny, nz, dir);
    }
    static void batched(T* re, T* im, int nx, int ny, int nz, int dir) {
        detail::FftTables<T> tables;
        const T* table = tables.get(detail::chooseFftEngine(nz, 1, false), nz);
        detail::transformZLines(re, im, nx, ny, nz, dir, table, nullptr);
    }
};

}  // namespace fft_test
