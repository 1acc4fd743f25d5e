// Two- and three-dimensional filters against the direct DFT, round trips, in-place
// use, rejected sizes, and the batched z-lines against the line-by-line ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include <nvcore/Exception.h>
#include <nvcore/Throwable.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/fft/detail/PowerOfTwoFft.h>
#include <nvmath/CnFft.h>

#include "FftTestSupport.h"

namespace msg = com::norvane::filtering::messages;
using namespace fft_test;
namespace detail = com::norvane::filtering::detail;

namespace {

template <class T>
class FftMultiDimTest : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FftMultiDimTest, Precisions, PrecisionNames);

// n1 rows of n2 adjacent values: DFT along the rows, then along the columns.
void direct2d(std::vector<long double>& re, std::vector<long double>& im, int n1, int n2, int dir) {
    directDft(re, im, n2, n1, n2, 1, dir);
    directDft(re, im, n1, n2, 1, n2, dir);
}

void direct3d(std::vector<long double>& re, std::vector<long double>& im, int nx, int ny, int nz, int dir) {
    directDft(re, im, nx, ny * nz, nx, 1, dir);
    for (int z = 0; z < nz; ++z) {
        directDft(re, im, ny, nx, 1, nx, dir, static_cast<long>(z) * nx * ny);  // the y-lines of slice z
    }
    directDft(re, im, nz, nx * ny, 1, nx * ny, dir);
}

TYPED_TEST(FftMultiDimTest, TwoDimensionalMatchesDirectDft) {
    using T = TypeParam;
    const int sizes[][2] = {{6, 4}, {4, 6}, {5, 3}, {12, 10}, {8, 16}, {16, 2}, {1, 8}, {9, 1}, {32, 32}};
    for (const auto& s : sizes) {
        const int n1 = s[0], n2 = s[1];
        for (int dir : {1, -1}) {
            const std::vector<T> re = randomValues<T>(n1 * n2, 3), im = randomValues<T>(n1 * n2, 4);
            std::vector<T> outRe(re.size()), outIm(im.size());
            Cn2dFftFilter<T> f;
            f.executeWith(re.data(), im.data(), outRe.data(), outIm.data(), n1, n2, dir);
            std::vector<long double> wr = widen(re), wi = widen(im);
            direct2d(wr, wi, n1, n2, dir);
            EXPECT_LT(relativeRms(outRe, outIm, wr, wi), tolerance<T>(n1 * n2)) << n1 << "x" << n2 << " " << dir;
        }
    }
}

TYPED_TEST(FftMultiDimTest, TwoDimensionalReadsLengthAsRowCount) {
    using T = TypeParam;
    // 5 rows of 3: only the direct DFT with that reading matches
    const std::vector<T> re = randomValues<T>(15, 1), im = randomValues<T>(15, 2);
    std::vector<T> outRe(15), outIm(15);
    Cn2dFftFilter<T> f;
    f.executeWith(re.data(), im.data(), outRe.data(), outIm.data(), 5, 3, 1);
    std::vector<long double> wr = widen(re), wi = widen(im), xr = wr, xi = wi;
    direct2d(wr, wi, 5, 3, 1);
    direct2d(xr, xi, 3, 5, 1);
    EXPECT_LT(relativeRms(outRe, outIm, wr, wi), tolerance<T>(15));
    EXPECT_GT(relativeRms(outRe, outIm, xr, xi), 0.1);
}

TYPED_TEST(FftMultiDimTest, ThreeDimensionalMatchesDirectDft) {
    using T = TypeParam;
    const int sizes[][3] = {{6, 4, 5}, {5, 6, 4}, {4, 2, 8}, {3, 5, 1}, {8, 4, 16}, {1, 1, 6}};
    for (const auto& s : sizes) {
        const int nx = s[0], ny = s[1], nz = s[2];
        const int m = nx * ny * nz;
        for (int dir : {1, -1}) {
            const std::vector<T> re = randomValues<T>(m, 7), im = randomValues<T>(m, 8);
            std::vector<T> outRe(m), outIm(m);
            Cn3dFftFilter<T> f;
            f.executeWith(re.data(), im.data(), outRe.data(), outIm.data(), nx, ny, nz, dir);
            std::vector<long double> wr = widen(re), wi = widen(im);
            direct3d(wr, wi, nx, ny, nz, dir);
            EXPECT_LT(relativeRms(outRe, outIm, wr, wi), tolerance<T>(m)) << nx << "x" << ny << "x" << nz;
        }
    }
}

TYPED_TEST(FftMultiDimTest, ForwardThenInverseReturnsTheInput) {
    using T = TypeParam;
    const int sizes[][3] = {{6, 4, 5}, {16, 8, 4}, {10, 9, 12}};
    for (const auto& s : sizes) {
        const int m = s[0] * s[1] * s[2];
        const std::vector<T> re = randomValues<T>(m, 1), im = randomValues<T>(m, 2);
        std::vector<T> a = re, b = im;
        Cn3dFftFilter<T> f;
        f.executeWith(a.data(), b.data(), a.data(), b.data(), s[0], s[1], s[2], 1);
        f.executeWith(a.data(), b.data(), a.data(), b.data(), s[0], s[1], s[2], -1);
        EXPECT_LT(relativeRms(a, b, widen(re), widen(im)), tolerance<T>(m));
        std::vector<T> c = re, d = im;
        Cn2dFftFilter<T> g;
        g.executeWith(c.data(), d.data(), c.data(), d.data(), s[0], s[1] * s[2], 1);
        g.executeWith(c.data(), d.data(), c.data(), d.data(), s[0], s[1] * s[2], -1);
        EXPECT_LT(relativeRms(c, d, widen(re), widen(im)), tolerance<T>(m));
    }
}

TYPED_TEST(FftMultiDimTest, InPlaceEqualsOutOfPlaceAndLeavesInputAlone) {
    using T = TypeParam;
    const int sizes[][3] = {{6, 4, 5}, {8, 8, 8}, {3, 16, 10}};
    for (const auto& s : sizes) {
        const int m = s[0] * s[1] * s[2];
        const std::vector<T> re = randomValues<T>(m, 1), im = randomValues<T>(m, 2);
        std::vector<T> inRe = re, inIm = im, outRe(m), outIm(m);
        Cn3dFftFilter<T> f;
        f.executeWith(inRe.data(), inIm.data(), outRe.data(), outIm.data(), s[0], s[1], s[2], -1);
        EXPECT_EQ(inRe, re);
        EXPECT_EQ(inIm, im);
        f.executeWith(inRe.data(), inIm.data(), inRe.data(), inIm.data(), s[0], s[1], s[2], -1);
        EXPECT_EQ(inRe, outRe);
        EXPECT_EQ(inIm, outIm);

        std::vector<T> r2 = re, i2 = im, o2r(m), o2i(m);
        Cn2dFftFilter<T> g;
        g.executeWith(r2.data(), i2.data(), o2r.data(), o2i.data(), s[0] * s[1], s[2], 1);
        EXPECT_EQ(r2, re);
        g.executeWith(r2.data(), i2.data(), r2.data(), i2.data(), s[0] * s[1], s[2], 1);
        EXPECT_EQ(r2, o2r);
        EXPECT_EQ(i2, o2i);
    }
}

TYPED_TEST(FftMultiDimTest, SevenAnywhereThrowsBeforeAnyArrayIsTouched) {
    using T = TypeParam;
    const int sizes[][3] = {{7, 8, 8}, {8, 7, 8}, {8, 8, 7}, {6, 4, 14}, {0, 4, 4}, {4, -1, 4}, {4, 4, 0}};
    for (const auto& s : sizes) {
        const int m = 8 * 8 * 14;
        const std::vector<T> re = randomValues<T>(m, 1), im = randomValues<T>(m, 2);
        std::vector<T> a = re, b = im;
        Cn3dFftFilter<T> f;
        const bool small = s[0] < 1 || s[1] < 1 || s[2] < 1;
        try {
            f.executeWith(a.data(), b.data(), a.data(), b.data(), s[0], s[1], s[2], 1);
            ADD_FAILURE() << "no exception";
        } catch (const com::norvane::Throwable& e) {
            EXPECT_EQ(e.getMessage(), small ? msg::kFft3dSizeBelowOne : msg::kFftDimensionNotImplemented);
            EXPECT_EQ(e.getClassPath(), small ? msg::kThrowableClassPath : msg::kFftDimensionClassPath);
        }
        EXPECT_EQ(a, re);
        EXPECT_EQ(b, im);
    }
    for (int n1 : {7, 0, 6}) {
        const int n2 = n1 == 6 ? 49 : 8;
        std::vector<T> a = randomValues<T>(400, 3), b = randomValues<T>(400, 4);
        const std::vector<T> a0 = a, b0 = b;
        Cn2dFftFilter<T> g;
        EXPECT_THROW(g.executeWith(a.data(), b.data(), a.data(), b.data(), n1, n2, 1), com::norvane::Throwable);
        EXPECT_EQ(a, a0);
        EXPECT_EQ(b, b0);
    }
}

TYPED_TEST(FftMultiDimTest, BatchedZLinesEqualLineByLineBitForBit) {
    using T = TypeParam;
    const int sizes[][3] = {{5, 3, 9}, {3, 5, 16}, {5, 9, 12}, {130, 1, 6}, {1, 1, 32}, {9, 3, 1}, {2, 70, 8}};
    for (const auto& s : sizes) {
        const int m = s[0] * s[1] * s[2];
        for (int dir : {1, -1}) {
            const std::vector<T> re = randomValues<T>(m, 11), im = randomValues<T>(m, 12);
            std::vector<T> a = re, b = im, c = re, d = im;
            ZLines<T>::oneByOne(a.data(), b.data(), s[0], s[1], s[2], dir);
            ZLines<T>::batched(c.data(), d.data(), s[0], s[1], s[2], dir);
            ASSERT_EQ(a, c) << s[0] << "x" << s[1] << "x" << s[2];
            ASSERT_EQ(b, d) << s[0] << "x" << s[1] << "x" << s[2];
        }
    }
}

TYPED_TEST(FftMultiDimTest, ThreeDimensionalCallLeavesTheFilterFieldsAlone) {
    using T = TypeParam;
    // a 7-argument run on the same object, before and after a 3-D run, still
    // transforms as a 2-D filter with its own settings
    const std::vector<T> re = randomValues<T>(60, 1), im = randomValues<T>(60, 2);
    std::vector<T> a(60), b(60), c(60), d(60), v(60), w(60);
    Cn3dFftFilter<T> f;
    f.executeWith(re.data(), im.data(), a.data(), b.data(), 6, 10, 1);
    f.executeWith(re.data(), im.data(), v.data(), w.data(), 3, 4, 5, -1);
    f.executeWith(re.data(), im.data(), c.data(), d.data(), 6, 10, 1);
    EXPECT_EQ(a, c);
    EXPECT_EQ(b, d);
}

// The ends of the filters' 1-D transform of length n in direction dir.
template <class T>
detail::Pow2Ends<T> inverseEnds(int dir, int n) {
    const bool inverse = dir < 0;
    return {inverse, inverse, inverse ? T(1) / static_cast<T>(n) : T(1)};
}

TYPED_TEST(FftMultiDimTest, InterleavedPowerOfTwoEqualsMathLibraryOneVectorAtATime) {
    using T = TypeParam;
    const com::norvane::math::CnFft<T> fft;
    // 5 vectors fit one band; 133 span several bands and end in a partial one.
    for (const int count : {5, 133}) {
        for (int n : {1, 2, 8, 64, 512}) {
            const int stride = count + 2;  // vectors adjacent, then a gap left untouched
            std::vector<T> table(3 * n);
            fft.Call1dMklFftRoutine(nullptr, nullptr, n, 0, table.data());
            for (int dir : {1, -1}) {
                std::vector<T> re = randomValues<T>(n * stride, 1), im = randomValues<T>(n * stride, 2);
                const std::vector<T> re0 = re, im0 = im;
                detail::pow2Interleaved(re.data(), im.data(), n, stride, count, table.data(), inverseEnds<T>(dir, n), nullptr);
                for (int v = 0; v < stride; ++v) {
                    std::vector<T> r(n), i(n);
                    for (int k = 0; k < n; ++k) {
                        r[k] = re0[k * stride + v];
                        i[k] = im0[k * stride + v];
                    }
                    if (v < count) {
                        fft.Call1dMklFftRoutine(r.data(), i.data(), n, dir, table.data());
                    }
                    for (int k = 0; k < n; ++k) {
                        ASSERT_EQ(re[k * stride + v], r[k]) << n << " x " << count << " v " << v;
                        ASSERT_EQ(im[k * stride + v], i[k]) << n << " x " << count << " v " << v;
                    }
                }
            }
        }
    }
    EXPECT_THROW(fft.Call1dMklFftRoutine(nullptr, nullptr, 12, 0, nullptr), com::norvane::Throwable);
}

TYPED_TEST(FftMultiDimTest, ContiguousPowerOfTwoEqualsMathLibraryOneVectorAtATime) {
    using T = TypeParam;
    const com::norvane::math::CnFft<T> fft;
    for (int n : {1, 2, 4, 8, 64, 512}) {
        std::vector<T> table(3 * n);
        fft.Call1dMklFftRoutine(nullptr, nullptr, n, 0, table.data());
        for (const int jump : {n, n + 3}) {  // adjacent vectors, then gaps left untouched
            const int count = 7;
            for (int dir : {1, -1}) {
                std::vector<T> re = randomValues<T>(count * jump, 7), im = randomValues<T>(count * jump, 8);
                std::vector<T> a = re, b = im;
                detail::pow2Contiguous(a.data(), b.data(), n, jump, count, table.data(), inverseEnds<T>(dir, n), nullptr);
                for (int v = 0; v < count; ++v) {
                    fft.Call1dMklFftRoutine(re.data() + v * jump, im.data() + v * jump, n, dir, table.data());
                }
                ASSERT_EQ(a, re) << n << " jump " << jump << " dir " << dir;
                ASSERT_EQ(b, im) << n << " jump " << jump << " dir " << dir;
            }
        }
    }
}

// The math library's 2-D routine against the plain sequence on the whole array:
// negate the imaginary parts (inverse), rows one by one, columns one by one, then
// scale by (r, -r) with r = 1 / (n1 n2) (inverse).
TYPED_TEST(FftMultiDimTest, MathLibrary2dRoutineEqualsRowsThenColumnsBitForBit) {
    using T = TypeParam;
    const com::norvane::math::CnFft<T> fft;
    const int shapes[][2] = {{1, 1}, {1, 16}, {32, 1}, {4, 2}, {16, 128}, {8, 512}, {256, 4}, {64, 64}};
    for (const auto& shape : shapes) {
        const int n1 = shape[0], n2 = shape[1];
        const std::size_t m = static_cast<std::size_t>(n1) * n2;
        std::vector<T> rowTable(3 * n2), columnTable(3 * n1);
        fft.Call1dMklFftRoutine(nullptr, nullptr, n2, 0, rowTable.data());
        fft.Call1dMklFftRoutine(nullptr, nullptr, n1, 0, columnTable.data());
        for (int dir : {1, -1}) {
            const std::vector<T> re = randomValues<T>(m, 3), im = randomValues<T>(m, 4);
            std::vector<T> a = re, b = im;
            fft.Call2dMklFftRoutine(a.data(), b.data(), n1, n2, dir);

            std::vector<T> c = re, d = im;
            if (dir < 0) {
                for (T& x : d) {
                    x = -x;
                }
            }
            for (int r = 0; r < n1; ++r) {
                fft.Call1dMklFftRoutine(c.data() + r * n2, d.data() + r * n2, n2, 1, rowTable.data());
            }
            std::vector<T> cr(n1), ci(n1);
            for (int col = 0; col < n2; ++col) {
                for (int r = 0; r < n1; ++r) {
                    cr[r] = c[r * n2 + col];
                    ci[r] = d[r * n2 + col];
                }
                fft.Call1dMklFftRoutine(cr.data(), ci.data(), n1, 1, columnTable.data());
                for (int r = 0; r < n1; ++r) {
                    c[r * n2 + col] = cr[r];
                    d[r * n2 + col] = ci[r];
                }
            }
            if (dir < 0) {
                const T scale = static_cast<T>(1.0 / (static_cast<double>(n1) * static_cast<double>(n2)));
                for (std::size_t i = 0; i < m; ++i) {
                    c[i] *= scale;
                    d[i] *= -scale;
                }
            }
            ASSERT_EQ(a, c) << n1 << "x" << n2 << " dir " << dir;
            ASSERT_EQ(b, d) << n1 << "x" << n2 << " dir " << dir;
            // the filter's own power-of-two passes give the math library's numbers
            std::vector<T> e(m), f(m);
            Cn2dFftFilter<T> filter;
            filter.executeWith(re.data(), im.data(), e.data(), f.data(), n1, n2, dir);
            ASSERT_EQ(e, c) << "filter " << n1 << "x" << n2 << " dir " << dir;
            ASSERT_EQ(f, d) << "filter " << n1 << "x" << n2 << " dir " << dir;
        }
    }
}

}  // namespace

TYPED_TEST(FftMultiDimTest, KeptTablesAreBuiltOncePerLengthAndEngine) {
    using T = TypeParam;
    detail::FftTables<T> tables;
    const auto gpfa = detail::FftEngine::Gpfa;
    const auto pow2 = detail::FftEngine::PowerOfTwo;
    const T* a = tables.get(gpfa, 6);
    EXPECT_EQ(tables.get(gpfa, 6), a);
    EXPECT_EQ(tables.builds(), 1u);
    tables.get(pow2, 8);
    tables.get(gpfa, 8);  // same length, other engine: a table of its own
    EXPECT_EQ(tables.builds(), 3u);
    // The three tables asked for last survive a fifth length; each holds what a
    // fresh build gives.
    tables.get(gpfa, 15);
    tables.get(gpfa, 6);
    tables.get(pow2, 16);
    const std::size_t built = tables.builds();
    std::vector<T> expected;
    const std::pair<detail::FftEngine, int> recent[] = {{gpfa, 15}, {gpfa, 6}, {pow2, 16}};
    for (const auto& [engine, n] : recent) {
        const T* kept = tables.get(engine, n);
        detail::buildFftTable(engine, n, expected);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), kept)) << n;
    }
    EXPECT_EQ(tables.builds(), built);
}

TYPED_TEST(FftMultiDimTest, FiltersThatChangeShapeGiveTheResultsOfFreshFilters) {
    using T = TypeParam;
    // One 2-D and one 3-D filter go through shapes that share and evict tables;
    // every run equals the run of a new filter on the same data.
    const int shapes[][3] = {{6, 10, 3}, {8, 8, 4}, {5, 9, 2}, {6, 10, 3}, {16, 4, 5}, {8, 8, 4}, {6, 10, 3}};
    Cn2dFftFilter<T> plane;
    Cn3dFftFilter<T> volume;
    for (const auto& s : shapes) {
        const int m = s[0] * s[1] * s[2];
        const std::vector<T> re = randomValues<T>(m, 21), im = randomValues<T>(m, 22);
        for (int dir : {1, -1}) {
            std::vector<T> a(m), b(m), c(m), d(m);
            plane.executeWith(re.data(), im.data(), a.data(), b.data(), s[0], s[1] * s[2], dir);
            Cn2dFftFilter<T> freshPlane;
            freshPlane.executeWith(re.data(), im.data(), c.data(), d.data(), s[0], s[1] * s[2], dir);
            ASSERT_EQ(a, c) << s[0] << "x" << s[1] * s[2];
            ASSERT_EQ(b, d);
            volume.executeWith(re.data(), im.data(), a.data(), b.data(), s[0], s[1], s[2], dir);
            Cn3dFftFilter<T> freshVolume;
            freshVolume.executeWith(re.data(), im.data(), c.data(), d.data(), s[0], s[1], s[2], dir);
            ASSERT_EQ(a, c) << s[0] << "x" << s[1] << "x" << s[2];
            ASSERT_EQ(b, d);
        }
    }
}
