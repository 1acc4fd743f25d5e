// The interleaved complex and real transforms against a long-double direct DFT,
// against the properties every DFT has (linearity, impulse, time shift, Parseval,
// inverse of forward), on every length 1..64, primes, products with large primes
// and large powers of two; several axes, explicit strides, the normalisations,
// the executor (bit for bit) and in place against out of place (bit for bit).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <vector>

#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/CnRealFftFilter.h>
#include <nvfiltering/fft/detail/FftLinePlan.h>

#include "InterleavedFftSupport.h"
#include "support/TestExecutors.h"

using namespace ifft_test;
namespace detail = com::norvane::filtering::detail;

namespace {

template <class T>
class InterleavedFftTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(InterleavedFftTest, Precisions, PrecisionNames);

template <class T>
constexpr double kEps = sizeof(T) == 4 ? 1.19e-7 : 2.22e-16;

// The relative RMS bound of a transform of length n (docs/fft.md): eps log2 n on
// the mixed-radix path, 2 eps log2 n on the chirp-z path; per axis for several.
template <class T>
double bound(std::size_t n) {
    const double factor = detail::FftLinePlan<T>::directLength(n) ? 1.0 : 2.0;
    return factor * kEps<T> * log2Of(n);
}

std::vector<std::size_t> accuracyLengths() {
    std::vector<std::size_t> out;
    for (std::size_t n = 1; n <= 64; ++n) out.push_back(n);
    for (std::size_t n : {97, 101, 127, 169, 210, 243, 289, 323, 625, 1001, 1009, 2018, 3 * 1009, 4096, 4099}) {
        out.push_back(n);
    }
    return out;
}

template <class T>
using CVec = std::vector<std::complex<T>>;

TYPED_TEST(InterleavedFftTest, MatchesLongDoubleDftOnEveryLengthBothDirections) {
    using T = TypeParam;
    nvf::CnComplexFftFilter<T> filter;
    for (std::size_t n : accuracyLengths()) {
        const std::size_t count = n < 64 ? 3 : 1;
        const CVec<T> x = randomComplex<T>(n * count, static_cast<unsigned>(n));
        for (int direction : {1, -1}) {
            CVec<T> y(x.size());
            filter.execute1d(x.data(), y.data(), n, count, direction);
            std::vector<LComplex> want = widen(x);
            directDftAxis(want, {count, n}, 1, -direction, direction == 1 ? 1.0L : 1.0L / n);
            EXPECT_LT(relativeRms(y, want), bound<T>(n)) << "n " << n << " direction " << direction;
        }
    }
}

// Large lengths: a sample of output values against direct sums.
TYPED_TEST(InterleavedFftTest, LargeLengthsMatchDirectSumsAtSampledFrequencies) {
    using T = TypeParam;
    const long double pi = 3.141592653589793238462643383279502884L;
    nvf::CnComplexFftFilter<T> filter;
    for (std::size_t n : {std::size_t{1} << 16, std::size_t{1} << 17, std::size_t{65537}, std::size_t{2 * 32771},
                          std::size_t{3 * 5 * 7 * 11 * 13 * 4}}) {
        const CVec<T> x = randomComplex<T>(n, 11);
        CVec<T> y(n);
        filter.execute1d(x.data(), y.data(), n, 1, 1);
        long double err = 0, ref = 0;
        for (std::size_t j : {std::size_t{0}, std::size_t{1}, n / 3, n / 2, n - 1, std::size_t{12345} % n}) {
            LComplex s = 0;
            for (std::size_t k = 0; k < n; ++k) {
                const long double a = -2.0L * pi * static_cast<long double>((j * k) % n) / n;
                s += LComplex(x[k].real(), x[k].imag()) * LComplex(std::cos(a), std::sin(a));
            }
            err += std::norm(LComplex(y[j].real(), y[j].imag()) - s);
            ref += std::norm(s);
        }
        EXPECT_LT(std::sqrt(static_cast<double>(err / ref)), 2 * bound<T>(n)) << "n " << n;
    }
}

// Properties of the DFT, on random data: one row per property.
TYPED_TEST(InterleavedFftTest, SelfTestsLinearityImpulseShiftParsevalRoundTrip) {
    using T = TypeParam;
    nvf::CnComplexFftFilter<T> filter;
    auto fwd = [&](const CVec<T>& x) {
        CVec<T> y(x.size());
        filter.execute1d(x.data(), y.data(), x.size(), 1, 1);
        return y;
    };
    auto close = [](const CVec<T>& a, const CVec<T>& b, double tol) {
        long double err = 0, ref = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            err += std::norm(LComplex(a[i].real() - b[i].real(), a[i].imag() - b[i].imag()));
            ref += std::norm(LComplex(b[i].real(), b[i].imag()));
        }
        return std::sqrt(static_cast<double>(err / std::max(ref, 1e-30L))) < tol;
    };
    const long double pi = 3.141592653589793238462643383279502884L;
    for (std::size_t n : {1, 2, 3, 7, 12, 17, 60, 97, 128, 210, 1009, 2310}) {
        const double tol = 4 * bound<T>(n);
        const CVec<T> x = randomComplex<T>(n, 1), z = randomComplex<T>(n, 2);
        const std::complex<T> a(T(0.75), T(-0.5));
        // Linearity.
        CVec<T> sum(n);
        for (std::size_t k = 0; k < n; ++k) sum[k] = a * x[k] + z[k];
        const CVec<T> fx = fwd(x), fz = fwd(z), fs = fwd(sum);
        CVec<T> combined(n);
        for (std::size_t k = 0; k < n; ++k) combined[k] = a * fx[k] + fz[k];
        EXPECT_TRUE(close(fs, combined, tol)) << "linearity n " << n;
        // Impulse at m: exp(-2 pi i jm/n).
        const std::size_t m = (7 * n) / 11;
        CVec<T> impulse(n);
        impulse[m] = 1;
        CVec<T> wave(n);
        for (std::size_t j = 0; j < n; ++j) {
            const long double ang = -2.0L * pi * static_cast<long double>((j * m) % n) / n;
            wave[j] = {static_cast<T>(std::cos(ang)), static_cast<T>(std::sin(ang))};
        }
        EXPECT_TRUE(close(fwd(impulse), wave, tol)) << "impulse n " << n;
        // Shift by s: X(j) exp(-2 pi i js/n).
        const std::size_t s = n / 3 + 1;
        CVec<T> shifted(n), rotated(n);
        for (std::size_t k = 0; k < n; ++k) shifted[(k + s) % n] = x[k];
        for (std::size_t j = 0; j < n; ++j) {
            const long double ang = -2.0L * pi * static_cast<long double>((j * s) % n) / n;
            rotated[j] = fx[j] * std::complex<T>(static_cast<T>(std::cos(ang)), static_cast<T>(std::sin(ang)));
        }
        EXPECT_TRUE(close(fwd(shifted), rotated, tol)) << "shift n " << n;
        // Parseval: sum |X|^2 = n sum |x|^2.
        long double ex = 0, ey = 0;
        for (std::size_t k = 0; k < n; ++k) {
            ex += std::norm(LComplex(x[k].real(), x[k].imag()));
            ey += std::norm(LComplex(fx[k].real(), fx[k].imag()));
        }
        EXPECT_NEAR(static_cast<double>(ey / (n * ex)), 1.0, tol) << "Parseval n " << n;
        // Inverse of forward.
        CVec<T> back(n);
        filter.execute1d(fx.data(), back.data(), n, 1, -1);
        EXPECT_TRUE(close(back, x, tol)) << "round trip n " << n;
    }
}

// Every normalisation scales both directions as documented, and ortho is unitary.
TYPED_TEST(InterleavedFftTest, NormalisationsScaleEachDirection) {
    using T = TypeParam;
    const std::size_t n = 45;
    const CVec<T> x = randomComplex<T>(n, 5);
    struct Row {
        nvf::CnFftNorm norm;
        long double forward, inverse;
    };
    const Row rows[] = {{nvf::CnFftNorm::Backward, 1.0L, 1.0L / n},
                        {nvf::CnFftNorm::Ortho, 1.0L / std::sqrt(45.0L), 1.0L / std::sqrt(45.0L)},
                        {nvf::CnFftNorm::Forward, 1.0L / n, 1.0L}};
    for (const Row& row : rows) {
        nvf::CnComplexFftFilter<T> filter;
        filter.setNormalization(row.norm);
        EXPECT_EQ(filter.getNormalization(), row.norm);
        for (int direction : {1, -1}) {
            CVec<T> y(n);
            filter.execute1d(x.data(), y.data(), n, 1, direction);
            std::vector<LComplex> want = widen(x);
            directDftAxis(want, {n}, 0, -direction, direction == 1 ? row.forward : row.inverse);
            EXPECT_LT(relativeRms(y, want), bound<T>(n)) << static_cast<int>(row.norm) << " " << direction;
        }
    }
}

// 2-D and 3-D arrays and single axes of them, against the direct DFT per axis.
TYPED_TEST(InterleavedFftTest, SeveralAxesMatchTheDirectDftPerAxis) {
    using T = TypeParam;
    struct Row {
        std::vector<std::size_t> shape;
        std::vector<int> axes;
    };
    const Row rows[] = {{{17, 12}, {1, 0}},   {{9, 31}, {0, 1}},         {{5, 6, 7}, {2, 1, 0}},
                        {{13, 4, 11}, {0}},  {{13, 4, 11}, {1}},         {{13, 4, 11}, {2, 0}},
                        {{1, 97, 3}, {1, 2}}, {{20, 1, 9}, {0, 1, 2}}, {{37}, {0}}};
    nvf::CnComplexFftFilter<T> filter;
    for (const Row& row : rows) {
        std::size_t total = 1;
        double tol = 0;
        for (std::size_t s : row.shape) total *= s;
        for (int a : row.axes) tol += bound<T>(row.shape[static_cast<std::size_t>(a)]);
        const CVec<T> x = randomComplex<T>(total, static_cast<unsigned>(total));
        for (int direction : {1, -1}) {
            CVec<T> y(total);
            filter.executeAxes(x.data(), y.data(), row.shape.data(), static_cast<int>(row.shape.size()),
                               row.axes.data(), static_cast<int>(row.axes.size()), direction);
            std::vector<LComplex> want = widen(x);
            for (int a : row.axes) {
                const std::size_t n = row.shape[static_cast<std::size_t>(a)];
                directDftAxis(want, row.shape, static_cast<std::size_t>(a), -direction,
                              direction == 1 ? 1.0L : 1.0L / n);
            }
            EXPECT_LT(relativeRms(y, want), tol) << "rank " << row.shape.size() << " direction " << direction;
        }
    }
    // The shorthands are the general calls.
    const CVec<T> x = randomComplex<T>(6 * 10 * 14, 9);
    CVec<T> a(x.size()), b(x.size());
    const std::size_t shape[3] = {6, 10, 14};
    const int axes[3] = {2, 1, 0};
    filter.execute3d(x.data(), a.data(), 6, 10, 14, 1);
    filter.executeAxes(x.data(), b.data(), shape, 3, axes, 3, 1);
    EXPECT_TRUE(sameBits(a, b));
    filter.execute2d(x.data(), a.data(), 60, 14, -1);
    const std::size_t plane[2] = {60, 14};
    const int axes2[2] = {1, 0};
    filter.executeAxes(x.data(), b.data(), plane, 2, axes2, 2, -1);
    EXPECT_TRUE(sameBits(a, b));
}

// Explicit strides: every other column of a plane, against the same lines copied
// out and transformed as adjacent vectors; elements between the lines untouched.
TYPED_TEST(InterleavedFftTest, ExplicitStridesTransformExactlyTheirLines) {
    using T = TypeParam;
    const std::size_t rows = 23, cols = 10;
    const CVec<T> x = randomComplex<T>(rows * cols, 4);
    nvf::CnFftLines lines;
    lines.length = rows;
    lines.stride = cols;
    lines.count0 = cols / 2;
    lines.stride0 = 2;
    CVec<T> y = x;
    nvf::CnComplexFftFilter<T> filter;
    filter.executeLines(y.data(), y.data(), y.size(), lines, 1);
    CVec<T> packed(rows * (cols / 2)), packedOut(packed.size());
    for (std::size_t c = 0; c < cols / 2; ++c) {
        for (std::size_t r = 0; r < rows; ++r) packed[c * rows + r] = x[r * cols + 2 * c];
    }
    filter.execute1d(packed.data(), packedOut.data(), rows, cols / 2, 1);
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) {
            const std::complex<T> want = c % 2 ? x[r * cols + c] : packedOut[(c / 2) * rows + r];
            ASSERT_EQ(y[r * cols + c], want) << r << " " << c;
        }
    }
}

// The executor and in place: bit-identical results, on both paths.
TYPED_TEST(InterleavedFftTest, ExecutorsAndInPlaceGiveTheSameBits) {
    using T = TypeParam;
    struct Row {
        std::size_t n0, n1, n2;
    };
    for (const Row& row : {Row{64, 60, 45}, Row{9, 101, 40}, Row{3, 2, 4099}}) {
        const std::size_t total = row.n0 * row.n1 * row.n2;
        const CVec<T> x = randomComplex<T>(total, 3);
        nvf::CnComplexFftFilter<T> plain;
        CVec<T> want(total);
        plain.execute3d(x.data(), want.data(), row.n0, row.n1, row.n2, 1);
        CVec<T> inPlace = x;
        plain.execute3d(inPlace.data(), inPlace.data(), row.n0, row.n1, row.n2, 1);
        EXPECT_TRUE(sameBits(inPlace, want));
        for (unsigned threads : nvftest::threadCounts()) {
            nvf::CnComplexFftFilter<T> filter;
            filter.setExecutor(&nvftest::sharedPool(threads));
            CVec<T> got(total);
            filter.execute3d(x.data(), got.data(), row.n0, row.n1, row.n2, 1);
            EXPECT_TRUE(sameBits(got, want)) << threads << " threads";
            nvf::CnRealFftFilter<T> real;
            real.setExecutor(&nvftest::sharedPool(threads));
            std::vector<T> r(total), back(total), back1(total);
            for (std::size_t i = 0; i < total; ++i) r[i] = x[i].real();
            const std::size_t shape[3] = {row.n0, row.n1, row.n2};
            CVec<T> spectrum(row.n0 * row.n1 * (row.n2 / 2 + 1)), spectrum1(spectrum.size());
            real.executeForward(r.data(), spectrum.data(), shape, 3, 3);
            real.executeInverse(spectrum.data(), back.data(), shape, 3, 3);
            nvf::CnRealFftFilter<T> real1;
            real1.executeForward(r.data(), spectrum1.data(), shape, 3, 3);
            real1.executeInverse(spectrum1.data(), back1.data(), shape, 3, 3);
            EXPECT_TRUE(sameBits(spectrum, spectrum1)) << threads << " threads";
            EXPECT_TRUE(sameBits(back, back1)) << threads << " threads";
        }
    }
}

// Real transforms: the forward one is the first n/2 + 1 values of the complex
// transform of the same data, along the last axis and over the last 2 or 3 axes;
// the inverse gives the data back and matches the direct DFT of the Hermitian
// extension (whose imaginary parts at 0 and n/2 play no part).
TYPED_TEST(InterleavedFftTest, RealTransformsAgreeWithComplexOnes) {
    using T = TypeParam;
    struct Row {
        std::vector<std::size_t> shape;
        int rank;
    };
    const Row rows[] = {{{1}, 1},        {{2}, 1},       {{5, 17}, 1},     {{3, 64}, 1},  {{4, 97}, 1},
                        {{2, 1009}, 1},  {{7, 9}, 2},    {{6, 13, 10}, 2}, {{5, 6, 7}, 3}, {{11, 4, 2}, 3},
                        {{3, 1, 33}, 3}, {{1, 1, 1}, 3}};
    nvf::CnRealFftFilter<T> real;
    nvf::CnComplexFftFilter<T> complex;
    for (const Row& row : rows) {
        const int ndim = static_cast<int>(row.shape.size());
        std::size_t total = 1;
        for (std::size_t s : row.shape) total *= s;
        const std::size_t n = row.shape.back();
        const std::size_t half = n / 2 + 1;
        const std::vector<T> x = randomReal<T>(total, static_cast<unsigned>(total + n));
        CVec<T> asComplex(total), full(total);
        for (std::size_t i = 0; i < total; ++i) asComplex[i] = {x[i], T(0)};
        std::vector<int> axes;
        double tol = 0;
        for (int a = ndim - 1; a >= ndim - row.rank; --a) {
            axes.push_back(a);
            tol += 2 * bound<T>(row.shape[static_cast<std::size_t>(a)]);
        }
        complex.executeAxes(asComplex.data(), full.data(), row.shape.data(), ndim, axes.data(),
                            static_cast<int>(axes.size()), 1);
        CVec<T> spectrum(total / n * half);
        real.executeForward(x.data(), spectrum.data(), row.shape.data(), ndim, row.rank);
        std::vector<LComplex> want(spectrum.size());
        for (std::size_t line = 0; line < total / n; ++line) {
            for (std::size_t k = 0; k < half; ++k) {
                want[line * half + k] = {full[line * n + k].real(), full[line * n + k].imag()};
            }
        }
        EXPECT_LT(relativeRms(spectrum, want), tol) << "forward n " << n << " rank " << row.rank;
        // The whole spectrum: the half spectrum and its mirror image bit for bit
        // (conjugates as (re, 0 - im)), plain and conjugated.
        for (const bool conjugate : {false, true}) {
            CVec<T> whole(total, std::complex<T>(T(7), T(7)));
            real.executeForwardFull(x.data(), whole.data(), row.shape.data(), ndim, row.rank, conjugate);
            std::size_t mismatches = 0;
            for (std::size_t line = 0; line < total / n; ++line) {
                // The line's index negated on the transformed axes before the last.
                std::size_t mirror = 0, rest = line, scale = 1;
                for (int d = ndim - 2; d >= 0; --d) {
                    const std::size_t size = row.shape[static_cast<std::size_t>(d)];
                    const std::size_t i = rest % size;
                    rest /= size;
                    mirror += (d >= ndim - row.rank ? (size - i) % size : i) * scale;
                    scale *= size;
                }
                for (std::size_t j = 0; j < n; ++j) {
                    const bool head = j < half;
                    const std::complex<T> v = head ? spectrum[line * half + j] : spectrum[mirror * half + (n - j)];
                    const bool negate = head == conjugate;
                    const std::complex<T> expected(v.real(), negate ? T(0) - v.imag() : v.imag());
                    if (std::memcmp(&expected, &whole[line * n + j], sizeof(expected)) != 0) ++mismatches;
                }
            }
            EXPECT_EQ(mismatches, 0u) << "whole spectrum n " << n << " rank " << row.rank << " conjugate "
                                      << conjugate;
        }
        // Round trip, and the inverse of a spectrum with imaginary parts at 0 and n/2.
        std::vector<T> back(total);
        real.executeInverse(spectrum.data(), back.data(), row.shape.data(), ndim, row.rank);
        long double err = 0, ref = 0;
        for (std::size_t i = 0; i < total; ++i) {
            err += (static_cast<long double>(back[i]) - x[i]) * (static_cast<long double>(back[i]) - x[i]);
            ref += static_cast<long double>(x[i]) * x[i];
        }
        EXPECT_LT(std::sqrt(static_cast<double>(err / ref)), 2 * tol) << "round trip n " << n;
        if (row.rank == 1) {
            CVec<T> noisy = randomComplex<T>(spectrum.size(), 8);
            std::vector<LComplex> ext(total);
            for (std::size_t line = 0; line < total / n; ++line) {
                for (std::size_t k = 0; k < n; ++k) {
                    const std::complex<T> v =
                        k < half ? noisy[line * half + k] : std::conj(noisy[line * half + (n - k)]);
                    ext[line * n + k] = {v.real(), v.imag()};
                }
            }
            directDftAxis(ext, row.shape, row.shape.size() - 1, +1, 1.0L / n);
            std::vector<T> got(total);
            real.executeInverse(noisy.data(), got.data(), row.shape.data(), ndim, 1);
            long double e2 = 0, r2 = 0;
            for (std::size_t i = 0; i < total; ++i) {
                e2 += (got[i] - ext[i].real()) * (got[i] - ext[i].real());
                r2 += ext[i].real() * ext[i].real();
            }
            EXPECT_LT(std::sqrt(static_cast<double>(e2 / r2)), tol) << "inverse n " << n;
        }
    }
}

// One axis at a time, any axis halved.
TYPED_TEST(InterleavedFftTest, RealTransformAlongAnyAxis) {
    using T = TypeParam;
    const std::size_t shape[3] = {7, 10, 5};
    const std::vector<T> x = randomReal<T>(350, 21);
    nvf::CnRealFftFilter<T> real;
    nvf::CnComplexFftFilter<T> complex;
    CVec<T> asComplex(350), full(350);
    for (std::size_t i = 0; i < 350; ++i) asComplex[i] = {x[i], T(0)};
    for (int axis = 0; axis < 3; ++axis) {
        std::size_t half[3] = {7, 10, 5};
        half[axis] = shape[axis] / 2 + 1;
        CVec<T> spectrum(half[0] * half[1] * half[2]);
        real.executeForwardAxis(x.data(), spectrum.data(), shape, 3, axis);
        complex.executeAxis(asComplex.data(), full.data(), shape, 3, axis, 1);
        for (std::size_t i = 0; i < half[0]; ++i) {
            for (std::size_t j = 0; j < half[1]; ++j) {
                for (std::size_t k = 0; k < half[2]; ++k) {
                    const std::complex<T> a = spectrum[(i * half[1] + j) * half[2] + k];
                    const std::complex<T> b = full[(i * 10 + j) * 5 + k];
                    EXPECT_NEAR(a.real(), b.real(), 20 * kEps<T>) << axis;
                    EXPECT_NEAR(a.imag(), b.imag(), 20 * kEps<T>) << axis;
                }
            }
        }
        std::vector<T> back(350);
        real.executeInverseAxis(spectrum.data(), back.data(), shape, 3, axis);
        for (std::size_t i = 0; i < 350; ++i) EXPECT_NEAR(back[i], x[i], 20 * kEps<T>) << axis;
    }
}

// Lines stored one after another (moved through registers, four lines and two
// values at a time, with scalar tails) against the same lines as columns of the
// transposed array (moved one row at a time): the same bits, complex and real,
// both directions, for line counts and lengths that leave tails.
TYPED_TEST(InterleavedFftTest, ContiguousLinesMatchTheSameLinesAsColumnsBitForBit) {
    using T = TypeParam;
    struct Row {
        std::size_t lines, n;
    };
    const Row rows[] = {{1, 8}, {3, 7}, {4, 2}, {5, 30}, {7, 64}, {13, 45}, {17, 97}, {35, 12}, {41, 1000}};
    for (const Row& row : rows) {
        const std::size_t total = row.lines * row.n;
        const std::size_t rowsShape[2] = {row.lines, row.n};
        const std::size_t colsShape[2] = {row.n, row.lines};
        const CVec<T> x = randomComplex<T>(total, static_cast<unsigned>(total));
        CVec<T> xt(total);
        for (std::size_t l = 0; l < row.lines; ++l) {
            for (std::size_t k = 0; k < row.n; ++k) xt[k * row.lines + l] = x[l * row.n + k];
        }
        nvf::CnComplexFftFilter<T> complex;
        complex.setNormalization(nvf::CnFftNorm::Ortho);
        for (int dir : {1, -1}) {
            CVec<T> a(total), b(total), bt(total);
            complex.executeAxis(x.data(), a.data(), rowsShape, 2, 1, dir);
            complex.executeAxis(xt.data(), bt.data(), colsShape, 2, 0, dir);
            for (std::size_t l = 0; l < row.lines; ++l) {
                for (std::size_t k = 0; k < row.n; ++k) b[l * row.n + k] = bt[k * row.lines + l];
            }
            EXPECT_TRUE(sameBits(a, b)) << row.lines << " x " << row.n << " direction " << dir;
        }
        // Real: the halved axis as rows and as columns, forward and inverse.
        std::vector<T> r(total), rt(total);
        for (std::size_t i = 0; i < total; ++i) r[i] = x[i].real();
        for (std::size_t l = 0; l < row.lines; ++l) {
            for (std::size_t k = 0; k < row.n; ++k) rt[k * row.lines + l] = r[l * row.n + k];
        }
        const std::size_t half = row.n / 2 + 1;
        nvf::CnRealFftFilter<T> real;
        CVec<T> s(row.lines * half), st(row.lines * half);
        real.executeForwardAxis(r.data(), s.data(), rowsShape, 2, 1);
        real.executeForwardAxis(rt.data(), st.data(), colsShape, 2, 0);
        CVec<T> su(s.size());
        for (std::size_t l = 0; l < row.lines; ++l) {
            for (std::size_t k = 0; k < half; ++k) su[l * half + k] = st[k * row.lines + l];
        }
        EXPECT_TRUE(sameBits(s, su)) << "real forward " << row.lines << " x " << row.n;
        std::vector<T> back(total), backT(total), backU(total);
        real.executeInverseAxis(s.data(), back.data(), rowsShape, 2, 1);
        real.executeInverseAxis(st.data(), backT.data(), colsShape, 2, 0);
        for (std::size_t l = 0; l < row.lines; ++l) {
            for (std::size_t k = 0; k < row.n; ++k) backU[l * row.n + k] = backT[k * row.lines + l];
        }
        EXPECT_TRUE(sameBits(back, backU)) << "real inverse " << row.lines << " x " << row.n;
    }
}

// The real transforms of a volume run its last two axes slab by slab: the same
// bits as the axes one at a time over the whole volume (forward: the halved axis,
// then axes 1 and 0; inverse: axes 0 and 1, then the halved axis).
TYPED_TEST(InterleavedFftTest, RealVolumeSlabsMatchWholeVolumePassesBitForBit) {
    using T = TypeParam;
    struct Row {
        std::size_t n0, n1, n2;
        int rank;
    };
    const Row rows[] = {{4, 3, 8, 3}, {5, 6, 7, 3}, {9, 10, 31, 2}, {6, 13, 64, 3}, {11, 5, 2, 2}, {7, 97, 30, 3}};
    for (const Row& row : rows) {
        const std::size_t shape[3] = {row.n0, row.n1, row.n2};
        const std::size_t half[3] = {row.n0, row.n1, row.n2 / 2 + 1};
        const std::size_t total = row.n0 * row.n1 * row.n2, halfTotal = row.n0 * row.n1 * half[2];
        const std::vector<T> x = randomReal<T>(total, static_cast<unsigned>(total + 5));
        nvf::CnRealFftFilter<T> real;
        nvf::CnComplexFftFilter<T> complex;
        CVec<T> got(halfTotal), want(halfTotal);
        real.executeForward(x.data(), got.data(), shape, 3, row.rank);
        real.executeForwardAxis(x.data(), want.data(), shape, 3, 2);
        for (int axis = 1; axis >= 3 - row.rank; --axis) {
            complex.executeAxis(want.data(), want.data(), half, 3, axis, 1);
        }
        EXPECT_TRUE(sameBits(got, want)) << row.n0 << " x " << row.n1 << " x " << row.n2 << " forward";
        const CVec<T> spectrum = randomComplex<T>(halfTotal, 9);
        std::vector<T> back(total), backWant(total);
        real.executeInverse(spectrum.data(), back.data(), shape, 3, row.rank);
        CVec<T> work = spectrum;
        if (row.rank == 3) complex.executeAxis(work.data(), work.data(), half, 3, 0, -1);
        complex.executeAxis(work.data(), work.data(), half, 3, 1, -1);
        real.executeInverseAxis(work.data(), backWant.data(), shape, 3, 2);
        EXPECT_TRUE(sameBits(back, backWant)) << row.n0 << " x " << row.n1 << " x " << row.n2 << " inverse";
    }
}

}  // namespace
