// Ranking and selection of components on small hand-made images (sizes 10, 5
// and 5; shapes that join only through a far row, slice or corner), checked on
// the fast path and on the straightforward passes alike.
#include <gtest/gtest.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "MorphologyTestSupport.h"

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;
using Labels = Image<std::uint32_t>;

namespace {

// Components of 10, 5 and 5 voxels in one slice.
Image<unsigned char> tenFiveFive() {
    Image<unsigned char> in(15, 5, 1);
    for (unsigned x = 0; x < 10; ++x) {
        in(x, 0, 0) = 1;
    }
    for (unsigned x = 0; x < 5; ++x) {
        in(x, 2, 0) = 1;
        in(10 + x, 4, 0) = 1;
    }
    return in;
}

using Execute = void (*)(nvf::CnConnectedComponentFilter<unsigned char>&, const Image<unsigned char>&, Labels&);
void runFast(nvf::CnConnectedComponentFilter<unsigned char>& f, const Image<unsigned char>& in, Labels& out) {
    f.execute(in, out);
}
void runSlow(nvf::CnConnectedComponentFilter<unsigned char>& f, const Image<unsigned char>& in, Labels& out) {
    com::norvane::filtering::detail::executeStraightforward(f, in, out);
}

// One of the two paths, with a name for test listings.
struct Path {
    const char* name;
    Execute run;
};
void PrintTo(const Path& path, std::ostream* os) { *os << path.name; }

class Ranking : public ::testing::TestWithParam<Path> {};

TEST_P(Ranking, TenFiveFiveWithMinimumSizeAndComponentNumber) {
    const Execute run = GetParam().run;
    const Image<unsigned char> in = tenFiveFive();
    Labels out(15, 5, 1);
    {
        nvf::CnConnectedComponentFilter<unsigned char> f;
        run(f, in, out);
        EXPECT_EQ(f.GetNumberOfComponents(), 3);
        EXPECT_EQ(out(0, 0, 0), 1u);
        EXPECT_EQ(out(9, 0, 0), 1u);
        const std::uint32_t a = out(0, 2, 0), b = out(10, 4, 0);
        EXPECT_TRUE((a == 2 && b == 3) || (a == 3 && b == 2)) << a << " " << b;
        EXPECT_EQ(out(5, 2, 0), 0u);
        EXPECT_EQ(f.getComponentSizes(), (std::vector<std::uint64_t>{10, 5, 5}));
        EXPECT_EQ(f.getFirstVoxels(), (std::vector<std::uint64_t>{0, 2 * 15, 4 * 15 + 10}));
    }
    {
        nvf::CnConnectedComponentFilter<unsigned char> f;
        f.SetMinimumComponentSize(6);
        run(f, in, out);
        EXPECT_EQ(f.GetNumberOfComponents(), 1);
        EXPECT_EQ(out(3, 0, 0), 1u);
        EXPECT_EQ(out(3, 2, 0), 0u);
        EXPECT_EQ(out(12, 4, 0), 0u);
    }
    {
        nvf::CnConnectedComponentFilter<unsigned char> f;
        f.SetComponentNumber(2);
        run(f, in, out);
        EXPECT_EQ(f.GetNumberOfComponents(), 3);  // the 2nd size is 5: both 5-voxel ones stay
        EXPECT_NE(out(3, 2, 0), 0u);
        EXPECT_NE(out(12, 4, 0), 0u);
    }
}

TEST_P(Ranking, MissingComponentThrowsAndLeavesRasterNumbering) {
    const Execute run = GetParam().run;
    const Image<unsigned char> in = tenFiveFive();
    Labels out(15, 5, 1);
    nvf::CnConnectedComponentFilter<unsigned char> f;
    f.SetMinimumComponentSize(6);
    run(f, in, out);
    ASSERT_EQ(f.GetNumberOfComponents(), 1);
    ASSERT_EQ(f.getComponentSizes(), std::vector<std::uint64_t>{10});
    f.SetComponentNumber(4);
    const auto e = morphtest::expectThrowable([&] { run(f, in, out); });
    EXPECT_EQ(e.getMessage(), "CnConnectedComponentFilter: component selected to keep does not exist.");
    EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
    // Components numbered by their first voxel, count and minimum as before.
    for (unsigned x = 0; x < 15; ++x) {
        EXPECT_EQ(out(x, 0, 0), x < 10 ? 1u : 0u);
        EXPECT_EQ(out(x, 2, 0), x < 5 ? 2u : 0u);
        EXPECT_EQ(out(x, 4, 0), x >= 10 ? 3u : 0u);
    }
    EXPECT_EQ(f.GetNumberOfComponents(), 1);
    EXPECT_EQ(f.getComponentSizes(), std::vector<std::uint64_t>{10});
    EXPECT_EQ(f.getFirstVoxels(), std::vector<std::uint64_t>{0});
    f.SetComponentNumber(0);
    run(f, in, out);
    EXPECT_EQ(f.GetNumberOfComponents(), 1);  // the minimum 6 is still in force
}

// A selection overwrites the minimum size, which stays after the selection is cleared.
TEST_P(Ranking, SelectionLeavesItsMinimumBehind) {
    const Execute run = GetParam().run;
    const Image<unsigned char> in = tenFiveFive();
    Labels out(15, 5, 1);
    nvf::CnConnectedComponentFilter<unsigned char> f;
    f.SetComponentNumber(1);
    run(f, in, out);
    EXPECT_EQ(f.GetNumberOfComponents(), 1);
    f.SetComponentNumber(0);
    run(f, in, out);
    EXPECT_EQ(f.GetNumberOfComponents(), 1);
    f.SetMinimumComponentSize(0);
    run(f, in, out);
    EXPECT_EQ(f.GetNumberOfComponents(), 3);
}

// The component number is read as signed 32-bit: 2^31 and more select nothing.
TEST_P(Ranking, ComponentNumbersFromTwoToTheThirtyFirstSelectNothing) {
    const Execute run = GetParam().run;
    const Image<unsigned char> in = tenFiveFive();
    Labels out(15, 5, 1);
    for (const std::uint32_t k : {0x80000000u, 0xFFFFFFFFu}) {
        nvf::CnConnectedComponentFilter<unsigned char> f;
        f.SetComponentNumber(k);
        EXPECT_NO_THROW(run(f, in, out));
        EXPECT_EQ(f.GetNumberOfComponents(), 3);
        f.SetComponentNumber(0);
        run(f, in, out);
        EXPECT_EQ(f.GetNumberOfComponents(), 3);  // no minimum was left behind
    }
    nvf::CnConnectedComponentFilter<unsigned char> f;
    f.SetComponentNumber(0x7FFFFFFFu);
    EXPECT_THROW(run(f, in, out), com::norvane::Throwable);
}

TEST_P(Ranking, UShapeIsOneComponent) {
    const Execute run = GetParam().run;
    // Two arms that first meet in the bottom row, twice, nested.
    const char* rows[] = {"X.X...X", "X.X...X", "X.XXX.X", "X.....X", "XXXXXXX"};
    Image<unsigned char> in(7, 5, 1);
    for (unsigned y = 0; y < 5; ++y) {
        for (unsigned x = 0; x < 7; ++x) {
            in(x, y, 0) = rows[y][x] == 'X' ? 1 : 0;
        }
    }
    Labels out(7, 5, 1);
    nvf::CnConnectedComponentFilter<unsigned char> f;
    run(f, in, out);
    EXPECT_EQ(f.GetNumberOfComponents(), 2);
    EXPECT_EQ(out(0, 0, 0), 1u);
    EXPECT_EQ(out(6, 0, 0), 1u);
    EXPECT_EQ(out(3, 4, 0), 1u);
    EXPECT_EQ(out(2, 0, 0), 2u);
    EXPECT_EQ(out(4, 2, 0), 2u);
}

TEST_P(Ranking, TwentySliceStaircaseIsOneComponent) {
    const Execute run = GetParam().run;
    for (const bool down : {false, true}) {
        Image<unsigned char> in(21, 3, 20);
        for (unsigned z = 0; z < 20; ++z) {
            const unsigned x = down ? 19 - z : z;
            in(x, 1, z) = 1;
            in(x + 1, 1, z) = 1;
        }
        Labels out(21, 3, 20);
        nvf::CnConnectedComponentFilter<unsigned char> f;
        run(f, in, out);
        EXPECT_EQ(f.GetNumberOfComponents(), 1);
        for (std::size_t i = 0; i < in.getNumberOfVoxels(); ++i) {
            EXPECT_EQ(out[i], in[i] != 0 ? 1u : 0u);
        }
    }
}

// Diagonal neighbours at the first and the last column, both diagonal directions.
TEST_P(Ranking, EightPointJoinsCornersOnTheFirstAndLastColumns) {
    const Execute run = GetParam().run;
    Image<unsigned char> in(6, 5, 1);
    for (const auto& p :
         std::vector<std::vector<unsigned>>{{0, 0}, {1, 1}, {5, 0}, {4, 1}, {1, 3}, {0, 4}, {4, 3}, {5, 4}}) {
        in(p[0], p[1], 0) = 1;
    }
    Labels out(6, 5, 1);
    nvf::CnConnectedComponentFilter<unsigned char> four;
    run(four, in, out);
    EXPECT_EQ(four.GetNumberOfComponents(), 8);
    nvf::CnConnectedComponentFilter<unsigned char> eight;
    eight.Set8PointConnectivity();
    run(eight, in, out);
    EXPECT_EQ(eight.GetNumberOfComponents(), 4);
    EXPECT_EQ(out(0, 0, 0), out(1, 1, 0));
    EXPECT_EQ(out(5, 0, 0), out(4, 1, 0));
    EXPECT_EQ(out(1, 3, 0), out(0, 4, 0));
    EXPECT_EQ(out(4, 3, 0), out(5, 4, 0));
    EXPECT_NE(out(0, 0, 0), out(5, 0, 0));
    EXPECT_NE(out(1, 3, 0), out(4, 3, 0));
    EXPECT_NE(out(0, 0, 0), out(0, 4, 0));
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Ranking,
                         ::testing::Values(Path{"Fast", &runFast}, Path{"Straightforward", &runSlow}),
                         [](const ::testing::TestParamInfo<Path>& param) { return std::string(param.param.name); });

}  // namespace
