// Helpers of the interleaved complex and real transform tests: random data, a
// long-double direct DFT along one axis of a row-major array, error measures.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/CnRealFftFilter.h>

namespace ifft_test {

namespace nvf = com::norvane::filtering;
using LComplex = std::complex<long double>;

struct PrecisionNames {
    template <class T>
    static std::string GetName(int) {
        return std::is_same<T, float>::value ? "float" : "double";
    }
};

template <class T>
std::vector<std::complex<T>> randomComplex(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<std::complex<T>> out(count);
    for (auto& v : out) v = {static_cast<T>(dist(gen)), static_cast<T>(dist(gen))};
    return out;
}

template <class T>
std::vector<T> randomReal(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<T> out(count);
    for (auto& v : out) v = static_cast<T>(dist(gen));
    return out;
}

template <class T>
std::vector<LComplex> widen(const std::vector<std::complex<T>>& a) {
    std::vector<LComplex> out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = {a[i].real(), a[i].imag()};
    return out;
}

// The direct DFT along `axis` of a row-major array of `shape`, in place:
// sign -1 exp(-2 pi i jk/n), +1 exp(+...), times `scale`.
inline void directDftAxis(std::vector<LComplex>& data, const std::vector<std::size_t>& shape, std::size_t axis,
                          int sign, long double scale) {
    const long double pi = 3.141592653589793238462643383279502884L;
    std::size_t pre = 1, post = 1;
    for (std::size_t d = 0; d < axis; ++d) pre *= shape[d];
    for (std::size_t d = axis + 1; d < shape.size(); ++d) post *= shape[d];
    const std::size_t n = shape[axis];
    std::vector<LComplex> root(n), line(n);
    for (std::size_t k = 0; k < n; ++k) {
        const long double a = 2.0L * pi * static_cast<long double>(k) / static_cast<long double>(n);
        root[k] = {std::cos(a), sign * std::sin(a)};
    }
    for (std::size_t p = 0; p < pre; ++p) {
        for (std::size_t q = 0; q < post; ++q) {
            const std::size_t base = p * n * post + q;
            for (std::size_t j = 0; j < n; ++j) {
                LComplex s = 0;
                for (std::size_t k = 0; k < n; ++k) s += data[base + k * post] * root[(j * k) % n];
                line[j] = s * scale;
            }
            for (std::size_t j = 0; j < n; ++j) data[base + j * post] = line[j];
        }
    }
}

// Relative RMS error of `got` against `want`.
template <class T>
double relativeRms(const std::vector<std::complex<T>>& got, const std::vector<LComplex>& want) {
    long double err = 0, ref = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const LComplex d = LComplex(got[i].real(), got[i].imag()) - want[i];
        err += std::norm(d);
        ref += std::norm(want[i]);
    }
    return ref > 0 ? static_cast<double>(std::sqrt(err / ref)) : static_cast<double>(std::sqrt(err));
}

template <class T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

inline double log2Of(std::size_t n) { return n > 1 ? std::log2(static_cast<double>(n)) : 1.0; }

}  // namespace ifft_test
