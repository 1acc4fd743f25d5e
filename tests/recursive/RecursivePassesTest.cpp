// The blocked passes' entry points, called directly: rows (lines along X) and
// columns (lines whose lanes neighbour in memory, as the Y and Z passes lay
// them out) against the line kernels run lane by lane, bit for bit, with every
// kernel version this processor runs. The shapes are odd: line counts and
// widths that are not whole blocks, rows wider than two blocks (the next block
// of a row is fetched while one is filtered), lines just above the shortest
// and around the prefetch distance, rows that do not start on a cache line, in
// place and into separate memory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <nvfiltering/recursive/detail/RecursiveCoefficients.h>
#include <nvfiltering/recursive/detail/RecursiveLine.h>
#include <nvfiltering/recursive/detail/RecursivePasses.h>
#include <nvfiltering/recursive/detail/RecursivePlan.h>
#include <nvmath/CnMatrix.h>

#include "RecursiveTestSupport.h"

namespace {

using namespace rectest;
namespace d = nvf::detail;

d::RecursiveCoefficients coefficientsFor(double sigma, unsigned int order) {
    CnMatrix<double> m(0, 0);
    double B = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    d::recursiveCoefficients(sigma, order, B, a1, a2, a3, m);
    return d::makeCoefficients(B, a1, a2, a3, m);
}

// The line kernels, one line of n samples s apart.
template <class In>
void referenceLine(unsigned int order, const In* x, float* y, std::size_t s, std::size_t n,
                   const d::RecursiveCoefficients& c) {
    std::vector<double> w(n + 3);
    if (order == 0) {
        d::smoothLine<double>(x, y, s, n, c, w.data());
    } else if (order == 1) {
        d::firstDerivativeLine(x, y, s, n, c, w.data());
    } else {
        d::secondDerivativeLine(x, y, s, n, c, w.data());
    }
}

template <class In>
std::vector<In> randomInput(std::size_t count, std::uint32_t seed) {
    const std::vector<double> values = randomValues<In>(count, seed);
    return std::vector<In>(values.begin(), values.end());
}

std::string describe(d::RecursiveKernel kernel, unsigned int order, const std::string& shape) {
    return "kernel " + std::to_string(static_cast<int>(kernel)) + " order " + std::to_string(order) + " " + shape;
}

struct RowsCase {
    std::size_t rows;
    std::size_t n;
    std::size_t comps;   // 3: the components of vector voxels, each a line
    std::size_t offset;  // scalars before the first row (4 bytes off a line)
};

const RowsCase kRows[] = {{1, 3, 1, 0},  {33, 4, 1, 1},  {70, 17, 1, 3}, {65, 45, 1, 1},
                          {97, 8, 1, 0}, {11, 19, 3, 1}, {23, 5, 3, 0}};

template <class In>
void checkRows() {
    std::uint32_t seed = 11;
    for (d::RecursiveKernel kernel : supportedKernels()) {
        const d::KernelTable& table = d::kernelTable(kernel);
        for (unsigned int order = 0; order < 3; ++order) {
            const d::RecursiveCoefficients c = coefficientsFor(0.7 + 1.1 * order, order);
            for (const RowsCase& rc : kRows) {
                if (rc.n < d::minimumBlockedLength(order) || (rc.comps == 3 && !std::is_same_v<In, float>)) {
                    continue;
                }
                const std::size_t scalars = rc.rows * rc.n * rc.comps;
                const std::vector<In> in = randomInput<In>(rc.offset + scalars, seed++);
                std::vector<float> got(rc.offset + scalars, -1.0f), expected(got);
                d::LaneScratch scratch;
                table.rows<In, float>(order)(in.data() + rc.offset, got.data() + rc.offset, rc.rows * rc.comps, rc.n,
                                             rc.comps, c, scratch);
                for (std::size_t i = 0; i < rc.rows * rc.comps; ++i) {
                    const std::size_t start = rc.offset + (i / rc.comps) * rc.n * rc.comps + i % rc.comps;
                    referenceLine(order, in.data() + start, expected.data() + start, rc.comps, rc.n, c);
                }
                EXPECT_TRUE(sameBits(expected, got)) << describe(
                    kernel, order,
                    std::to_string(rc.rows) + " rows of " + std::to_string(rc.n) + " x " + std::to_string(rc.comps));
            }
        }
    }
}

}  // namespace

TEST(RecursivePasses, RowsEqualTheLineKernels) {
    checkRows<unsigned char>();
    checkRows<float>();
}

// Columns as the Y pass lays them out (groups are slices, lanes along X,
// samples along Y) and as the Z pass does (groups are rows, samples along Z),
// in place and into a second volume.
TEST(RecursivePasses, ColumnsEqualTheLineKernels) {
    struct Case {
        std::size_t x, y, z;
        std::size_t offset;
    };
    const Case cases[] = {{7, 19, 5, 0}, {69, 17, 4, 1}, {133, 5, 21, 3}, {70, 45, 3, 1}, {40, 4, 18, 0}};
    std::uint32_t seed = 101;
    for (d::RecursiveKernel kernel : supportedKernels()) {
        const d::KernelTable& table = d::kernelTable(kernel);
        for (unsigned int order = 0; order < 3; ++order) {
            const d::RecursiveCoefficients c = coefficientsFor(0.9 + 0.8 * order, order);
            for (const Case& s : cases) {
                const std::size_t slice = s.x * s.y, voxels = slice * s.z;
                for (int axis = 1; axis <= 2; ++axis) {
                    const std::size_t n = axis == 1 ? s.y : s.z;
                    if (n < d::minimumBlockedLength(order)) {
                        continue;
                    }
                    const std::size_t groups = axis == 1 ? s.z : s.y;
                    const std::size_t groupStride = axis == 1 ? slice : s.x;
                    const std::size_t sampleStride = axis == 1 ? s.x : slice;
                    for (bool inPlace : {false, true}) {
                        const std::vector<float> in = randomInput<float>(s.offset + voxels, seed++);
                        std::vector<float> got = inPlace ? in : std::vector<float>(in.size(), -1.0f);
                        std::vector<float> expected(in.size(), -1.0f);
                        if (inPlace) {
                            expected = in;
                        }
                        d::LaneScratch scratch;
                        const float* src = inPlace ? got.data() : in.data();
                        table.columns<float>(order)(src + s.offset, got.data() + s.offset, groups, groupStride, s.x,
                                                    sampleStride, n, c, scratch);
                        for (std::size_t g = 0; g < groups; ++g) {
                            for (std::size_t l = 0; l < s.x; ++l) {
                                const std::size_t start = s.offset + g * groupStride + l;
                                referenceLine(order, in.data() + start, expected.data() + start, sampleStride, n, c);
                            }
                        }
                        EXPECT_TRUE(sameBits(expected, got))
                            << describe(kernel, order,
                                        std::to_string(s.x) + "x" + std::to_string(s.y) + "x" + std::to_string(s.z) +
                                            " axis " + std::to_string(axis) + (inPlace ? " in place" : ""));
                    }
                }
            }
        }
    }
}
