// Dilation, erosion, regional maxima and labelling give the same output on
// every executor and thread count as without one and as the reference passes,
// on images cut into several bands or slabs (labels, their ranking and the order
// of equal sizes included); a failing task reaches the caller; filters share a pool.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>
#include <tests/convolution/ExecutorTestSupport.h>

#include "MorphologyTestSupport.h"

namespace nvf = com::norvane::filtering;
using exectest::expectSameOnEveryExecutor;
using morphtest::describe;
using morphtest::Image;
using morphtest::Size3;

namespace {

template <class T>
std::vector<T> voxels(const Image<T>& im) {
    return std::vector<T>(im.data(), im.data() + im.getNumberOfVoxels());
}

// Odd sizes, thin volumes (one voxel along each axis in turn) and sizes that
// are cut into several bands or slabs.
std::vector<Size3> sizes(std::mt19937& rng) {
    std::vector<Size3> list = {{1, 1, 1},     {1, 37, 45},  {43, 1, 39},  {41, 47, 1},  {1, 1, 3001},
                               {1, 3001, 1},  {3001, 1, 1}, {67, 53, 41}, {301, 257, 1}, {700, 5, 31},
                               {2, 181, 101}, {9, 7, 900}};
    std::uniform_int_distribution<int> odd(1, 20);
    for (int t = 0; t < 4; ++t) {
        list.push_back({static_cast<unsigned int>(2 * odd(rng) + 1), static_cast<unsigned int>(2 * odd(rng) + 1),
                        static_cast<unsigned int>(2 * odd(rng) + 1)});
    }
    return list;
}

template <class Filter, class T>
void checkCross(std::mt19937& rng, const char* name) {
    for (const Size3& s : sizes(rng)) {
        std::uniform_int_distribution<int> bitsOf(0, 255);
        const Image<T> in = morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) {
            return static_cast<T>(bitsOf(r) & bitsOf(r) & bitsOf(r));
        });
        const std::function<std::vector<T>(nvf::CnExecutor*)> run = [&](nvf::CnExecutor* e) {
            Filter f;
            f.setExecutor(e);
            Image<T> out(s.x, s.y, s.z);
            f.execute(in, out);
            return voxels(out);
        };
        expectSameOnEveryExecutor(run, in.getNumberOfVoxels() >= 2 * 65536 && s.x < 65536,
                                  std::string(name) + " " + describe(s));
        Filter reference;
        Image<T> out(s.x, s.y, s.z);
        reference.executeStraightforward(in, out);
        EXPECT_EQ(voxels(out), run(nullptr)) << name << " " << describe(s) << " against the reference";
    }
}

TEST(MorphologyOnExecutors, DilationAndErosionGiveTheSameVoxels) {
    std::mt19937 rng(201);
    checkCross<nvf::CnDilationFilter<unsigned char>, unsigned char>(rng, "dilation");
    checkCross<nvf::CnErosionFilter<unsigned char>, unsigned char>(rng, "erosion");
    checkCross<nvf::CnDilationFilter<short>, short>(rng, "dilation short");
    checkCross<nvf::CnErosionFilter<std::uint32_t>, std::uint32_t>(rng, "erosion 32-bit");
}

TEST(MorphologyOnExecutors, RegionalMaximaGiveTheSameMask) {
    std::mt19937 rng(202);
    for (const Size3& s : sizes(rng)) {
        // Few values, so that flat tops and equal neighbours are common.
        std::uniform_int_distribution<int> level(-1, 3);
        const Image<float> in =
            morphtest::randomImage<float>({s.x, s.y, 1}, rng, [&](std::mt19937& r) { return float(level(r)); });
        const std::function<std::vector<unsigned char>(nvf::CnExecutor*)> run = [&](nvf::CnExecutor* e) {
            nvf::CnRegionalMaximumFilter<float> f;
            f.setExecutor(e);
            Image<unsigned char> out(s.x, s.y, 1);
            f.execute(in, out);
            return voxels(out);
        };
        expectSameOnEveryExecutor(run, in.getNumberOfVoxels() >= 2 * 65536 && s.x < 65536, describe(s));
        nvf::CnRegionalMaximumFilter<float> reference;
        Image<unsigned char> out(s.x, s.y, 1);
        reference.executeStraightforward(in, out);
        EXPECT_EQ(voxels(out), run(nullptr)) << describe(s) << " against the reference";
    }
}

// The labels and the count of components, with the given selection.
struct Labelling {
    std::vector<std::uint32_t> labels;
    std::int32_t components;
    bool operator==(const Labelling& o) const { return labels == o.labels && components == o.components; }
};

TEST(LabellingOnExecutors, SlabsGiveTheSameLabelsAndRanking) {
    // Densities around the percolation threshold give components that cross
    // many slab faces; sparse masks give many components of equal size, whose
    // order must not change.
    std::mt19937 rng(203);
    for (const Size3& s : sizes(rng)) {
        for (const double density : {0.05, 0.3, 0.6}) {
            const Image<unsigned char> in = morphtest::randomMask<unsigned char>(s, rng, density, 1);
            for (const std::uint32_t minimum : {0u, 3u}) {
                const std::function<Labelling(nvf::CnExecutor*)> run = [&](nvf::CnExecutor* e) {
                    nvf::CnConnectedComponentFilter<unsigned char> f;
                    f.setExecutor(e);
                    f.SetMinimumComponentSize(minimum);
                    Image<std::uint32_t> out(s.x, s.y, s.z);
                    f.execute(in, out);
                    return Labelling{voxels(out), f.GetNumberOfComponents()};
                };
                expectSameOnEveryExecutor(run, in.getNumberOfVoxels() >= 2 * 16384,
                                          describe(s) + " density " + std::to_string(density));
                nvf::CnConnectedComponentFilter<unsigned char> reference;
                reference.SetMinimumComponentSize(minimum);
                Image<std::uint32_t> out(s.x, s.y, s.z);
                reference.executeStraightforward(in, out);
                EXPECT_TRUE((Labelling{voxels(out), reference.GetNumberOfComponents()} == run(nullptr)))
                    << describe(s) << " against the reference";
            }
        }
    }
}

TEST(LabellingOnExecutors, EightPointImagesAndSelectionsGiveTheSameLabels) {
    std::mt19937 rng(204);
    for (const Size3& s : {Size3{301, 257, 1}, Size3{1, 40001, 1}, Size3{40001, 1, 1}, Size3{17, 3001, 1}}) {
        const Image<unsigned char> in = morphtest::randomMask<unsigned char>(s, rng, 0.4, 1);
        for (const std::uint32_t k : {0u, 1u, 5u}) {
            const std::function<Labelling(nvf::CnExecutor*)> run = [&](nvf::CnExecutor* e) {
                nvf::CnConnectedComponentFilter<unsigned char> f;
                f.setExecutor(e);
                f.Set8PointConnectivity();
                f.SetComponentNumber(k);
                Image<std::uint32_t> out(s.x, s.y, s.z);
                f.execute(in, out);
                return Labelling{voxels(out), f.GetNumberOfComponents()};
            };
            expectSameOnEveryExecutor(run, s.y > 1, describe(s) + " k " + std::to_string(k));
            nvf::CnConnectedComponentFilter<unsigned char> reference;
            reference.Set8PointConnectivity();
            reference.SetComponentNumber(k);
            Image<std::uint32_t> out(s.x, s.y, s.z);
            reference.executeStraightforward(in, out);
            EXPECT_TRUE((Labelling{voxels(out), reference.GetNumberOfComponents()} == run(nullptr)))
                << describe(s) << " against the reference";
        }
    }
}

TEST(LabellingOnExecutors, MissingComponentLeavesTheSameRasterNumbering) {
    // A component number beyond the count throws after the output holds the
    // components in raster order; that output does not depend on the executor.
    std::mt19937 rng(205);
    const Size3 s{61, 59, 23};
    const Image<unsigned char> in = morphtest::randomMask<unsigned char>(s, rng, 0.2, 1);
    const auto run = [&](nvf::CnExecutor* e) {
        nvf::CnConnectedComponentFilter<unsigned char> f;
        f.setExecutor(e);
        f.SetComponentNumber(1000000);
        Image<std::uint32_t> out(s.x, s.y, s.z);
        morphtest::expectThrowable([&] { f.execute(in, out); });
        return voxels(out);
    };
    const std::vector<std::uint32_t> reference = run(nullptr);
    for (const unsigned threads : exectest::threadCounts()) {
        nvf::CnThreadPoolExecutor pool(threads);
        EXPECT_EQ(run(&pool), reference) << threads << " threads";
    }
}

TEST(MorphologyOnExecutors, FiltersShareOnePoolFromTwoThreads) {
    std::mt19937 rng(206);
    const Size3 s{67, 61, 59};
    const Image<unsigned char> mask = morphtest::randomMask<unsigned char>(s, rng, 0.3, 1);
    const auto label = [&](nvf::CnExecutor* e) {
        nvf::CnConnectedComponentFilter<unsigned char> f;
        f.setExecutor(e);
        Image<std::uint32_t> out(s.x, s.y, s.z);
        f.execute(mask, out);
        return voxels(out);
    };
    const auto dilate = [&](nvf::CnExecutor* e) {
        nvf::CnDilationFilter<unsigned char> f;
        f.setExecutor(e);
        Image<unsigned char> out(s.x, s.y, s.z);
        f.execute(mask, out);
        return voxels(out);
    };
    const std::vector<std::uint32_t> labels = label(nullptr);
    const std::vector<unsigned char> dilated = dilate(nullptr);
    nvf::CnThreadPoolExecutor pool(3);
    bool sameLabels = true, sameDilation = true;
    std::thread first([&] {
        for (int i = 0; i < 10; ++i) sameLabels = sameLabels && label(&pool) == labels;
    });
    std::thread second([&] {
        for (int i = 0; i < 10; ++i) sameDilation = sameDilation && dilate(&pool) == dilated;
    });
    first.join();
    second.join();
    EXPECT_TRUE(sameLabels);
    EXPECT_TRUE(sameDilation);
}

}  // namespace
