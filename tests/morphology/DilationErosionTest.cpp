// Dilation and erosion against a naive cross on random and awkward sizes, in
// place, with wrong outputs and on bit patterns of wider types.
#include <gtest/gtest.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "MorphologyTestSupport.h"

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using morphtest::Size3;

namespace {

// Direct definition: OR (dilate) or AND (erode) of the voxel and of its face
// neighbours that lie inside the image.
template <class T>
Image<T> naiveCross(const Image<T>& in, bool dilate) {
    const int X = static_cast<int>(in.getSizeX()), Y = static_cast<int>(in.getSizeY()),
              Z = static_cast<int>(in.getSizeZ());
    Image<T> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const int d[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
    for (int z = 0; z < Z; ++z) {
        for (int y = 0; y < Y; ++y) {
            for (int x = 0; x < X; ++x) {
                T v = in(static_cast<unsigned>(x), static_cast<unsigned>(y), static_cast<unsigned>(z));
                for (const auto& o : d) {
                    const int nx = x + o[0], ny = y + o[1], nz = z + o[2];
                    if (nx < 0 || ny < 0 || nz < 0 || nx >= X || ny >= Y || nz >= Z) {
                        continue;
                    }
                    const T w = in(static_cast<unsigned>(nx), static_cast<unsigned>(ny), static_cast<unsigned>(nz));
                    v = static_cast<T>(dilate ? (v | w) : (v & w));
                }
                out(static_cast<unsigned>(x), static_cast<unsigned>(y), static_cast<unsigned>(z)) = v;
            }
        }
    }
    return out;
}

template <class T>
T allBits() {
    return static_cast<T>(~T(0));
}

template <class T>
Image<T> bitwiseComplement(const Image<T>& in) {
    Image<T> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
        out[i] = static_cast<T>(~in[i]);
    }
    return out;
}

template <class T>
class DilationErosion : public ::testing::Test {};

using VoxelTypes = ::testing::Types<unsigned char, unsigned short, short, std::uint32_t>;
TYPED_TEST_SUITE(DilationErosion, VoxelTypes);

// Random bit patterns and random masks, every awkward size: the fast path and
// the straightforward passes both equal the definition.
TYPED_TEST(DilationErosion, BothPathsMatchTheDefinitionOnRandomImages) {
    using T = TypeParam;
    std::mt19937 rng(17);
    std::uniform_int_distribution<long long> bits(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
    for (const Size3& s : morphtest::awkwardSizes()) {
        for (int kind = 0; kind < 3; ++kind) {
            const Image<T> in =
                kind == 0 ? morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) { return static_cast<T>(bits(r)); })
                          : morphtest::randomMask<T>(s, rng, kind == 1 ? 0.3 : 0.8, allBits<T>());
            for (const bool dilate : {true, false}) {
                const Image<T> expected = naiveCross(in, dilate);
                Image<T> fast(s.x, s.y, s.z), slow(s.x, s.y, s.z);
                fast.fill(T(5));
                slow.fill(T(9));
                if (dilate) {
                    nvf::CnDilationFilter<T> f;
                    f.execute(in, fast);
                    com::norvane::filtering::detail::executeStraightforward(f, in, slow);
                } else {
                    nvf::CnErosionFilter<T> f;
                    f.execute(in, fast);
                    com::norvane::filtering::detail::executeStraightforward(f, in, slow);
                }
                EXPECT_TRUE(morphtest::sameBits(fast, expected)) << morphtest::describe(s) << " dilate " << dilate;
                EXPECT_TRUE(morphtest::sameBits(slow, expected)) << morphtest::describe(s) << " dilate " << dilate;
            }
        }
    }
}

TYPED_TEST(DilationErosion, InPlaceGivesTheSameResultAsSeparateImages) {
    using T = TypeParam;
    std::mt19937 rng(5);
    for (const Size3& s : {Size3{7, 5, 3}, Size3{1, 1, 1}, Size3{9, 4, 1}, Size3{2, 2, 2}}) {
        const Image<T> in = morphtest::randomMask<T>(s, rng, 0.5, T(1));
        for (const bool dilate : {true, false}) {
            const Image<T> expected = naiveCross(in, dilate);
            Image<T> a(in), b(in);
            if (dilate) {
                nvf::CnDilationFilter<T> f;
                f.execute(a, a);
                com::norvane::filtering::detail::executeStraightforward(f, b, b);
            } else {
                nvf::CnErosionFilter<T> f;
                f.execute(a, a);
                com::norvane::filtering::detail::executeStraightforward(f, b, b);
            }
            EXPECT_TRUE(morphtest::sameBits(a, expected)) << morphtest::describe(s);
            EXPECT_TRUE(morphtest::sameBits(b, expected)) << morphtest::describe(s);
        }
    }
}

TYPED_TEST(DilationErosion, SingleVoxelDilatesToTheSevenVoxelCross) {
    using T = TypeParam;
    Image<T> in(5, 5, 5), out(5, 5, 5);
    in(2, 2, 2) = T(1);
    nvf::CnDilationFilter<T> f;
    f.execute(in, out);
    int set = 0;
    for (unsigned z = 0; z < 5; ++z) {
        for (unsigned y = 0; y < 5; ++y) {
            for (unsigned x = 0; x < 5; ++x) {
                const int dist = std::abs(static_cast<int>(x) - 2) + std::abs(static_cast<int>(y) - 2) +
                                 std::abs(static_cast<int>(z) - 2);
                EXPECT_EQ(out(x, y, z), dist <= 1 ? T(1) : T(0)) << x << "," << y << "," << z;
                set += out(x, y, z) != T(0) ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(set, 7);
}

TYPED_TEST(DilationErosion, ErosionRemovesTheFaceLayerButTheImageBorderDoesNotErode) {
    using T = TypeParam;
    // A 3x3x3 block inside a 7x7x7 zero volume keeps only its centre.
    Image<T> in(7, 7, 7), out(7, 7, 7);
    for (unsigned z = 2; z <= 4; ++z) {
        for (unsigned y = 2; y <= 4; ++y) {
            for (unsigned x = 2; x <= 4; ++x) {
                in(x, y, z) = T(1);
            }
        }
    }
    nvf::CnErosionFilter<T> f;
    f.execute(in, out);
    for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
        EXPECT_EQ(out[i], i == in.linearIndex(3, 3, 3) ? T(1) : T(0)) << i;
    }
    // A volume of ones stays ones, corners and edges included.
    Image<T> full(4, 3, 5), eroded(4, 3, 5);
    full.fill(allBits<T>());
    f.execute(full, eroded);
    EXPECT_TRUE(morphtest::sameBits(full, eroded));
    // A block filling the low-x half keeps its face on x = 0, loses the one at x = 2.
    Image<T> half(6, 3, 3), halfOut(6, 3, 3);
    for (unsigned z = 0; z < 3; ++z) {
        for (unsigned y = 0; y < 3; ++y) {
            for (unsigned x = 0; x < 3; ++x) {
                half(x, y, z) = T(1);
            }
        }
    }
    f.execute(half, halfOut);
    for (unsigned z = 0; z < 3; ++z) {
        for (unsigned y = 0; y < 3; ++y) {
            EXPECT_EQ(halfOut(0, y, z), T(1));
            EXPECT_EQ(halfOut(1, y, z), T(1));
            EXPECT_EQ(halfOut(2, y, z), T(0));
        }
    }
}

TYPED_TEST(DilationErosion, SingleVoxelImageIsCopied) {
    using T = TypeParam;
    Image<T> in(1, 1, 1), out(1, 1, 1);
    in[0] = static_cast<T>(0x5A);
    nvf::CnDilationFilter<T> d;
    d.execute(in, out);
    EXPECT_EQ(out[0], in[0]);
    out[0] = T(0);
    nvf::CnErosionFilter<T> e;
    e.execute(in, out);
    EXPECT_EQ(out[0], in[0]);
}

TYPED_TEST(DilationErosion, WrongOutputDimensionsThrowAndWriteNothing) {
    using T = TypeParam;
    const Image<T> in(4, 3, 2);
    for (const Size3& s : {Size3{3, 3, 2}, Size3{4, 4, 2}, Size3{4, 3, 1}, Size3{0, 0, 0}, Size3{24, 1, 1}}) {
        Image<T> out(s.x, s.y, s.z);
        out.fill(T(3));
        nvf::CnDilationFilter<T> d;
        const auto ed = morphtest::expectThrowable([&] { d.execute(in, out); });
        EXPECT_EQ(ed.getMessage(), "CnDilationFilter: output image dimensions differ from the input.");
        EXPECT_EQ(ed.getClassPath(), "java/lang/Throwable");
        nvf::CnErosionFilter<T> e;
        const auto ee = morphtest::expectThrowable([&] { com::norvane::filtering::detail::executeStraightforward(e, in, out); });
        EXPECT_EQ(ee.getMessage(), "CnErosionFilter: output image dimensions differ from the input.");
        EXPECT_EQ(ee.getClassPath(), "java/lang/Throwable");
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], T(3));
        }
    }
    EXPECT_STREQ(nvf::messages::kDilationOutputSize,
                 "CnDilationFilter: output image dimensions differ from the input.");
    EXPECT_STREQ(nvf::messages::kErosionOutputSize, "CnErosionFilter: output image dimensions differ from the input.");
}

// An image with a zero dimension has no voxels; with an output of the same
// dimensions both filters do nothing.
TYPED_TEST(DilationErosion, EmptyImagesAreLeftAlone) {
    using T = TypeParam;
    for (const Size3& s : {Size3{0, 0, 0}, Size3{0, 3, 2}, Size3{3, 0, 2}, Size3{3, 2, 0}}) {
        const Image<T> in(s.x, s.y, s.z);
        Image<T> out(s.x, s.y, s.z);
        nvf::CnDilationFilter<T> d;
        nvf::CnErosionFilter<T> e;
        EXPECT_NO_THROW(d.execute(in, out));
        EXPECT_NO_THROW(e.execute(in, out));
        EXPECT_NO_THROW(com::norvane::filtering::detail::executeStraightforward(d, in, out));
        EXPECT_NO_THROW(com::norvane::filtering::detail::executeStraightforward(e, in, out));
        EXPECT_EQ(out.getNumberOfVoxels(), 0u);
    }
}

// Images cut into several bands of rows, thin ones (one voxel along each axis
// in turn) and long lines, with sparse bits: the fast path and the
// straightforward passes both equal the definition.
TYPED_TEST(DilationErosion, LargeAndThinImagesMatchTheStraightforwardPasses) {
    using T = TypeParam;
    std::mt19937 rng(23);
    const Size3 sizes[] = {{1, 37, 45},  {43, 1, 39},   {41, 47, 1},  {1, 1, 3001},  {1, 3001, 1}, {3001, 1, 1},
                           {67, 53, 41}, {301, 257, 1}, {700, 5, 31}, {2, 181, 101}, {9, 7, 900}};
    for (const Size3& s : sizes) {
        const Image<T> in = morphtest::randomImage<T>(s, rng, [](std::mt19937& r) {
            return nvftest::randomVoxel<T>(r) & nvftest::randomVoxel<T>(r) & nvftest::randomVoxel<T>(r);
        });
        for (const bool dilate : {true, false}) {
            const Image<T> expected = naiveCross(in, dilate);
            Image<T> fast(s.x, s.y, s.z), slow(s.x, s.y, s.z);
            if (dilate) {
                nvf::CnDilationFilter<T> f;
                f.execute(in, fast);
                com::norvane::filtering::detail::executeStraightforward(f, in, slow);
            } else {
                nvf::CnErosionFilter<T> f;
                f.execute(in, fast);
                com::norvane::filtering::detail::executeStraightforward(f, in, slow);
            }
            EXPECT_TRUE(morphtest::sameBits(fast, expected)) << morphtest::describe(s) << " dilate " << dilate;
            EXPECT_TRUE(morphtest::sameBits(slow, expected)) << morphtest::describe(s) << " dilate " << dilate;
        }
    }
}

// Both filters leave a missing neighbour out, so complementing every bit
// turns one into the other exactly, on the image border too: the dilation of
// an image is the complement of the erosion of its complement, and the other
// way round.
TYPED_TEST(DilationErosion, EachIsTheComplementOfTheOtherOnTheComplement) {
    using T = TypeParam;
    std::mt19937 rng(29);
    std::vector<Size3> sizes = morphtest::awkwardSizes();
    sizes.insert(sizes.end(), {{31, 29, 1}, {23, 17, 13}, {130, 3, 2}});
    for (const Size3& s : sizes) {
        const Image<T> in = morphtest::randomImage<T>(s, rng);
        const Image<T> complement = bitwiseComplement(in);
        Image<T> dilated(s.x, s.y, s.z), eroded(s.x, s.y, s.z), dilatedComplement(s.x, s.y, s.z),
            erodedComplement(s.x, s.y, s.z);
        nvf::CnDilationFilter<T> d;
        nvf::CnErosionFilter<T> e;
        d.execute(in, dilated);
        e.execute(in, eroded);
        d.execute(complement, dilatedComplement);
        e.execute(complement, erodedComplement);
        EXPECT_TRUE(morphtest::sameBits(dilated, bitwiseComplement(erodedComplement))) << morphtest::describe(s);
        EXPECT_TRUE(morphtest::sameBits(eroded, bitwiseComplement(dilatedComplement))) << morphtest::describe(s);
    }
}

}  // namespace

// The combination is bitwise, not the maximum or minimum.
TEST(DilationErosionBitwise, NibblesSideBySide) {
    Image<unsigned char> in(2, 1, 1), out(2, 1, 1);
    in[0] = 0x0F;
    in[1] = 0xF0;
    nvf::CnDilationFilter<unsigned char> d;
    d.execute(in, out);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
    nvf::CnErosionFilter<unsigned char> e;
    e.execute(in, out);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x00);
}

TEST(DilationErosionBitwise, ShortWorksOnTheBitPattern) {
    Image<short> in(3, 1, 1), out(3, 1, 1);
    in[0] = -32768;  // 0x8000
    in[1] = 1;
    in[2] = 0x0100;
    nvf::CnDilationFilter<short> d;
    d.execute(in, out);
    EXPECT_EQ(out[0], static_cast<short>(0x8001));
    EXPECT_EQ(out[1], static_cast<short>(0x8101));
    EXPECT_EQ(out[2], static_cast<short>(0x0101));
    Image<short> ones(3, 1, 1);
    ones[0] = -1;
    ones[1] = -2;
    ones[2] = 0x7FFF;
    nvf::CnErosionFilter<short> e;
    e.execute(ones, out);
    EXPECT_EQ(out[0], -2);
    EXPECT_EQ(out[1], 0x7FFE);
    EXPECT_EQ(out[2], 0x7FFE);
}

// With one slice the z-neighbours do not exist: the five-voxel cross of the
// plane, and rows never wrap into one another.
TEST(DilationErosionBitwise, SingleSliceUsesThePlaneCrossWithoutWrapping) {
    Image<std::uint32_t> in(4, 3, 1), out(4, 3, 1);
    in(3, 0, 0) = 0x1;   // end of row 0: must not reach (0, 1)
    in(0, 2, 0) = 0x10;  // start of row 2: must not reach (3, 1)
    nvf::CnDilationFilter<std::uint32_t> d;
    d.execute(in, out);
    EXPECT_EQ(out(0, 1, 0), 0x10u);
    EXPECT_EQ(out(3, 1, 0), 0x1u);
    EXPECT_EQ(out(2, 0, 0), 0x1u);
    EXPECT_EQ(out(1, 2, 0), 0x10u);
    EXPECT_EQ(out(1, 1, 0), 0x0u);
    EXPECT_EQ(out(0, 0, 0), 0x0u);
}

// Masks of 0 and 1, sparse to dense, of every awkward size and a few larger
// ones, for the relations between the two filters.
std::vector<Image<unsigned char>> randomMasks() {
    std::mt19937 rng(31);
    std::vector<Size3> sizes = morphtest::awkwardSizes();
    sizes.insert(sizes.end(), {{31, 29, 1}, {23, 17, 13}, {130, 3, 2}, {1, 40, 40}});
    std::vector<Image<unsigned char>> masks;
    for (const Size3& s : sizes) {
        for (const double density : {0.1, 0.5, 0.9}) {
            masks.push_back(morphtest::randomMask<unsigned char>(s, rng, density, 1));
        }
    }
    return masks;
}

// The cross holds its centre: the erosion keeps only voxels of the mask, and
// the dilation every voxel of it. The masks are such that both change some
// voxels.
TEST(DilationErosionRelations, ErosionLiesInsideTheMaskAndTheMaskInsideTheDilation) {
    std::size_t removed = 0, added = 0;
    for (const Image<unsigned char>& in : randomMasks()) {
        const unsigned int x = in.getSizeX(), y = in.getSizeY(), z = in.getSizeZ();
        Image<unsigned char> eroded(x, y, z), dilated(x, y, z);
        nvf::CnErosionFilter<unsigned char>().execute(in, eroded);
        nvf::CnDilationFilter<unsigned char>().execute(in, dilated);
        for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
            ASSERT_LE(eroded[i], in[i]) << morphtest::describe({x, y, z}) << " voxel " << i;
            ASSERT_LE(in[i], dilated[i]) << morphtest::describe({x, y, z}) << " voxel " << i;
            removed += eroded[i] < in[i] ? 1 : 0;
            added += in[i] < dilated[i] ? 1 : 0;
        }
    }
    EXPECT_GT(removed, 0u);
    EXPECT_GT(added, 0u);
}

// Both filters leave a missing neighbour out, so the duality holds exactly,
// on the border too: the dilation of a mask is the complement (1 - v) of the
// erosion of its complement. Were a missing neighbour read as background, the
// erosion of the complement would clear the border, and the two would differ
// at every border voxel where the dilation is 0; the masks have such voxels.
TEST(DilationErosionRelations, DilationIsTheComplementOfTheErosionOfTheComplement) {
    const auto complement = [](const Image<unsigned char>& in) {
        Image<unsigned char> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
        for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
            out[i] = static_cast<unsigned char>(1 - in[i]);
        }
        return out;
    };
    std::size_t emptyBorderVoxels = 0;
    for (const Image<unsigned char>& in : randomMasks()) {
        const unsigned int x = in.getSizeX(), y = in.getSizeY(), z = in.getSizeZ();
        Image<unsigned char> dilated(x, y, z), erodedComplement(x, y, z);
        nvf::CnDilationFilter<unsigned char>().execute(in, dilated);
        nvf::CnErosionFilter<unsigned char>().execute(complement(in), erodedComplement);
        EXPECT_TRUE(morphtest::sameBits(dilated, complement(erodedComplement))) << morphtest::describe({x, y, z});
        for (unsigned int k = 0; k < z; ++k) {
            for (unsigned int j = 0; j < y; ++j) {
                for (unsigned int i = 0; i < x; ++i) {
                    const bool border = i == 0 || j == 0 || k == 0 || i + 1 == x || j + 1 == y || k + 1 == z;
                    emptyBorderVoxels += border && dilated(i, j, k) == 0 ? 1 : 0;
                }
            }
        }
    }
    EXPECT_GT(emptyBorderVoxels, 0u);
}
