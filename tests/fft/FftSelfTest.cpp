// Self-tests of the FFTs that need no reference transform, after Ergün's
// self-testing/correcting programs and the verifier of a widely used FFT library:
// linearity, the transform of an impulse, and the time-shift theorem, with random
// data, in 1-D (lengths up to 10^5), 2-D and 3-D, both engines, float and double,
// with and without an executor; plus accuracy against a long-double DFT.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <random>
#include <type_traits>
#include <vector>

#include <nvfiltering/framework/CnThreadPoolExecutor.h>

#include "FftTestSupport.h"

using namespace fft_test;
using com::norvane::filtering::CnExecutor;
using com::norvane::filtering::CnThreadPoolExecutor;

namespace {

using C = std::complex<double>;

template <class T>
class FftSelfTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FftSelfTest, Precisions, PrecisionNames);

// A shape in memory order, slowest axis first: {n} in 1-D, {n1, n2} in 2-D
// (n1 rows of n2), {nz, ny, nx} in 3-D. Unused axes are 1.
struct Shape {
    int dims;
    std::array<int, 3> n;
    std::size_t size() const { return static_cast<std::size_t>(n[0]) * n[1] * n[2]; }
};

// The forward (dir +1) or inverse transform of x with the filter of the shape's rank.
template <class T>
std::vector<C> transform(const Shape& s, const std::vector<C>& x, bool gpfaOnly, CnExecutor* executor, int dir = 1) {
    const std::size_t m = s.size();
    std::vector<T> re(m), im(m);
    for (std::size_t i = 0; i < m; ++i) {
        re[i] = static_cast<T>(x[i].real());
        im[i] = static_cast<T>(x[i].imag());
    }
    if (s.dims == 1) {
        Probe1d<T> f;
        f.setGpfaOnly(gpfaOnly);
        f.setExecutor(executor);
        f.executeWith(re.data(), im.data(), re.data(), im.data(), s.n[0], 1, dir);
    } else if (s.dims == 2) {
        Cn2dFftFilter<T> f;
        f.setExecutor(executor);
        f.executeWith(re.data(), im.data(), re.data(), im.data(), s.n[0], s.n[1], dir);
    } else {
        Cn3dFftFilter<T> f;
        f.setExecutor(executor);
        f.executeWith(re.data(), im.data(), re.data(), im.data(), s.n[2], s.n[1], s.n[0], dir);
    }
    std::vector<C> out(m);
    for (std::size_t i = 0; i < m; ++i) {
        out[i] = {static_cast<double>(re[i]), static_cast<double>(im[i])};
    }
    return out;
}

// exp(-2 pi i sum_a j_a p_a / n_a) for the flat index j and the multi-index p.
C phase(const Shape& s, std::size_t j, const std::array<int, 3>& p) {
    double turns = 0.0;
    for (int a = 2; a >= 0; --a) {
        const long ja = static_cast<long>(j % static_cast<std::size_t>(s.n[a]));
        j /= static_cast<std::size_t>(s.n[a]);
        turns += static_cast<double>((ja * p[a]) % s.n[a]) / s.n[a];
    }
    return std::polar(1.0, -2.0 * 3.14159265358979323846 * turns);
}

double maxDiff(const std::vector<C>& a, const std::vector<C>& b) {
    double d = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        d = std::max(d, std::abs(a[i] - b[i]));
    }
    return d;
}

// Linearity, impulse, time shift and the round trip on one shape; returns the
// first failure as text, or an empty string.
template <class T>
std::string selfTest(const Shape& s, bool gpfaOnly, CnExecutor* executor, std::mt19937& gen) {
    const std::size_t m = s.size();
    const double eps = std::is_same<T, float>::value ? 1e-6 : 1e-14;
    const double logN = m > 1 ? std::log2(static_cast<double>(m)) : 1.0;
    const double tol = eps * 8.0 * std::sqrt(static_cast<double>(m)) * logN;
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<C> x(m), y(m), comb(m);
    const C alpha(u(gen), u(gen));
    for (std::size_t i = 0; i < m; ++i) {
        x[i] = {u(gen), u(gen)};
        y[i] = {u(gen), u(gen)};
        comb[i] = alpha * x[i] + y[i];
    }
    const std::vector<C> fx = transform<T>(s, x, gpfaOnly, executor);
    const std::vector<C> fy = transform<T>(s, y, gpfaOnly, executor);
    std::vector<C> expect(m);
    for (std::size_t i = 0; i < m; ++i) {
        expect[i] = alpha * fx[i] + fy[i];
    }
    if (maxDiff(transform<T>(s, comb, gpfaOnly, executor), expect) > tol) {
        return "linearity";
    }

    std::array<int, 3> p{};
    std::size_t at = 0;
    for (int a = 0; a < 3; ++a) {
        p[a] = std::uniform_int_distribution<int>(0, s.n[a] - 1)(gen);
        at = at * static_cast<std::size_t>(s.n[a]) + static_cast<std::size_t>(p[a]);
    }
    std::vector<C> impulse(m);
    impulse[at] = 1.0;
    const std::vector<C> fi = transform<T>(s, impulse, gpfaOnly, executor);
    for (std::size_t j = 0; j < m; ++j) {
        expect[j] = phase(s, j, p);
    }
    if (maxDiff(fi, expect) > eps * 8.0 * logN) {
        return "impulse";
    }

    // circular shift by d along every axis multiplies X(j) by the phase of d
    std::array<int, 3> d{};
    for (int a = 0; a < 3; ++a) {
        d[a] = std::uniform_int_distribution<int>(0, s.n[a] - 1)(gen);
    }
    std::vector<C> shifted(m);
    for (std::size_t i = 0; i < m; ++i) {
        std::size_t rest = i, target = 0, scale = 1;
        for (int a = 2; a >= 0; --a) {
            const std::size_t na = static_cast<std::size_t>(s.n[a]);
            target += ((rest % na + static_cast<std::size_t>(d[a])) % na) * scale;
            rest /= na;
            scale *= na;
        }
        shifted[target] = x[i];
    }
    for (std::size_t j = 0; j < m; ++j) {
        expect[j] = fx[j] * phase(s, j, d);
    }
    if (maxDiff(transform<T>(s, shifted, gpfaOnly, executor), expect) > tol) {
        return "time shift";
    }
    if (maxDiff(transform<T>(s, fx, gpfaOnly, executor, -1), x) > tol / std::sqrt(static_cast<double>(m))) {
        return "round trip";
    }
    return "";
}

bool isPowerOfTwo(int n) { return (n & (n - 1)) == 0; }

TYPED_TEST(FftSelfTest, OneDimensionalLargeLengthsBothEnginesWithAndWithoutExecutor) {
    using T = TypeParam;
    // Every legal length up to 4096 is covered by Fft1dTest; here a sample above it.
    std::mt19937 gen(17);
    CnThreadPoolExecutor executor(2);
    std::vector<int> lengths = {4320, 6561, 8192, 15625, 32768, 59049, 65536, 78125, 97200, 100000};
    const std::vector<int> legal = legalLengths(100000);
    std::uniform_int_distribution<std::size_t> pick(0, legal.size() - 1);
    while (lengths.size() < 16) {
        const int n = legal[pick(gen)];
        if (n > 4096) {
            lengths.push_back(n);
        }
    }
    int run = 0;
    for (int n : lengths) {
        for (bool gpfaOnly : {false, true}) {
            if (gpfaOnly && !isPowerOfTwo(n)) {
                continue;
            }
            CnExecutor* ex = (run++ % 2 == 0) ? &executor : nullptr;
            const std::string failure = selfTest<T>(Shape{1, {n, 1, 1}}, gpfaOnly, ex, gen);
            ASSERT_EQ(failure, "") << "n " << n << " gpfaOnly " << gpfaOnly << " executor " << (ex != nullptr);
        }
    }
}

TYPED_TEST(FftSelfTest, TwoDimensionalShapesOnBothEngines) {
    using T = TypeParam;
    std::mt19937 gen(23);
    CnThreadPoolExecutor executor(3);
    const int sizes[] = {1, 2, 3, 4, 5, 6, 8, 9, 12, 15, 16, 25, 27, 32, 45, 64, 75, 128};
    int run = 0;
    for (int n1 : sizes) {
        for (int n2 : sizes) {
            CnExecutor* ex = (run++ % 2 == 0) ? &executor : nullptr;
            const std::string failure = selfTest<T>(Shape{2, {n1, n2, 1}}, false, ex, gen);
            ASSERT_EQ(failure, "") << n1 << "x" << n2 << " executor " << (ex != nullptr);
        }
    }
}

TYPED_TEST(FftSelfTest, ThreeDimensionalShapesOnBothEngines) {
    using T = TypeParam;
    std::mt19937 gen(29);
    CnThreadPoolExecutor executor(2);
    const int sizes[] = {1, 2, 3, 4, 5, 8, 9, 15, 16, 25, 32};
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(sizes)) - 1);
    std::vector<std::array<int, 3>> shapes = {{1, 1, 1}, {32, 32, 32}, {25, 9, 15}, {1, 45, 3}, {16, 1, 8}};
    while (shapes.size() < 80) {
        shapes.push_back({sizes[pick(gen)], sizes[pick(gen)], sizes[pick(gen)]});
    }
    int run = 0;
    for (const auto& n : shapes) {
        CnExecutor* ex = (run++ % 2 == 0) ? &executor : nullptr;
        const std::string failure = selfTest<T>(Shape{3, n}, false, ex, gen);
        ASSERT_EQ(failure, "") << n[2] << "x" << n[1] << "x" << n[0] << " executor " << (ex != nullptr);
    }
}

TYPED_TEST(FftSelfTest, SampleOfLengthsMatchesLongDoubleDft) {
    using T = TypeParam;
    int run = 0;
    for (int n : {5, 81, 625, 1536, 2187, 2048}) {
        for (bool gpfaOnly : {false, true}) {
            if (gpfaOnly && !isPowerOfTwo(n)) {
                continue;
            }
            {
                const int dir = (run++ % 2 == 0) ? 1 : -1;
                const std::vector<T> re = randomValues<T>(n, static_cast<unsigned>(n)),
                                     im = randomValues<T>(n, static_cast<unsigned>(n + 1));
                std::vector<T> a = re, b = im;
                Probe1d<T> f;
                f.setGpfaOnly(gpfaOnly);
                f.executeWith(a.data(), b.data(), a.data(), b.data(), n, 1, dir);
                std::vector<long double> wr = widen(re), wi = widen(im);
                directDft(wr, wi, n, 1, n, 1, dir);
                EXPECT_LT(relativeRms(a, b, wr, wi), tolerance<T>(n)) << n << " gpfaOnly " << gpfaOnly << " " << dir;
            }
        }
    }
}

}  // namespace
