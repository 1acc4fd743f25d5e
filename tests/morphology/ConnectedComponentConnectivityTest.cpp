// Labelling with every connectivity: the fast path, serial and on pools of
// several threads, against the straightforward passes and against the labels
// an independent flood fill implies (components ranked by size, equal sizes in
// the raster order of their first voxel), on random images of odd sizes and
// several densities; the sizes and first voxels a run reports, against the
// flood fill's; pairs of voxels in every relative position; single slices
// labelled as the slice of a volume; the rejected settings.
#include <gtest/gtest.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/CnThreadPoolExecutor.h>
#include <nvfiltering/framework/EightPointConnectivityIn3DException.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "MorphologyTestSupport.h"

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using morphtest::Size3;
using nvf::CnConnectivity;
using Labels = Image<std::uint32_t>;

namespace {

std::string name(CnConnectivity c) { return std::to_string(static_cast<int>(c)) + " neighbours"; }

// Along how many axes two neighbours may differ, from the definition of each
// setting (a single slice has no neighbours along Z, so 26 acts as 8 there).
unsigned int axesOf(CnConnectivity c) {
    switch (c) {
        case CnConnectivity::Four:
        case CnConnectivity::Six:
            return 1;
        case CnConnectivity::Eight:
        case CnConnectivity::Eighteen:
            return 2;
        case CnConnectivity::TwentySix:
            return 3;
    }
    return 0;
}

// The labels the filter must give, found without it: a breadth-first flood
// fill over the neighbours that differ along at most `axes` axes gives the
// components in the raster order of their first voxels; a stable sort by size
// ranks them; components below the minimum size become 0.
template <class T>
Labels expectedLabels(const Image<T>& in, T cls, unsigned int axes, std::uint32_t minimum, std::int32_t& kept) {
    const long long X = in.getSizeX(), Y = in.getSizeY(), Z = in.getSizeZ();
    std::vector<long long> component(in.getNumberOfVoxels(), -1);
    std::vector<std::uint32_t> sizes;
    std::deque<long long> queue;
    for (std::size_t start = 0; start < component.size(); ++start) {
        if (in[start] != cls || component[start] >= 0) {
            continue;
        }
        const long long id = static_cast<long long>(sizes.size());
        sizes.push_back(0);
        component[start] = id;
        queue.push_back(static_cast<long long>(start));
        while (!queue.empty()) {
            const long long i = queue.front();
            queue.pop_front();
            ++sizes.back();
            const long long x = i % X, y = (i / X) % Y, z = i / (X * Y);
            for (long long dz = -1; dz <= 1; ++dz) {
                for (long long dy = -1; dy <= 1; ++dy) {
                    for (long long dx = -1; dx <= 1; ++dx) {
                        const unsigned int apart = (dx != 0) + (dy != 0) + (dz != 0);
                        const long long nx = x + dx, ny = y + dy, nz = z + dz;
                        if (apart == 0 || apart > axes || nx < 0 || ny < 0 || nz < 0 || nx >= X || ny >= Y ||
                            nz >= Z) {
                            continue;
                        }
                        const auto j = static_cast<std::size_t>(nx + X * (ny + Y * nz));
                        if (in[j] == cls && component[j] < 0) {
                            component[j] = id;
                            queue.push_back(static_cast<long long>(j));
                        }
                    }
                }
            }
        }
    }
    std::vector<std::size_t> order(sizes.size());
    for (std::size_t c = 0; c < order.size(); ++c) {
        order[c] = c;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
    std::vector<std::uint32_t> rank(sizes.size(), 0);
    kept = 0;
    for (std::size_t r = 0; r < order.size(); ++r) {
        if (sizes[order[r]] >= minimum) {
            rank[order[r]] = static_cast<std::uint32_t>(r + 1);
            ++kept;
        }
    }
    Labels out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    for (std::size_t i = 0; i < component.size(); ++i) {
        out[i] = component[i] < 0 ? 0u : rank[static_cast<std::size_t>(component[i])];
    }
    return out;
}

template <class T>
T classValue() {
    return static_cast<T>(~T(0));  // the largest value (-1 for short)
}

// Voxels of the class with probability density, else 0 or another value.
template <class T>
Image<T> randomClassImage(const Size3& s, std::mt19937& rng, double density) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    return morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) {
        const double v = u(r);
        return v < density ? classValue<T>() : (v < (1.0 + density) / 2 ? T(0) : T(2));
    });
}

// One row of the table: a connectivity on images of the given sizes.
struct ConnectivityCase {
    CnConnectivity connectivity;
    std::vector<Size3> sizes;
};

std::vector<ConnectivityCase> connectivityTable() {
    std::vector<Size3> volumes = morphtest::awkwardSizes();
    volumes.insert(volumes.end(), {{23, 17, 13}, {40, 3, 25}, {1, 31, 29}, {29, 1, 31}, {65, 5, 3}});
    const std::vector<Size3> images = {{1, 1, 1}, {2, 3, 1}, {13, 11, 1}, {31, 29, 1}, {1, 37, 1}, {67, 5, 1}};
    std::vector<Size3> every = volumes;
    every.insert(every.end(), images.begin(), images.end());
    return {{CnConnectivity::Six, every},
            {CnConnectivity::Eighteen, every},
            {CnConnectivity::TwentySix, every},
            {CnConnectivity::Four, images},
            {CnConnectivity::Eight, images}};
}

// Labels in with f's settings on the given executor (null: serial).
template <class T>
Labels run(const Image<T>& in, CnConnectivity c, std::uint32_t minimum, nvf::CnExecutor* executor,
           std::int32_t& count) {
    nvf::CnConnectedComponentFilter<T> f;
    f.SetClassNumber(classValue<T>());
    f.SetMinimumComponentSize(minimum);
    f.setConnectivity(c);
    f.setExecutor(executor);
    Labels out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    out.fill(7);
    f.execute(in, out);
    count = f.GetNumberOfComponents();
    return out;
}

template <class T>
class ConnectivityLabelling : public ::testing::Test {};

using InputTypes = ::testing::Types<unsigned char, short, unsigned short, std::uint32_t>;
TYPED_TEST_SUITE(ConnectivityLabelling, InputTypes);

// Every connectivity, every size of its row, three densities, with and
// without a minimum size: the fast path serial and on a pool of three threads,
// the straightforward passes and the flood fill's labels agree bit for bit.
TYPED_TEST(ConnectivityLabelling, FastSerialParallelAndReferenceEqualTheFloodFill) {
    using T = TypeParam;
    std::mt19937 rng(1818);
    nvf::CnThreadPoolExecutor pool(3);
    for (const ConnectivityCase& row : connectivityTable()) {
        for (const Size3& s : row.sizes) {
            for (const double density : {0.15, 0.35, 0.7}) {
                const Image<T> in = randomClassImage<T>(s, rng, density);
                for (const std::uint32_t minimum : {0u, 3u}) {
                    const std::string what = name(row.connectivity) + " " + morphtest::describe(s) + " density " +
                                             std::to_string(density) + " minimum " + std::to_string(minimum);
                    std::int32_t expectedCount = 0;
                    const Labels expected =
                        expectedLabels(in, classValue<T>(), axesOf(row.connectivity), minimum, expectedCount);
                    std::int32_t serialCount = 0, parallelCount = 0;
                    EXPECT_TRUE(morphtest::sameBits(run(in, row.connectivity, minimum, nullptr, serialCount), expected))
                        << what << " serial";
                    EXPECT_TRUE(morphtest::sameBits(run(in, row.connectivity, minimum, &pool, parallelCount), expected))
                        << what << " three threads";
                    EXPECT_EQ(serialCount, expectedCount) << what;
                    EXPECT_EQ(parallelCount, expectedCount) << what;

                    nvf::CnConnectedComponentFilter<T> slow;
                    slow.SetClassNumber(classValue<T>());
                    slow.SetMinimumComponentSize(minimum);
                    slow.setConnectivity(row.connectivity);
                    Labels b(s.x, s.y, s.z);
                    b.fill(9);
                    nvf::detail::executeStraightforward(slow, in, b);
                    EXPECT_TRUE(morphtest::sameBits(b, expected)) << what << " straightforward";
                    EXPECT_EQ(slow.GetNumberOfComponents(), expectedCount) << what << " straightforward";
                }
            }
        }
    }
}

// Volumes of many slabs (the pool labels them apart and merges their faces)
// and long thin ones, around the densities where components cross many slab
// faces and sparse ones with many equal sizes: serial, 2, 3 and 7 threads and
// the straightforward passes give the same bits; selections by rank too.
TEST(ConnectivityLabellingLarge, SlabsAndThreadsGiveTheSameBits) {
    std::mt19937 rng(2626);
    const Size3 sizes[] = {{67, 53, 41}, {2, 181, 101}, {9, 7, 900}, {129, 3, 77}, {1, 257, 130}, {31, 1, 700}};
    std::vector<std::unique_ptr<nvf::CnThreadPoolExecutor>> pools;
    for (const unsigned int threads : {2u, 3u, 7u}) {
        pools.push_back(std::make_unique<nvf::CnThreadPoolExecutor>(threads));
    }
    for (const Size3& s : sizes) {
        for (const double density : {0.08, 0.2, 0.3}) {
            const Image<unsigned char> in = morphtest::randomMask<unsigned char>(s, rng, density, 1);
            for (const CnConnectivity c : {CnConnectivity::Eighteen, CnConnectivity::TwentySix}) {
                for (const std::uint32_t k : {0u, 4u}) {
                    const std::string what = name(c) + " " + morphtest::describe(s) + " density " +
                                             std::to_string(density) + " component number " + std::to_string(k);
                    const auto label = [&](nvf::CnExecutor* e, bool straightforward, std::int32_t& count) {
                        nvf::CnConnectedComponentFilter<unsigned char> f;
                        f.setConnectivity(c);
                        f.SetComponentNumber(k);
                        f.setExecutor(e);
                        Labels out(s.x, s.y, s.z);
                        if (straightforward) {
                            nvf::detail::executeStraightforward(f, in, out);
                        } else {
                            f.execute(in, out);
                        }
                        count = f.GetNumberOfComponents();
                        return out;
                    };
                    std::int32_t serialCount = 0, referenceCount = 0;
                    const Labels serial = label(nullptr, false, serialCount);
                    EXPECT_TRUE(morphtest::sameBits(label(nullptr, true, referenceCount), serial)) << what;
                    EXPECT_EQ(referenceCount, serialCount) << what;
                    for (const auto& pool : pools) {
                        std::int32_t count = 0;
                        EXPECT_TRUE(morphtest::sameBits(label(pool.get(), false, count), serial)) << what;
                        EXPECT_EQ(count, serialCount) << what;
                    }
                    if (k == 0) {
                        std::int32_t expectedCount = 0;
                        EXPECT_TRUE(morphtest::sameBits(
                            serial, expectedLabels(in, static_cast<unsigned char>(1), axesOf(c), 0, expectedCount)))
                            << what << " flood fill";
                        EXPECT_EQ(serialCount, expectedCount) << what;
                    }
                }
            }
        }
    }
}

// Two voxels in every relative position, each in every corner of a 4 x 5 x 3
// volume where it fits (so that the position of the pair within rows and
// slices and against the borders varies): one component exactly when they
// differ along no more axes than the connectivity allows, for every path.
TEST(ConnectivityLabellingPairs, TwoVoxelsJoinExactlyWhenTheyAreNeighbours) {
    const Size3 s{4, 5, 3};
    nvf::CnThreadPoolExecutor pool(3);
    for (const CnConnectivity c : {CnConnectivity::Six, CnConnectivity::Eighteen, CnConnectivity::TwentySix}) {
        for (int dz = -1; dz <= 1; ++dz) {
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const unsigned int apart = (dx != 0) + (dy != 0) + (dz != 0);
                    if (apart == 0) {
                        continue;
                    }
                    for (const std::array<int, 3> a : {std::array<int, 3>{1, 1, 1}, std::array<int, 3>{0, 0, 0},
                                                       std::array<int, 3>{3, 4, 2}, std::array<int, 3>{2, 3, 1}}) {
                        const int bx = a[0] + dx, by = a[1] + dy, bz = a[2] + dz;
                        if (bx < 0 || by < 0 || bz < 0 || bx >= 4 || by >= 5 || bz >= 3) {
                            continue;
                        }
                        Image<unsigned char> in(s.x, s.y, s.z);
                        in.fill(0);
                        in(static_cast<unsigned>(a[0]), static_cast<unsigned>(a[1]), static_cast<unsigned>(a[2])) = classValue<unsigned char>();
                        in(static_cast<unsigned>(bx), static_cast<unsigned>(by), static_cast<unsigned>(bz)) = classValue<unsigned char>();
                        const std::int32_t expected = apart <= axesOf(c) ? 1 : 2;
                        const std::string what = name(c) + " offset " + std::to_string(dx) + "," + std::to_string(dy) +
                                                 "," + std::to_string(dz) + " from " + std::to_string(a[0]) + "," +
                                                 std::to_string(a[1]) + "," + std::to_string(a[2]);
                        std::int32_t serial = 0, parallel = 0;
                        const Labels out = run(in, c, 0, nullptr, serial);
                        EXPECT_TRUE(morphtest::sameBits(run(in, c, 0, &pool, parallel), out)) << what;
                        EXPECT_EQ(serial, expected) << what;
                        EXPECT_EQ(parallel, expected) << what;
                        nvf::CnConnectedComponentFilter<unsigned char> slow;
                        slow.SetClassNumber(classValue<unsigned char>());
                        slow.setConnectivity(c);
                        Labels b(s.x, s.y, s.z);
                        nvf::detail::executeStraightforward(slow, in, b);
                        EXPECT_EQ(slow.GetNumberOfComponents(), expected) << what << " straightforward";
                        EXPECT_TRUE(morphtest::sameBits(b, out)) << what;
                    }
                }
            }
        }
    }
}

// The sizes and first voxels a run reports, found from the flood fill's labels
// with no minimum: one raster pass counts each rank's voxels and notes its
// first voxel; a component number k turns into the minimum size of rank k; the
// kept ranks are those of at least the minimum, a prefix of the list.
struct Summary {
    std::vector<std::uint64_t> sizes;
    std::vector<std::uint64_t> first;
    std::size_t found;  // before the minimum
};

template <class T>
Summary expectedSummary(const Image<T>& in, unsigned int axes, std::uint32_t minimum, std::uint32_t k) {
    std::int32_t all = 0;
    const Labels ranks = expectedLabels(in, classValue<T>(), axes, 0, all);
    Summary s{std::vector<std::uint64_t>(static_cast<std::size_t>(all), 0),
              std::vector<std::uint64_t>(static_cast<std::size_t>(all), 0), static_cast<std::size_t>(all)};
    for (std::size_t i = 0; i < ranks.getNumberOfVoxels(); ++i) {
        if (ranks[i] != 0 && s.sizes[ranks[i] - 1]++ == 0) {
            s.first[ranks[i] - 1] = i;
        }
    }
    const std::uint64_t least = k == 0 ? minimum : k <= s.found ? s.sizes[k - 1] : ~std::uint64_t{0};
    std::size_t kept = 0;
    while (kept < s.sizes.size() && s.sizes[kept] >= least) {
        ++kept;
    }
    s.sizes.resize(kept);
    s.first.resize(kept);
    return s;
}

// Sizes and first voxels after a run, for every connectivity on images and
// volumes of odd sizes (some of several slabs), with a minimum size or a
// component number: serial, on three threads and on the straightforward
// passes, all equal to the flood fill's; one filter runs every case in turn,
// so a run that leaves earlier entries behind shows too.
TEST(ConnectivityLabellingSummary, SizesAndFirstVoxelsEqualTheFloodFill) {
    std::mt19937 rng(4242);
    nvf::CnThreadPoolExecutor pool(3);
    const std::vector<Size3> volumes = {{1, 1, 1}, {7, 5, 3}, {2, 7, 5}, {23, 17, 13}, {41, 37, 29}, {3, 5, 1301}};
    const std::vector<Size3> images = {{1, 1, 1}, {13, 11, 1}, {1, 37, 1}, {257, 181, 1}};
    struct Case {
        CnConnectivity connectivity;
        const std::vector<Size3>* sizes;
    };
    const Case table[] = {{CnConnectivity::Six, &volumes},       {CnConnectivity::Eighteen, &volumes},
                          {CnConnectivity::TwentySix, &volumes}, {CnConnectivity::Four, &images},
                          {CnConnectivity::Eight, &images},      {CnConnectivity::TwentySix, &images}};
    const struct {
        std::uint32_t minimum, k;
    } selections[] = {{0, 0}, {4, 0}, {0, 3}};
    nvf::CnConnectedComponentFilter<unsigned short> f;
    f.SetClassNumber(classValue<unsigned short>());
    for (const Case& row : table) {
        for (const Size3& s : *row.sizes) {
            for (const double density : {0.3, 0.6}) {
                const Image<unsigned short> in = randomClassImage<unsigned short>(s, rng, density);
                for (const auto& sel : selections) {
                    const Summary expected = expectedSummary(in, axesOf(row.connectivity), sel.minimum, sel.k);
                    if (sel.k > expected.found) {
                        continue;  // the selection throws (see the ranking tests)
                    }
                    for (const int path : {0, 1, 2}) {
                        const std::string what = name(row.connectivity) + " " + morphtest::describe(s) +
                                                 " density " + std::to_string(density) + " minimum " +
                                                 std::to_string(sel.minimum) + " component number " +
                                                 std::to_string(sel.k) + " path " + std::to_string(path);
                        f.setConnectivity(row.connectivity);
                        f.SetMinimumComponentSize(sel.minimum);
                        f.SetComponentNumber(sel.k);
                        f.setExecutor(path == 1 ? &pool : nullptr);
                        Labels out(s.x, s.y, s.z);
                        if (path == 2) {
                            nvf::detail::executeStraightforward(f, in, out);
                        } else {
                            f.execute(in, out);
                        }
                        EXPECT_EQ(f.getComponentSizes(), expected.sizes) << what;
                        EXPECT_EQ(f.getFirstVoxels(), expected.first) << what;
                        EXPECT_EQ(static_cast<std::size_t>(f.GetNumberOfComponents()), expected.sizes.size()) << what;
                    }
                }
            }
        }
    }
}

// An image of one slice is labelled as the slice of a volume: 6 neighbours as
// 4, 18 and 26 as 8, on both paths; so is a volume of one slice.
TEST(ConnectivityLabellingSlices, OneSliceTakesTheNeighboursWithinIt) {
    std::mt19937 rng(48);
    const struct {
        CnConnectivity given;
        CnConnectivity same;
    } rows[] = {{CnConnectivity::Six, CnConnectivity::Four},
                {CnConnectivity::Eighteen, CnConnectivity::Eight},
                {CnConnectivity::TwentySix, CnConnectivity::Eight}};
    for (const Size3& s : {Size3{31, 29, 1}, Size3{1, 40, 1}, Size3{70, 1, 1}, Size3{257, 131, 1}}) {
        const Image<short> in = randomClassImage<short>(s, rng, 0.45);
        for (const auto& row : rows) {
            std::int32_t a = 0, b = 0;
            const std::string what = name(row.given) + " " + morphtest::describe(s);
            EXPECT_TRUE(morphtest::sameBits(run(in, row.given, 0, nullptr, a), run(in, row.same, 0, nullptr, b)))
                << what;
            EXPECT_EQ(a, b) << what;
        }
    }
}

// The settings: Six by default, Set8PointConnectivity() is Eight, values that
// are not enumerators are refused with the setting kept.
TEST(ConnectivitySettings, DefaultSetGetAndUnknownValues) {
    nvf::CnConnectedComponentFilter<unsigned char> f;
    EXPECT_EQ(f.getConnectivity(), CnConnectivity::Six);
    f.Set8PointConnectivity();
    EXPECT_EQ(f.getConnectivity(), CnConnectivity::Eight);
    for (const CnConnectivity c : {CnConnectivity::Four, CnConnectivity::Eighteen, CnConnectivity::TwentySix,
                                   CnConnectivity::Six}) {
        f.setConnectivity(c);
        EXPECT_EQ(f.getConnectivity(), c);
    }
    f.setConnectivity(CnConnectivity::TwentySix);
    for (const int bad : {0, 1, 2, 5, 7, 9, 17, 19, 25, 27, -6, 1 << 30}) {
        const auto e = morphtest::expectThrowable([&] { f.setConnectivity(static_cast<CnConnectivity>(bad)); });
        EXPECT_EQ(e.getMessage(), nvf::messages::kConnectivityUnknown) << bad;
        EXPECT_EQ(e.getClassPath(), nvf::messages::kThrowableClassPath) << bad;
        EXPECT_EQ(f.getConnectivity(), CnConnectivity::TwentySix) << bad;
    }
}

// Four and Eight need an image of one slice: on a volume (and on Z = 0) both
// paths throw before writing, Eight the three-dimensional exception as
// Set8PointConnectivity() always has, Four a Throwable; the count stays.
TEST(ConnectivitySettings, ImageConnectivitiesOnVolumesAreRejectedBeforeWriting) {
    for (const CnConnectivity c : {CnConnectivity::Four, CnConnectivity::Eight}) {
        for (const unsigned int z : {2u, 0u, 5u}) {
            Image<unsigned char> in(4, 3, z);
            in.fill(1);
            Labels out(4, 3, z);
            out.fill(9);
            nvf::CnConnectedComponentFilter<unsigned char> f;
            Image<unsigned char> slice(4, 3, 1);
            slice.fill(1);
            Labels sliceOut(4, 3, 1);
            f.setConnectivity(c);
            f.execute(slice, sliceOut);
            ASSERT_EQ(f.GetNumberOfComponents(), 1);
            const std::string what = name(c) + " Z = " + std::to_string(z);
            for (const bool straightforward : {false, true}) {
                const auto e = morphtest::expectThrowable([&] {
                    if (straightforward) {
                        nvf::detail::executeStraightforward(f, in, out);
                    } else {
                        f.execute(in, out);
                    }
                });
                if (c == CnConnectivity::Eight) {
                    EXPECT_EQ(e.getMessage(), nvf::messages::kEightPointIn3D) << what;
                    EXPECT_EQ(e.getClassPath(), nvf::messages::kEightPointClassPath) << what;
                } else {
                    EXPECT_EQ(e.getMessage(), nvf::messages::kFourPointIn3D) << what;
                    EXPECT_EQ(e.getClassPath(), nvf::messages::kThrowableClassPath) << what;
                }
                EXPECT_EQ(f.GetNumberOfComponents(), 1) << what;
                for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
                    ASSERT_EQ(out[i], 9u) << what;
                }
            }
        }
    }
}

}  // namespace
