// Regional maxima against the direct definition: flat tops, borders, thin images,
// not-a-number, sizes of the output, deeper slices left alone.
#include <gtest/gtest.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <cmath>
#include <limits>
#include <random>

#include "MorphologyTestSupport.h"

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using morphtest::Size3;
using Mask = Image<unsigned char>;

namespace {

// Direct definition on slice 0: positive and not smaller than every neighbour
// inside the image (a comparison with not-a-number fails).
template <class T>
Mask naiveMaxima(const Image<T>& in) {
    const int X = static_cast<int>(in.getSizeX()), Y = static_cast<int>(in.getSizeY());
    Mask out(in.getSizeX(), in.getSizeY(), 1);
    for (int y = 0; y < Y; ++y) {
        for (int x = 0; x < X; ++x) {
            const T v = in(static_cast<unsigned>(x), static_cast<unsigned>(y), 0);
            bool m = v > T(0);
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= X || ny >= Y) {
                        continue;
                    }
                    m = m && v >= in(static_cast<unsigned>(nx), static_cast<unsigned>(ny), 0);
                }
            }
            out(static_cast<unsigned>(x), static_cast<unsigned>(y), 0) = m ? 1 : 0;
        }
    }
    return out;
}

// The first X * Y voxels of a mask against a one-slice reference.
void expectFirstSlice(const Mask& out, const Mask& expected, const std::string& what) {
    for (std::size_t i = 0; i < expected.getNumberOfVoxels(); ++i) {
        ASSERT_EQ(out[i], expected[i]) << what << " pixel " << i;
    }
}

template <class T>
class RegionalMaximum : public ::testing::Test {};

using PixelTypes = ::testing::Types<short, float, double>;
TYPED_TEST_SUITE(RegionalMaximum, PixelTypes);

// Few distinct values, so that plateaus and equal neighbours are common;
// negative values and zeros included.
TYPED_TEST(RegionalMaximum, BothPathsMatchTheDefinitionOnRandomImages) {
    using T = TypeParam;
    std::mt19937 rng(41);
    std::uniform_int_distribution<int> level(-2, 4);
    std::vector<Size3> sizes = morphtest::awkwardSizes();
    sizes.insert(sizes.end(), {{5, 7, 1}, {7, 5, 1}, {33, 1, 1}, {1, 33, 1}, {64, 47, 1}});
    for (const Size3& s : sizes) {
        for (int trial = 0; trial < 4; ++trial) {
            const Image<T> in = morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) {
                return trial == 3 ? static_cast<T>(level(r) * 1000 + level(r)) : static_cast<T>(level(r));
            });
            const Mask expected = naiveMaxima(in);
            Mask fast(s.x, s.y, s.z), slow(s.x, s.y, s.z);
            fast.fill(9);
            slow.fill(9);
            nvf::CnRegionalMaximumFilter<T> f;
            f.execute(in, fast);
            com::norvane::filtering::detail::executeStraightforward(f, in, slow);
            expectFirstSlice(fast, expected, morphtest::describe(s) + " fast");
            expectFirstSlice(slow, expected, morphtest::describe(s) + " straightforward");
            // Deeper slices are left as they were.
            for (std::size_t i = expected.getNumberOfVoxels(); i < fast.getNumberOfVoxels(); ++i) {
                ASSERT_EQ(fast[i], 9) << morphtest::describe(s);
                ASSERT_EQ(slow[i], 9) << morphtest::describe(s);
            }
        }
    }
}

TYPED_TEST(RegionalMaximum, ZerosAndNegativesAreNeverMaxima) {
    using T = TypeParam;
    for (const T value : {T(0), T(-3)}) {
        Image<T> in(6, 5, 1);
        in.fill(value);
        Mask out(6, 5, 1);
        out.fill(1);
        nvf::CnRegionalMaximumFilter<T> f;
        f.execute(in, out);
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], 0);
        }
    }
}

TYPED_TEST(RegionalMaximum, ConstantPositiveImageIsOneBigPlateau) {
    using T = TypeParam;
    for (const Size3& s : {Size3{6, 5, 1}, Size3{2, 2, 1}, Size3{1, 1, 1}, Size3{1, 4, 1}}) {
        Image<T> in(s.x, s.y, 1);
        in.fill(T(2));
        Mask out(s.x, s.y, 1);
        nvf::CnRegionalMaximumFilter<T> f;
        f.execute(in, out);
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], 1) << morphtest::describe(s);
        }
    }
}

TYPED_TEST(RegionalMaximum, PlateauIsMarkedWhereNoNeighbourIsHigher) {
    using T = TypeParam;
    // A 3x2 plateau of 5 on 1s, with one 6 touching its right end.
    Image<T> in(8, 6, 1);
    in.fill(T(1));
    for (unsigned y = 2; y <= 3; ++y) {
        for (unsigned x = 1; x <= 3; ++x) {
            in(x, y, 0) = T(5);
        }
    }
    in(5, 2, 0) = T(6);
    Mask out(8, 6, 1);
    nvf::CnRegionalMaximumFilter<T> f;
    f.execute(in, out);
    EXPECT_EQ(out(1, 2, 0), 1);
    EXPECT_EQ(out(2, 2, 0), 1);
    EXPECT_EQ(out(1, 3, 0), 1);
    EXPECT_EQ(out(2, 3, 0), 1);
    EXPECT_EQ(out(3, 2, 0), 1);  // the 6 is two columns away
    in(4, 3, 0) = T(6);          // now a higher diagonal neighbour of (3, 2)
    f.execute(in, out);
    EXPECT_EQ(out(3, 2, 0), 0);
    EXPECT_EQ(out(3, 3, 0), 0);
    EXPECT_EQ(out(2, 2, 0), 1);
    EXPECT_EQ(out(1, 3, 0), 1);
    EXPECT_EQ(out(0, 2, 0), 0);  // a 1 beside the plateau
    EXPECT_EQ(out(0, 0, 0), 1);  // a 1 among 1s only is a local top
}

TYPED_TEST(RegionalMaximum, BrightPixelOnTheBorderAndInEveryCorner) {
    using T = TypeParam;
    const unsigned X = 7, Y = 5;
    for (const auto& p :
         std::vector<std::vector<unsigned>>{{0, 0}, {6, 0}, {0, 4}, {6, 4}, {3, 0}, {0, 2}, {6, 3}, {2, 4}}) {
        Image<T> in(X, Y, 1);
        in.fill(T(1));
        in(p[0], p[1], 0) = T(9);
        // Every other pixel is marked unless the bright one is among its neighbours.
        Mask out(X, Y, 1);
        nvf::CnRegionalMaximumFilter<T> f;
        f.execute(in, out);
        EXPECT_EQ(out(p[0], p[1], 0), 1) << p[0] << "," << p[1];
        for (unsigned y = 0; y < Y; ++y) {
            for (unsigned x = 0; x < X; ++x) {
                const bool near = std::abs(static_cast<int>(x) - static_cast<int>(p[0])) <= 1 &&
                                  std::abs(static_cast<int>(y) - static_cast<int>(p[1])) <= 1;
                EXPECT_EQ(out(x, y, 0), near && !(x == p[0] && y == p[1]) ? 0 : 1) << x << "," << y;
            }
        }
    }
}

TYPED_TEST(RegionalMaximum, WrongOutputDimensionsThrowBeforeWriting) {
    using T = TypeParam;
    Image<T> in(5, 4, 1);
    in.fill(T(1));
    for (const Size3& s : {Size3{4, 4, 1}, Size3{5, 3, 1}, Size3{6, 4, 1}, Size3{5, 4, 0}, Size3{20, 1, 1}}) {
        Mask out(s.x, s.y, s.z);
        out.fill(7);
        nvf::CnRegionalMaximumFilter<T> f;
        const auto e = morphtest::expectThrowable([&] { f.execute(in, out); });
        EXPECT_EQ(e.getMessage(),
                  "CnRegionalMaximumFilter: output image must have the input's X and Y dimensions and at least one "
                  "slice.");
        EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
        EXPECT_THROW(com::norvane::filtering::detail::executeStraightforward(f, in, out), com::norvane::Throwable);
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], 7);
        }
    }
    // Any depth of at least one slice is fine, whatever the input's depth.
    Image<T> deep(5, 4, 3);
    Mask thin(5, 4, 1), deeper(5, 4, 6);
    nvf::CnRegionalMaximumFilter<T> f;
    EXPECT_NO_THROW(f.execute(deep, thin));
    EXPECT_NO_THROW(f.execute(in, deeper));
}

TYPED_TEST(RegionalMaximum, InputWithoutPixelsWritesNothing) {
    using T = TypeParam;
    for (const Size3& s : {Size3{0, 0, 0}, Size3{0, 3, 1}, Size3{3, 0, 1}, Size3{3, 2, 0}}) {
        const Image<T> in(s.x, s.y, s.z);
        Mask out(s.x, s.y, s.z == 0 ? 1 : s.z);
        out.fill(4);
        nvf::CnRegionalMaximumFilter<T> f;
        EXPECT_NO_THROW(f.execute(in, out));
        EXPECT_NO_THROW(com::norvane::filtering::detail::executeStraightforward(f, in, out));
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], 4);
        }
        // Without voxels to test, an output without slices is accepted too.
        Mask flat(s.x, s.y, 0);
        EXPECT_NO_THROW(f.execute(in, flat));
        EXPECT_NO_THROW(com::norvane::filtering::detail::executeStraightforward(f, in, flat));
    }
}

TYPED_TEST(RegionalMaximum, VolumeGivesTheMaskOfItsFirstSlice) {
    using T = TypeParam;
    Image<T> in(4, 3, 3);
    in(1, 1, 0) = T(3);
    in(2, 1, 1) = T(8);  // second slice: ignored
    Mask out(4, 3, 3);
    out.fill(5);
    nvf::CnRegionalMaximumFilter<T> f;
    f.execute(in, out);
    for (unsigned y = 0; y < 3; ++y) {
        for (unsigned x = 0; x < 4; ++x) {
            EXPECT_EQ(out(x, y, 0), x == 1 && y == 1 ? 1 : 0);
            EXPECT_EQ(out(x, y, 1), 5);
            EXPECT_EQ(out(x, y, 2), 5);
        }
    }
}

// Rows long enough for the vector loops and for several blocks of the row-wise
// path, with their remainders; a few rows, so that the look-ahead reaches past
// the last row; long single rows and columns, and images of several bands.
TYPED_TEST(RegionalMaximum, LongRowsMatchTheStraightforwardPath) {
    using T = TypeParam;
    std::mt19937 rng(43);
    std::uniform_int_distribution<int> level(-1, 3);
    const std::vector<Size3> sizes = {{255, 3, 1},  {258, 5, 1},   {515, 4, 2}, {1031, 6, 1}, {97, 9, 1},  {3001, 1, 1},
                                      {1, 3001, 1}, {301, 257, 1}, {700, 5, 1}, {2, 181, 1},  {41, 47, 1}, {67, 53, 1}};
    for (const Size3& s : sizes) {
        const Image<T> in = morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) { return static_cast<T>(level(r)); });
        Mask fast(s.x, s.y, s.z), slow(s.x, s.y, s.z);
        fast.fill(9);
        slow.fill(9);
        nvf::CnRegionalMaximumFilter<T> f;
        f.execute(in, fast);
        com::norvane::filtering::detail::executeStraightforward(f, in, slow);
        ASSERT_TRUE(morphtest::sameBits(fast, slow)) << morphtest::describe(s);
        expectFirstSlice(fast, naiveMaxima(in), morphtest::describe(s));
    }
}

template <class T>
class RegionalMaximumFloating : public ::testing::Test {};
using FloatingTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(RegionalMaximumFloating, FloatingTypes);

TYPED_TEST(RegionalMaximumFloating, NotANumberIsNeverAMaximumNorBeside) {
    using T = TypeParam;
    const T nan = std::numeric_limits<T>::quiet_NaN();
    Image<T> in(6, 5, 1);
    in.fill(T(1));
    in(2, 2, 0) = nan;
    in(0, 0, 0) = nan;
    in(5, 4, 0) = T(4);
    Mask out(6, 5, 1), slow(6, 5, 1);
    nvf::CnRegionalMaximumFilter<T> f;
    f.execute(in, out);
    com::norvane::filtering::detail::executeStraightforward(f, in, slow);
    EXPECT_TRUE(morphtest::sameBits(out, slow));
    EXPECT_EQ(out(2, 2, 0), 0);
    EXPECT_EQ(out(0, 0, 0), 0);
    for (unsigned y = 1; y <= 3; ++y) {
        for (unsigned x = 1; x <= 3; ++x) {
            EXPECT_EQ(out(x, y, 0), 0) << x << "," << y;  // neighbours of the inner NaN
        }
    }
    EXPECT_EQ(out(1, 0, 0), 0);  // beside the corner NaN
    EXPECT_EQ(out(0, 1, 0), 0);
    EXPECT_EQ(out(5, 4, 0), 1);
    EXPECT_EQ(out(5, 0, 0), 1);  // a 1 whose neighbours are all 1
    // Infinity is an ordinary, very large value.
    in(5, 0, 0) = std::numeric_limits<T>::infinity();
    f.execute(in, out);
    EXPECT_EQ(out(5, 0, 0), 1);
    EXPECT_EQ(out(4, 0, 0), 0);
    // A row of NaN: nothing marked, also on the narrow paths.
    Image<T> row(5, 1, 1);
    row.fill(nan);
    Mask rowOut(5, 1, 1);
    rowOut.fill(1);
    f.execute(row, rowOut);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(rowOut[i], 0);
    }
}

// Not-a-number, infinities and both zeros scattered over rows of every length
// around the vector widths.
TYPED_TEST(RegionalMaximumFloating, SpecialValuesMatchTheStraightforwardPath) {
    using T = TypeParam;
    const T specials[] = {std::numeric_limits<T>::quiet_NaN(), std::numeric_limits<T>::infinity(),
                          -std::numeric_limits<T>::infinity(), T(0), -T(0), std::numeric_limits<T>::denorm_min()};
    std::mt19937 rng(47);
    std::uniform_int_distribution<int> level(-1, 2), pick(0, 15);
    for (unsigned int x = 1; x <= 70; x += 3) {
        const Size3 s{x, 6, 1};
        const Image<T> in = morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) {
            const int p = pick(r);
            return p < 6 ? specials[p] : static_cast<T>(level(r));
        });
        Mask fast(s.x, s.y, s.z), slow(s.x, s.y, s.z);
        nvf::CnRegionalMaximumFilter<T> f;
        f.execute(in, fast);
        com::norvane::filtering::detail::executeStraightforward(f, in, slow);
        ASSERT_TRUE(morphtest::sameBits(fast, slow)) << morphtest::describe(s);
        expectFirstSlice(fast, naiveMaxima(in), morphtest::describe(s));
    }
}

}  // namespace
