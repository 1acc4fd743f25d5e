// Gradient of an 8-bit volume in physical units.
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvimage/Volume.h>

#include "RecursiveTestSupport.h"

using namespace rectest;
using com::norvane::imaging::Volume;
using Vec3d = com::norvane::math::CnVector3D<double>;
using Gradient = nvf::CnImageGradient<unsigned char>;

namespace {

Volume<unsigned char> randomVolume(unsigned int x, unsigned int y, unsigned int z, std::uint32_t seed) {
    Volume<unsigned char> v(x, y, z);
    std::mt19937 rng(seed);
    nvftest::fillRandom(v, rng);
    return v;
}

Volume<Vec3f> gradientOf(const Volume<unsigned char>& src, double sigma) {
    Volume<Vec3f> dst(src.getSizeX(), src.getSizeY(), src.getSizeZ());
    Gradient g;
    g.setSigma(sigma);
    g.execute(src, dst);
    return dst;
}

}  // namespace

TEST(CnImageGradient, WorkedExampleWithAnisotropicVoxels) {
    Volume<unsigned char> src(5, 5, 5);
    src.setVoxelSize(Vec3d(2.0, 1.0, 1.0));
    for (unsigned int z = 0; z < 5; ++z) {
        for (unsigned int y = 0; y < 5; ++y) {
            for (unsigned int x = 0; x < 5; ++x) {
                src(x, y, z) = static_cast<unsigned char>(x);
            }
        }
    }
    Gradient g;
    EXPECT_EQ(g.getSigma(), 0.0);
    const Volume<Vec3f> dst = gradientOf(src, 0.0);
    for (unsigned int z = 0; z < 5; ++z) {
        for (unsigned int y = 0; y < 5; ++y) {
            for (unsigned int x = 0; x < 5; ++x) {
                const Vec3f& v = dst(x, y, z);
                if (x >= 1 && x <= 3) {
                    EXPECT_EQ(v.x, 0.5f);
                }
                if (y >= 1 && y <= 3) {
                    EXPECT_EQ(v.y, 0.0f);
                }
                if (z >= 1 && z <= 3) {
                    EXPECT_EQ(v.z, 0.0f);
                }
            }
        }
        // The zero continuation at the X faces: (1 - 0) / 4 and (0 - 3) / 4.
        EXPECT_EQ(dst(0, 2, z).x, 0.25f);
        EXPECT_EQ(dst(4, 2, z).x, -0.75f);
    }
    // At the Y and Z faces the neighbour outside is 0: (0 - x) / 2 at the last y.
    EXPECT_EQ(dst(3, 4, 2).y, -1.5f);
    EXPECT_EQ(dst(3, 2, 0).z, 1.5f);
}

TEST(CnImageGradient, ConstantSourceOnlyShowsTheFaces) {
    Volume<unsigned char> src(6, 4, 3);
    src.fill(200);
    src.setVoxelSize(Vec3d(0.5, 2.0, 4.0));
    const Volume<Vec3f> dst = gradientOf(src, 0.0);
    for (unsigned int x = 0; x < 6; ++x) {
        const float expected = x == 0 ? 200.0f : (x == 5 ? -200.0f : 0.0f);
        EXPECT_EQ(dst(x, 1, 1).x, expected) << x;
    }
    EXPECT_EQ(dst(2, 0, 1).y, 50.0f);
    EXPECT_EQ(dst(2, 3, 1).y, -50.0f);
    EXPECT_EQ(dst(2, 1, 0).z, 25.0f);
    EXPECT_EQ(dst(2, 1, 1).z, 0.0f);
}

// The gradient is the three derivative runs of the volume filter, scaled, bit
// for bit: for volumes that take the shared-work path (with full blocks and
// remainders) and for thin ones, with every kernel version.
TEST(CnImageGradient, EqualsScaledFirstDerivativesBitForBit) {
    struct Size {
        unsigned int x, y, z;
    };
    const Size sizes[] = {{13, 11, 9}, {70, 5, 67}, {4, 66, 4}, {3, 7, 6}, {8, 5, 2}};
    const double vs[3] = {1.25, 0.8, 2.0};
    const double sigma = 1.7;
    using F = nvf::CnRecursiveFilter<unsigned char, float>;
    const F::EnDerivativeType d[3] = {F::FirstDerivativeX, F::FirstDerivativeY, F::FirstDerivativeZ};
    for (nvf::detail::RecursiveKernel kernel : supportedKernels()) {
        std::uint32_t seed = 5;
        for (const Size& s : sizes) {
            Volume<unsigned char> src = randomVolume(s.x, s.y, s.z, seed++);
            src.setVoxelSize(Vec3d(vs[0], vs[1], vs[2]));
            Volume<Vec3f> dst(s.x, s.y, s.z);
            nvf::detail::RecursiveGradient<unsigned char>::run(src, dst, sigma, nullptr, kernel);
            for (int axis = 0; axis < 3; ++axis) {
                Image<float> g(s.x, s.y, s.z);
                F f;
                f.setSigma(sigma / vs[0], sigma / vs[1], sigma / vs[2]);
                f.setDerivative(d[axis]);
                f.execute(src, g);
                const float r = static_cast<float>(1.0 / vs[axis]);
                for (std::size_t i = 0; i < g.getNumberOfVoxels(); ++i) {
                    const float c = axis == 0 ? dst[i].x : (axis == 1 ? dst[i].y : dst[i].z);
                    ASSERT_TRUE(bitsEqual(c, g[i] * r)) << s.x << "x" << s.y << "x" << s.z << " axis " << axis
                                                        << " voxel " << i << " kernel " << static_cast<int>(kernel);
                }
            }
        }
    }
}

TEST(CnImageGradient, DoublingVoxelSizeAndSigmaHalvesTheGradient) {
    Volume<unsigned char> a = randomVolume(9, 8, 7, 6);
    Volume<unsigned char> b(a);
    a.setVoxelSize(Vec3d(1.0, 0.5, 2.0));
    b.setVoxelSize(Vec3d(2.0, 1.0, 4.0));
    const Volume<Vec3f> ga = gradientOf(a, 1.3), gb = gradientOf(b, 2.6);
    for (std::size_t i = 0; i < ga.getNumberOfVoxels(); ++i) {
        EXPECT_EQ(gb[i].x, ga[i].x * 0.5f);
        EXPECT_EQ(gb[i].y, ga[i].y * 0.5f);
        EXPECT_EQ(gb[i].z, ga[i].z * 0.5f);
    }
}

TEST(CnImageGradient, SingleSliceHasNoZComponent) {
    const Volume<unsigned char> src = randomVolume(10, 9, 1, 8);
    const Volume<Vec3f> dst = gradientOf(src, 1.0);
    bool anyX = false;
    for (std::size_t i = 0; i < dst.getNumberOfVoxels(); ++i) {
        EXPECT_EQ(dst[i].z, 0.0f);
        anyX = anyX || dst[i].x != 0.0f;
    }
    EXPECT_TRUE(anyX);
}

TEST(CnImageGradient, RejectsBeforeWriting) {
    const Vec3f marker(9.0f, 9.0f, 9.0f);
    Volume<unsigned char> src = randomVolume(5, 5, 5, 1);
    Gradient g;
    Volume<Vec3f> empty;
    EXPECT_EQ(messageOf([&] { g.execute(src, empty); }), "dst has no elements");
    Volume<unsigned char> emptySrc;
    EXPECT_EQ(messageOf([&] { g.execute(emptySrc, empty); }), "dst has no elements");

    Volume<Vec3f> wrong(5, 5, 4);
    wrong.fill(marker);
    EXPECT_EQ(messageOf([&] { g.execute(src, wrong); }), nvf::messages::kGradientSizeDiffers);
    EXPECT_TRUE(bitsEqual(wrong[0], marker));

    Volume<Vec3f> dst(5, 5, 5);
    dst.fill(marker);
    const double bad[] = {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity()};
    for (double v : bad) {
        for (int axis = 0; axis < 3; ++axis) {
            Vec3d size(1.0, 1.0, 1.0);
            (axis == 0 ? size.x : (axis == 1 ? size.y : size.z)) = v;
            src.setVoxelSize(size);
            EXPECT_EQ(messageOf([&] { g.execute(src, dst); }), nvf::messages::kGradientInvalidVoxelSize)
                << v << " axis " << axis;
        }
    }
    // Positive and finite, but with an inverse beyond float: a zero derivative
    // would come out as not-a-number. Single slices and volumes alike.
    for (double v : {1e-39, 1e-264, 4.9e-324}) {
        for (int axis = 0; axis < 3; ++axis) {
            Vec3d size(1.0, 1.0, 1.0);
            (axis == 0 ? size.x : (axis == 1 ? size.y : size.z)) = v;
            src.setVoxelSize(size);
            EXPECT_EQ(messageOf([&] { g.execute(src, dst); }), nvf::messages::kGradientTinyVoxelSize)
                << v << " axis " << axis;
            Volume<unsigned char> slice(5, 5, 1);
            slice.setVoxelSize(size);
            Volume<Vec3f> sliceDst(5, 5, 1);
            EXPECT_EQ(messageOf([&] { g.execute(slice, sliceDst); }), nvf::messages::kGradientTinyVoxelSize);
        }
    }
    {
        // An inverse of 1e38 still fits: a single slice keeps its Z component of 0.
        Volume<unsigned char> slice = randomVolume(5, 5, 1, 3);
        slice.setVoxelSize(Vec3d(1.0, 1.0, 1e-38));
        Volume<Vec3f> sliceDst(5, 5, 1);
        g.execute(slice, sliceDst);
        for (std::size_t i = 0; i < sliceDst.getNumberOfVoxels(); ++i) {
            ASSERT_EQ(sliceDst[i].z, 0.0f);
        }
    }
    src.setVoxelSize(Vec3d(1.0, 1.0, 0.5));
    g.setSigma(60.0);  // 120 voxels along Z: no convergence
    EXPECT_EQ(messageOf([&] { g.execute(src, dst); }),
              "Recursive initialization can't converge after 1000 iterations (sigma = 120.000000)");
    for (std::size_t i = 0; i < dst.getNumberOfVoxels(); ++i) {
        ASSERT_TRUE(bitsEqual(dst[i], marker));
    }
}
