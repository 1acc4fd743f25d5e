// The prime factor FFT's own pieces: twiddle table, vector blocking, and the
// driver and its radix routines called directly with strided and interleaved
// batches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <nvcore/Exception.h>
#include <nvcore/Throwable.h>
#include <nvfiltering/framework/CnMessages.h>

#include "FftTestSupport.h"

namespace msg = com::norvane::filtering::messages;
namespace detail = com::norvane::filtering::detail;
using namespace fft_test;

namespace {

template <class T>
class GpfaTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(GpfaTest, Precisions, PrecisionNames);

TYPED_TEST(GpfaTest, IllegalLengthsLeaveTableAndDriverThrows) {
    using T = TypeParam;
    for (std::int32_t n : {7, 11, 14, 49, 210}) {
        std::vector<T> table(2 * n, T(42));
        detail::gpfaTable(table.data(), n);
        for (T v : table) {
            ASSERT_EQ(v, T(42)) << n;
        }
        std::vector<T> a(n, T(1)), b(n, T(2));
        try {
            detail::gpfaTransform(a.data(), b.data(), table.data(), 1, n, n, 1, 1);
            FAIL() << "no exception for " << n;
        } catch (const com::norvane::Exception& e) {
            EXPECT_EQ(e.getMessage(), msg::kFftDimensionNotImplemented);
            EXPECT_EQ(e.getClassPath(), msg::kFftDimensionClassPath);
        }
        for (std::int32_t i = 0; i < n; ++i) {
            ASSERT_EQ(a[i], T(1));
            ASSERT_EQ(b[i], T(2));
        }
    }
}

TEST(GpfaBlockingTest, BlocksSplitAsDocumented) {
    auto blocks = [](std::ptrdiff_t lot, std::ptrdiff_t limit) {
        std::vector<std::ptrdiff_t> out;
        std::ptrdiff_t left = lot;
        for (std::ptrdiff_t b = 0; b < 1 + (lot - 1) / limit; ++b) {
            const std::ptrdiff_t nv = detail::gpfaBlockSize(left, limit);
            left -= nv;
            out.push_back(nv);
        }
        return out;
    };
    using V = std::vector<std::ptrdiff_t>;
    EXPECT_EQ(blocks(129, 128), (V{64, 65}));
    EXPECT_EQ(blocks(130, 128), (V{66, 64}));
    EXPECT_EQ(blocks(200, 128), (V{100, 100}));
    EXPECT_EQ(blocks(257, 128), (V{128, 64, 65}));
    EXPECT_EQ(blocks(128, 128), (V{128}));
    EXPECT_EQ(blocks(1024, 1024), (V{1024}));
    EXPECT_EQ(blocks(1025, 1024), (V{512, 513}));
    EXPECT_EQ(blocks(0, 128), (V{0}));
}

// The driver on `lot` vectors, against the direct DFT with exp(+isign ...), unscaled.
template <class T>
void checkDriver(int n, int lot, int inc, int jump, int isign, unsigned seed) {
    const std::size_t size = static_cast<std::size_t>(n) * lot;
    std::vector<T> a = randomValues<T>(size, seed), b = randomValues<T>(size, seed + 7);
    std::vector<long double> wr = widen(a), wi = widen(b);
    directDft(wr, wi, n, lot, jump, inc, -isign);
    if (isign > 0) {  // the reference scales exp(+...) by 1/n; the driver does not
        for (std::size_t i = 0; i < size; ++i) {
            wr[i] *= n;
            wi[i] *= n;
        }
    }
    std::vector<T> table(2 * static_cast<std::size_t>(n));
    detail::gpfaTable(table.data(), n);
    detail::gpfaTransform(a.data(), b.data(), table.data(), inc, jump, n, lot, isign);
    EXPECT_LT(relativeRms(a, b, wr, wi), tolerance<T>(n)) << "n " << n << " lot " << lot << " inc " << inc;
}

TYPED_TEST(GpfaTest, DriverMatchesDirectDftAcrossBlocksAndLayouts) {
    using T = TypeParam;
    // Lot sizes that split into several blocks (limits 128 and 1024), both signs,
    // vectors stored one after another and interleaved element by element.
    for (int n : {6, 15, 16, 45, 60}) {
        for (int lot : {1, 129, 130, 257}) {
            checkDriver<T>(n, lot, 1, n, 1, static_cast<unsigned>(n + lot));
            checkDriver<T>(n, lot, lot, 1, -1, static_cast<unsigned>(n * lot));
        }
    }
    checkDriver<T>(8, 1025, 1025, 1, 1, 3);
    checkDriver<T>(32, 1030, 1, 32, -1, 4);
}

TYPED_TEST(GpfaTest, InterleavedEqualsContiguousBitForBit) {
    using T = TypeParam;
    for (int n : {12, 27, 64, 125, 128, 240}) {
        const int lot = 7;
        std::vector<T> a = randomValues<T>(n * lot, 11), b = randomValues<T>(n * lot, 12);
        std::vector<T> ta(a.size()), tb(b.size());
        for (int v = 0; v < lot; ++v) {
            for (int k = 0; k < n; ++k) {
                ta[k * lot + v] = a[v * n + k];
                tb[k * lot + v] = b[v * n + k];
            }
        }
            std::vector<T> table(2 * n);
        detail::gpfaTable(table.data(), n);
        detail::gpfaTransform(a.data(), b.data(), table.data(), 1, n, n, lot, 1);
        detail::gpfaTransform(ta.data(), tb.data(), table.data(), lot, 1, n, lot, 1);
        for (int v = 0; v < lot; ++v) {
            for (int k = 0; k < n; ++k) {
                ASSERT_EQ(ta[k * lot + v], a[v * n + k]) << n;
                ASSERT_EQ(tb[k * lot + v], b[v * n + k]) << n;
            }
        }
    }
}

TYPED_TEST(GpfaTest, ForwardThenBackwardSignGivesNTimesInput) {
    using T = TypeParam;
    for (int n : {1, 2, 8, 30, 81, 256, 625, 720}) {
        std::vector<T> a = randomValues<T>(3 * n, 5), b = randomValues<T>(3 * n, 6);
        const std::vector<T> a0 = a, b0 = b;
            std::vector<T> table(2 * n);
        detail::gpfaTable(table.data(), n);
        detail::gpfaTransform(a.data(), b.data(), table.data(), 1, n, n, 3, 1);
        detail::gpfaTransform(a.data(), b.data(), table.data(), 1, n, n, 3, -1);
        double err = 0.0;
        for (int i = 0; i < 3 * n; ++i) {
            err = std::max(err, std::abs(static_cast<double>(a[i]) / n - a0[i]));
            err = std::max(err, std::abs(static_cast<double>(b[i]) / n - b0[i]));
        }
        EXPECT_LT(err, 50 * tolerance<T>(n)) << n;
    }
}

TYPED_TEST(GpfaTest, LengthOneAndEmptyLotChangeNothing) {
    using T = TypeParam;
    std::vector<T> table(2, T(42));
    detail::gpfaTable(table.data(), 1);
    EXPECT_EQ(table[0], T(42));  // no block
    std::vector<T> a = {T(0.25), T(-3)}, b = {T(7), T(0.5)};
    detail::gpfaTransform(a.data(), b.data(), table.data(), 1, 1, 1, 2, 1);
    EXPECT_EQ(a, (std::vector<T>{T(0.25), T(-3)}));
    EXPECT_EQ(b, (std::vector<T>{T(7), T(0.5)}));
    std::vector<T> t6(12);
    detail::gpfaTable(t6.data(), 6);
    std::vector<T> c = randomValues<T>(6, 1), d = randomValues<T>(6, 2);
    const std::vector<T> c0 = c, d0 = d;
    detail::gpfaTransform(c.data(), d.data(), t6.data(), 1, 6, 6, 0, 1);
    EXPECT_EQ(c, c0);
    EXPECT_EQ(d, d0);
}

}  // namespace

namespace {

// A filter that reaches the GPFA routines as derived filters do.
template <class T>
class GpfaCaller : public com::norvane::filtering::Cn1dFftFilter<T> {
public:
    using Base = com::norvane::filtering::Cn1dFftFilter<T>;
    using Base::gpfa;
    using Base::gpfa2f;
    using Base::gpfa3f;
    using Base::gpfa5f;
    using Base::pow_ii;
    using Base::setgpfa;
};

}  // namespace

TEST(GpfaIntegerPowerTest, WrapsTruncatesAndRejectsZeroToANegativePower) {
    const std::int32_t most = std::numeric_limits<std::int32_t>::min();
    struct Case {
        std::int32_t x, e, expected;
    };
    const Case cases[] = {
        {2, 10, 1024}, {5, 0, 1},        {1, -3, 1},   {2, -1, 0},   {-1, -3, -1},      {-1, -4, 1},
        {0, 0, 1},     {0, 5, 0},        {-3, 3, -27}, {2, 31, most}, {2, 32, 0},       {3, most, 0},
        {-1, most, 1}, {1, most, 1},     {7, -2, 0},   {-2, -1, 0},  {3, 21, static_cast<std::int32_t>(10460353203LL % 4294967296LL)},
    };
    GpfaCaller<float> f;
    for (Case c : cases) {
        EXPECT_EQ(f.pow_ii(&c.x, &c.e), c.expected) << c.x << "^" << c.e;
        EXPECT_EQ(detail::gpfaIntegerPower(c.x, c.e), c.expected) << c.x << "^" << c.e;
    }
    std::int32_t zero = 0, minusOne = -1;
    EXPECT_THROW(f.pow_ii(&zero, &minusOne), com::norvane::Throwable);
    EXPECT_THROW(f.pow_ii(nullptr, &minusOne), com::norvane::Throwable);
}

TYPED_TEST(GpfaTest, RadixRoutinesInTurnEqualTheDriverAndRefusePowersThatDoNotDivide) {
    using T = TypeParam;
    GpfaCaller<T> f;
    std::int32_t n = 30, inc = 1, jump = 30, lot = 3, isign = 1, one = 1, two = 2;
    std::vector<T> table(2 * n);
    EXPECT_EQ(f.setgpfa(table.data(), &n), 0);
    const std::vector<T> re = randomValues<T>(90, 5), im = randomValues<T>(90, 6);
    std::vector<T> a = re, b = im, c = re, d = im;
    EXPECT_EQ(f.gpfa(a.data(), b.data(), table.data(), &inc, &jump, &n, &lot, &isign), 0);
    // 30 = 2 * 3 * 5: blocks of 2 pairs at 0, 3 pairs at 4, 5 pairs at 10.
    EXPECT_EQ(f.gpfa2f(c.data(), d.data(), table.data(), &inc, &jump, &n, &one, &lot, &isign), 0);
    EXPECT_EQ(f.gpfa3f(c.data(), d.data(), table.data() + 4, &inc, &jump, &n, &one, &lot, &isign), 0);
    EXPECT_EQ(f.gpfa5f(c.data(), d.data(), table.data() + 10, &inc, &jump, &n, &one, &lot, &isign), 0);
    EXPECT_EQ(a, c);
    EXPECT_EQ(b, d);
    // 2^2 does not divide 30, nor does a negative exponent make a factor: nothing is touched.
    std::int32_t minusOne = -1;
    for (std::int32_t* mm : {&two, &minusOne}) {
        EXPECT_THROW(f.gpfa2f(c.data(), d.data(), table.data(), &inc, &jump, &n, mm, &lot, &isign),
                     com::norvane::Throwable);
    }
    EXPECT_THROW(f.gpfa3f(c.data(), d.data(), table.data(), &inc, &jump, &n, nullptr, &lot, &isign),
                 com::norvane::Throwable);
    EXPECT_EQ(a, c);
    EXPECT_EQ(b, d);
}

// The table holds a block for the factor 2^p, then 3^q, then 5^r of the
// length, each of as many pairs as its factor: the radix routines, each given
// its block where the one before ends, do in turn what the driver does.
TYPED_TEST(GpfaTest, TableBlocksFollowOneAnotherForTheRadixRoutines) {
    using T = TypeParam;
    GpfaCaller<T> f;
    for (std::int32_t n : {2, 6, 12, 18, 40, 60, 125, 360}) {
        std::vector<T> table(2 * static_cast<std::size_t>(n));
        ASSERT_EQ(f.setgpfa(table.data(), &n), 0) << n;
        std::int32_t inc = 1, jump = n, lot = 3, isign = n % 4 == 0 ? -1 : 1;
        const std::vector<T> re = randomValues<T>(3 * static_cast<std::size_t>(n), static_cast<unsigned>(n));
        const std::vector<T> im = randomValues<T>(3 * static_cast<std::size_t>(n), static_cast<unsigned>(n + 1));
        std::vector<T> a = re, b = im, c = re, d = im;
        ASSERT_EQ(f.gpfa(a.data(), b.data(), table.data(), &inc, &jump, &n, &lot, &isign), 0) << n;
        std::int32_t rest = n;
        std::size_t offset = 0;
        for (const std::int32_t radix : {2, 3, 5}) {
            std::int32_t power = 0, factor = 1;
            while (rest % radix == 0) {
                rest /= radix;
                factor *= radix;
                ++power;
            }
            if (power == 0) {
                continue;
            }
            const auto routine = radix == 2   ? &GpfaCaller<T>::gpfa2f
                                 : radix == 3 ? &GpfaCaller<T>::gpfa3f
                                              : &GpfaCaller<T>::gpfa5f;
            ASSERT_EQ((f.*routine)(c.data(), d.data(), table.data() + offset, &inc, &jump, &n, &power, &lot, &isign), 0)
                << n << " radix " << radix;
            offset += 2 * static_cast<std::size_t>(factor);
        }
        EXPECT_TRUE(nvftest::sameBits(a, c)) << n << " real parts";
        EXPECT_TRUE(nvftest::sameBits(b, d)) << n << " imaginary parts";
    }
}
