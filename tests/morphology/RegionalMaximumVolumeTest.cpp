// Regional maxima of whole volumes (setVolume) against a direct 26-neighbour
// triple loop written here: every type, plateaus, not-a-number, thin volumes,
// one slice against the two-dimensional mask, thread counts, wrong outputs;
// and the two-dimensional mask of the 8- and 16-bit unsigned types, in place.
#include <gtest/gtest.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <type_traits>

#include "MorphologyTestSupport.h"

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using morphtest::describe;
using morphtest::Size3;
using Mask = Image<unsigned char>;

namespace {

// Positive and not smaller than any neighbour inside the volume, among the 26
// around it (8 when `planar`, on every slice); a comparison with NaN fails.
template <class T>
Mask definition(const Image<T>& in, bool planar) {
    const long long X = in.getSizeX(), Y = in.getSizeY(), Z = in.getSizeZ();
    Mask out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const auto at = [](long long u) { return static_cast<unsigned int>(u); };
    for (long long z = 0; z < Z; ++z) {
        for (long long y = 0; y < Y; ++y) {
            for (long long x = 0; x < X; ++x) {
                const T v = in(at(x), at(y), at(z));
                bool m = v > T(0);
                for (long long dz = planar ? 0 : -1; dz <= (planar ? 0 : 1); ++dz) {
                    for (long long dy = -1; dy <= 1; ++dy) {
                        for (long long dx = -1; dx <= 1; ++dx) {
                            const long long nx = x + dx, ny = y + dy, nz = z + dz;
                            if (nx >= 0 && ny >= 0 && nz >= 0 && nx < X && ny < Y && nz < Z) {
                                m = m && v >= in(at(nx), at(ny), at(nz));
                            }
                        }
                    }
                }
                out(at(x), at(y), at(z)) = m ? 1 : 0;
            }
        }
    }
    return out;
}

// Few levels, so that plateaus are common; negative values and zeros for the
// signed types, NaN now and then for float and double.
template <class T>
Image<T> randomLevels(const Size3& s, std::mt19937& rng) {
    std::uniform_int_distribution<int> level(std::is_signed<T>::value ? -1 : 0, 3), nan(0, 40);
    return morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) {
        if (std::is_floating_point<T>::value && nan(r) == 0) {
            return std::numeric_limits<T>::quiet_NaN();
        }
        return static_cast<T>(level(r));
    });
}

Mask volumeMask(const Size3& s, unsigned char fill) {
    Mask m(s.x, s.y, s.z);
    m.fill(fill);
    return m;
}

template <class T>
class RegionalMaximumVolume : public ::testing::Test {};

using VoxelTypes = ::testing::Types<unsigned char, unsigned short, short, float, double>;
TYPED_TEST_SUITE(RegionalMaximumVolume, VoxelTypes);

TYPED_TEST(RegionalMaximumVolume, BothPathsMatchTheDefinition) {
    using T = TypeParam;
    std::mt19937 rng(41);
    std::vector<Size3> sizes = morphtest::awkwardSizes();
    std::uniform_int_distribution<unsigned int> odd(0, 9);
    for (int t = 0; t < 6; ++t) {
        sizes.push_back({2 * odd(rng) + 1, 2 * odd(rng) + 1, 2 * odd(rng) + 1});
    }
    for (const Size3& s : sizes) {
        const Image<T> in = randomLevels<T>(s, rng);
        const Mask expected = definition(in, false);
        nvf::CnRegionalMaximumFilter<T> f;
        EXPECT_FALSE(f.getVolume());
        f.setVolume(true);
        EXPECT_TRUE(f.getVolume());
        Mask fast = volumeMask(s, 7), slow = volumeMask(s, 9);
        f.execute(in, fast);
        com::norvane::filtering::detail::executeStraightforward(f, in, slow);
        EXPECT_TRUE(morphtest::sameBits(fast, expected)) << describe(s);
        EXPECT_TRUE(morphtest::sameBits(slow, expected)) << describe(s);
    }
}

TYPED_TEST(RegionalMaximumVolume, OneSliceGivesTheTwoDimensionalMask) {
    using T = TypeParam;
    std::mt19937 rng(42);
    for (const Size3& s : {Size3{1, 1, 1}, Size3{13, 11, 1}, Size3{1, 9, 1}, Size3{8, 1, 1}, Size3{31, 17, 1}}) {
        const Image<T> in = randomLevels<T>(s, rng);
        nvf::CnRegionalMaximumFilter<T> f;
        Mask planar = volumeMask(s, 5), volume = volumeMask(s, 6);
        f.execute(in, planar);
        f.setVolume(true);
        f.execute(in, volume);
        EXPECT_TRUE(morphtest::sameBits(planar, volume)) << describe(s);
        EXPECT_TRUE(morphtest::sameBits(planar, definition(in, true))) << describe(s);
    }
}

TYPED_TEST(RegionalMaximumVolume, PlateausAreMarkedInFullUnlessTheyTouchAHigherVoxel) {
    using T = TypeParam;
    Image<T> in(7, 6, 5);
    for (unsigned int z = 1; z <= 3; ++z) {
        for (unsigned int y = 1; y <= 3; ++y) {
            for (unsigned int x = 2; x <= 4; ++x) {
                in(x, y, z) = T(5);
            }
        }
    }
    in(6, 5, 4) = T(1);  // a corner voxel, alone and positive
    nvf::CnRegionalMaximumFilter<T> f;
    f.setVolume(true);
    Mask out(7, 6, 5);
    f.execute(in, out);
    std::size_t marked = 0;
    for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
        marked += out[i];
    }
    EXPECT_EQ(marked, 28u);
    EXPECT_EQ(out(6, 5, 4), 1);
    // A higher voxel diagonal to the plateau's corner, in another slice, clears
    // that corner and the lone voxel; the test is local, so the rest stays.
    in(5, 4, 4) = T(6);
    f.execute(in, out);
    EXPECT_EQ(out(4, 3, 3), 0);
    EXPECT_EQ(out(3, 2, 2), 1);
    EXPECT_EQ(out(4, 3, 2), 1);
    EXPECT_EQ(out(5, 4, 4), 1);
    EXPECT_EQ(out(6, 5, 4), 0);
    if constexpr (std::is_floating_point<T>::value) {
        // NaN is no maximum, and neither is any voxel next to it.
        in(5, 4, 4) = std::numeric_limits<T>::quiet_NaN();
        f.execute(in, out);
        EXPECT_EQ(out(5, 4, 4), 0);
        EXPECT_EQ(out(6, 5, 4), 0);
        EXPECT_EQ(out(4, 3, 3), 0);
        EXPECT_EQ(out(3, 2, 2), 1);
    }
    EXPECT_TRUE(morphtest::sameBits(out, definition(in, false)));
}

TYPED_TEST(RegionalMaximumVolume, ThreadCountsGiveTheSameMask) {
    using T = TypeParam;
    std::mt19937 rng(43);
    for (const Size3& s : {Size3{67, 53, 41}, Size3{301, 257, 2}, Size3{3, 7, 9001}}) {
        const Image<T> in = randomLevels<T>(s, rng);
        nvf::CnRegionalMaximumFilter<T> f;
        f.setVolume(true);
        Mask expected(s.x, s.y, s.z);
        f.execute(in, expected);
        EXPECT_TRUE(morphtest::sameBits(expected, definition(in, false))) << describe(s);
        for (const unsigned int threads : {1u, 2u, 3u, 7u}) {
            nvf::CnThreadPoolExecutor pool(threads);
            f.setExecutor(&pool);
            Mask out(s.x, s.y, s.z);
            f.execute(in, out);
            EXPECT_TRUE(morphtest::sameBits(out, expected)) << describe(s) << " " << threads << " threads";
            f.setExecutor(nullptr);
        }
    }
}

TYPED_TEST(RegionalMaximumVolume, OutputsWithoutTheInputsDimensionsThrowAndWriteNothing) {
    using T = TypeParam;
    const Image<T> in(4, 3, 2);
    nvf::CnRegionalMaximumFilter<T> f;
    f.setVolume(true);
    // The planar mode takes an output of the same X and Y with any number of slices; the volume mode does not.
    for (const Size3& s : {Size3{4, 3, 1}, Size3{4, 3, 3}, Size3{3, 3, 2}, Size3{4, 2, 2}, Size3{0, 0, 0}}) {
        Mask out = volumeMask(s, 3);
        const Mask before(out);
        for (const bool straightforward : {false, true}) {
            const auto e = morphtest::expectThrowable([&] {
                if (straightforward) {
                    com::norvane::filtering::detail::executeStraightforward(f, in, out);
                } else {
                    f.execute(in, out);
                }
            });
            EXPECT_EQ(e.getMessage(), nvf::messages::kRegionalMaximumVolumeOutputSize);
            EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
            EXPECT_TRUE(morphtest::sameBits(out, before)) << describe(s);
        }
    }
    // An empty input with an output of its dimensions writes nothing.
    const Image<T> empty(3, 0, 2);
    Mask none(3, 0, 2);
    f.execute(empty, none);
    EXPECT_EQ(none.getNumberOfVoxels(), 0u);
}

// The unsigned types in the default mode: the first slice only, deeper slices kept.
template <class T>
void expectPlanarUnsigned() {
    std::mt19937 rng(44);
    for (const Size3& s : morphtest::awkwardSizes()) {
        const Image<T> in = randomLevels<T>(s, rng);
        const Size3 plane{s.x, s.y, 1};
        Image<T> first(s.x, s.y, 1);
        for (std::size_t i = 0; i < first.getNumberOfVoxels(); ++i) {
            first[i] = in[i];
        }
        const Mask expected = definition(first, true);
        nvf::CnRegionalMaximumFilter<T> f;
        Mask fast = volumeMask({s.x, s.y, 2}, 8), slow = volumeMask(plane, 9);
        f.execute(in, fast);
        com::norvane::filtering::detail::executeStraightforward(f, in, slow);
        EXPECT_TRUE(morphtest::sameBits(slow, expected)) << describe(s);
        for (std::size_t i = 0; i < expected.getNumberOfVoxels(); ++i) {
            ASSERT_EQ(fast[i], expected[i]) << describe(s) << " pixel " << i;
            ASSERT_EQ(fast[i + expected.getNumberOfVoxels()], 8) << describe(s) << " deeper pixel " << i;
        }
    }
}

TEST(RegionalMaximumUnsigned, InPlaceEqualsSeparateOutput) {
    std::mt19937 rng(45);
    for (const Size3& s : {Size3{9, 7, 5}, Size3{1, 1, 1}, Size3{13, 1, 3}, Size3{6, 5, 1}}) {
        const Image<unsigned char> in = randomLevels<unsigned char>(s, rng);
        for (const bool volume : {false, true}) {
            for (const bool straightforward : {false, true}) {
                nvf::CnRegionalMaximumFilter<unsigned char> f;
                f.setVolume(volume);
                Mask separate(in), same(in);
                const auto run = [&](const Image<unsigned char>& source, Mask& target) {
                    if (straightforward) {
                        com::norvane::filtering::detail::executeStraightforward(f, source, target);
                    } else {
                        f.execute(source, target);
                    }
                };
                run(in, separate);
                run(same, same);
                EXPECT_TRUE(morphtest::sameBits(same, separate)) << describe(s) << " volume " << volume;
            }
        }
    }
}

TEST(RegionalMaximumUnsigned, PlanarMaskOfTheFirstSlice) {
    expectPlanarUnsigned<unsigned char>();
    expectPlanarUnsigned<unsigned short>();
}

}  // namespace
