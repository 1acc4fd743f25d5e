// Labelling against a breadth-first flood fill and between the fast path and
// the straightforward passes on random images of every class type; empty,
// stale, wrong-sized and in-place outputs.
#include <gtest/gtest.h>
#include <nvcore/Exception.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/EightPointConnectivityIn3DException.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "MorphologyTestSupport.h"

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using morphtest::Size3;
using Labels = Image<std::uint32_t>;

namespace {

// Components found by a breadth-first flood fill: component index per voxel
// (-1 for the background) and the size of each component.
struct Flood {
    std::vector<int> component;
    std::vector<std::uint32_t> sizes;
};

template <class T>
Flood floodFill(const Image<T>& in, T cls, bool eight) {
    const int X = static_cast<int>(in.getSizeX()), Y = static_cast<int>(in.getSizeY()),
              Z = static_cast<int>(in.getSizeZ());
    std::vector<std::vector<int>> steps = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
    if (eight) {
        steps.insert(steps.end(), {{-1, -1, 0}, {1, -1, 0}, {-1, 1, 0}, {1, 1, 0}});
    }
    Flood f;
    f.component.assign(in.getNumberOfVoxels(), -1);
    const auto at = [&](int x, int y, int z) { return static_cast<std::size_t>(x + X * (y + Y * z)); };
    for (int z = 0; z < Z; ++z) {
        for (int y = 0; y < Y; ++y) {
            for (int x = 0; x < X; ++x) {
                if (in[at(x, y, z)] != cls || f.component[at(x, y, z)] != -1) {
                    continue;
                }
                const int id = static_cast<int>(f.sizes.size());
                f.sizes.push_back(0);
                std::deque<std::vector<int>> queue{{x, y, z}};
                f.component[at(x, y, z)] = id;
                while (!queue.empty()) {
                    const std::vector<int> p = queue.front();
                    queue.pop_front();
                    ++f.sizes[static_cast<std::size_t>(id)];
                    for (const auto& s : steps) {
                        const int nx = p[0] + s[0], ny = p[1] + s[1], nz = p[2] + s[2];
                        if (nx < 0 || ny < 0 || nz < 0 || nx >= X || ny >= Y || nz >= Z) {
                            continue;
                        }
                        const std::size_t j = at(nx, ny, nz);
                        if (in[j] == cls && f.component[j] == -1) {
                            f.component[j] = id;
                            queue.push_back({nx, ny, nz});
                        }
                    }
                }
            }
        }
    }
    return f;
}

// The labels must be the flood-fill components of at least minSize voxels,
// numbered 1..m by non-increasing size (equal sizes in any order), all else 0.
void expectMatchesFlood(const Labels& out, std::int32_t count, const Flood& ref, std::uint32_t minSize,
                        const std::string& what) {
    std::size_t kept = 0;
    for (const std::uint32_t s : ref.sizes) {
        kept += s >= minSize ? 1 : 0;
    }
    ASSERT_EQ(static_cast<std::size_t>(count), kept) << what;
    std::map<int, std::uint32_t> labelOf;
    std::map<std::uint32_t, int> componentOf;
    for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
        const int c = ref.component[i];
        if (c < 0 || ref.sizes[static_cast<std::size_t>(c)] < minSize) {
            ASSERT_EQ(out[i], 0u) << what << " voxel " << i;
            continue;
        }
        const std::uint32_t l = out[i];
        ASSERT_GE(l, 1u) << what << " voxel " << i;
        ASSERT_LE(l, static_cast<std::uint32_t>(count)) << what << " voxel " << i;
        const auto a = labelOf.emplace(c, l);
        ASSERT_EQ(a.first->second, l) << what << ": one component, two labels";
        const auto b = componentOf.emplace(l, c);
        ASSERT_EQ(b.first->second, c) << what << ": one label, two components";
    }
    for (std::uint32_t l = 2; l <= static_cast<std::uint32_t>(count); ++l) {
        EXPECT_GE(ref.sizes[static_cast<std::size_t>(componentOf[l - 1])],
                  ref.sizes[static_cast<std::size_t>(componentOf[l])])
            << what << ": label " << l;
    }
}

template <class T>
struct ClassValues;
template <>
struct ClassValues<unsigned char> {
    static unsigned char cls() { return 255; }
    static unsigned char other() { return 7; }
};
template <>
struct ClassValues<short> {
    static short cls() { return -7; }
    static short other() { return 7; }
};
template <>
struct ClassValues<unsigned short> {
    static unsigned short cls() { return 65535; }
    static unsigned short other() { return 300; }
};
template <>
struct ClassValues<std::uint32_t> {
    static std::uint32_t cls() { return 0xFFFFFFFFu; }
    static std::uint32_t other() { return 2u; }
};

// Voxels of the class with probability density, else 0 or another value.
template <class T>
Image<T> randomClassImage(const Size3& s, std::mt19937& rng, double density) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    return morphtest::randomImage<T>(s, rng, [&](std::mt19937& r) {
        const double v = u(r);
        return v < density ? ClassValues<T>::cls() : (v < (1.0 + density) / 2 ? T(0) : ClassValues<T>::other());
    });
}

std::vector<Size3> labellingSizes() {
    std::vector<Size3> sizes = morphtest::awkwardSizes();
    sizes.insert(sizes.end(), {{31, 29, 1}, {23, 17, 13}, {40, 3, 25}, {64, 1, 64}});
    return sizes;
}

template <class T>
class ConnectedComponents : public ::testing::Test {};

using InputTypes = ::testing::Types<unsigned char, short, unsigned short, std::uint32_t>;
TYPED_TEST_SUITE(ConnectedComponents, InputTypes);

TYPED_TEST(ConnectedComponents, MatchesFloodFillOnRandomImages) {
    using T = TypeParam;
    std::mt19937 rng(99);
    for (const Size3& s : labellingSizes()) {
        for (const double density : {0.25, 0.5, 0.75}) {
            const Image<T> in = randomClassImage<T>(s, rng, density);
            for (const bool eight : {false, true}) {
                if (eight && s.z != 1) {
                    continue;
                }
                for (const std::uint32_t minSize : {0u, 3u}) {
                    nvf::CnConnectedComponentFilter<T> f;
                    f.SetClassNumber(ClassValues<T>::cls());
                    f.SetMinimumComponentSize(minSize);
                    if (eight) {
                        f.Set8PointConnectivity();
                    }
                    Labels out(s.x, s.y, s.z);
                    f.execute(in, out);
                    const std::string what = morphtest::describe(s) + (eight ? " 8-point" : "") + " min " +
                                             std::to_string(minSize) + " density " + std::to_string(density);
                    expectMatchesFlood(out, f.GetNumberOfComponents(), floodFill(in, ClassValues<T>::cls(), eight),
                                       minSize, what);
                }
            }
        }
    }
}

// The one-sweep fast path against the defining passes: the same label image,
// count and minimum size, bit for bit, with every kind of setting.
TYPED_TEST(ConnectedComponents, FastPathEqualsStraightforwardBitForBit) {
    using T = TypeParam;
    std::mt19937 rng(2024);
    std::uniform_int_distribution<std::uint32_t> pickK(0, 6);
    for (const Size3& s : labellingSizes()) {
        for (const double density : {0.2, 0.55, 0.9}) {
            const Image<T> in = randomClassImage<T>(s, rng, density);
            for (const bool eight : {false, true}) {
                if (eight && s.z != 1) {
                    continue;
                }
                const std::uint32_t k = pickK(rng);
                nvf::CnConnectedComponentFilter<T> fast, slow;
                for (auto* f : {&fast, &slow}) {
                    f->SetClassNumber(ClassValues<T>::cls());
                    f->SetMinimumComponentSize(k % 3);
                    f->SetComponentNumber(k);
                    if (eight) {
                        f->Set8PointConnectivity();
                    }
                }
                Labels a(s.x, s.y, s.z), b(s.x, s.y, s.z);
                a.fill(3);
                b.fill(11);
                bool threwFast = false, threwSlow = false;
                try {
                    fast.execute(in, a);
                } catch (const com::norvane::Throwable&) {
                    threwFast = true;
                }
                try {
                    com::norvane::filtering::detail::executeStraightforward(slow, in, b);
                } catch (const com::norvane::Throwable&) {
                    threwSlow = true;
                }
                const std::string what = morphtest::describe(s) + " k " + std::to_string(k);
                EXPECT_EQ(threwFast, threwSlow) << what;
                EXPECT_TRUE(morphtest::sameBits(a, b)) << what;
                EXPECT_EQ(fast.GetNumberOfComponents(), slow.GetNumberOfComponents()) << what;
                // The minimum size a selection leaves behind shows in a second run without selection.
                fast.SetComponentNumber(0);
                slow.SetComponentNumber(0);
                fast.execute(in, a);
                com::norvane::filtering::detail::executeStraightforward(slow, in, b);
                EXPECT_TRUE(morphtest::sameBits(a, b)) << what << " second run";
                EXPECT_EQ(fast.GetNumberOfComponents(), slow.GetNumberOfComponents()) << what << " second run";
            }
        }
    }
}

// Rows of one, several and partial 64-voxel words, runs that reach the row
// end, and long runs and gaps: both paths and the flood fill agree.
TYPED_TEST(ConnectedComponents, WideRowsMatchStraightforwardAndFloodFill) {
    using T = TypeParam;
    std::mt19937 rng(77);
    const std::vector<Size3> sizes = {{64, 3, 2}, {128, 5, 1}, {130, 7, 3}, {65, 4, 2},
                                      {200, 9, 1}, {63, 6, 1}, {192, 2, 3}, {1, 300, 1}};
    for (const Size3& s : sizes) {
        for (const double density : {0.3, 0.7, 0.97}) {
            const Image<T> in = randomClassImage<T>(s, rng, density);
            for (const bool eight : {false, true}) {
                if (eight && s.z != 1) {
                    continue;
                }
                nvf::CnConnectedComponentFilter<T> fast, slow;
                for (auto* f : {&fast, &slow}) {
                    f->SetClassNumber(ClassValues<T>::cls());
                    if (eight) {
                        f->Set8PointConnectivity();
                    }
                }
                Labels a(s.x, s.y, s.z), b(s.x, s.y, s.z);
                a.fill(5);
                b.fill(6);
                fast.execute(in, a);
                com::norvane::filtering::detail::executeStraightforward(slow, in, b);
                const std::string what = morphtest::describe(s) + (eight ? " 8-point" : "") + " density " +
                                         std::to_string(density);
                EXPECT_TRUE(morphtest::sameBits(a, b)) << what;
                EXPECT_EQ(fast.GetNumberOfComponents(), slow.GetNumberOfComponents()) << what;
                expectMatchesFlood(a, fast.GetNumberOfComponents(), floodFill(in, ClassValues<T>::cls(), eight), 0,
                                   what);
            }
        }
    }
    // A checkerboard has a run at every other voxel, more runs than the fast
    // path first makes room for: single voxels with 4-point, two diagonal
    // components with 8-point.
    {
        const Size3 s{201, 60, 1};
        Image<T> in(s.x, s.y, s.z);
        for (unsigned y = 0; y < s.y; ++y) {
            for (unsigned x = 0; x < s.x; ++x) {
                in(x, y, 0) = (x + y) % 2 == 0 ? ClassValues<T>::cls() : T(0);
            }
        }
        for (const bool eight : {false, true}) {
            nvf::CnConnectedComponentFilter<T> fast, slow;
            for (auto* f : {&fast, &slow}) {
                f->SetClassNumber(ClassValues<T>::cls());
                if (eight) {
                    f->Set8PointConnectivity();
                }
            }
            Labels a(s.x, s.y, s.z), b(s.x, s.y, s.z);
            fast.execute(in, a);
            com::norvane::filtering::detail::executeStraightforward(slow, in, b);
            EXPECT_TRUE(morphtest::sameBits(a, b)) << (eight ? "8-point" : "4-point");
            EXPECT_EQ(fast.GetNumberOfComponents(), eight ? 1 : static_cast<std::int32_t>((s.x * s.y + 1) / 2));
            EXPECT_EQ(slow.GetNumberOfComponents(), fast.GetNumberOfComponents());
        }
    }
    // A full image: one component, also when the rows are whole words.
    for (const Size3& s : std::vector<Size3>{{64, 4, 2}, {70, 3, 1}}) {
        Image<T> in(s.x, s.y, s.z);
        in.fill(ClassValues<T>::cls());
        Labels out(s.x, s.y, s.z);
        nvf::CnConnectedComponentFilter<T> f;
        f.SetClassNumber(ClassValues<T>::cls());
        f.execute(in, out);
        EXPECT_EQ(f.GetNumberOfComponents(), 1) << morphtest::describe(s);
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            ASSERT_EQ(out[i], 1u) << morphtest::describe(s) << " voxel " << i;
        }
    }
}

TYPED_TEST(ConnectedComponents, NoForegroundClearsTheOutputAndCountsZero) {
    using T = TypeParam;
    Image<T> in(5, 4, 3);
    in.fill(ClassValues<T>::other());
    in[7] = T(1);  // the default class number 1
    nvf::CnConnectedComponentFilter<T> f;
    Labels out(5, 4, 3);
    out.fill(77);
    f.execute(in, out);
    EXPECT_EQ(f.GetNumberOfComponents(), 1);
    EXPECT_EQ(f.getComponentSizes(), std::vector<std::uint64_t>{1});
    EXPECT_EQ(f.getFirstVoxels(), std::vector<std::uint64_t>{7});
    in[7] = T(0);
    out.fill(77);
    f.execute(in, out);
    EXPECT_EQ(f.GetNumberOfComponents(), 0);
    EXPECT_TRUE(f.getComponentSizes().empty());
    EXPECT_TRUE(f.getFirstVoxels().empty());
    for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
        EXPECT_EQ(out[i], 0u);
    }
    out.fill(78);
    com::norvane::filtering::detail::executeStraightforward(f, in, out);
    EXPECT_EQ(f.GetNumberOfComponents(), 0);
    for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
        EXPECT_EQ(out[i], 0u);
    }
}

// A reused output full of stale labels gives the same result as a fresh one.
TYPED_TEST(ConnectedComponents, StaleOutputIsCleared) {
    using T = TypeParam;
    std::mt19937 rng(3);
    const Size3 s{9, 8, 7};
    const Image<T> in = randomClassImage<T>(s, rng, 0.4);
    nvf::CnConnectedComponentFilter<T> f;
    f.SetClassNumber(ClassValues<T>::cls());
    Labels fresh(s.x, s.y, s.z), stale(s.x, s.y, s.z);
    f.execute(in, fresh);
    const std::int32_t count = f.GetNumberOfComponents();
    std::uniform_int_distribution<std::uint32_t> junk(0, 1000);
    for (std::size_t i = 0; i < stale.getNumberOfVoxels(); ++i) {
        stale[i] = junk(rng);
    }
    f.execute(in, stale);
    EXPECT_TRUE(morphtest::sameBits(fresh, stale));
    EXPECT_EQ(f.GetNumberOfComponents(), count);
    com::norvane::filtering::detail::executeStraightforward(f, in, stale);
    EXPECT_TRUE(morphtest::sameBits(fresh, stale));
}

TYPED_TEST(ConnectedComponents, EightPointOnAVolumeThrowsTheThreeDimensionalException) {
    using T = TypeParam;
    for (const unsigned z : {2u, 0u, 5u}) {
        Image<T> in(3, 3, z);
        in.fill(T(1));
        Labels out(3, 3, z);
        out.fill(9);
        nvf::CnConnectedComponentFilter<T> f;
        f.Set8PointConnectivity();
        bool caught = false;
        try {
            f.execute(in, out);
        } catch (const nvf::EightPointConnectivityIn3DException& e) {
            caught = true;
            EXPECT_EQ(e.getMessage(), "8-point connectivity in 3D (really 27-point) is not currently implemented");
            EXPECT_EQ(e.getClassPath(), "com/norvane/david/EightPointConnectivityIn3DException");
        }
        EXPECT_TRUE(caught) << "Z = " << z;
        EXPECT_EQ(f.GetNumberOfComponents(), 0);
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], 9u);
        }
        // Also catchable as the core exception types.
        EXPECT_THROW(com::norvane::filtering::detail::executeStraightforward(f, in, out), com::norvane::Exception);
    }
}

TYPED_TEST(ConnectedComponents, WrongOutputDimensionsThrowBeforeWriting) {
    using T = TypeParam;
    Image<T> in(4, 3, 2);
    in.fill(T(1));
    for (const Size3& s : {Size3{4, 3, 1}, Size3{3, 4, 2}, Size3{0, 0, 0}, Size3{24, 1, 1}}) {
        Labels out(s.x, s.y, s.z);
        out.fill(5);
        nvf::CnConnectedComponentFilter<T> f;
        const auto e = morphtest::expectThrowable([&] { f.execute(in, out); });
        EXPECT_EQ(e.getMessage(), "CnConnectedComponentFilter: output image dimensions differ from the input.");
        EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
        for (std::size_t i = 0; i < out.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], 5u);
        }
    }
}

TYPED_TEST(ConnectedComponents, EmptyImagesHaveNoComponents) {
    using T = TypeParam;
    for (const Size3& s : {Size3{0, 0, 0}, Size3{0, 4, 1}, Size3{4, 0, 3}, Size3{4, 4, 0}}) {
        const Image<T> in(s.x, s.y, s.z);
        Labels out(s.x, s.y, s.z);
        nvf::CnConnectedComponentFilter<T> f;
        EXPECT_NO_THROW(f.execute(in, out));
        EXPECT_EQ(f.GetNumberOfComponents(), 0);
        EXPECT_NO_THROW(com::norvane::filtering::detail::executeStraightforward(f, in, out));
        EXPECT_EQ(f.GetNumberOfComponents(), 0);
    }
}


}  // namespace

TEST(ConnectedComponentsInPlace, ThirtyTwoBitInputMayBeItsOwnOutput) {
    std::mt19937 rng(8);
    const Size3 s{11, 9, 5};
    const Image<std::uint32_t> in = randomClassImage<std::uint32_t>(s, rng, 0.5);
    nvf::CnConnectedComponentFilter<std::uint32_t> f;
    f.SetClassNumber(ClassValues<std::uint32_t>::cls());
    Labels separate(s.x, s.y, s.z);
    f.execute(in, separate);
    const std::int32_t count = f.GetNumberOfComponents();
    Labels same(in);
    f.execute(same, same);
    EXPECT_TRUE(morphtest::sameBits(same, separate));
    EXPECT_EQ(f.GetNumberOfComponents(), count);
    Labels again(in);
    com::norvane::filtering::detail::executeStraightforward(f, again, again);
    EXPECT_TRUE(morphtest::sameBits(again, separate));
}

TEST(ConnectedComponentsRepeat, SecondRunGivesTheSameResult) {
    std::mt19937 rng(12);
    const Image<short> in = randomClassImage<short>(Size3{17, 13, 6}, rng, 0.45);
    nvf::CnConnectedComponentFilter<short> f;
    f.SetClassNumber(ClassValues<short>::cls());
    f.SetMinimumComponentSize(2);
    Labels a(17, 13, 6), b(17, 13, 6);
    f.execute(in, a);
    const std::int32_t count = f.GetNumberOfComponents();
    f.execute(in, b);
    EXPECT_TRUE(morphtest::sameBits(a, b));
    EXPECT_EQ(f.GetNumberOfComponents(), count);
}

// Images of several slabs, thin ones (one voxel along each axis in turn) and
// long lines: the same labels and count as the straightforward passes, for
// masks around the percolation threshold (components across many slab faces)
// and sparse ones (many components of equal size, whose order must agree),
// with and without a minimum size; 8-point images with selections by rank.
TEST(ConnectedComponentsLarge, LargeAndThinImagesMatchStraightforward) {
    std::mt19937 rng(203);
    const auto compare = [](const Image<unsigned char>& in, bool eight, std::uint32_t minimum, std::uint32_t k,
                            const std::string& what) {
        nvf::CnConnectedComponentFilter<unsigned char> fast, slow;
        for (auto* f : {&fast, &slow}) {
            f->SetMinimumComponentSize(minimum);
            f->SetComponentNumber(k);
            if (eight) {
                f->Set8PointConnectivity();
            }
        }
        Labels a(in.getSizeX(), in.getSizeY(), in.getSizeZ()), b(in.getSizeX(), in.getSizeY(), in.getSizeZ());
        fast.execute(in, a);
        com::norvane::filtering::detail::executeStraightforward(slow, in, b);
        EXPECT_TRUE(morphtest::sameBits(a, b)) << what;
        EXPECT_EQ(fast.GetNumberOfComponents(), slow.GetNumberOfComponents()) << what;
    };
    const Size3 sizes[] = {{1, 1, 1},     {1, 37, 45},  {43, 1, 39},  {41, 47, 1},   {1, 1, 3001},
                           {1, 3001, 1},  {3001, 1, 1}, {67, 53, 41}, {301, 257, 1}, {700, 5, 31},
                           {2, 181, 101}, {9, 7, 900},  {25, 13, 33}, {7, 41, 19}};
    for (const Size3& s : sizes) {
        for (const double density : {0.05, 0.3, 0.6}) {
            const Image<unsigned char> in = morphtest::randomMask<unsigned char>(s, rng, density, 1);
            for (const std::uint32_t minimum : {0u, 3u}) {
                compare(in, false, minimum, 0,
                        morphtest::describe(s) + " density " + std::to_string(density) + " minimum " +
                            std::to_string(minimum));
            }
        }
    }
    for (const Size3& s : {Size3{301, 257, 1}, Size3{1, 40001, 1}, Size3{40001, 1, 1}, Size3{17, 3001, 1}}) {
        const Image<unsigned char> in = morphtest::randomMask<unsigned char>(s, rng, 0.4, 1);
        for (const std::uint32_t k : {0u, 1u, 5u}) {
            compare(in, true, 0, k, morphtest::describe(s) + " 8-point, component number " + std::to_string(k));
        }
    }
}
