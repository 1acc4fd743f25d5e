// The one-dimensional filter: both engines against the direct DFT, algebraic
// properties over all legal lengths up to 4096, the table cache, the jumps, and
// the rejected inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include <nvcore/Exception.h>
#include <nvcore/Throwable.h>
#include <nvfiltering/framework/CnMessages.h>

#include "FftTestSupport.h"

namespace msg = com::norvane::filtering::messages;
using namespace fft_test;

namespace {

template <class T>
class Fft1dTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Fft1dTest, Precisions, PrecisionNames);

enum class Engine { Default, GpfaOnly, DataJump };

// Transforms `count` random vectors of length n with the chosen engine and returns
// the relative RMS error against the long-double DFT.
template <class T>
double errorAgainstDft(int n, int count, int direction, Engine engine, unsigned seed) {
    const std::size_t size = static_cast<std::size_t>(n) * count;
    const std::vector<T> re = randomValues<T>(size, seed), im = randomValues<T>(size, seed + 1);
    std::vector<T> outRe(size), outIm(size);
    Probe1d<T> f;
    std::vector<long double> wr = widen(re), wi = widen(im);
    if (engine == Engine::DataJump) {
        // vectors interleaved element by element: vector v at v, element k at k * count
        directDft(wr, wi, n, count, 1, count, direction);
        f.setFields(re.data(), im.data(), outRe.data(), outIm.data(), n, count);
        f.SetDataJump(count);
        f.SetVectorJump(1);
        f.SetDirection(direction);
        f.execute();
    } else {
        directDft(wr, wi, n, count, n, 1, direction);
        f.setGpfaOnly(engine == Engine::GpfaOnly);
        f.executeWith(re.data(), im.data(), outRe.data(), outIm.data(), n, count, direction);
    }
    return relativeRms(outRe, outIm, wr, wi);
}

TYPED_TEST(Fft1dTest, EveryLegalLengthMatchesDirectDftOnBothEngines) {
    using T = TypeParam;
    for (int n : legalLengths(400)) {
        const unsigned seed = static_cast<unsigned>(n);
        EXPECT_LT(errorAgainstDft<T>(n, 2, 1, Engine::Default, seed), tolerance<T>(n)) << n;
        EXPECT_LT(errorAgainstDft<T>(n, 2, -1, Engine::Default, seed), tolerance<T>(n)) << n;
        if ((n & (n - 1)) == 0) {
            // the default engine was the math library's; reach the GPFA twice
            EXPECT_LT(errorAgainstDft<T>(n, 2, 1, Engine::GpfaOnly, seed), tolerance<T>(n)) << n;
            EXPECT_LT(errorAgainstDft<T>(n, 2, -1, Engine::GpfaOnly, seed), tolerance<T>(n)) << n;
            EXPECT_LT(errorAgainstDft<T>(n, 3, 1, Engine::DataJump, seed), tolerance<T>(n)) << n;
        }
    }
    EXPECT_LT(errorAgainstDft<T>(360, 5, -1, Engine::DataJump, 9), tolerance<T>(360));
}

TYPED_TEST(Fft1dTest, LargeLengthsStayAccurate) {
    using T = TypeParam;
    for (int n : {1000, 1024}) {
        EXPECT_LT(errorAgainstDft<T>(n, 1, 1, Engine::Default, 3), tolerance<T>(n)) << n;
        EXPECT_LT(errorAgainstDft<T>(n, 1, 1, Engine::GpfaOnly, 4), tolerance<T>(n)) << n;
    }
}

// Forward transform of one vector with the chosen engine, as complex<double>.
template <class T>
std::vector<std::complex<double>> forward(const std::vector<std::complex<double>>& x, bool gpfaOnly, int dir = 1) {
    const int n = static_cast<int>(x.size());
    std::vector<T> re(n), im(n);
    for (int k = 0; k < n; ++k) {
        re[k] = static_cast<T>(x[k].real());
        im[k] = static_cast<T>(x[k].imag());
    }
    Probe1d<T> f;
    f.setGpfaOnly(gpfaOnly);
    f.executeWith(re.data(), im.data(), re.data(), im.data(), n, 1, dir);
    std::vector<std::complex<double>> out(n);
    for (int k = 0; k < n; ++k) {
        out[k] = {static_cast<double>(re[k]), static_cast<double>(im[k])};
    }
    return out;
}

double maxDiff(const std::vector<std::complex<double>>& a, const std::vector<std::complex<double>>& b) {
    double d = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        d = std::max(d, std::abs(a[i] - b[i]));
    }
    return d;
}

std::vector<std::complex<double>> randomComplex(int n, unsigned seed) {
    const std::vector<double> r = randomValues<double>(n, seed), i = randomValues<double>(n, seed + 99);
    std::vector<std::complex<double>> out(n);
    for (int k = 0; k < n; ++k) {
        out[k] = {r[k], i[k]};
    }
    return out;
}

TYPED_TEST(Fft1dTest, LinearityImpulseAndShiftHoldForAllLegalLengthsUpTo4096) {
    using T = TypeParam;
    const double pi = 3.14159265358979323846;
    const double eps = std::is_same<T, float>::value ? 1e-6 : 1e-14;
    for (int n : legalLengths(4096)) {
        const double tol = eps * 8.0 * std::sqrt(static_cast<double>(n)) * log2Of(n);
        const bool power2 = (n & (n - 1)) == 0;
        for (bool gpfaOnly : {false, true}) {
            if (gpfaOnly && !power2) {
                continue;
            }
            const unsigned seed = static_cast<unsigned>(n * 3 + gpfaOnly);
            const auto x = randomComplex(n, seed), y = randomComplex(n, seed + 1);
            const std::complex<double> alpha(0.75, -0.5);
            std::vector<std::complex<double>> comb(n);
            for (int k = 0; k < n; ++k) {
                comb[k] = alpha * x[k] + y[k];
            }
            const auto fx = forward<T>(x, gpfaOnly), fy = forward<T>(y, gpfaOnly), fc = forward<T>(comb, gpfaOnly);
            std::vector<std::complex<double>> expect(n);
            for (int k = 0; k < n; ++k) {
                expect[k] = alpha * fx[k] + fy[k];
            }
            ASSERT_LT(maxDiff(fc, expect), tol) << "linearity n " << n;

            // impulse at m: X(j) = exp(-2 pi i j m / n)
            const int m = n / 3;
            std::vector<std::complex<double>> imp(n);
            imp[m] = 1.0;
            const auto fi = forward<T>(imp, gpfaOnly);
            std::vector<std::complex<double>> expImp(n);
            for (int j = 0; j < n; ++j) {
                expImp[j] = std::polar(1.0, -2.0 * pi * static_cast<double>((static_cast<long>(j) * m) % n) / n);
            }
            ASSERT_LT(maxDiff(fi, expImp), tol) << "impulse n " << n;

            // circular shift by s multiplies X(j) by exp(-2 pi i j s / n)
            const int s = n > 1 ? 1 + n / 5 : 0;
            std::vector<std::complex<double>> shifted(n);
            for (int k = 0; k < n; ++k) {
                shifted[(k + s) % n] = x[k];
            }
            const auto fs = forward<T>(shifted, gpfaOnly);
            for (int j = 0; j < n; ++j) {
                expect[j] = fx[j] * std::polar(1.0, -2.0 * pi * static_cast<double>((static_cast<long>(j) * s) % n) / n);
            }
            ASSERT_LT(maxDiff(fs, expect), tol) << "shift n " << n;

            // inverse of the forward returns the input
            const auto back = forward<T>(fx, gpfaOnly, -1);
            ASSERT_LT(maxDiff(back, x), tol / std::sqrt(static_cast<double>(n))) << "round trip n " << n;
        }
    }
}

TYPED_TEST(Fft1dTest, UnitImpulseGivesOnesAndBack) {
    using T = TypeParam;
    for (int n : {1, 6, 60, 360}) {
        std::vector<T> re(n, T(0)), im(n, T(0));
        re[0] = T(1);
        Cn1dFftFilter<T> f;
        f.executeWith(re.data(), im.data(), re.data(), im.data(), n, 1, 1);
        for (int k = 0; k < n; ++k) {
            ASSERT_EQ(re[k], T(1));
            ASSERT_EQ(im[k], T(0));
        }
        f.executeWith(re.data(), im.data(), re.data(), im.data(), n, 1, -1);
        for (int k = 0; k < n; ++k) {
            ASSERT_NEAR(re[k], k == 0 ? 1.0 : 0.0, 1e-6);
            ASSERT_NEAR(im[k], 0.0, 1e-6);
        }
    }
}

TYPED_TEST(Fft1dTest, InPlaceEqualsOutOfPlaceAndLeavesInputAlone) {
    using T = TypeParam;
    for (int n : {16, 30, 1024}) {
        for (int dir : {1, -1}) {
            const std::vector<T> re = randomValues<T>(4 * n, 1), im = randomValues<T>(4 * n, 2);
            std::vector<T> outRe(re.size()), outIm(im.size());
            std::vector<T> inRe = re, inIm = im;
            Cn1dFftFilter<T> f;
            f.executeWith(inRe.data(), inIm.data(), outRe.data(), outIm.data(), n, 4, dir);
            EXPECT_EQ(inRe, re);
            EXPECT_EQ(inIm, im);
            f.executeWith(inRe.data(), inIm.data(), inRe.data(), inIm.data(), n, 4, dir);
            EXPECT_EQ(inRe, outRe);
            EXPECT_EQ(inIm, outIm);
        }
    }
}

TYPED_TEST(Fft1dTest, ChunkedBatchEqualsDirectGpfaBitForBit) {
    using T = TypeParam;
    for (int n : {2, 16, 45, 60, 1000}) {
        for (int count : {2, 15, 17, 37}) {
            for (int dir : {1, -1}) {
                const std::vector<T> re = randomValues<T>(n * count, 1), im = randomValues<T>(n * count, 2);
                std::vector<T> a = re, b = im, c = re, d = im;
                Probe1d<T> chunked;
                chunked.setGpfaOnly(true);
                chunked.executeWith(a.data(), b.data(), a.data(), b.data(), n, count, dir);
                Probe1d<T> direct;
                direct.runGpfaDirectly(c.data(), d.data(), n, count, dir);
                ASSERT_TRUE(nvftest::sameBits(a, c)) << n << " x " << count;
                ASSERT_TRUE(nvftest::sameBits(b, d)) << n << " x " << count;
            }
        }
    }
}

TYPED_TEST(Fft1dTest, ColumnsInBandsEqualDirectGpfaBitForBit) {
    using T = TypeParam;
    // The columns of n rows of `count` values: arrays of more than 1 MiB go a band
    // of columns at a time, smaller ones through the direct path; both must give
    // the numbers of the direct path.
    const int count = (static_cast<int>((std::size_t(1) << 20) / sizeof(T)) / 135 + 2) | 1;  // odd
    const int shapes[][2] = {{135, count}, {45, 77}};
    for (const auto& shape : shapes) {
        const int n = shape[0], columns = shape[1];
        for (int dir : {1, -1}) {
            const std::vector<T> re = randomValues<T>(static_cast<std::size_t>(n) * columns, 5);
            const std::vector<T> im = randomValues<T>(static_cast<std::size_t>(n) * columns, 6);
            std::vector<T> a = re, b = im, c = re, d = im;
            Probe1d<T> banded;
            banded.setFields(a.data(), b.data(), a.data(), b.data(), n, columns);
            banded.SetDataJump(columns);
            banded.SetVectorJump(1);
            banded.SetDirection(dir);
            banded.execute();
            Probe1d<T> direct;
            direct.runGpfaDirectly(c.data(), d.data(), n, columns, columns, 1, dir);
            ASSERT_TRUE(nvftest::sameBits(a, c)) << n << " x " << columns;
            ASSERT_TRUE(nvftest::sameBits(b, d)) << n << " x " << columns;
        }
    }
}

TYPED_TEST(Fft1dTest, EmptyBatchBuildsNoTableWhateverTheLength) {
    using T = TypeParam;
    Probe1d<T> f;
    // 2^30 and 2^28 * 3 are legal lengths whose tables would take gigabytes.
    f.executeWith(nullptr, nullptr, nullptr, nullptr, std::int32_t(1) << 30, 0, 1);
    f.executeWith(nullptr, nullptr, nullptr, nullptr, std::int32_t(3) << 28, 0, -1);
    EXPECT_EQ(f.trigs(), nullptr);
    EXPECT_EQ(f.trigsLength(), 0);
    // A later real run builds the table it needs.
    std::vector<T> re = randomValues<T>(12, 1), im = randomValues<T>(12, 2);
    f.executeWith(re.data(), im.data(), re.data(), im.data(), 12, 1, 1);
    EXPECT_EQ(f.trigsLength(), 12);
}

TYPED_TEST(Fft1dTest, TableIsRebuiltOnlyWhenLengthOrEngineChanges) {
    using T = TypeParam;
    std::vector<T> re = randomValues<T>(2048, 1), im = randomValues<T>(2048, 2);
    Probe1d<T> f;
    f.executeWith(re.data(), im.data(), re.data(), im.data(), 1024, 2, 1);
    EXPECT_EQ(f.trigsKind(), 2);
    EXPECT_EQ(f.trigsLength(), 1024);
    const T* first = f.trigs();
    const std::vector<T> firstValues(first, first + 3 * 1024);
    f.executeWith(re.data(), im.data(), re.data(), im.data(), 1024, 2, -1);
    EXPECT_EQ(f.trigs(), first);  // kept
    EXPECT_EQ(std::vector<T>(f.trigs(), f.trigs() + 3 * 1024), firstValues);

    // data jump 2: the GPFA for the same length
    f.setFields(re.data(), im.data(), re.data(), im.data(), 1024, 2);
    f.SetDataJump(2);
    f.SetVectorJump(1);
    f.execute();
    EXPECT_EQ(f.trigsKind(), 1);
    EXPECT_EQ(f.trigsLength(), 1024);
    const T* gpfaTable = f.trigs();
    f.execute();
    EXPECT_EQ(f.trigs(), gpfaTable);

    f.executeWith(re.data(), im.data(), re.data(), im.data(), 360, 2, 1);
    EXPECT_EQ(f.trigsKind(), 1);
    EXPECT_EQ(f.trigsLength(), 360);
    const T* t360 = f.trigs();
    f.executeWith(re.data(), im.data(), re.data(), im.data(), 360, 5, -1);
    EXPECT_EQ(f.trigs(), t360);

    // gpfaOnly turns a power of two to the GPFA table
    f.setGpfaOnly(true);
    f.executeWith(re.data(), im.data(), re.data(), im.data(), 512, 1, 1);
    EXPECT_EQ(f.trigsKind(), 1);
    EXPECT_EQ(f.trigsLength(), 512);
    f.setGpfaOnly(false);
    f.executeWith(re.data(), im.data(), re.data(), im.data(), 512, 1, 1);
    EXPECT_EQ(f.trigsKind(), 2);
}

TYPED_TEST(Fft1dTest, ExecuteWithOverridesTheSettersJumps) {
    using T = TypeParam;
    const int n = 30, count = 3;
    const std::vector<T> re = randomValues<T>(n * count, 5), im = randomValues<T>(n * count, 6);
    std::vector<T> a(re.size()), b(im.size()), c(re.size()), d(im.size());
    Probe1d<T> f;
    f.SetDataJump(4);
    f.SetVectorJump(7);
    f.SetDirection(-1);
    f.executeWith(re.data(), im.data(), a.data(), b.data(), n, count, 1);
    EXPECT_EQ(f.dataJump(), 1);
    EXPECT_EQ(f.vectorJump(), n);
    Cn1dFftFilter<T> plain;
    plain.executeWith(re.data(), im.data(), c.data(), d.data(), n, count, 1);
    EXPECT_TRUE(nvftest::sameBits(a, c));
    EXPECT_TRUE(nvftest::sameBits(b, d));
    std::vector<long double> wr = widen(re), wi = widen(im);
    directDft(wr, wi, n, count, n, 1, 1);
    EXPECT_LT(relativeRms(a, b, wr, wi), tolerance<T>(n));
}

// A copy takes every setting of its source, the arrays included, and runs on a
// table of its own: after the source has gone, the copy and a filter assigned
// from the source (which had a table of another length) transform the source's
// arrays as the source did.
TYPED_TEST(Fft1dTest, CopiesTransformAsTheirSourceDid) {
    using T = TypeParam;
    const std::vector<T> re = randomValues<T>(64, 1), im = randomValues<T>(64, 2);
    std::vector<T> arrayRe = re, arrayIm = im;
    auto source = std::make_unique<Probe1d<T>>();
    source->setGpfaOnly(true);
    source->executeWith(arrayRe.data(), arrayIm.data(), arrayRe.data(), arrayIm.data(), 64, 1, 1);
    const std::vector<T> wantRe = arrayRe, wantIm = arrayIm;
    std::vector<T> otherRe = randomValues<T>(64, 3), otherIm = randomValues<T>(64, 4);
    Probe1d<T> copy(*source);
    Probe1d<T> assigned;
    assigned.executeWith(otherRe.data(), otherIm.data(), otherRe.data(), otherIm.data(), 32, 2, -1);
    assigned = *source;
    source.reset();
    for (Probe1d<T>* f : {&copy, &assigned}) {
        arrayRe = re;
        arrayIm = im;
        f->execute();
        EXPECT_TRUE(nvftest::sameBits(arrayRe, wantRe)) << (f == &copy ? "copy" : "assigned");
        EXPECT_TRUE(nvftest::sameBits(arrayIm, wantIm)) << (f == &copy ? "copy" : "assigned");
    }
}

template <class T>
void expectRejected(int n, int count, int dir, const char* message, const char* classPath) {
    const std::vector<T> re = randomValues<T>(64, 1), im = randomValues<T>(64, 2);
    std::vector<T> outRe(64, T(5)), outIm(64, T(6));
    std::vector<T> inRe = re, inIm = im;
    Cn1dFftFilter<T> f;
    try {
        f.executeWith(inRe.data(), inIm.data(), outRe.data(), outIm.data(), n, count, dir);
        ADD_FAILURE() << "no exception for n " << n << " count " << count;
    } catch (const com::norvane::Throwable& e) {
        EXPECT_EQ(e.getMessage(), message);
        EXPECT_EQ(e.getClassPath(), classPath);
    }
    EXPECT_EQ(outRe, std::vector<T>(64, T(5)));
    EXPECT_EQ(outIm, std::vector<T>(64, T(6)));
    // in place: the data stay as they were
    try {
        f.executeWith(inRe.data(), inIm.data(), inRe.data(), inIm.data(), n, count, dir);
        ADD_FAILURE() << "no exception in place";
    } catch (const com::norvane::Throwable&) {
    }
    EXPECT_EQ(inRe, re);
    EXPECT_EQ(inIm, im);
}

TYPED_TEST(Fft1dTest, RejectedInputsLeaveTheArraysUntouched) {
    using T = TypeParam;
    for (int n : {7, 14, 49, 11, 210}) {
        expectRejected<T>(n, 1, 1, msg::kFftDimensionNotImplemented, msg::kFftDimensionClassPath);
        expectRejected<T>(n, 0, -1, msg::kFftDimensionNotImplemented, msg::kFftDimensionClassPath);
    }
    expectRejected<T>(0, 1, 1, msg::kFftLengthBelowOne, msg::kThrowableClassPath);
    expectRejected<T>(-4, 1, 1, msg::kFftLengthBelowOne, msg::kThrowableClassPath);
    expectRejected<T>(8, -1, 1, msg::kFftNegativeVectorCount, msg::kThrowableClassPath);
    expectRejected<T>(8, 2, 0, msg::kFftInvalidDirection, msg::kThrowableClassPath);
    expectRejected<T>(6, 2, 2, msg::kFftInvalidDirection, msg::kThrowableClassPath);
    // the exception type travels with the object
    Cn1dFftFilter<T> f;
    std::vector<T> x(14);
    EXPECT_THROW(f.executeWith(x.data(), x.data(), x.data(), x.data(), 14, 1, 1), com::norvane::Exception);
    T* none = nullptr;
    EXPECT_THROW(f.executeWith(none, none, none, none, 8, 1, 1), com::norvane::Throwable);
}

TYPED_TEST(Fft1dTest, LengthOneIsTheIdentityOnBothEngines) {
    using T = TypeParam;
    const std::vector<T> re = {T(1.5), T(-2), T(3)}, im = {T(0.5), T(4), T(-1)};
    for (int jump : {1, 3}) {
        for (int dir : {1, -1}) {
            std::vector<T> a = re, b = im;
            Probe1d<T> f;
            f.setFields(a.data(), b.data(), a.data(), b.data(), 1, 3);
            f.SetDataJump(jump);
            f.SetVectorJump(1);
            f.SetDirection(dir);
            f.execute();
            EXPECT_EQ(a, re);
            EXPECT_EQ(b, im);
            EXPECT_EQ(f.trigsKind(), jump == 1 ? 2 : 1);
        }
    }
}

}  // namespace
